// The download answer into the download control: its start-up download and, on Continue, the posting walk that
// writes every record into QuickBooks and reports it. The first input byte picks time and leave (bit 0 clear)
// or expenses, whether QuickBooks refuses every add (bit 1), and whether the service answers every status report
// with its error text (bit 2) or an HTTP failure (bit 3); the rest is the answer of the download page.
//
// Whatever the answer: the downloaded lines are the answer's text split at CR LF, every request sent to
// QuickBooks is well-formed XML, every record the walk hands out is counted once in the results, none whose
// report the service refused counts as a success, and nothing of QuickBooks is left open.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <variant>

#include "download_control/kvr_download_ctl.h"
#include "download_control/line_walk.h"
#include "download_control/module_state.h"
#include "download_control/results_form.h"
#include "fuzz/fuzz_support.h"
#include "platform/activex/property_bag.h"
#include "platform/activex/user_control.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/form.h"
#include "platform/xml/dom.h"
#include "tests/support/qb/fake_quickbooks.h"

namespace {

using kvfuzz::Require;

std::string AddResponse(const std::string& request, bool refuse) {
  const std::string kind = request.find("<BillAddRq") != std::string::npos    ? "Bill"
                           : request.find("<CheckAddRq") != std::string::npos ? "Check"
                                                                              : "TimeTracking";
  return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n<" + kind + "AddRs requestID=\"1\" statusCode=\"" +
         (refuse ? "3100\" statusSeverity=\"Error\" statusMessage=\"The name is already in use"
                 : "0\" statusSeverity=\"Info\" statusMessage=\"Status OK") +
         "\" />\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
}

// The records a walk over the lines hands out before it ends or stops at a header it cannot read.
int64_t RecordsOfWalk(const std::vector<std::string>& lines, bool time_mode) {
  tessarine::PostingWalk walk(lines, time_mode);
  int64_t records = 0;
  try {
    for (size_t guard = 0;; ++guard) {
      Require(guard <= lines.size() + 1, "the walk ends within one step per line");
      if (std::holds_alternative<tessarine::WalkEnd>(walk.Next())) break;
      ++records;
    }
  } catch (const kv::Error&) {
  }
  return records;
}

// QuickBooks takes its requests with a public identifier and no system literal in the DOCTYPE, which XML itself
// does not allow; the rest of the request must be XML.
std::string WithoutDoctype(const std::string& request) {
  const size_t start = request.find("<!DOCTYPE");
  if (start == std::string::npos) return request;
  const size_t end = request.find('>', start);
  Require(end != std::string::npos, "the DOCTYPE of a request ends", request);
  return request.substr(0, start) + request.substr(end + 1);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i == 0 ? "" : "\r\n") + lines[i];
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool time_mode = (data[0] & 1) == 0;
  const bool refuse = (data[0] & 2) != 0;
  const bool reports_fail = (data[0] & 12) != 0;
  const platform::web::fake::WebAnswer report_answer =
      (data[0] & 8) != 0   ? platform::web::fake::WebAnswer{500, "text/plain", "SUCCESS"}
      : (data[0] & 4) != 0 ? platform::web::fake::WebAnswer{200, "text/plain", "ERROR|12|The record is locked"}
                           : platform::web::fake::WebAnswer{200, "text/plain", "SUCCESS"};
  const std::string answer(kvfuzz::AsText(data + 1, size - 1));

  static const kvfuzz::ScratchDir scratch;
  const std::string company_file = (scratch.Path() / "Sample Company.QBW").string();
  std::ofstream(company_file).put('\n');

  kvfuzz::AnsweringUser user;
  kvfuzz::InProcessService service([&](const platform::web::fake::WebRequest& request) {
    if (kvfuzz::PageOf(request.url) == "kalvordownload.asp")
      return platform::web::fake::WebAnswer{200, "text/plain", answer};
    return report_answer;
  });
  const kvfuzz::Reading reading =
      kvfuzz::ReadThroughBrowser(std::string(kvfuzz::InProcessService::kBaseUrl) + "kalvordownload.asp");
  service.requests.clear();

  platform::qb::fake::FakeQuickBooks qb;
  qb.companyFile = company_file;
  qb.responder = [refuse](const std::string& request) { return AddResponse(request, refuse); };
  std::string total = "none";
  std::string successes;
  user.on_modal = [&](platform::forms::Form& form) {
    if (auto* results = dynamic_cast<tessarine::frmResults*>(&form)) {
      total = results->lblTotal.Caption();
      successes = results->lblSuccess.Caption();
    }
  };

  tessarine::ResetModule();
  platform::forms::ResetDefaultInstances();
  int64_t records = 0;
  {
    auto control = std::make_unique<tessarine::KVRDowloadctl>();
    auto host = std::make_unique<platform::activex::ControlHost>(*control);
    host->Site(platform::activex::PropertyBag{{"KVSecureServerURL", std::string(kvfuzz::InProcessService::kBaseUrl)},
                                              {"SiteCode", "ACME"},
                                              {"SiteKey", "K1"},
                                              {"KalvorUser", "ann"},
                                              {"QBFilePath", company_file},
                                              {"TsOrExpense", time_mode ? "True" : "False"},
                                              {"FullOrPartial", "False"}},
               7200, 3600);
    const std::vector<std::string> lines = control->DownloadLines();
    if (!lines.empty()) {
      Require(Joined(lines) == kv::TrimBlanks(reading.text), "the downloaded lines are the answer split at CR LF",
              reading.text);
    }
    records = RecordsOfWalk(lines, time_mode);
    control->cmdStartDownload.Click();
    host.reset();
    control.reset();
  }
  platform::forms::ResetDefaultInstances();
  tessarine::ResetModule();

  for (const std::string& request : qb.requests) {
    platform::xml::Document document;
    if (!document.LoadXml(WithoutDoctype(request))) {
      const platform::xml::ParseError& error = document.parseError();
      kvfuzz::Fail("every request to QuickBooks is well-formed XML",
                   error.reason + " (line " + std::to_string(error.line) + ")\n" + request);
    }
  }
  Require(qb.OpenSessions() == 0 && qb.OpenConnections() == 0, "nothing of QuickBooks is left open");
  if (total != "none") {
    Require(total == std::to_string(records), "every record of the walk is counted once in the results",
            "total " + total + ", records " + std::to_string(records) + "\n" + answer);
    size_t reports = 0;
    for (const auto& request : service.requests) reports += request.page == "kalvorupdatestatus.asp" ? 1 : 0;
    // A record with no ids has nothing to report and counts as posted; one whose report the service refused
    // never does.
    const long long refused = reports_fail ? static_cast<long long>(reports) : 0;
    Require(std::stoll(successes) <= records - refused, "a record whose report the service refused is no success",
            successes + " successes of " + std::to_string(records) + " records, " + std::to_string(refused) +
                " reports refused\n" + answer);
  }
  return 0;
}
