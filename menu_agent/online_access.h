#pragma once

// The sign-in dialog frmOnlineAccess, its site request to the service, and the page table by which the
// agent's web-request form judges the service's answers.

#include <string>
#include <string_view>

#include "common/web_form/page_table.h"
#include "common/web_form/web_request_form.h"
#include "platform/forms/form.h"
#include "platform/forms/timer.h"

namespace corvalink {

inline constexpr char kSpecsPage[] = "kvrGetQBMenuSpecs.asp";
inline constexpr char kUpdateStatusPage[] = "kvrGetQBMenuupdatestatus.asp";
inline constexpr char kUpdQBPathPage[] = "kvrGetQBMenuUpdQBPath.asp";
inline constexpr char kSignup3Page[] = "KalvorSignup3.asp";

// The agent's page table: the four pages above.
const kv::PageTable& KVGetQBMenuPageTable();

// The agent's copy of the web-request form, with its own default instance.
class frmKVDownload final : public kv::WebRequestForm {
 public:
  frmKVDownload() : WebRequestForm("frmKVDownload", KVGetQBMenuPageTable()) {}
};

// Results of DownloadFromKV.
inline constexpr long kSignInOk = 0;
inline constexpr long kSignInRefused = 1;
inline constexpr long kSignInCancelled = 3;
inline constexpr long kSignInFailed = 4;

// Heights of the dialog in twips: idle, and with the progress strip in view during a request.
inline constexpr int kIdleHeight = 2985;
inline constexpr int kBusyHeight = 3195;
// Width of the progress strip; the bar starts again from 0 beyond it.
inline constexpr int kProgressWidth = 7860;

inline constexpr std::string_view kRefusalText = "Invalid username or password. Please try again.";
inline constexpr std::string_view kClientDatabaseText = "Failed to open the Client's database.";

class frmOnlineAccess : public platform::forms::Form {
 public:
  frmOnlineAccess();

  // Sends the credentials (blanks around them dropped) to the sign-in page and, when the service answers with
  // five lines, keeps the first three as SiteCode, SiteID and QBFilePath. With mTurnOffMessages the call shows
  // nothing and never closes the dialog, and asks the service to keep the user (storuser=1).
  // Returns kSignInOk, kSignInRefused, kSignInCancelled or kSignInFailed.
  long DownloadFromKV(const std::string& stUserId, const std::string& stPwd, bool mTurnOffMessages);

  // Whether a sign-in through the OK button succeeded since the dialog was loaded.
  bool SignedIn() const { return last_result_ == kSignInOk; }
  // Whether the user pressed Cancel.
  bool CancelPressed() const { return cancel_pressed_; }
  // The message text derived from the last answer.
  const std::string& MessageText() const { return message_text_; }

  platform::forms::Frame Frame1{this, "Frame1"};
  platform::forms::Label Label2{&Frame1, "Label2"};
  platform::forms::Label Username{&Frame1, "Username"};
  platform::forms::TextBox txtUserID{&Frame1, "txtUserID"};
  platform::forms::Label Label1{&Frame1, "Label1"};
  platform::forms::TextBox txtPassword{&Frame1, "txtPassword"};
  platform::forms::PictureBox Picture1{&Frame1, "Picture1"};
  platform::forms::CommandButton Okey{&Frame1, "Okey"};
  platform::forms::CommandButton cmdSignUp{&Frame1, "cmdSignUp"};
  platform::forms::CommandButton cancel{&Frame1, "cancel"};
  platform::forms::CommandButton Command1{&Frame1, "Command1"};
  platform::forms::Frame Frame2{this, "Frame2"};
  platform::forms::Shape Shape1{&Frame2, "Shape1"};
  platform::forms::Timer Timer1{this, "Timer1"};

 private:
  void OkeyClick();
  // The steps of DownloadFromKV after the service answered: the judged answer becomes the result, the site
  // values or the message shown.
  long JudgeSignInAnswer(const std::string& received, bool good, bool silent);
  long KeepSiteValues(const std::string& received, bool silent);
  void ReportRejectedAnswer();
  void StopProgress();
  void ShowAccountMessage();

  std::string message_text_;
  long last_result_ = kSignInRefused;
  bool cancel_pressed_ = false;
};

}  // namespace corvalink
