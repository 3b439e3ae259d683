#pragma once

// Hosts KVRDowloadctl as a page does, against a running service stand-in, with a scripted user interface.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/posting_journal.h"
#include "download_control/results_form.h"
#include "download_control/run_lock.h"
#include "platform/activex/property_bag.h"
#include "platform/activex/user_control.h"
#include "platform/forms/form.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace tessarine::test {

// The control's captions and messages written out as the service's users read them, not taken from the control's
// own constants, so that a change to one of those fails here.
inline constexpr char kCollectingText[] = "Collecting information";
inline constexpr char kMissingConnectionText[] =
    "Please contact your system administrator/Support at Merrowgate Software as information regarding your "
    "connection to KV is missing..";
inline constexpr char kCouldNotContactText[] =
    "Could not contact the Kalvor site due to internet problems for collecting time/leave data.\r\n"
    "Please close this window and try later.";
inline constexpr char kClosingText[] = "You can close this window to return to KV Dashboard now..";

class ControlTest : public ::testing::Test {
 protected:
  ControlTest() {
    ResetModule();
    platform::forms::ResetDefaultInstances();
    // Nothing of a test goes into the user's own state folder.
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-state-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) state_home = pattern;
    state_env_.emplace("XDG_STATE_HOME", state_home.string());
  }
  ~ControlTest() override {
    host.reset();
    control.reset();
    platform::forms::ResetDefaultInstances();
    ResetModule();
    state_env_.reset();
    std::error_code ec;
    std::filesystem::remove_all(state_home, ec);
  }

  // The parameters a service page gives, for time and leave (true) or expenses (false).
  platform::activex::PropertyBag Params(bool time_mode) const {
    return platform::activex::PropertyBag{{"KVSecureServerURL", service.BaseUrl()},
                                          {"SiteCode", "ACME"},
                                          {"SiteKey", "K&Y 1"},
                                          {"KalvorUser", "ann"},
                                          {"QBFilePath", company_file},
                                          {"TsOrExpense", time_mode ? "True" : "False"},
                                          {"FullOrPartial", "False"}};
  }

  // Creates the control and raises its life cycle up to the first Resize (the start-up and its download).
  KVRDowloadctl& Site(platform::activex::PropertyBag bag) {
    // A page sited before goes first: its host still refers to its control.
    host.reset();
    control = std::make_unique<KVRDowloadctl>();
    host = std::make_unique<platform::activex::ControlHost>(*control);
    host->Site(std::move(bag), 7200, 3600);
    return *control;
  }

  kvtest::ScriptedUi ui;
  kv::test::ServiceStandinProcess service;
  std::string company_file = "/nonexistent/Sample Company.QBW";
  std::unique_ptr<KVRDowloadctl> control;
  std::unique_ptr<platform::activex::ControlHost> host;
  std::filesystem::path state_home;

 private:
  std::optional<kv::test::ScopedEnv> state_env_;
};

inline constexpr char kTimeLines[] =
    "TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Hourly|Fixed the roof|True\r\nx\r\n"
    "ta102\r\n4/4/2006|Ann Lee|Acme:Roof|Consulting|8|||Inspection|False\r\nx\r\n"
    "TA103\r\n4/5/2006|Bo Chan||Consulting|2.25|||Internal|True\r\nx\r\n"
    "LA201\r\n4/6/2006|Bo Chan|||8||Vacation||False\r\nx\r\n";

inline constexpr char kExpenseLines[] =
    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n"
    "10|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n"
    "11|5/1/2006|Tip||5.50||Travel|Expense|False|False||\r\n"
    "EXP2|Vendor B|5/3/2006|Lunch|False|Checking\r\n"
    "12|5/3/2006|Lunch||12||Meals|Expense|False|False||\r\n";

// What the results form shows at the end of a run.
struct ResultsSeen {
  std::string total, success, failure;
  std::vector<std::vector<std::string>> rows;

  // Each row's reason of failure, the grid's last column.
  std::vector<std::string> Reasons() const {
    std::vector<std::string> reasons;
    for (const auto& row : rows) reasons.push_back(row.back());
    return reasons;
  }
};

// Queues the results form: records what it shows, then presses OK.
inline void ExpectResults(kvtest::ScriptedUi& ui, ResultsSeen& seen) {
  ui.QueueModal([&seen](platform::forms::Form& form) {
    auto& results = dynamic_cast<frmResults&>(form);
    seen.total = results.lblTotal.Caption();
    seen.success = results.lblSuccess.Caption();
    seen.failure = results.lblFailure.Caption();
    for (int r = 1; r <= results.ListView1.ItemCount(); ++r) {
      const auto& item = results.ListView1.Item(r);
      std::vector<std::string> row = {item.Text()};
      for (int c = 1; c <= 6; ++c) row.push_back(item.SubItem(c));
      seen.rows.push_back(row);
    }
    results.OKButton.Click();
  });
}

}  // namespace tessarine::test

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/qb/fake_quickbooks.h"

namespace tessarine::test {

// A response of QuickBooks to one add request.
inline std::string AddResponse(const std::string& kind, int status = 0, const std::string& message = "Status OK") {
  return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n<" + kind + "AddRs requestID=\"1\" statusCode=\"" +
         std::to_string(status) + "\" statusSeverity=\"" + (status == 0 ? "Info" : "Error") + "\" statusMessage=\"" +
         message + "\" />\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
}

// The control with a scripted QuickBooks and a company file that exists on disk.
class PostingTest : public ControlTest {
 protected:
  PostingTest() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kv-company-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    created_file_ = pattern;
    company_file = pattern;
    qb.companyFile = company_file;
    qb.responder = [](const std::string& request) {
      // A status check finds nothing kept, a query no transaction: QuickBooks holds nothing of a lost add.
      if (request.find("oldMessageSetID") != std::string::npos) {
        return std::string(
            "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs messageSetStatusCode=\"600\" />\r\n"
            "</QBXML>\r\n");
      }
      for (const char* kind : {"TimeTracking", "Bill", "Check"}) {
        if (request.find(std::string("<") + kind + "QueryRq") != std::string::npos) {
          return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n<" + std::string(kind) +
                 "QueryRs requestID=\"1\" statusCode=\"1\" statusSeverity=\"Info\" statusMessage=\"No match\" />\r\n"
                 "</QBXMLMsgsRs>\r\n</QBXML>\r\n";
        }
      }
      const bool bill = request.find("<BillAddRq") != std::string::npos;
      const bool check = request.find("<CheckAddRq") != std::string::npos;
      return AddResponse(bill ? "Bill" : check ? "Check" : "TimeTracking");
    };
  }
  ~PostingTest() override {
    // Whatever the control still holds of QuickBooks goes before the fake QuickBooks does.
    host.reset();
    control.reset();
    ResetModule();
    std::error_code ec;
    std::filesystem::remove(created_file_, ec);
    // The guard files the runs left beside it: the lock, the journal and any damaged journal kept aside.
    const std::filesystem::path company(created_file_);
    const std::string guard_prefix = "." + company.filename().string() + ".tessarine";
    for (const auto& entry : std::filesystem::directory_iterator(company.parent_path(), ec)) {
      if (entry.path().filename().string().rfind(guard_prefix, 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
  }

  // The status reports the service received, in order.
  std::vector<kv::test::ReceivedRequest> Reports() const {
    std::vector<kv::test::ReceivedRequest> reports;
    for (auto& r : service.Received()) {
      if (r.Page() == "kalvorupdatestatus.asp") reports.push_back(r);
    }
    return reports;
  }

  platform::qb::fake::FakeQuickBooks qb;

 private:
  // A test may point company_file elsewhere; the file made here still goes.
  std::string created_file_;
};

}  // namespace tessarine::test
