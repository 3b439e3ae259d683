#pragma once

// KVRDowloadctl, the download control of Tessarine. A service page embeds it: at its first sizing it checks its
// parameters and downloads the site's pending time and leave, or expenses; Continue then writes each record
// into QuickBooks, reports QuickBooks' answer to the service and lists what was not posted.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/utility_result.h"
#include "download_control/expense_requests.h"
#include "download_control/line_walk.h"
#include "download_control/message_sets.h"
#include "download_control/posting_journal.h"
#include "download_control/run_lock.h"
#include "platform/activex/object_safety.h"
#include "platform/activex/user_control.h"
#include "platform/base/date_time.h"
#include "platform/forms/control.h"
#include "platform/forms/timer.h"

namespace tessarine {

class frmResults;

// Captions and messages the control shows.
inline constexpr char kCollectingInformation[] = "Collecting information";
inline constexpr char kMissingConnectionMessage[] =
    "Please contact your system administrator/Support at Merrowgate Software as information regarding your "
    "connection to KV is missing..";
inline constexpr char kCouldNotContactMessage[] =
    "Could not contact the Kalvor site due to internet problems for collecting time/leave data.\r\n"
    "Please close this window and try later.";
inline constexpr char kClosingMessage[] = "You can close this window to return to KV Dashboard now..";

class KVRDowloadctl : public platform::activex::UserControl, public platform::activex::IObjectSafety {
 public:
  KVRDowloadctl();
  ~KVRDowloadctl() override;

  // ------------------------------------------------------------ public interface
  bool bIsNavigationComplete = false;
  std::string sReceivedText;
  bool bIsDownloading = false;
  bool bIsInterrupted = false;
  bool bIsLoaded = false;
  std::string sASPName;
  kv::DateTime dtDownloadStartTime;  // start of the last download
  float t2 = 0;                      // seconds since midnight at the last status report
  PLKVUtilityResult kvUtilitySet = kvurSuccess;

  // Opens the QuickBooks check session and checks the company file: 1 when the session is open on the right
  // file and the version is known, else 0 with bQBError and sQBErrorText set.
  int32_t ContactQuickBooks();
  // Build the request of the current expense into sRequestXML; a failure sets bQBError and sQBErrorText.
  void CreateBillAddRq();
  void CreateCheckAddRq();
  // Switches to the closing view.
  void CloseWindow();

  // ------------------------------------------------------------ controls
  platform::forms::Frame Frame1;
  platform::forms::Label lblGather;
  platform::forms::Label lblTransfer1;
  platform::forms::Label lblTransfer2;
  platform::forms::ProgressBar ProgressBar1;
  platform::forms::CommandButton cmdStartDownload;
  platform::forms::CommandButton Command1;
  platform::forms::Timer Timer1;
  platform::forms::Frame framClose;
  platform::forms::Label lblMessage;

  // ------------------------------------------------------------ life cycle (raised by the host)
  void ReadProperties(platform::activex::PropertyBag& bag) override;
  // The first sizing runs the start-up and its download; later sizings change nothing, so lines that a run
  // walks are never replaced under it.
  void Resize() override;
  void Terminate() override;

  // IObjectSafety
  void GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported_options,
                                 uint32_t& enabled_options) override;
  void SetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t options_set_mask,
                                 uint32_t enabled_options) override;

  // ------------------------------------------------------------ run state, readable for hosts and tests
  const std::vector<std::string>& DownloadLines() const { return sDownloadLines; }
  int32_t SuccessCount() const { return lngSuccessCount; }
  int32_t FailureCount() const { return lngFailureCount; }
  PLKVUtilityResult LastResult() const { return lngLastResult; }
  bool StartupDone() const { return bStartupDone; }
  bool Closed() const { return framClose.Visible(); }
  // The failure flag and text of the last QuickBooks check or request step.
  bool QBError() const { return bQBError; }
  const std::string& QBErrorText() const { return sQBErrorText; }
  const std::string& RequestXML() const { return sRequestXML; }
  const std::string& ResponseXML() const { return sResponseXML; }
  // The results form while a run shows it (null otherwise).
  frmResults* Results() const { return objResults.get(); }

 private:
  // Start-up, download (download.cpp).
  void Startup();
  PLKVUtilityResult DownloadFromServer();
  // Takes the lock of the site and company file for this page, telling the user when another run holds it.
  // True when the page holds it.
  bool TakeRunLock();

  // The posting loop (posting_loop.cpp).
  void cmdStartDownload_Click();
  // The run's preconditions in their order, each failing one with its message; the record count when all hold.
  std::optional<int32_t> CheckPreconditions();
  // Labels, results form, QuickBooks session and the earlier run's records, before the first line; false (the
  // window kept, QuickBooks let go) when the run cannot begin.
  bool PrepareRun(int32_t record_count);
  void ShowPostingStarted(int32_t record_count);
  void Command1_Click() { bCancelPosting = true; }
  void Timer1_Timer();
  // False when Cancel stopped the run.
  bool WalkLines();
  void PostTimeRecord(const TimeStep& step);
  void PostExpenseStep(ExpenseStep& step);
  void CountResult(PLKVUtilityResult result);
  void ProgressStep();
  void ShowRemaining();
  void CancelRun();
  void FinishRun();
  void StopBlinking();
  void ClearRecordCounts();

  // Recovery of what an earlier run left in QuickBooks (recovery.cpp).
  // Opens the journal for this page's site and company file, telling the user why when it cannot. True when open.
  bool OpenJournal();
  // The journal's entries of the records this download lists again, each settled with QuickBooks where it can
  // be: a record QuickBooks has keeps its answer, one it never processed is forgotten. Throws kv::Error.
  void RecoverEarlierRun();
  // A record an earlier run left in the journal: reported with QuickBooks' kept answer, or, when nobody can tell
  // whether QuickBooks has it, posted again only when the user says so. True when the record is dealt with and
  // must not be added; prepare_row fills the grid's row values of a time or leave record.
  bool HandleEarlierRecord(const std::string& type, const std::string& ids, bool bill_or_check,
                           const std::function<void()>& prepare_row);
  // Sends the built add with its journal entry noted first and QuickBooks' answer noted after; an add that ends
  // without an answer is settled by a status check where QuickBooks has error recovery.
  void SendJournaledRequest();
  // The status report is done: an entry whose record the service accepted goes.
  void SettleEntry(PLKVUtilityResult result);
  // Asks QuickBooks about an earlier message set; kept receives the answer it kept.
  MessageSetOutcome AskMessageSetStatus(const std::string& message_set_id, std::string& kept);

  // Add requests (add_requests.cpp).
  bool PostTimeActivity(const std::string& type, int32_t id, const std::string& data);
  void BuildQBXMLRequest(const std::string& type, int32_t id, const std::string& data);
  bool PostExpense();
  // After a request was built: shows a build error, else sends it and shows a send error. True when sent.
  bool SendBuiltRequest();

  // QuickBooks session (qb_session.cpp).
  void CheckQuickBooks();
  void CheckQBFileExists();
  void SendQBRequest();

  // Status report (status_report.cpp).
  PLKVUtilityResult UpdateServerStatus(const std::string& ids, const std::string& type, bool bill_or_check);
  void AddFailedExpenseRow(const std::string& reason);

  // The current expense of the walk.
  CurrentExpense currentExpense;
  // The QuickBooks exchange of the current record.
  std::string sRequestXML;
  std::string sResponseXML;
  std::string sRequestBody;
  int32_t lngRequestID = 0;
  bool bQBError = false;
  std::string sQBErrorText;

  std::unique_ptr<frmResults> objResults;
  PLKVUtilityResult lngLastResult = kvurSuccess;
  bool bCancelPosting = false;
  int32_t lngFailureCount = 0;
  int32_t lngSuccessCount = 0;
  int32_t lngPostedCount = 0;  // records of this run the service accepted; drives the remaining counts
  std::vector<std::string> sDownloadLines;
  int32_t iLastLineIndex = -1;
  bool bStartupDone = false;
  bool bDownloaded = false;  // the start-up download was judged good
  // Held from the download of the pending records until they are posted or the page lets them go.
  std::optional<RunLock> runLock_;
  // The journal of the records this page adds; the entries earlier runs left for the records listed again;
  // the record being posted, its entry, and the id its add's message set carries.
  std::optional<PostingJournal> journal_;
  std::vector<JournalEntry> earlierEntries_;
  std::string sJournalType;
  std::string sJournalIds;
  std::optional<JournalEntry> currentEntry_;
  std::string sMessageSetID;
  // QuickBooks took the record being posted and its answer is in sResponseXML, not yet in the journal.
  bool bAnswerToNote = false;
  // The record being reported was added by an earlier run; its grid row says so.
  bool bFromEarlierRun = false;
};

}  // namespace tessarine
