#pragma once

// KVRDowloadctl, the download control of Tessarine. A service page embeds it: at its first sizing it checks its
// parameters and downloads the site's pending time and leave, or expenses; Continue then writes each record
// into QuickBooks, reports QuickBooks' answer to the service and lists what was not posted.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/utility_result.h"
#include "download_control/expense_requests.h"
#include "download_control/line_walk.h"
#include "download_control/message_sets.h"
#include "download_control/posting_journal.h"
#include "download_control/record_type.h"
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

// A record as the control's messages name it ("the time record 101").
std::string RecordWords(RecordType type, const std::string& record_id, const std::string& item_ids);

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

  // What earlier runs left between QuickBooks and the service (recovery.cpp).
  // Opens the company file's journal, telling the user why when it cannot. True when open.
  bool OpenJournal();
  // Before the first add: every entry of the company file's journal, of any site and mode, settled with
  // QuickBooks, so that no add of this run replaces the one message set QuickBooks still keeps an answer of.
  // False, with the reason told, when an entry cannot be settled: then nothing may be added.
  bool SettleJournal();
  // A record QuickBooks holds from an earlier run: reported with its answer instead of being added. True when
  // it is dealt with; prepare_row fills the grid's row values of a time or leave record.
  bool HandleEarlierRecord(RecordType type, const std::string& record_id, const std::string& item_ids,
                           const std::string& report_ids, bool bill_or_check, const std::function<void()>& prepare_row);
  // Sends the built add with its journal entry noted first and QuickBooks' answer noted as soon as it comes; an
  // add whose answer was lost is settled with QuickBooks before anything else is added. Throws kv::Error when it
  // cannot be: then nothing more may be posted.
  void SendJournaledRequest();
  // The status report is done: a record the service accepted is noted as reported.
  void SettleEntry(PLKVUtilityResult result);

  // Asking QuickBooks (witness.cpp).
  enum class Witness { kHas, kHasNot, kCannotTell, kUndecided };
  struct WitnessAnswer {
    Witness verdict = Witness::kCannotTell;
    std::string answer;  // kHas: QuickBooks' answer to the add, kept or made from the transaction found
    std::string why;     // kCannotTell: what failed; kUndecided: why the user was asked
  };
  // An add whose outcome is unknown: a status check while its message set is provably QuickBooks' last one,
  // else a query for a transaction that matches it.
  WitnessAnswer AskWitnessOfUnknown(const JournalEntry& entry);
  // A transaction matching the add request, created at or after noted_at and claimed by no other record; the user
  // picks when several match. exclude_sequence is the record's own entry, if any.
  WitnessAnswer MatchInQuickBooks(const std::string& request, int64_t noted_at, const std::string& record_words,
                                  uint64_t exclude_sequence);
  // Whether QuickBooks still holds the transaction of a kept answer; nothing when it cannot be asked.
  std::optional<bool> StillInQuickBooks(const JournalEntry& entry, std::string& why);
  // Asks QuickBooks about an earlier message set; kept receives the answer it kept.
  MessageSetOutcome AskMessageSetStatus(const std::string& message_set_id, std::string& kept);

  // Add requests (add_requests.cpp).
  bool PostTimeActivity(RecordType type, int32_t id, const std::string& data);
  void BuildQBXMLRequest(RecordType type, int32_t id, const std::string& data);
  bool PostExpense();
  // After a request was built: shows a build error, else sends it and shows a send error. True when sent.
  bool SendBuiltRequest();

  // QuickBooks session (qb_session.cpp).
  void CheckQuickBooks();
  void CheckQBFileExists();
  // Sends one request over a connection and session of its own. reached tells whether QuickBooks was handed the
  // request, so that a failure before it leaves no doubt about what QuickBooks did.
  struct QBRequestResult {
    std::string response;
    bool error = false;
    std::string error_text;
    bool reached = false;
  };
  QBRequestResult SendQBRequest(const std::string& request);

  // Status report (status_report.cpp).
  PLKVUtilityResult UpdateServerStatus(const std::string& ids, RecordType type, bool bill_or_check);
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
  // The company file's journal; the entries of this run's records that QuickBooks holds from earlier runs; the
  // record being posted, its entry, and the id its add's message set carries.
  std::optional<PostingJournal> journal_;
  std::vector<JournalEntry> earlierEntries_;
  // Entries of listed records that several transactions match and the user left undecided: not posted this run.
  std::vector<JournalEntry> undecidedEntries_;
  RecordType currentType_ = RecordType::kTime;
  std::string currentRecordId_;
  std::string currentItemIds_;
  std::optional<JournalEntry> currentEntry_;
  std::string sMessageSetID;
  // The transactions records of this run were found or made as, so that no second record takes one of them.
  std::set<std::string> claimedTxnIDs_;
  // While the journal may have lost entries: the time from which a listed record may be in QuickBooks unnoted.
  std::optional<int64_t> suspectSince_;
  // The record being reported was added by an earlier run; its grid row says so.
  bool bFromEarlierRun = false;
};

}  // namespace tessarine
