// Sending statements and status reports through the upload form and waiting on the answer.

#include "platform/base/error.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"
#include "platform/forms/presenter.h"
#include "platform/web/query_builder.h"
#include "platform/web/web_browser.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/upload_form.h"
#include "sync_control/upload_rules.h"

namespace brintavel {
namespace {

// The service reads the request body as plain text; it has always been sent with this exact header text.
constexpr const char* kTextPlainHeader = "Content-Type:text/plain\n\r";
constexpr int kNavFlags = platform::web::kNavNoHistory | platform::web::kNavNoReadFromCache;
// What the service receives as the client version unless the page's own is asked for.
constexpr const char* kFixedClientVersion = "4.06";

std::shared_ptr<FrmKVUpload> LoadedUploadForm() {
  UploadForm();
  std::shared_ptr<FrmKVUpload> form = Module().frmKVUpload;
  if (!form->Loaded()) form->Load();
  return form;
}

// Waits, handling user input, until the page judge or a cancel ends the request.
PLKVUtilityResult AwaitAnswer(FrmKVUpload& form) {
  platform::forms::EventLoop::Current().WaitWhile([&form] { return form.bIsUploading; });
  const UploadDecision decision = DecideUploadResult({form.bUploadStatus, form.bIsInterrupted, form.sUploadStatus});
  if (decision.showCouldNotSync) platform::forms::MsgBox(kCouldNotSyncMessage, platform::forms::vbInformation);
  if (decision.serverMessage) Module().sServerMessage = *decision.serverMessage;
  if (decision.clearUploadStatus) form.bUploadStatus = false;
  return decision.result;
}

// An upload that could not go out or be waited on ends as a system error; the server message says why.
void KeepUploadFailure(const std::exception& e) {
  const auto* error = dynamic_cast<const kv::Error*>(&e);
  Module().sServerMessage = "Number : " + std::to_string(error ? error->number() : 51) +
                            "\r\nDescription : " + (error ? error->description() : std::string(e.what())) +
                            "\r\nASP Source : Brintavel";
}

}  // namespace

void ResetMousePointer() {
  platform::forms::Screen().MousePointer = platform::forms::vbDefault;
}

PLKVUtilityResult BrintavelCtl::UploadNow(StatementStream& myStream) {
  return BeginUpload(myStream) ? AwaitUpload() : kvurSystemError;
}

bool BrintavelCtl::BeginUpload(StatementStream& myStream) {
  try {
    platform::web::QueryBuilder query("brintavel.asp");
    query.Add("sitecode", SiteCode)
        .Add("sitekey", SiteKey)
        .Add("reset", ResetKalvor ? "1" : "0")
        .Add("plclntver", bSendClientVersion ? PLClientVersion : kFixedClientVersion)
        .Add("options", nOptions)
        .Add("upstarttime", kv::GeneralDateText(kv::DateTime::Now()))
        .Add("usrnm", KalvorUser)
        .AddFlag("debugmode", DebugMode);
    const std::string url = query.Url(KVSecureServerURL);
    bSendClientVersion = false;

    std::string body = TakeAllBytes(myStream);

    Timer1.SetInterval(500);
    Timer1.SetEnabled(true);
    lblTransfer2.SetVisible(true);

    std::shared_ptr<FrmKVUpload> form = LoadedUploadForm();
    form->bIsUploading = true;
    // A whole list's statements in one body: moved on, so the transfer holds the only copy.
    form->WebBrowser1.Navigate(url, kNavFlags, "", std::move(body), kTextPlainHeader);
    return true;
  } catch (const std::exception& e) {
    KeepUploadFailure(e);
  }
  return false;
}

bool BrintavelCtl::UploadAnswered() const {
  return !UploadForm().bIsUploading;
}

PLKVUtilityResult BrintavelCtl::AwaitUpload() {
  try {
    return AwaitAnswer(UploadForm());
  } catch (const std::exception& e) {
    KeepUploadFailure(e);
  }
  return kvurSystemError;
}

PLKVUtilityResult BrintavelCtl::SendSyncStatus(const std::string& options) {
  const kv::DateTime now = kv::DateTime::Now();
  platform::web::QueryBuilder query("brintavelupdatestatus.asp");
  query.Add("sitecode", SiteCode)
      .Add("sitekey", SiteKey)
      .Add("plclntver", bSendClientVersion ? PLClientVersion : kFixedClientVersion)
      .Add("options", options)
      .Add("upstarttime", kv::FixedDateTimeText(now))
      .Add("usrnm", KalvorUser);
  const std::string url = query.Url(KVSecureServerURL);

  Timer1.SetInterval(500);
  Timer1.SetEnabled(true);
  lblTransfer2.SetVisible(true);

  std::shared_ptr<FrmKVUpload> form = LoadedUploadForm();
  form->bIsUploading = true;
  form->WebBrowser1.Navigate(url, kNavFlags, "", std::nullopt, kTextPlainHeader);
  const PLKVUtilityResult result = AwaitAnswer(*form);
  // Cancel in this wait ends the run as it does in an upload's: the callers of a status report go on whatever
  // it answered, so they would send the next list.
  if (result == kvurProcessInterrupted) bAbortSync = true;
  return result;
}

}  // namespace brintavel
