// The sync runs a benchmark child process makes, the control's and the reference's, each in a process of its
// own so that its time and peak memory are its alone.

#include "bench/child_runs.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

#include "bench/bench_presenter.h"
#include "bench/processes.h"
#include "bench/qb_probe.h"
#include "bench/replay.h"
#include "platform/activex/property_bag.h"
#include "platform/activex/user_control.h"
#include "platform/base/text.h"
#include "platform/xml/reference_parse.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converters.h"

namespace kvbench {

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

const std::string& Required(const ChildArgs& args, const std::string& key) {
  auto it = args.find(key);
  if (it == args.end()) throw std::runtime_error("the child needs --" + key);
  return it->second;
}

namespace {

std::string Optional(const ChildArgs& args, const std::string& key, std::string fallback = {}) {
  auto it = args.find(key);
  return it == args.end() ? fallback : it->second;
}

std::vector<platform::forms::CheckBox*> ListBoxes(brintavel::BrintavelCtl& ctl, const std::string& lists) {
  const std::pair<const char*, platform::forms::CheckBox*> all[] = {
      {"employees", &ctl.chkQBEmployee}, {"customers", &ctl.chkQBCustomers}, {"vendors", &ctl.chkQBVendors},
      {"payterms", &ctl.chkQBPayTerms},  {"accounts", &ctl.chkQBCOA},        {"items", &ctl.chkQBTasks},
      {"classes", &ctl.chkQBClasses},    {"time", &ctl.chkQBTimesheet},      {"expenses", &ctl.chkQBExpense}};
  std::vector<platform::forms::CheckBox*> boxes;
  for (const std::string& wanted : kv::Split(lists, ",")) {
    bool found = false;
    for (const auto& [name, box] : all) {
      if (wanted == "all" || wanted == name) {
        boxes.push_back(box);
        found = true;
      }
    }
    if (!found) throw std::runtime_error("unknown list \"" + wanted + "\"");
  }
  return boxes;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  in.seekg(0, std::ios::end);
  std::string text(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

}  // namespace

int SyncChild(const ChildArgs& args) {
  BenchPresenter presenter;
  platform::forms::PresenterScope presenter_scope(presenter);
  brintavel::BrintavelCtl ctl(brintavel::AllConverters());
  presenter.watched = &ctl.lblProcess;
  platform::activex::ControlHost host(ctl);
  platform::activex::PropertyBag page{{"KVSecureServerURL", Required(args, "url")},
                                      {"SiteCode", "BENCH"},
                                      {"SiteKey", "K-1"},
                                      {"KalvorUser", "bench"},
                                      {"QBFilePath", Required(args, "company")}};
  if (args.count("since")) {
    for (const char* list :
         {"CustomerLastSyncDate", "EmployeeLastSyncDate", "GLAccountsLastSyncDate", "TasksLastSyncDate",
          "ClassLastSyncDate", "VendorsLastSyncDate", "TimeLastSyncDate", "ExpenseLastSyncDate"}) {
      page.Add(list, args.at("since"));
    }
  }
  host.Site(page, 9600, 7200);
  for (platform::forms::CheckBox* box : ListBoxes(ctl, Optional(args, "lists", "all"))) {
    if (box->Value() != platform::forms::vbChecked) box->Click();
  }

  ProbeFactory probe(false);
  if (args.count("response")) probe.SaveResponsesTo(args.at("response"));
  platform::qb::ScopedClassFactory factory_scope(probe);
  const double cpu_before = ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  ctl.cmdNav[3].Click();
  const double total = Since(start);
  const double cpu = ProcessCpuSeconds() - cpu_before;

  Emit("total_seconds", total);
  // The processor time of what own time counts: receiving QuickBooks' answers runs in this process but is
  // QuickBooks' part.
  Emit("cpu_seconds", cpu - probe.qb_cpu_seconds - probe.excluded_cpu_seconds);
  Emit("process_cpu_seconds", cpu);
  Emit("qb_seconds", probe.qb_seconds);
  Emit("query_seconds", probe.request_seconds);
  Emit("own_seconds", total - probe.qb_seconds - probe.excluded_seconds);
  Emit("response_bytes", static_cast<double>(probe.response_bytes));
  Emit("peak_bytes", PeakResidentBytes());
  Emit("boxes", static_cast<double>(presenter.boxes.size()));
  for (size_t i = 0; i < presenter.boxes.size(); ++i) Emit("box." + std::to_string(i + 1), presenter.boxes[i]);
  // "Getting Classes from QB (12)": the number of records each list sent.
  for (const std::string& caption : presenter.watched_captions) {
    const size_t open = caption.rfind(" (");
    if (open == std::string::npos || caption.back() != ')') continue;
    Emit("sent." + caption.substr(0, open), caption.substr(open + 2, caption.size() - open - 3));
  }
  host.Teardown();
  // The module keeps the last processor, which must not outlive the probe that made it.
  brintavel::ResetModule();
  return 0;
}

int SyncReferenceChild(const ChildArgs& args) {
  const std::string response = ReadWhole(Required(args, "response"));
  const int passes = std::stoi(Optional(args, "passes", "0"));

  // The one-parse reference first, so that the tree parses' gigabytes come and go after it.
  const Clock::time_point stream_start = Clock::now();
  if (!platform::xml::ParseStreamOnce(response)) throw std::runtime_error("the QuickBooks response does not parse");
  const double stream_seconds = Since(stream_start);

  HttpReplayer replayer(Required(args, "url"));
  double post_seconds = 0;
  size_t requests = 0, failed = 0, body_bytes = 0;
  for (const auto& file : RecordedFiles(Required(args, "data"))) {
    const RecordedRequest request = ReadRecorded(file);
    const Clock::time_point start = Clock::now();
    if (!replayer.Send(request)) ++failed;
    post_seconds += Since(start);
    ++requests;
    body_bytes += request.body.size();
  }

  const Clock::time_point parse_start = Clock::now();
  for (int i = 0; i < passes; ++i) {
    if (!platform::xml::ParseTreeOnce(response)) throw std::runtime_error("the QuickBooks response does not parse");
  }
  const double parse_seconds = Since(parse_start);

  Emit("parse_seconds", parse_seconds);
  Emit("stream_seconds", stream_seconds);
  Emit("post_seconds", post_seconds);
  Emit("reference_seconds", parse_seconds + post_seconds);
  Emit("one_parse_reference_seconds", stream_seconds + post_seconds);
  Emit("requests", static_cast<double>(requests));
  Emit("failed_requests", static_cast<double>(failed));
  Emit("body_bytes", static_cast<double>(body_bytes));
  Emit("peak_bytes", PeakResidentBytes());
  return failed == 0 ? 0 : 1;
}

int RunChildCommand(int argc, char** argv) {
  if (argc < 1) {
    std::cerr << "kv-bench child: which measurement?\n";
    return 2;
  }
  const std::string kind = argv[0];
  ChildArgs args;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i];
    if (key.rfind("--", 0) == 0) key.erase(0, 2);
    args[key] = argv[i + 1];
  }
  try {
    if (kind == "sync") return SyncChild(args);
    if (kind == "sync-reference") return SyncReferenceChild(args);
    if (kind == "download") return DownloadChild(args);
    if (kind == "download-reference") return DownloadReferenceChild(args);
    std::cerr << "kv-bench child: no measurement \"" << kind << "\"\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "kv-bench child " << kind << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace kvbench
