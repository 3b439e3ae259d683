#pragma once

// The parent side of each measurement: prepares the company and the stand-ins, runs the measured child and its
// reference side by side, and checks that both did what they should before any figure counts.

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kvbench {

// The figures of several runs of one measurement: their median and how far apart they lay.
struct Samples {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Median() const;  // 0 when there is none
  double Low() const;
  double High() const;
};

struct SyncFigures {
  long n = 0;
  bool incremental = false;  // the company changed in 1% of its records since the last-sync dates given
  std::string problem;       // why the run does not count; "" when it does
  int pairs = 0;             // alternated runs of the sync and its one-parse reference that count
  int pairs_run_again = 0;   // pairs the hypervisor disturbed, run again
  double response_bytes = 0;
  double requests = 0;  // requests the sync sent to the service
  // Each a sample per pair.
  Samples query_seconds;  // QuickBooks' part, left out of the sync's own time
  Samples own_seconds;
  Samples cpu_seconds;     // the processor time of what own time counts
  Samples stream_seconds;  // one-parse reference: one streaming libxml2 parse in place, no tree
  Samples post_seconds;    // both references: the same requests sent again
  Samples one_parse_reference_seconds;
  Samples one_parse_ratio;  // own time / one-parse reference of the same pair
  Samples stolen_share;     // of the machine's processor time, taken by the hypervisor while the pair ran
  double peak_bytes = 0;    // the highest of the sync's runs
  // The ten-parse reference, run once after the first pair: libxml2 tree parses, one per converter pass.
  double parse_seconds = 0;
  double reference_seconds = 0;
  double reference_peak_bytes = 0;
  int passes = 0;                    // 0: the ten-parse reference was not run
  std::map<std::string, long> sent;  // records sent, by the progress caption of their list
};

struct DownloadFigures {
  std::string mode;  // "time" or "expenses"
  long records = 0;
  std::string problem;
  double control_seconds = 0;
  double control_qb_seconds = 0;
  double reference_seconds = 0;
  double reference_qb_seconds = 0;
  double reference_post_seconds = 0;
  double requests = 0;  // service requests of the run
  long posted = 0;
};

struct WaitFigures {
  double delay_ms = 0;
  std::string problem;
  double wall_seconds = 0;
  double cpu_seconds = 0;
};

struct Workspace {
  std::filesystem::path root;
  // Where the syncs' service stand-ins keep the request records they write (hundreds of megabytes a run): a
  // memory-backed folder where the machine has one, so that the disk writing back one run's records never slows
  // the service in the next and falls on one side of a pair only. Else the root.
  std::filesystem::path requests_root;
  bool keep = false;  // leave companies, responses and request records behind
};

struct SyncKind {
  long n = 0;
  bool incremental = false;
};

// A pair that lost more of the machine's processor time than this to the hypervisor is run again: the pairs of a
// quiet run of this machine lose well under a quarter of it.
constexpr double kQuietStolenShare = 0.02;

// Syncs of companies of n records in every list, every list ticked, each alternated `pairs` times with its one-parse
// reference, then the ten-parse reference once. Incremental: the company changed since the last sync in 1% of every
// list and in one customer with its jobs. The pairs run round by round, one pair of every kind and size a round, so
// that a slow spell of the machine falls on every size alike and the growth from one size to the next holds from run
// to run. A pair disturbed by the hypervisor (kQuietStolenShare) is run again, up to `pairs` times in all of one
// kind and size. tree_reference false leaves the ten-parse reference out (passes 0). progress hears of each pair as
// it starts and of each run again.
std::vector<SyncFigures> MeasureSyncs(const Workspace& work, const std::vector<SyncKind>& kinds, int pairs,
                                      bool tree_reference, const std::function<void(const std::string&)>& progress);
// Downloads of `time_records` time records, then of `expenses` expenses, into a company of company_n records a
// list, each against its reference; the best of `repeat` runs of each side.
DownloadFigures MeasureDownload(const Workspace& work, const std::string& mode, long records, long company_n,
                                int repeat);
// A sync whose first upload is answered after delay_ms.
WaitFigures MeasureWait(const Workspace& work, long delay_ms);

}  // namespace kvbench
