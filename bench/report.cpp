// The benchmark's report: the machine, the figures, their ratios and the verdicts against the targets.

#include "bench/report.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kvbench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kSyncRatioTarget = 2.0;      // own time against the one-parse reference
constexpr double kTenParseRatioTarget = 1.5;  // own time against the ten-parse reference
constexpr double kMemoryPerResponseByte = 1.3;
constexpr double kDownloadRatioTarget = 1.3;
constexpr double kWaitCpuTargetSeconds = 0.050;

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Grouped(long value) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

double Ratio(double a, double b) {
  return b > 0 ? a / b : 0;
}

std::string Verdict(bool met) {
  return met ? "met" : "MISSED";
}

// Rows of cells; the first column is left-aligned, the others right-aligned.
class Table {
 public:
  void Row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  void Rule() { rows_.emplace_back(); }
  std::string Text() const {
    std::vector<size_t> widths;
    for (const auto& row : rows_) {
      for (size_t i = 0; i < row.size(); ++i) {
        if (widths.size() <= i) widths.push_back(0);
        widths[i] = std::max(widths[i], row[i].size());
      }
    }
    std::string out;
    for (const auto& row : rows_) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        const std::string pad(widths[i] - row[i].size(), ' ');
        line += i == 0 ? row[i] + pad : "  " + pad + row[i];
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    return out;
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};

double MemoryLimit(const SyncFigures& s) {
  return kMemoryPerResponseByte * s.response_bytes + 64 * kMiB;
}

std::string SyncName(const SyncFigures& s) {
  return std::string(s.incremental ? "incr. " : "") + "N=" + Grouped(s.n);
}

// Growth from the smallest to the largest size of one kind of sync: at most 1.1 times the growth of N (11 for
// 5,000 -> 50,000).
void GrowthLine(const std::vector<SyncFigures>& syncs, bool incremental, std::string& out) {
  const SyncFigures* small = nullptr;
  const SyncFigures* large = nullptr;
  for (const auto& s : syncs) {
    if (s.incremental != incremental || !s.problem.empty()) continue;
    if (small == nullptr || s.n < small->n) small = &s;
    if (large == nullptr || s.n > large->n) large = &s;
  }
  if (small == nullptr || large == nullptr || large->n <= small->n) return;
  const double growth = Ratio(large->own_seconds, small->own_seconds);
  const double limit = 1.1 * static_cast<double>(large->n) / static_cast<double>(small->n);
  out += std::string(incremental ? "incremental sync, " : "") + "own time N=" + Grouped(large->n) +
         " / N=" + Grouped(small->n) + ": " + Fixed(growth, 2) + " (target <= " + Fixed(limit, 1) + ": " +
         Verdict(growth <= limit) + ")\n";
}

void SyncTable(const std::vector<SyncFigures>& syncs, std::string& out) {
  Table t;
  std::vector<std::string> head{"Sync, every list ticked"};
  for (const auto& s : syncs) head.push_back(SyncName(s));
  head.push_back("target");
  t.Row(head);
  auto row = [&](const std::string& name, auto value, const std::string& target = "") {
    std::vector<std::string> cells{name};
    for (const auto& s : syncs) cells.push_back(s.problem.empty() ? value(s) : "-");
    cells.push_back(target);
    t.Row(cells);
  };
  row("QuickBooks response (MiB)", [](const SyncFigures& s) { return Fixed(s.response_bytes / kMiB, 1); });
  row("requests to the service", [](const SyncFigures& s) { return Grouped(static_cast<long>(s.requests)); });
  row("QuickBooks query, left out (s)", [](const SyncFigures& s) { return Fixed(s.query_seconds, 2); });
  row("sync's own time (s)", [](const SyncFigures& s) { return Fixed(s.own_seconds, 2); });
  // What the sync's process spent on the processor, the service's and the disk's share left out: steadier than the
  // times on a machine whose disk is busy.
  row("  its CPU time (s)", [](const SyncFigures& s) { return Fixed(s.cpu_seconds, 2); });
  row("one-parse reference (s)", [](const SyncFigures& s) { return Fixed(s.one_parse_reference_seconds, 2); });
  row("  streaming parse (s)", [](const SyncFigures& s) { return Fixed(s.stream_seconds, 3); });
  row("  same requests again (s)", [](const SyncFigures& s) { return Fixed(s.post_seconds, 2); });
  row(
      "own time / one-parse reference",
      [](const SyncFigures& s) { return Fixed(Ratio(s.own_seconds, s.one_parse_reference_seconds), 2); },
      "<= " + Fixed(kSyncRatioTarget, 1));
  row("  verdict", [](const SyncFigures& s) {
    return Verdict(Ratio(s.own_seconds, s.one_parse_reference_seconds) <= kSyncRatioTarget);
  });
  row("reference (s)", [](const SyncFigures& s) { return Fixed(s.reference_seconds, 2); });
  row("  libxml2 parses (s)", [](const SyncFigures& s) {
    return std::to_string(s.passes) + " x " + Fixed(s.parse_seconds / std::max(1, s.passes), 3);
  });
  row(
      "own time / reference", [](const SyncFigures& s) { return Fixed(Ratio(s.own_seconds, s.reference_seconds), 2); },
      "<= " + Fixed(kTenParseRatioTarget, 1));
  row("  verdict",
      [](const SyncFigures& s) { return Verdict(Ratio(s.own_seconds, s.reference_seconds) <= kTenParseRatioTarget); });
  row("peak memory (MiB)", [](const SyncFigures& s) { return Fixed(s.peak_bytes / kMiB, 0); });
  row(
      "1.3 x response + 64 MiB (MiB)", [](const SyncFigures& s) { return Fixed(MemoryLimit(s) / kMiB, 0); }, ">= peak");
  row("  verdict", [](const SyncFigures& s) { return Verdict(s.peak_bytes <= MemoryLimit(s)); });
  row("reference peak memory (MiB)", [](const SyncFigures& s) { return Fixed(s.reference_peak_bytes / kMiB, 0); });
  out += t.Text();

  GrowthLine(syncs, false, out);
  GrowthLine(syncs, true, out);
  for (const auto& s : syncs) {
    if (!s.problem.empty()) out += "sync " + SyncName(s) + " does not count: " + s.problem + "\n";
  }
}

void DownloadTable(const std::vector<DownloadFigures>& downloads, std::string& out) {
  Table t;
  t.Row({"Download", "records", "control (s)", "reference (s)", "ratio", "target", "verdict"});
  double control = 0, reference = 0;
  bool all = true;
  for (const auto& d : downloads) {
    const std::string name = d.mode == "time" ? "time records" : "expenses";
    if (!d.problem.empty()) {
      t.Row({name, Grouped(d.records), "-", "-", "-", "", "does not count"});
      all = false;
      continue;
    }
    const double ratio = Ratio(d.control_seconds, d.reference_seconds);
    t.Row({name, Grouped(d.records), Fixed(d.control_seconds, 2), Fixed(d.reference_seconds, 2), Fixed(ratio, 2),
           "<= " + Fixed(kDownloadRatioTarget, 1), Verdict(ratio <= kDownloadRatioTarget)});
    control += d.control_seconds;
    reference += d.reference_seconds;
  }
  if (all && downloads.size() > 1) {
    const double ratio = Ratio(control, reference);
    t.Row({"both", "", Fixed(control, 2), Fixed(reference, 2), Fixed(ratio, 2), "<= " + Fixed(kDownloadRatioTarget, 1),
           Verdict(ratio <= kDownloadRatioTarget)});
  }
  out += t.Text();
  for (const auto& d : downloads) {
    if (!d.problem.empty()) out += "download of " + d.mode + " does not count: " + d.problem + "\n";
  }
}

void WaitLine(const WaitFigures& w, std::string& out) {
  if (!w.problem.empty()) {
    out += "Waiting: does not count: " + w.problem + "\n";
    return;
  }
  out += "Waiting " + Fixed(w.delay_ms / 1000, 1) + " s for a delayed answer: CPU " + Fixed(w.cpu_seconds * 1000, 1) +
         " ms in " + Fixed(w.wall_seconds, 2) + " s (target < " + Fixed(kWaitCpuTargetSeconds * 1000, 0) +
         " ms: " + Verdict(w.cpu_seconds < kWaitCpuTargetSeconds) + ")\n";
}

std::string MachineLine(const MachineInfo& m) {
  std::string line = std::to_string(m.cpus) + " CPUs (" + m.cpu_model + "), " + Fixed(m.memory_gib, 1) + " GiB memory";
  if (!m.load.empty()) line += ", load average at the start " + m.load;
  return line;
}

}  // namespace

MachineInfo ReadMachine() {
  MachineInfo m;
  m.cpus = sysconf(_SC_NPROCESSORS_ONLN);
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) == 0) {
      m.cpu_model = line.substr(line.find(':') + 2);
      break;
    }
  }
  std::ifstream meminfo("/proc/meminfo");
  while (std::getline(meminfo, line)) {
    if (line.rfind("MemTotal:", 0) == 0) m.memory_gib = std::strtod(line.c_str() + 9, nullptr) / (1024.0 * 1024.0);
  }
  std::ifstream loadavg("/proc/loadavg");
  double one = 0, five = 0, fifteen = 0;
  if (loadavg >> one >> five >> fifteen) m.load = Fixed(one, 1) + " " + Fixed(five, 1) + " " + Fixed(fifteen, 1);
  return m;
}

bool AllRan(const Results& results) {
  for (const auto& s : results.syncs) {
    if (!s.problem.empty()) return false;
  }
  for (const auto& d : results.downloads) {
    if (!d.problem.empty()) return false;
  }
  return !results.wait || results.wait->problem.empty();
}

std::string TextReport(const Results& results) {
  std::string out = "Machine: " + MachineLine(results.machine) + "\n\n";
  if (!results.syncs.empty()) {
    SyncTable(results.syncs, out);
    out += "\n";
  }
  if (!results.downloads.empty()) {
    DownloadTable(results.downloads, out);
    out += "\n";
  }
  if (results.wait) WaitLine(*results.wait, out);
  return out;
}

std::string MarkdownSection(const Results& results) {
  std::string out = "## Performance\n\n";
  out +=
      "`scripts/bench.sh` measures each run beside its reference, in the same run, and reports ratios; absolute "
      "times depend on the machine. Latest run: " +
      MachineLine(results.machine) + ".\n\n```\n";
  std::string table = TextReport(results);
  out += table.substr(table.find("\n\n") + 2);
  out += "```\n\n";
  out +=
      "- Sync: a company of N records in every list (customers with jobs, the four item kinds, time, checks and "
      "bills with lines), every list ticked, against `kalvor-standin` on loopback. Full: every record is new to "
      "the service. Incremental: the same company after work since the last sync, 1% of every list changed and one "
      "customer with its jobs (classes are always sent whole). Own time leaves out the QuickBooks stand-in's part "
      "(its processes and the query). The one-parse reference is what no sync can avoid: one streaming libxml2 "
      "parse of the response (no tree) and the same request bodies sent again in the same number of requests; the "
      "ten-parse reference (\"reference\") takes a libxml2 tree parse per converter pass instead. Targets at the "
      "largest N: own time at most 2.0 times the one-parse reference of its run, own time growing at most 1.1 times "
      "as fast as N, peak memory at most 1.3 times the response plus 64 MiB.\n";
  out +=
      "- Download: the control posts the pending records into the stand-in company and reports each to the "
      "service. The reference makes the same QuickBooks calls through bare request processors and sends the same "
      "service requests directly.\n";
  out += "- Waiting: the CPU time of a whole sync (one list, one record) whose first upload is answered late.\n";
  return out;
}

std::string KeyValues(const Results& results) {
  std::ostringstream out;
  for (const auto& s : results.syncs) {
    const std::string p = std::string(s.incremental ? "incremental." : "sync.") + std::to_string(s.n) + ".";
    out << p << "ok=" << (s.problem.empty() ? 1 : 0) << "\n";
    out << p << "response_bytes=" << s.response_bytes << "\n" << p << "requests=" << s.requests << "\n";
    out << p << "query_seconds=" << s.query_seconds << "\n" << p << "own_seconds=" << s.own_seconds << "\n";
    out << p << "reference_seconds=" << s.reference_seconds << "\n" << p << "parse_seconds=" << s.parse_seconds << "\n";
    out << p << "post_seconds=" << s.post_seconds << "\n" << p << "peak_bytes=" << s.peak_bytes << "\n";
    out << p << "stream_seconds=" << s.stream_seconds << "\n" << p << "cpu_seconds=" << s.cpu_seconds << "\n";
    out << p << "one_parse_reference_seconds=" << s.one_parse_reference_seconds << "\n";
    out << p << "ratio=" << Ratio(s.own_seconds, s.reference_seconds) << "\n";
    out << p << "one_parse_ratio=" << Ratio(s.own_seconds, s.one_parse_reference_seconds) << "\n";
    for (const auto& [list, count] : s.sent) out << p << "sent." << list << "=" << count << "\n";
  }
  for (const auto& d : results.downloads) {
    const std::string p = "download." + d.mode + ".";
    out << p << "ok=" << (d.problem.empty() ? 1 : 0) << "\n" << p << "posted=" << d.posted << "\n";
    out << p << "requests=" << d.requests << "\n";
    out << p << "control_seconds=" << d.control_seconds << "\n"
        << p << "reference_seconds=" << d.reference_seconds << "\n";
    out << p << "ratio=" << Ratio(d.control_seconds, d.reference_seconds) << "\n";
  }
  if (results.wait) {
    out << "wait.ok=" << (results.wait->problem.empty() ? 1 : 0) << "\n";
    out << "wait.wall_seconds=" << results.wait->wall_seconds << "\n";
    out << "wait.cpu_seconds=" << results.wait->cpu_seconds << "\n";
  }
  return out.str();
}

}  // namespace kvbench
