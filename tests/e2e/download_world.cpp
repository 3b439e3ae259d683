// The scene of the whole-run tests in which the user's world breaks a download (download_world.h).

#include "tests/e2e/download_world.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kv::test::world {

namespace fs = std::filesystem;

namespace {

// The site keys the service gives its sites.
std::string SiteKey(const std::string& site) {
  return site == kOtherSite ? "K-77" : "K-42";
}

// Splits at `separator`, keeping empty fields.
std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    fields.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  fields.push_back(text.substr(start));
  return fields;
}

// The item ids of an expense's lines: the first field of every line after the header.
std::set<std::string> ItemIds(const Record& record) {
  std::set<std::string> ids;
  std::vector<std::string> lines = Split(record.lines, "\r\n");
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!lines[i].empty()) ids.insert(lines[i].substr(0, lines[i].find('|')));
  }
  return ids;
}

// Whether the ids a status report carries name the record: a time or leave record by its id, an expense by
// any of its item ids.
bool ReportNames(const Record& record, const std::string& type_ids, const std::string& expense_ids) {
  if (record.time) return !type_ids.empty() && type_ids == record.id;
  if (expense_ids.empty()) return false;
  const std::set<std::string> items = ItemIds(record);
  for (const std::string& id : Split(expense_ids, ",")) {
    if (items.contains(id)) return true;
  }
  return false;
}

// The whole file, or "" when it is missing.
std::string ReadDataFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Signature(const std::string& kind, const std::string& date, const std::string& name) {
  return kind + " " + date + " " + name;
}

}  // namespace

std::vector<Record> SampleRecords() {
  return {
      {"HLC", true, "5001",
       "TA5001\r\n05/08/2006|Dana Whitfield|Acme Widgets:Plant Expansion|Consulting|7.5|Consulting|Regular Pay|"
       "Site survey&#10Report drafted|True\r\n05/09/2006 10:15:00 AM\r\n",
       "TimeTracking", "2006-05-08", "Dana Whitfield"},
      {"HLC", true, "5002",
       "TA5002\r\n05/09/2006|Marcus O'Neill|Baker's Dozen Bakery:Website Redesign|Project Management|6.25|"
       "Consulting:West Region|Regular Pay|Kick-off meeting & scope|True\r\n05/10/2006 09:02:00 AM\r\n",
       "TimeTracking", "2006-05-09", "Marcus O'Neill"},
      {"HLC", true, "5003",
       "TA5003\r\n05/10/2006|Priya Raman||Training|3|Training||Internal course preparation|False\r\n"
       "05/11/2006 08:30:00 AM\r\n",
       "TimeTracking", "2006-05-10", "Priya Raman"},
      {"HLC", true, "6001",
       "LA6001\r\n05/11/2006|Dana Whitfield|||8||Vacation Pay||False\r\n05/12/2006 04:45:00 PM\r\n", "TimeTracking",
       "2006-05-11", "Dana Whitfield"},
      {"HLC", false, "7001",
       "EXP7001|Cascade Office Supply|05/08/2006|May office supplies|True|\r\n"
       "7101|05/08/2006|Binders and folders for the plant office|Acme Widgets:Plant Expansion|42.75|Consulting|"
       "Office Supplies|Expense|True|False|0|0\r\n"
       "7102|05/08/2006|Printer paper|Acme Widgets|20|0|Printer Paper|Expense|False|True|4|5\r\n",
       "Bill", "2006-05-08", "Cascade Office Supply"},
      {"HLC", false, "7002",
       "EXP7002|Riverside Travel Agency|05/09/2006|Client visit travel|False|Checking\r\n"
       "7201|05/09/2006|Train tickets|Baker's Dozen Bakery|118.40||Travel Expense|Expense|True|False|0|0\r\n"
       "7202|05/09/2006|Lunch with the client|Baker's Dozen Bakery:Website Redesign|36.5||Meals and Entertainment|"
       "Expense|False|False|0|0\r\n",
       "Check", "2006-05-09", "Riverside Travel Agency"},
  };
}

std::vector<Record> OtherSiteRecords() {
  return {
      {kOtherSite, true, "5101",
       "TA5101\r\n05/15/2006|Dana Whitfield|Acme Widgets:Plant Expansion|Consulting|2|Consulting|Regular Pay|"
       "Follow-up visit|True\r\n05/16/2006 10:00:00 AM\r\n",
       "TimeTracking", "2006-05-15", "Dana Whitfield"},
      {kOtherSite, true, "5102",
       "TA5102\r\n05/16/2006|Marcus O'Neill|Baker's Dozen Bakery:Website Redesign|Project Management|1.5|"
       "Consulting:West Region|Regular Pay|Design review|True\r\n05/17/2006 09:00:00 AM\r\n",
       "TimeTracking", "2006-05-16", "Marcus O'Neill"},
  };
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

DownloadWorldTest::DownloadWorldTest() {
  // The service's sites and their keys; it refuses any other.
  service_.WriteFile("accounts.txt",
                     "dana\tpw\tHLC\tK-42\t\tline4\tline5\n"
                     "lee\tpw\t" +
                         std::string(kOtherSite) + "\t" + SiteKey(kOtherSite) + "\t\tline4\tline5\n");
  options_ = company_.options();
  options_.env.insert(options_.env.end(), {{"KV_WEB_CONNECT_TIMEOUT_MS", "1000"}, {"KV_WEB_STALL_TIMEOUT_MS", "1000"}});
  options_.time_limit = 30s;
}

ProgramRun DownloadWorldTest::Qb(const std::vector<std::string>& args) const {
  return RunProgram("qb-standin", args, options_);
}

void DownloadWorldTest::QbFaults(const std::vector<std::string>& lines) const {
  std::vector<std::string> args = {"fault"};
  args.insert(args.end(), lines.begin(), lines.end());
  const ProgramRun run = Qb(args);
  ASSERT_EQ(run.status, 0) << run.err;
}

size_t DownloadWorldTest::TransactionCount() const {
  size_t count = 0;
  std::istringstream lines(Qb({"txns"}).out);
  for (std::string line; std::getline(lines, line);) {
    const std::string kind = line.substr(0, line.find("  "));
    count += kind == "TimeTracking" || kind == "Bill" || kind == "Check";
  }
  return count;
}

Record& DownloadWorldTest::FindRecord(const std::string& id) {
  const auto found = std::find_if(records_.begin(), records_.end(), [&](const Record& r) { return r.id == id; });
  if (found == records_.end()) throw std::runtime_error("no record " + id);
  return *found;
}

bool DownloadWorldTest::Transferred(const Record& record) const {
  std::set<std::string> transferred;
  std::istringstream lines(ReadDataFile(service_.DataDir() / "transferred.txt"));
  for (std::string line; std::getline(lines, line);) transferred.insert(line);
  if (record.time) return transferred.contains(record.site + "\t" + record.lines.substr(0, 2) + "\t" + record.id);
  const std::set<std::string> items = ItemIds(record);
  return std::all_of(items.begin(), items.end(),
                     [&](const std::string& id) { return transferred.contains(record.site + "\tEI\t" + id); });
}

bool DownloadWorldTest::Pending(const Record& record) const {
  return record.listed && !Transferred(record);
}

void DownloadWorldTest::WritePending(bool time, const std::string& site) const {
  std::string pending;
  for (const Record& record : records_) {
    if (record.site == site && record.time == time && record.listed) pending += record.lines;
  }
  service_.WriteFile(time ? "pending-time.txt" : "pending-expenses.txt", pending);
}

void DownloadWorldTest::ReadVerdicts() {
  const std::vector<ReceivedRequest> received = service_.Received();
  for (size_t i = requests_read_; i < received.size(); ++i) {
    const ReceivedRequest& request = received[i];
    if (request.Page() != "kalvorupdatestatus.asp") continue;
    const size_t number = ++reports_read_;
    // The service's own judgement: QuickBooks' answer came with the record and refused nothing.
    const bool answered = request.body.find(" statusCode=\"") != std::string::npos &&
                          request.body.find("statusSeverity=\"Error\"") == std::string::npos;
    if (!answered || std::find(failed_reports_.begin(), failed_reports_.end(), number) != failed_reports_.end()) {
      continue;
    }
    std::string site = request.QueryValue("sitecode");
    std::transform(site.begin(), site.end(), site.begin(), [](unsigned char c) { return std::toupper(c); });
    const std::string type_ids = request.QueryValue("TAIDs") + request.QueryValue("LAIDs");
    const std::string expense_ids = request.QueryValue("EEIIDs");
    for (const Record& record : records_) {
      if (record.site == site && ReportNames(record, type_ids, expense_ids)) ++accepted_[record.id];
    }
  }
  requests_read_ = received.size();
}

std::vector<std::string> DownloadWorldTest::DownloadArgs(bool time, const std::string& site) const {
  const SampleCompany::DownloadPage page{site, SiteKey(site), path_};
  return company_.DownloadArgs(page, service_.BaseUrl(),
                               {"--param", std::string("TsOrExpense=") + (time ? "True" : "False"), "--continue"});
}

ProgramRun DownloadWorldTest::DownloadOnTerminal(bool time, const std::string& typed) {
  WritePending(time, "HLC");
  const ProgramRun run = RunProgramOnTerminal("kvpage", DownloadArgs(time, "HLC"), options_, typed);
  EXPECT_FALSE(run.timed_out) << run.out;
  outputs_.push_back("--- HLC on a terminal (status " + std::to_string(run.status) + ")\n" + run.out);
  ReadVerdicts();
  return run;
}

void DownloadWorldTest::KeyInByHand(const std::string& date, const std::string& name, const std::string& elements) {
  const fs::path request = company_.dir() / "keyed-in.xml";
  std::ofstream(request) << "<?xml version=\"1.0\"?>\n<?qbxml version=\"1.1\"?>\n<QBXML>\n"
                            "<QBXMLMsgsRq onError=\"stopOnError\">\n<TimeTrackingAddRq requestID=\"1\">"
                            "<TimeTrackingAdd>"
                         << elements << "</TimeTrackingAdd></TimeTrackingAddRq>\n</QBXMLMsgsRq>\n</QBXML>\n";
  const ProgramRun keyed = Qb({"request", request.string()});
  ASSERT_NE(keyed.out.find("statusCode=\"0\""), std::string::npos) << keyed.out << keyed.err;
  ++keyed_by_hand_[Signature("TimeTracking", date, name)];
}

ProgramRun DownloadWorldTest::Download(bool time, const std::string& site, const ProgramOptions* options) {
  WritePending(time, site);
  const ProgramRun run = RunProgram("kvpage", DownloadArgs(time, site), options != nullptr ? *options : options_);
  EXPECT_FALSE(run.timed_out) << run.out << run.err;
  outputs_.push_back("--- " + site + (time ? " time" : " expenses") + " (status " + std::to_string(run.status) + ")\n" +
                     run.out + run.err);
  ReadVerdicts();
  return run;
}

std::string DownloadWorldTest::DownloadUntilNothingIsPending(int rounds, const ProgramOptions* options) {
  std::string last;
  for (int round = 0; round < rounds; ++round) {
    bool ran = false;
    for (const std::string site : {"HLC", kOtherSite}) {
      for (const bool time : {true, false}) {
        const bool pending = std::any_of(records_.begin(), records_.end(), [&](const Record& record) {
          return record.site == site && record.time == time && Pending(record);
        });
        if (!pending) continue;
        const ProgramRun run = Download(time, site, options);
        last = run.out + run.err;
        ran = true;
      }
    }
    if (!ran) return last;
  }
  std::string pending;
  for (const Record& record : records_) {
    if (Pending(record)) pending += " " + record.site + ":" + record.id;
  }
  std::string runs;
  for (const std::string& output : outputs_) runs += output;
  if (!pending.empty()) ADD_FAILURE() << "still pending after " << rounds << " rounds:" << pending << "\n" << runs;
  return last;
}

void DownloadWorldTest::ExpectEveryRecordOnce(const std::map<std::string, int>& reports) {
  std::map<std::string, int> expected = keyed_by_hand_, found;
  for (const Record& record : records_) ++expected[Signature(record.kind, record.date, record.name)];
  const std::string listing = Qb({"txns"}).out;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> fields = Split(line, "  ");
    if (fields.size() < 4) continue;
    if (fields[0] == "TimeTracking" || fields[0] == "Bill" || fields[0] == "Check") {
      ++found[Signature(fields[0], fields[2], fields[3])];
    }
  }
  std::string runs;
  for (const std::string& output : outputs_) runs += output;
  EXPECT_EQ(found, expected) << listing << runs;

  std::map<std::string, int> accepted, wanted;
  for (const Record& record : records_) {
    EXPECT_TRUE(Transferred(record)) << "the service does not have " << record.site << ":" << record.id
                                     << " as transferred";
    const auto count = accepted_.find(record.id);
    accepted[record.id] = count == accepted_.end() ? 0 : count->second;
    const auto override_count = reports.find(record.id);
    wanted[record.id] = override_count == reports.end() ? 1 : override_count->second;
  }
  EXPECT_EQ(accepted, wanted) << runs;
}

void DownloadWorldTest::KillDuringAdd(bool time, int k, const std::string& site, bool lose_add,
                                      const ProgramOptions* options) {
  std::vector<std::string> faults(static_cast<size_t>(k - 1), "add ok");
  faults.push_back("add hold");
  QbFaults(faults);
  const fs::path held = company_.dir() / "qb" / "add-held";
  ProgramOptions killed = options != nullptr ? *options : options_;
  bool caught = false;
  killed.during = [&](pid_t pid) {
    if (!WaitFor([&] { return fs::exists(held); })) return;
    caught = true;
    const std::optional<pid_t> quickbooks = ChildWith(pid, "serve");
    if (lose_add && quickbooks) {
      kill(*quickbooks, SIGKILL);
      WaitForExit(*quickbooks);
    }
    kill(pid, SIGKILL);
    // QuickBooks finishes what it received.
    std::error_code ignored;
    fs::remove(held, ignored);
    if (quickbooks) WaitForExit(*quickbooks);
  };
  const ProgramRun run = Download(time, site, &killed);
  ASSERT_TRUE(caught) << run.out << run.err;
  ASSERT_EQ(run.killed_by, SIGKILL) << run.out << run.err;
}

bool DownloadWorldTest::ShowsBox(const std::string& out, const std::string& icon, const std::string& text) {
  const std::string head = "[" + icon + "]\n";
  for (size_t at = out.find(head); at != std::string::npos; at = out.find(head, at + 1)) {
    const size_t end = out.find("\n[", at + head.size());
    if (out.substr(at, end == std::string::npos ? std::string::npos : end - at).find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

ProgramOptions WithEnv(ProgramOptions options, const std::string& name, const std::string& value) {
  std::erase_if(options.env, [&](const auto& variable) { return variable.first == name; });
  options.env.emplace_back(name, value);
  return options;
}

fs::path JournalOf(const std::string& company_file) {
  const fs::path file = fs::canonical(company_file);
  std::string name = ".";  // appended piece by piece: GCC 12 at -O3 warns of "." + std::string&& (-Wrestrict)
  name.append(file.filename().string()).append(".tessarine-journal");
  return file.parent_path() / name;
}

}  // namespace kv::test::world
