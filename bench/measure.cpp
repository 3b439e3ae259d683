// Each measurement the benchmark reports: a sync, a download and a wait, set up on a generated company.

#include "bench/measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "bench/pending_data.h"
#include "bench/processes.h"
#include "bench/stolen_time.h"

namespace kvbench {
namespace {

namespace fs = std::filesystem;

// The converter passes of a sync with every list ticked: employees, customers, jobs, classes, accounts, items,
// vendors, time, checks and bills each read the response once.
constexpr int kConverterPasses = 10;
constexpr const char* kSyncedMessage = "Quickbooks data synced with Kalvor successfully..";
// The last sync of an incremental run: after every time stamp of the unchanged company, before the changes.
constexpr const char* kLastSync = "01/01/2007 12:00:00 AM";

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A generated company, opened in a QuickBooks stand-in whose state lives under `dir`.
fs::path OpenCompany(const fs::path& dir, const std::string& file_name, long n, bool changed = false) {
  fs::create_directories(dir);
  const fs::path company = dir / file_name;
  std::vector<std::string> args{std::to_string(n), company.string()};
  if (changed) args.emplace_back("--changed");
  if (RunProgram("kv-gen-company", args) != 0) {
    throw std::runtime_error("kv-gen-company could not write " + company.string());
  }
  setenv("QB_STANDIN_HOME", (dir / "qb").c_str(), 1);
  std::string output;
  if (RunProgram("qb-standin", {"open", company.string()}, &output) != 0) {
    throw std::runtime_error("qb-standin could not open " + company.string() + ": " + output);
  }
  return company;
}

// "" when the child ran and its user saw exactly the one box of a sync that worked.
std::string SyncProblem(const ChildReport& report) {
  if (!report.ok) return "the sync did not run to its end";
  if (report.Number("boxes") != 1 || report.Text("box.1") != kSyncedMessage) {
    return "the sync ended with \"" + report.Text("box.1") + "\"";
  }
  return {};
}

void RemoveAll(const fs::path& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

}  // namespace

double Samples::Median() const {
  if (values.empty()) return 0;
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  const size_t middle = sorted.size() / 2;
  return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double Samples::Low() const {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double Samples::High() const {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

namespace {

// One kind of sync at one size while its pairs run.
struct SyncRun {
  SyncFigures f;
  fs::path dir;
  fs::path company;
  fs::path response;
  fs::path requests;
};

SyncRun PrepareSync(const Workspace& work, const SyncKind& kind, bool tree_reference) {
  SyncRun run;
  run.f.n = kind.n;
  run.f.incremental = kind.incremental;
  run.f.passes = tree_reference ? kConverterPasses : 0;
  run.dir = work.root / ((kind.incremental ? "incremental-" : "sync-") + std::to_string(kind.n));
  run.company = OpenCompany(run.dir, "Bench Company.QBW", kind.n, kind.incremental);
  run.response = run.dir / "response.xml";
  run.requests = work.requests_root / run.dir.filename();
  return run;
}

// What one pair measured, kept only when the machine let it run undisturbed (or it ran out of tries).
struct PairSample {
  double query_seconds = 0;
  double own_seconds = 0;
  double cpu_seconds = 0;
  double peak_bytes = 0;
  double stream_seconds = 0;
  double post_seconds = 0;
  double one_parse_reference_seconds = 0;
  double stolen_share = 0;
};

void Keep(SyncFigures& f, const PairSample& p) {
  f.query_seconds.Add(p.query_seconds);
  f.own_seconds.Add(p.own_seconds);
  f.cpu_seconds.Add(p.cpu_seconds);
  f.peak_bytes = std::max(f.peak_bytes, p.peak_bytes);
  f.stream_seconds.Add(p.stream_seconds);
  f.post_seconds.Add(p.post_seconds);
  f.one_parse_reference_seconds.Add(p.one_parse_reference_seconds);
  f.one_parse_ratio.Add(p.one_parse_reference_seconds > 0 ? p.own_seconds / p.one_parse_reference_seconds : 0);
  f.stolen_share.Add(p.stolen_share);
  ++f.pairs;
}

// The sync and then its one-parse reference, each against a fresh service stand-in; sets f.problem when either
// did not do what it should.
PairSample RunPair(const Workspace& work, SyncRun& run, int pair) {
  SyncFigures& f = run.f;
  PairSample sample;
  setenv("QB_STANDIN_HOME", (run.dir / "qb").c_str(), 1);  // the QuickBooks stand-in that has this company open
  const fs::path service_dir = run.requests / ("service-" + std::to_string(pair));
  const fs::path reference_dir = run.requests / ("reference-service-" + std::to_string(pair));
  // A pair run again starts from empty stand-ins, as its first try did.
  RemoveAll(service_dir);
  RemoveAll(reference_dir);
  const ProcessorTimes before = ReadProcessorTimes();
  ChildReport sync;
  {
    ServiceProcess service(service_dir);
    std::vector<std::string> args{"--company", run.company.string(), "--url", service.BaseUrl()};
    // The company does not change between the runs: its answer is kept once.
    if (pair == 1) args.insert(args.end(), {"--response", run.response.string()});
    if (f.incremental) args.insert(args.end(), {"--since", kLastSync});
    sync = RunChild("sync", args);
  }
  f.problem = SyncProblem(sync);
  if (!f.problem.empty()) return sample;
  if (pair == 1) {
    f.response_bytes = sync.Number("response_bytes");
    for (const auto& [key, value] : sync.values) {
      if (key.rfind("sent.", 0) == 0) f.sent[key.substr(5)] = std::atol(value.c_str());
    }
  } else if (sync.Number("response_bytes") != f.response_bytes) {
    f.problem = "QuickBooks answered the runs differently";
    return sample;
  }
  sample.query_seconds = sync.Number("query_seconds");
  sample.own_seconds = sync.Number("own_seconds");
  sample.cpu_seconds = sync.Number("cpu_seconds");
  sample.peak_bytes = sync.Number("peak_bytes");

  ChildReport reference;
  {
    ServiceProcess service(reference_dir);
    reference = RunChild("sync-reference", {"--response", run.response.string(), "--data", service_dir.string(),
                                            "--url", service.BaseUrl()});
  }
  sample.stolen_share = StolenShare(before, ReadProcessorTimes());
  if (!reference.ok) {
    f.problem = "the reference did not run to its end";
    return sample;
  }
  if (pair == 1) {
    f.requests = reference.Number("requests");
  } else if (reference.Number("requests") != f.requests) {
    f.problem = "the runs sent different numbers of requests";
    return sample;
  }
  sample.stream_seconds = reference.Number("stream_seconds");
  sample.post_seconds = reference.Number("post_seconds");
  sample.one_parse_reference_seconds = reference.Number("one_parse_reference_seconds");
  if (!work.keep) {
    RemoveAll(reference_dir);
    if (pair > 1) RemoveAll(service_dir);
  }
  return sample;
}

// The tree parses, far from every target, once: their own run, replaying the first pair's requests.
SyncFigures FinishSync(const Workspace& work, SyncRun& run) {
  SyncFigures& f = run.f;
  if (f.problem.empty() && f.passes > 0) {
    ServiceProcess service(run.requests / "tree-reference-service");
    const ChildReport reference =
        RunChild("sync-reference", {"--response", run.response.string(), "--passes", std::to_string(f.passes), "--data",
                                    (run.requests / "service-1").string(), "--url", service.BaseUrl()});
    if (!reference.ok) f.problem = "the ten-parse reference did not run to its end";
    f.parse_seconds = reference.Number("parse_seconds");
    f.reference_seconds = reference.Number("reference_seconds");
    f.reference_peak_bytes = reference.Number("peak_bytes");
  }
  if (!work.keep) {
    RemoveAll(run.requests);
    RemoveAll(run.dir);
  }
  return f;
}

}  // namespace

std::vector<SyncFigures> MeasureSyncs(const Workspace& work, const std::vector<SyncKind>& kinds, int pairs,
                                      bool tree_reference, const std::function<void(const std::string&)>& progress) {
  std::vector<SyncRun> runs;
  for (const SyncKind& kind : kinds) runs.push_back(PrepareSync(work, kind, tree_reference));
  for (int pair = 1; pair <= pairs; ++pair) {
    for (SyncRun& run : runs) {
      SyncFigures& f = run.f;
      if (!f.problem.empty()) continue;
      const std::string name = (f.incremental ? "incremental sync of N=" : "sync of N=") + std::to_string(f.n) +
                               ", pair " + std::to_string(pair) + " of " + std::to_string(pairs);
      progress(name);
      PairSample sample = RunPair(work, run, pair);
      // At most as many runs again as there are pairs: a machine disturbed throughout still ends its run.
      while (f.problem.empty() && sample.stolen_share > kQuietStolenShare && f.pairs_run_again < pairs) {
        ++f.pairs_run_again;
        progress(name + " again: the hypervisor took " + std::to_string(std::lround(sample.stolen_share * 100)) +
                 "% of the processors");
        sample = RunPair(work, run, pair);
      }
      if (f.problem.empty()) Keep(f, sample);
    }
  }
  std::vector<SyncFigures> figures;
  for (SyncRun& run : runs) figures.push_back(FinishSync(work, run));
  return figures;
}

DownloadFigures MeasureDownload(const Workspace& work, const std::string& mode, long records, long company_n,
                                int repeat) {
  DownloadFigures f;
  f.mode = mode;
  f.records = records;
  const fs::path dir = work.root / ("download-" + mode);
  const fs::path company = OpenCompany(dir, "Download Company.QBW", company_n);
  const fs::path pristine = dir / "pristine.xml";
  fs::copy_file(company, pristine, fs::copy_options::overwrite_existing);
  const std::string pending =
      mode == "time" ? PendingTimeText(records, company_n) : PendingExpenseText(records, company_n);
  const char* pending_file = mode == "time" ? "pending-time.txt" : "pending-expenses.txt";

  for (int run = 0; run < repeat && f.problem.empty(); ++run) {
    const fs::path run_dir = dir / ("run-" + std::to_string(run + 1));
    const fs::path trace = run_dir / "qb-calls.trace";
    WriteText(run_dir / "service" / pending_file, pending);
    WriteText(run_dir / "reference-service" / pending_file, pending);

    fs::copy_file(pristine, company, fs::copy_options::overwrite_existing);
    ChildReport control;
    {
      ServiceProcess service(run_dir / "service");
      control = RunChild("download", {"--mode", mode, "--company", company.string(), "--url", service.BaseUrl(),
                                      "--trace", trace.string()});
    }
    if (!control.ok) {
      f.problem = "the download did not run to its end";
    } else if (control.Number("posted") != static_cast<double>(records) || control.Number("not_posted") != 0 ||
               control.Number("qb_failed_calls") != 0) {
      f.problem = "the download posted " + control.Text("posted") + " of " + std::to_string(records) + " records";
    }

    // The reference adds the same records to the same company as it was before the control's run.
    fs::copy_file(pristine, company, fs::copy_options::overwrite_existing);
    ChildReport reference;
    if (f.problem.empty()) {
      ServiceProcess service(run_dir / "reference-service");
      reference = RunChild("download-reference", {"--trace", trace.string(), "--data", (run_dir / "service").string(),
                                                  "--url", service.BaseUrl()});
      if (!reference.ok || reference.Number("qb_failed_calls") != 0) f.problem = "the reference did not run cleanly";
    }
    if (!f.problem.empty()) break;
    const double control_seconds = control.Number("total_seconds");
    if (run == 0 || control_seconds < f.control_seconds) {
      f.control_seconds = control_seconds;
      f.control_qb_seconds = control.Number("qb_seconds");
    }
    const double reference_seconds = reference.Number("reference_seconds");
    if (run == 0 || reference_seconds < f.reference_seconds) {
      f.reference_seconds = reference_seconds;
      f.reference_qb_seconds = reference.Number("qb_seconds");
      f.reference_post_seconds = reference.Number("post_seconds");
    }
    f.requests = reference.Number("requests");
    f.posted = static_cast<long>(control.Number("posted"));
  }
  if (!work.keep) RemoveAll(dir);
  return f;
}

WaitFigures MeasureWait(const Workspace& work, long delay_ms) {
  WaitFigures f;
  f.delay_ms = static_cast<double>(delay_ms);
  const fs::path dir = work.root / "wait";
  const fs::path company = OpenCompany(dir, "Wait Company.QBW", 1);
  // Only the first upload waits; the status report after it is answered at once.
  WriteText(dir / "service" / "faults" / "brintavel.asp.1", "delay-ms " + std::to_string(delay_ms) + "\n");
  ChildReport sync;
  {
    ServiceProcess service(dir / "service");
    sync = RunChild("sync", {"--company", company.string(), "--url", service.BaseUrl(), "--lists", "classes"});
  }
  f.problem = SyncProblem(sync);
  f.wall_seconds = sync.Number("total_seconds");
  f.cpu_seconds = sync.Number("process_cpu_seconds");
  if (f.problem.empty() && f.wall_seconds * 1000 < static_cast<double>(delay_ms)) {
    f.problem = "the sync did not wait for the delayed answer";
  }
  if (!work.keep) RemoveAll(dir);
  return f;
}

}  // namespace kvbench
