#pragma once

// The scene of the whole-run tests in which the user's world breaks a download: a copy of the sample company,
// the service stand-in with the sample's pending records of two sites, and the helpers that break a run (a kill
// while QuickBooks processes an add, a scripted QuickBooks fault, another path to the company file) and then
// download again, in both modes and for each site, until the service lists nothing. Each test ends with
// ExpectEveryRecordOnce: every record once in the company file and one accepted status report for each.
//
// The service stand-in plays the service: a record whose status report it accepted is transferred and no longer
// listed. Its pending lists hold the records of every site, so before each download they are written with that
// site's records (as listed now: a test may change a record's lines or leave it out of a listing).

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/event_wait.h"
#include "tests/support/programs/child_process.h"
#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace kv::test::world {

using namespace std::chrono_literals;

// A record the service lists, and the transaction it becomes in QuickBooks.
struct Record {
  std::string site;   // the site code whose download lists it
  bool time = true;   // time or leave, else an expense
  std::string id;     // the status report's id of a time or leave record; an expense's header id
  std::string lines;  // its lines in the download, each ending in CR LF
  // The transaction QuickBooks shows for it ("qb-standin txns"): kind, date and employee or payee.
  std::string kind;
  std::string date;
  std::string name;
  bool listed = true;  // a listing that omits it for a while sets this false
};

// The sample's records of the site "HLC": three time records, a leave record, a bill and a check.
std::vector<Record> SampleRecords();
// Two time records of another site, "NRW", for the same company file.
std::vector<Record> OtherSiteRecords();
inline constexpr const char* kOtherSite = "NRW";

// Waits for something a program does; false when it does not happen in time.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = kv::test::kEventWait);

class DownloadWorldTest : public ::testing::Test {
 protected:
  DownloadWorldTest();

  // A download of the site in one mode, pressing Continue, with the company file reached through path_. The
  // site's pending list is written first; the service's verdicts are read after it.
  ProgramRun Download(bool time, const std::string& site = "HLC", const ProgramOptions* options = nullptr);
  // The same on a terminal, `typed` typed at it from the start (the answers to its questions).
  ProgramRun DownloadOnTerminal(bool time, const std::string& typed);
  // Downloads, in both modes and for every site with something pending, until nothing is; at most `rounds`
  // rounds. Fails the test when records stay pending, and returns the last run's output.
  std::string DownloadUntilNothingIsPending(int rounds = 4, const ProgramOptions* options = nullptr);
  // Every record once in the company file and one accepted report for each (`reports` overrides the count of
  // one record, by id), besides the transactions the user keyed in by hand.
  void ExpectEveryRecordOnce(const std::map<std::string, int>& reports = {});
  // The user keys a time transaction into QuickBooks by hand: a qbXML 1.1 TimeTrackingAdd of these elements.
  void KeyInByHand(const std::string& date, const std::string& name, const std::string& elements);

  // A download of the site and mode killed while QuickBooks processes its k-th add (k = 1 the first); the add is
  // then let go and saved, as QuickBooks finishes a request it has received. `lose_add` kills QuickBooks'
  // side of the connection first instead, so that the add is never saved.
  void KillDuringAdd(bool time, int k, const std::string& site = "HLC", bool lose_add = false,
                     const ProgramOptions* options = nullptr);

  // Appends lines to the QuickBooks stand-in's faults (standins/quickbooks/state.h).
  void QbFaults(const std::vector<std::string>& lines) const;
  // "qb-standin" with the arguments, in the test's QuickBooks.
  ProgramRun Qb(const std::vector<std::string>& args) const;
  // How many transactions the company file holds, of every kind.
  size_t TransactionCount() const;

  // The records' lines and listings, changed between runs as the service would change them.
  Record& FindRecord(const std::string& id);
  // Status reports by their number among all status reports of the test (1 the first) that the service did not
  // accept: a scripted answer refused them, and the service did nothing with them.
  void FailReport(size_t number) { failed_reports_.push_back(number); }
  // Whether the service has the record as transferred (its transferred.txt).
  bool Transferred(const Record& record) const;
  // What each download so far showed, in order.
  const std::vector<std::string>& Outputs() const { return outputs_; }
  // Whether a message box of that icon ("Critical") whose text holds `text` was shown in the output.
  static bool ShowsBox(const std::string& out, const std::string& icon, const std::string& text);

  SampleCompany company_{"kv-e2e-world"};
  ServiceStandinProcess service_;
  ProgramOptions options_;
  std::vector<Record> records_ = SampleRecords();
  // The path through which the downloads reach the company file; empty: company_.file().
  std::string path_;

 private:
  std::vector<std::string> DownloadArgs(bool time, const std::string& site) const;
  void WritePending(bool time, const std::string& site) const;
  void ReadVerdicts();
  bool Pending(const Record& record) const;

  std::vector<size_t> failed_reports_;
  std::map<std::string, int> accepted_;
  size_t reports_read_ = 0;
  size_t requests_read_ = 0;
  std::vector<std::string> outputs_;
  std::map<std::string, int> keyed_by_hand_;  // by signature
};

// The options with the variable set to the value, replacing any value they had.
ProgramOptions WithEnv(ProgramOptions options, const std::string& name, const std::string& value);

// The path of the company file's journal, as the download names it beside the company file.
std::filesystem::path JournalOf(const std::string& company_file);

}  // namespace kv::test::world
