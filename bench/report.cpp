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
// Own time against the one-parse reference of the same pair: the full sync, the incremental one.
constexpr double kSyncRatioTarget = 1.5;
constexpr double kIncrementalRatioTarget = 1.2;
constexpr double kTenParseRatioTarget = 1.5;  // own time against the ten-parse reference
constexpr double kMemoryPerResponseByte = 1.1;
// Own time may grow at most this much faster than N.
constexpr double kGrowthPerN = 1.05;
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

// The median with the lowest and highest sample beside it: "1.42 (1.38-1.51)"; the median alone for one sample.
std::string Spread(const Samples& samples, int decimals) {
  std::string text = Fixed(samples.Median(), decimals);
  if (samples.values.size() > 1) {
    text += " (" + Fixed(samples.Low(), decimals) + "-" + Fixed(samples.High(), decimals) + ")";
  }
  return text;
}

// The stolen shares of a sync's pairs as percentages, median and spread.
std::string Percent(const Samples& shares) {
  Samples percent;
  for (double share : shares.values) percent.Add(share * 100);
  return Spread(percent, 1);
}

double RatioTarget(const SyncFigures& s) {
  return s.incremental ? kIncrementalRatioTarget : kSyncRatioTarget;
}

double MemoryLimit(const SyncFigures& s) {
  return kMemoryPerResponseByte * s.response_bytes + 64 * kMiB;
}

std::string SyncName(const SyncFigures& s) {
  return std::string(s.incremental ? "incr. " : "") + "N=" + Grouped(s.n);
}

// Growth of the median own time from the smallest to the largest size of one kind of sync: at most 1.05 times the
// growth of N (10.5 for 5,000 -> 50,000). Beside it, the growth the pairs' spreads allow, lowest to highest: the
// sizes run minutes apart, so a slow spell of the machine may fall on one of them only.
void GrowthLine(const std::vector<SyncFigures>& syncs, bool incremental, std::string& out) {
  const SyncFigures* small = nullptr;
  const SyncFigures* large = nullptr;
  for (const auto& s : syncs) {
    if (s.incremental != incremental || !s.problem.empty()) continue;
    if (small == nullptr || s.n < small->n) small = &s;
    if (large == nullptr || s.n > large->n) large = &s;
  }
  if (small == nullptr || large == nullptr || large->n <= small->n) return;
  const double growth = Ratio(large->own_seconds.Median(), small->own_seconds.Median());
  const double limit = kGrowthPerN * static_cast<double>(large->n) / static_cast<double>(small->n);
  std::string spread;
  if (large->own_seconds.values.size() > 1 || small->own_seconds.values.size() > 1) {
    spread = Fixed(Ratio(large->own_seconds.Low(), small->own_seconds.High()), 2) + "-" +
             Fixed(Ratio(large->own_seconds.High(), small->own_seconds.Low()), 2) + " from the pairs' spreads; ";
  }
  out += std::string(incremental ? "incremental sync, " : "") + "own time N=" + Grouped(large->n) +
         " / N=" + Grouped(small->n) + ": " + Fixed(growth, 2) + " (" + spread + "target <= " + Fixed(limit, 1) + ": " +
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
  row("alternated pairs", [](const SyncFigures& s) { return std::to_string(s.pairs); });
  row("  run again, disturbed", [](const SyncFigures& s) { return std::to_string(s.pairs_run_again); });
  row(
      "  processors stolen (%)", [](const SyncFigures& s) { return Percent(s.stolen_share); },
      "<= " + Fixed(kQuietStolenShare * 100, 0));
  row("QuickBooks query, left out (s)", [](const SyncFigures& s) { return Fixed(s.query_seconds.Median(), 2); });
  row("sync's own time (s)", [](const SyncFigures& s) { return Spread(s.own_seconds, 2); });
  row("  its CPU time (s)", [](const SyncFigures& s) { return Spread(s.cpu_seconds, 2); });
  row("one-parse reference (s)", [](const SyncFigures& s) { return Spread(s.one_parse_reference_seconds, 2); });
  row("  parse in place (s)", [](const SyncFigures& s) { return Fixed(s.stream_seconds.Median(), 3); });
  row("  same requests again (s)", [](const SyncFigures& s) { return Fixed(s.post_seconds.Median(), 2); });
  row(
      "own time / one-parse reference", [](const SyncFigures& s) { return Spread(s.one_parse_ratio, 2); },
      "<= " + Fixed(kSyncRatioTarget, 1) + ", incr. " + Fixed(kIncrementalRatioTarget, 1));
  row("  verdict", [](const SyncFigures& s) { return Verdict(s.one_parse_ratio.Median() <= RatioTarget(s)); });
  // The ten-parse rows of a run that left that reference out show nothing.
  auto tree = [](auto value) {
    return [value](const SyncFigures& s) { return s.passes > 0 ? value(s) : std::string("-"); };
  };
  row("ten-parse reference, once (s)", tree([](const SyncFigures& s) { return Fixed(s.reference_seconds, 2); }));
  row("  libxml2 tree parses (s)", tree([](const SyncFigures& s) {
        return std::to_string(s.passes) + " x " + Fixed(s.parse_seconds / std::max(1, s.passes), 3);
      }));
  auto ten_parse_ratio = [](const SyncFigures& s) { return Ratio(s.own_seconds.Median(), s.reference_seconds); };
  row("own time / ten-parse reference", tree([&](const SyncFigures& s) { return Fixed(ten_parse_ratio(s), 2); }),
      "<= " + Fixed(kTenParseRatioTarget, 1));
  row("  verdict", tree([&](const SyncFigures& s) { return Verdict(ten_parse_ratio(s) <= kTenParseRatioTarget); }));
  row("peak memory (MiB)", [](const SyncFigures& s) { return Fixed(s.peak_bytes / kMiB, 0); });
  row(
      Fixed(kMemoryPerResponseByte, 1) + " x response + 64 MiB (MiB)",
      [](const SyncFigures& s) { return Fixed(MemoryLimit(s) / kMiB, 0); }, ">= peak");
  row("  verdict", [](const SyncFigures& s) { return Verdict(s.peak_bytes <= MemoryLimit(s)); });
  row("ten-parse reference's peak (MiB)",
      tree([](const SyncFigures& s) { return Fixed(s.reference_peak_bytes / kMiB, 0); }));
  out += t.Text();

  GrowthLine(syncs, false, out);
  GrowthLine(syncs, true, out);
  for (const auto& s : syncs) {
    if (!s.problem.empty()) {
      out += "sync " + SyncName(s) + " does not count: " + s.problem + "\n";
    } else if (s.stolen_share.High() > kQuietStolenShare) {
      out += "sync " + SyncName(s) + ": the hypervisor disturbed its pairs even when run again; the machine was not " +
             "quiet, and its figures may not hold from run to run\n";
    }
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
      "customer with its jobs (classes are always sent whole). Each sync runs by turns with its one-parse reference "
      "(`--repeat` pairs, 3 by default: own, reference, own, reference, ...), so that a change of the machine's "
      "load falls on both, and the pairs run round by round, one of every column a round, so that a slow spell "
      "falls on both sizes of a growth too; each time is the median of its pairs with the lowest and highest in "
      "brackets, and each ratio the median of the pairs' own ratios. This machine's processors are shared with others: "
      "a pair during which the hypervisor took more than " +
      Fixed(kQuietStolenShare * 100, 0) +
      "% of the machine's processor time (the steal column of /proc/stat) is run again, up to as many times as there "
      "are pairs; the table gives how many were and what was taken during the pairs that count.\n";
  out +=
      "- Rows: the response is QuickBooks' answer to the one query; the requests are the uploads and status "
      "reports the sync sent. The QuickBooks query is the stand-in's part, left out of own time, as are its "
      "processes' start and end and the sessions. Own time is the rest of the sync's wall time; its CPU time is "
      "what the sync's process spent on the processor over exactly that part (receiving QuickBooks' answer runs in "
      "the process but is QuickBooks' part, so it is left out too), steadier than the wall time when the disk the "
      "service writes its request records to is busy. The one-parse reference is the floor of a sync that reads "
      "the answer on one processor: one libxml2 parse of the response read where it lies (no copy of the text, no "
      "tree, no handler) and the same request bodies sent again, byte for byte, to a fresh stand-in in the same "
      "number of requests over one connection. Any sync must read the whole answer once and send every byte of its "
      "statements; the reference does nothing else. The sync parses a long answer in pieces on every processor at "
      "once (platform/xml/README.md), so its CPU time exceeds its own time, and its parse takes less wall time than "
      "the reference's. The stand-ins of both keep their request records in a memory-backed folder (/dev/shm) "
      "where the machine has one, so that the disk writing back one run's records never slows the service in the "
      "next. The ten-parse reference takes a libxml2 tree parse per converter pass instead, as a sync "
      "that loads the answer into a tree for each list would; it runs once, after the pairs. Peak memory is the "
      "sync process's highest resident size.\n";
  out += "- Targets at the largest N: own time at most " + Fixed(kSyncRatioTarget, 1) +
         " times the one-parse reference (incremental: " + Fixed(kIncrementalRatioTarget, 1) +
         "), own time growing at most " + Fixed(kGrowthPerN, 2) + " times as fast as N, peak memory at most " +
         Fixed(kMemoryPerResponseByte, 1) + " times the response plus 64 MiB.\n";
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
    out << p << "pairs=" << s.pairs << "\n" << p << "pairs_run_again=" << s.pairs_run_again << "\n";
    auto samples = [&](const char* key, const Samples& v) {
      out << p << key << "=" << v.Median() << "\n" << p << key << ".low=" << v.Low() << "\n";
      out << p << key << ".high=" << v.High() << "\n";
    };
    samples("query_seconds", s.query_seconds);
    samples("own_seconds", s.own_seconds);
    samples("cpu_seconds", s.cpu_seconds);
    samples("stream_seconds", s.stream_seconds);
    samples("post_seconds", s.post_seconds);
    samples("one_parse_reference_seconds", s.one_parse_reference_seconds);
    samples("one_parse_ratio", s.one_parse_ratio);
    samples("stolen_share", s.stolen_share);
    out << p << "reference_seconds=" << s.reference_seconds << "\n" << p << "parse_seconds=" << s.parse_seconds << "\n";
    out << p << "peak_bytes=" << s.peak_bytes << "\n";
    out << p << "ratio=" << Ratio(s.own_seconds.Median(), s.reference_seconds) << "\n";
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
