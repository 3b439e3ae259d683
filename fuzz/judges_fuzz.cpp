// A page answer into every judge of a service answer: the sync control's upload and status requests, the
// download control's two pages, the menu agent's four pages and its sign-in. The first input byte picks the
// HTTP status (or a transport failure), the second the content type, the rest is the body.
//
// Whatever the answer, the browser's error page is never judged a success, a page is judged good only when its
// text says so by that page's rule, and the sign-in keeps site values only from an answer of five lines.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "download_control/download_form.h"
#include "fuzz/fuzz_support.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/online_access.h"
#include "platform/base/text.h"
#include "platform/forms/form.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/module_state.h"
#include "sync_control/statement_stream.h"
#include "sync_control/upload_rules.h"

namespace {

using kvfuzz::Require;

constexpr std::array<int, 8> kStatuses = {200, 200, 200, 0, 404, 500, 204, 302};
constexpr std::array<const char*, 5> kContentTypes = {"text/plain", "text/html", "text/html; charset=utf-8",
                                                      "application/octet-stream", ""};

using kvfuzz::Reading;

std::string Upper(std::string_view text) {
  return kv::ToUpperAscii(text);
}

bool BeginsWithSuccess(std::string_view text) {
  const std::string_view trimmed = kv::TrimBlanks(text);
  return trimmed.size() >= 7 && Upper(trimmed.substr(0, 7)) == "SUCCESS";
}

void JudgeUploadAnswers(const Reading& reading) {
  using namespace brintavel;
  ResetModule();
  auto ctl = std::make_unique<BrintavelCtl>();
  ctl->KVSecureServerURL = std::string(kvfuzz::InProcessService::kBaseUrl);
  ctl->SiteCode = "S1";
  ctl->nOptions = "C";
  auto stream = NewStatementStream();
  stream->WriteText("UPDATE ClassInfo SET [Status]=0 WHERE [QBListId] = 'A'\r\n");
  const std::array<PLKVUtilityResult, 2> results = {ctl->UploadNow(*stream), ctl->SendSyncStatus("C")};
  const bool success = !reading.error_page && BeginsWithSuccess(reading.text);
  for (const PLKVUtilityResult result : results) {
    Require((result == kvurSuccess) == success, "an upload succeeds exactly on an answer that begins with SUCCESS",
            reading.text);
    if (result == kvurNoDataToUpload) {
      Require(!reading.error_page && reading.text == kNoDataToUpload, "only the service says it found no data",
              reading.text);
    }
  }
  const ModWizard& m = Module();
  if (m.varTasksAdded || m.varProjectsAdded) {
    Require(success, "only a success says that tasks or projects were added", reading.text);
  }
  ResetModule();
}

// The rule of each page, as the service's answers are documented.
bool GoodByRule(std::string_view page, std::string_view trimmed) {
  // A server's closing line break never changes the verdict of a rule that reads the whole answer.
  trimmed = kv::TrimTrailingLineBreaks(trimmed);
  const std::string upper = Upper(trimmed);
  const bool error = upper.starts_with("ERROR");
  if (page == "kalvordownload.asp") {
    const std::string two = upper.substr(0, 2);
    return !error && (two.empty() || two == "EX" || two == "LA" || two == "TA");
  }
  if (page == "kalvorupdatestatus.asp" || page == corvalink::kUpdateStatusPage) return upper == "SUCCESS";
  const bool error_heading = upper.starts_with("THE PAGE CANNOT BE DISPLAYED");
  if (page == corvalink::kSpecsPage) return !error_heading;
  if (page == corvalink::kUpdQBPathPage) return trimmed == "Success";
  if (page == corvalink::kSignup3Page) {
    return !error_heading && trimmed.find("CONGRATULATIONS") != std::string_view::npos;
  }
  return false;
}

template <class WebForm>
void JudgeTablePages(const Reading& reading, std::initializer_list<std::string_view> pages) {
  auto form = std::make_unique<WebForm>();
  for (const std::string_view page : pages) {
    const bool good = form->Request(page, std::string(kvfuzz::InProcessService::kBaseUrl) + std::string(page));
    const std::string detail = std::string(page) + ": " + reading.text;
    Require(form->sReceivedText == kv::TrimBlanks(reading.text), "the form keeps the trimmed body text", detail);
    if (reading.error_page) {
      Require(!good, "the browser's error page is never judged good", detail);
    } else {
      Require(good == GoodByRule(page, form->sReceivedText), "a page is judged by its own rule", detail);
    }
  }
  form->Unload();
}

void JudgeSignIn(const Reading& reading) {
  corvalink::ResetMainMod();
  corvalink::MainMod().ServerURL = std::string(kvfuzz::InProcessService::kBaseUrl);
  auto dialog = std::make_unique<corvalink::frmOnlineAccess>();
  const long result = dialog->DownloadFromKV(" ann ", "p&w=d", true);
  Require(result == corvalink::kSignInOk || result == corvalink::kSignInRefused || result == corvalink::kSignInFailed,
          "a silent sign-in ends signed in, refused or failed");
  if (result == corvalink::kSignInOk) {
    Require(!reading.error_page, "the browser's error page never signs in", reading.text);
    const std::vector<std::string> lines = kvfuzz::SplitAll(kv::TrimBlanks(reading.text), "\r\n");
    Require(lines.size() == 5, "a sign-in takes an answer of five lines", reading.text);
    const corvalink::MainModState& state = corvalink::MainMod();
    Require(state.SiteCode == lines[0] && state.SiteID == lines[1] && state.QBFilePath == lines[2],
            "the site values are the answer's first three lines", reading.text);
  }
  dialog.reset();
  platform::forms::ResetDefaultInstances();
  corvalink::ResetMainMod();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  platform::web::fake::WebAnswer answer;
  answer.status = kStatuses[data[0] % kStatuses.size()];
  answer.content_type = kContentTypes[data[1] % kContentTypes.size()];
  answer.body = std::string(kvfuzz::AsText(data + 2, size - 2));

  kvfuzz::AnsweringUser user;
  kvfuzz::InProcessService service([&answer](const platform::web::fake::WebRequest&) { return answer; });
  const Reading reading = kvfuzz::ReadThroughBrowser(std::string(kvfuzz::InProcessService::kBaseUrl) + "reference.asp");
  JudgeUploadAnswers(reading);
  JudgeTablePages<tessarine::frmKVDownload>(reading, {"kalvordownload.asp", "kalvorupdatestatus.asp"});
  JudgeTablePages<corvalink::frmKVDownload>(reading, {corvalink::kSpecsPage, corvalink::kUpdateStatusPage,
                                                      corvalink::kUpdQBPathPage, corvalink::kSignup3Page});
  JudgeSignIn(reading);
  platform::forms::ResetDefaultInstances();
  return 0;
}
