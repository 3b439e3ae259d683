// The agent's requests to the service: sign-in, the company file's registration and the site refresh.

#include "menu_agent/online_access.h"

#include <exception>

#include "menu_agent/main_mod.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/presenter.h"
#include "platform/web/open_browser.h"
#include "platform/web/query_builder.h"

namespace corvalink {
namespace {

using platform::forms::vbInformation;

// Forms and controls that are not loaded or were never created need no cleaning up.
void UnloadWebFormIfLoaded() {
  if (!platform::forms::HasDefaultInstance<frmKVDownload>()) return;
  frmKVDownload& form = platform::forms::DefaultInstance<frmKVDownload>();
  if (form.bIsLoaded) form.Unload();
}

// The form of a previous request may still be loaded; whatever it was doing is stopped first.
frmKVDownload& LoadedWebForm() {
  frmKVDownload& web = platform::forms::DefaultInstance<frmKVDownload>();
  web.Load();
  web.WebBrowser1.Stop();
  web.bIsNavigationComplete = false;
  web.bIsInterrupted = false;
  return web;
}

// The service expects a GET with user and pwd; the values are percent-encoded so that any character of a
// password arrives as typed and none can add a key.
std::string SpecsUrl(const std::string& user, const std::string& password, bool silent) {
  return platform::web::QueryBuilder(kSpecsPage)
      .Add("user", kv::TrimBlanks(user))
      .Add("pwd", kv::TrimBlanks(password))
      .Add("storuser", silent ? "1" : "0")
      .Url(MainMod().ServerURL);
}

// A browser that cannot be started must not end the sign-in: the user is told and the dialog stays.
void OpenPage(const std::string& url) {
  try {
    platform::web::OpenBrowser(url);
  } catch (const kv::Error& e) {
    AgentMsgBox(e.description());
  }
}

}  // namespace

const kv::PageTable& KVGetQBMenuPageTable() {
  using kv::PageVerdict;
  static const kv::PageTable table = {
      {kSpecsPage,
       [](std::string_view answer) {
         // Only the browser's own error page is known to be no answer of the service.
         return kv::UpperPrefix(answer, 28) != "THE PAGE CANNOT BE DISPLAYED" ? PageVerdict::kGood : PageVerdict::kKeep;
       }},
      {kUpdateStatusPage,
       [](std::string_view answer) {
         if (kv::BeginsWithError(answer)) return PageVerdict::kBad;
         return kv::ToUpperAscii(kv::TrimTrailingLineBreaks(answer)) == "SUCCESS" ? PageVerdict::kGood
                                                                                  : PageVerdict::kKeep;
       }},
      {kUpdQBPathPage,
       [](std::string_view answer) {
         return kv::TrimTrailingLineBreaks(answer) == "Success" ? PageVerdict::kGood : PageVerdict::kKeep;
       }},
      {kSignup3Page,
       [](std::string_view answer) {
         // The browser's error page carries the body of a failed answer after its heading; a word in that body
         // is no sign-up.
         const bool error_page = kv::UpperPrefix(answer, 28) == "THE PAGE CANNOT BE DISPLAYED";
         return !error_page && answer.find("CONGRATULATIONS") != std::string_view::npos ? PageVerdict::kGood
                                                                                        : PageVerdict::kKeep;
       }},
  };
  return table;
}

frmOnlineAccess::frmOnlineAccess() : Form("frmOnlineAccess") {
  SetCaption("Kalvor User Verification");
  SetHeight(kIdleHeight);
  SetWidth(8070);
  Frame1.Move(60, 0, 7860, 2535);
  Label2.SetCaption(
      "If you have an existing Kalvor account, enter your user name and password below and hit 'Ok'. If you do "
      "not have an account, click on Signup to signup for a 2 weeks free trail account. Press 'Cancel' to exit "
      "setup..");
  Label2.Move(1200, 180, 6500, 800);
  Username.SetCaption("User name");
  Username.Move(1200, 1080, 1200, 255);
  txtUserID.Move(2520, 1040, 3000, 315);
  Label1.SetCaption("Password");
  Label1.Move(1200, 1500, 1200, 255);
  txtPassword.Move(2520, 1460, 3000, 315);
  txtPassword.SetPasswordChar("*");
  Picture1.Move(120, 240, 960, 960);
  Picture1.SetPicture("kalvor-signin.gif");
  Okey.SetCaption("&OK");
  Okey.SetDefault(true);
  Okey.Move(1200, 2000, 1215, 375);
  cmdSignUp.SetCaption("&Signup");
  cmdSignUp.Move(2580, 2000, 1215, 375);
  cancel.SetCaption("&Cancel");
  cancel.SetCancel(true);
  cancel.Move(3960, 2000, 1215, 375);
  Command1.SetCaption("Help");
  Command1.Move(5340, 2000, 1215, 375);
  Frame2.Move(60, 2600, kProgressWidth, 240);
  Shape1.Move(0, 0, 0, 240);

  OnLoad = [] { MainMod().ServerURL = CurrentConfiguration().serverUrl; };
  Okey.OnClick = [this] { OkeyClick(); };
  // Ends the setup: the setup run sees the dialog closed without a sign-in.
  cancel.OnClick = [this] {
    cancel_pressed_ = true;
    Unload();
  };
  cmdSignUp.OnClick = [] { OpenPage(MainMod().ServerURL + "KalvorSignup1.asp?qbmenu=1"); };
  Command1.OnClick = [] { OpenPage(MainMod().ServerURL + "help/QBmenu.html"); };
  Timer1.OnTimer = [this] {
    if (Shape1.Width() > kProgressWidth) {
      Shape1.SetWidth(0);
    } else {
      Shape1.SetWidth(Shape1.Width() + 10);
    }
  };
}

void frmOnlineAccess::StopProgress() {
  Timer1.SetEnabled(false);
  SetHeight(kIdleHeight);
  Shape1.SetWidth(0);
}

void frmOnlineAccess::ShowAccountMessage() {
  const Configuration config = CurrentConfiguration();
  AgentMsgBox(
      "Your account has not been confirmed. To confirm your account, check your email inbox, you should have "
      "received a confirmation email. The email was sent to the email account you entered during signup process. "
      "If you have not received this email, please contact " +
      config.supportEmail + " or call " + config.supportPhone + ".");
}

long frmOnlineAccess::DownloadFromKV(const std::string& stUserId, const std::string& stPwd, bool mTurnOffMessages) {
  const bool silent = mTurnOffMessages;
  try {
    platform::forms::Screen().MousePointer = platform::forms::vbHourglass;
    message_text_.clear();
    frmKVDownload& web = LoadedWebForm();
    const bool good = web.Request(kSpecsPage, SpecsUrl(stUserId, stPwd, silent));
    platform::forms::Screen().MousePointer = platform::forms::vbArrow;
    const long result = web.bIsInterrupted ? kSignInCancelled : JudgeSignInAnswer(web.sReceivedText, good, silent);
    UnloadWebFormIfLoaded();
    return result;
  } catch (const std::exception&) {
    Timer1.SetEnabled(false);
    platform::forms::Screen().MousePointer = platform::forms::vbArrow;
    try {
      UnloadWebFormIfLoaded();
    } catch (const std::exception&) {
    }
    return kSignInFailed;
  }
}

long frmOnlineAccess::JudgeSignInAnswer(const std::string& received, bool good, bool silent) {
  message_text_ = kv::BeginsWithError(received) ? received.substr(std::min<size_t>(6, received.size())) : received;
  if (!good) {
    if (!silent) ReportRejectedAnswer();
    return kSignInRefused;
  }
  if (!silent && kv::TrimTrailingLineBreaks(message_text_).ends_with(kRefusalText)) {
    StopProgress();
    AgentMsgBox(message_text_);
    return kSignInRefused;
  }
  return KeepSiteValues(received, silent);
}

long frmOnlineAccess::KeepSiteValues(const std::string& received, bool silent) {
  const std::vector<std::string> lines = kv::Split(received, kv::kCrLf);
  if (lines.size() != 5) {
    if (!silent) {
      AgentMsgBox(
          "Could not retrieve any information from Kalvor for the credentials provided..\r\nPlease try "
          "again or contact System Administrator of Kalvor");
    }
    return kSignInRefused;
  }
  MainModState& state = MainMod();
  state.SiteCode = lines[0];
  state.SiteID = lines[1];
  state.QBFilePath = lines[2];
  if (!silent) Unload();
  return kSignInOk;
}

void frmOnlineAccess::ReportRejectedAnswer() {
  // An account that exists but was never confirmed gets the confirmation advice instead of the server's words.
  if (kv::TrimTrailingLineBreaks(message_text_).ends_with(kClientDatabaseText)) {
    ShowAccountMessage();
    return;
  }
  StopProgress();
  AgentMsgBox(message_text_);
}

void frmOnlineAccess::OkeyClick() {
  if (kv::TrimBlanks(txtUserID.Text()).empty() || kv::TrimBlanks(txtPassword.Text()).empty()) {
    AgentMsgBox("This information is required to proceed with this setup..\r\nPlease press cancel to exit the setup..");
    return;
  }
  SetHeight(kBusyHeight);
  Timer1.SetInterval(100);
  Timer1.SetEnabled(true);
  last_result_ = DownloadFromKV(txtUserID.Text(), txtPassword.Text(), false);
  StopProgress();
  // The password is not kept on screen past its one use.
  txtPassword.SetText("");
  if (last_result_ == kSignInOk) Unload();
}

}  // namespace corvalink
