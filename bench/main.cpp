// kv-bench: measures the sync, the download and a sync's waiting against their references in one run and prints
// the table of figures and ratios. "kv-bench child KIND ..." is the measuring child it runs itself (child_runs.h).

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/child_runs.h"
#include "bench/measure.h"
#include "bench/report.h"

namespace {

namespace fs = std::filesystem;

fs::path MakeWorkDir(const std::string& wanted) {
  if (!wanted.empty()) {
    fs::create_directories(wanted);
    return fs::absolute(wanted);
  }
  std::string pattern = (fs::temp_directory_path() / "kv-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a working directory");
  return pattern;
}

// The request records' folder: under /dev/shm when it is a memory-backed folder here, else the working directory.
fs::path MakeRequestsDir(const fs::path& root) {
  std::string pattern = "/dev/shm/kv-bench-requests-XXXXXX";
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && mkdtemp(pattern.data()) != nullptr) return pattern;
  return root;
}

void RemoveWork(const kvbench::Workspace& work, bool keep, bool made_here) {
  if (keep) return;
  std::error_code ec;
  if (!work.requests_root.empty() && work.requests_root != work.root) fs::remove_all(work.requests_root, ec);
  if (made_here && !work.root.empty()) fs::remove_all(work.root, ec);
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "child") return kvbench::RunChildCommand(argc - 2, argv + 2);

  CLI::App app{"kv-bench: the connector's benchmarks, each beside its reference"};
  std::vector<long> sizes{5000, 50000};
  long time_records = 2000, expenses = 500, company_n = 1000, wait_ms = 5000;
  int repeat = 3, download_repeat = 1;
  std::string work_dir, markdown, values;
  bool keep = false, no_tree = false, no_sync = false, no_incremental = false, no_download = false, no_wait = false;
  app.add_option("--sizes", sizes, "Records per list of the synced companies")
      ->delimiter(',')
      ->check(CLI::Range(1L, 10000000L));
  app.add_option("--time-records", time_records, "Pending time records to download")->check(CLI::Range(1L, 1000000L));
  app.add_option("--expenses", expenses, "Pending expenses to download")->check(CLI::Range(1L, 1000000L));
  app.add_option("--download-company", company_n, "Records per list of the company the downloads go into")
      ->check(CLI::Range(1L, 1000000L));
  app.add_option("--repeat", repeat, "Alternated pairs of each sync and its reference; the medians count")
      ->check(CLI::Range(1, 100));
  app.add_option("--download-repeat", download_repeat, "Download runs of each side; the best counts")
      ->check(CLI::Range(1, 100));
  app.add_option("--wait-ms", wait_ms, "How late the delayed answer comes")->check(CLI::Range(0L, 600000L));
  app.add_option("--work", work_dir, "Working directory (default: a new one under the temporary directory)");
  app.add_flag("--keep", keep, "Keep companies, responses and request records");
  app.add_flag("--no-sync", no_sync, "Skip the sync measurements");
  app.add_flag("--no-incremental", no_incremental, "Skip the incremental syncs");
  app.add_flag("--no-tree-reference", no_tree, "Skip the ten-parse reference of the syncs (minutes at large N)");
  app.add_flag("--no-download", no_download, "Skip the download measurements");
  app.add_flag("--no-wait", no_wait, "Skip the waiting measurement");
  app.add_option("--markdown", markdown, "Also write the README's performance section to this file");
  app.add_option("--values", values, "Also write every figure as key=value lines to this file");
  CLI11_PARSE(app, argc, argv);

  kvbench::Results results;
  results.machine = kvbench::ReadMachine();
  kvbench::Workspace work;
  work.keep = keep;
  try {
    work.root = MakeWorkDir(work_dir);
    work.requests_root = MakeRequestsDir(work.root);
    if (keep && work.requests_root != work.root) {
      std::cerr << "kv-bench: the request records stay in " << work.requests_root.string() << "\n";
    }
    if (!no_sync) {
      std::vector<kvbench::SyncKind> kinds;
      for (long n : sizes) kinds.push_back({n, false});
      for (long n : no_incremental ? std::vector<long>{} : sizes) kinds.push_back({n, true});
      results.syncs = kvbench::MeasureSyncs(work, kinds, repeat, !no_tree,
                                            [](const std::string& what) { std::cerr << "kv-bench: " << what << "\n"; });
    }
    if (!no_download) {
      std::cerr << "kv-bench: download of " << time_records << " time records\n";
      results.downloads.push_back(kvbench::MeasureDownload(work, "time", time_records, company_n, download_repeat));
      std::cerr << "kv-bench: download of " << expenses << " expenses\n";
      results.downloads.push_back(kvbench::MeasureDownload(work, "expenses", expenses, company_n, download_repeat));
    }
    if (!no_wait) {
      std::cerr << "kv-bench: sync waiting " << wait_ms << " ms\n";
      results.wait = kvbench::MeasureWait(work, wait_ms);
    }
  } catch (const std::exception& e) {
    std::cerr << "kv-bench: " << e.what() << "\n";
    RemoveWork(work, keep, work_dir.empty());
    return 1;
  }
  RemoveWork(work, keep, work_dir.empty());

  std::cout << kvbench::TextReport(results);
  if (!markdown.empty() && !WriteFile(markdown, kvbench::MarkdownSection(results))) {
    std::cerr << "kv-bench: cannot write " << markdown << "\n";
    return 1;
  }
  if (!values.empty() && !WriteFile(values, kvbench::KeyValues(results))) {
    std::cerr << "kv-bench: cannot write " << values << "\n";
    return 1;
  }
  return kvbench::AllRan(results) ? 0 : 1;
}
