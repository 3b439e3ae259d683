// Continue: the posting loop. Every downloaded record goes into QuickBooks over a connection of its own, is
// reported to the service, and is counted by the service's verdict; the results form closes the run.

#include <exception>
#include <optional>

#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/qb_session.h"
#include "download_control/results_form.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;
using platform::forms::vbCritical;
using platform::forms::vbInformation;
using platform::forms::vbOKOnly;

namespace {

std::string ErrorText(const std::exception& e) {
  if (const auto* error = dynamic_cast<const kv::Error*>(&e)) return error->description();
  return e.what();
}

}  // namespace

void KVRDowloadctl::cmdStartDownload_Click() {
  const std::optional<int32_t> record_count = CheckPreconditions();
  if (!record_count || !PrepareRun(*record_count)) return;
  bool finished = false;
  try {
    finished = WalkLines();
  } catch (const std::exception& e) {
    // The records handled so far are counted and listed; ending the run here keeps Continue from posting the
    // same lines a second time.
    MsgBox(ErrorText(e), vbInformation);
    finished = true;
  }
  if (finished) FinishRun();
}

std::optional<int32_t> KVRDowloadctl::CheckPreconditions() {
  TessarineModule& m = Module();
  const DownloadParameters& p = m.params;
  if (kv::TrimBlanks(p.QBFilePath).empty()) {
    MsgBox("You need to provide location of your Quickbooks file before proceeding for download..", vbInformation);
    CloseWindow();
    return std::nullopt;
  }
  bCancelPosting = false;
  // The caption alone cannot tell a failed download from a cancelled run, which also puts it back.
  if (!bDownloaded && lblGather.Caption() == kCollectingInformation) {
    MsgBox(kCouldNotContactMessage, vbInformation);
    CloseWindow();
    return std::nullopt;
  }
  cmdStartDownload.SetEnabled(false);
  CheckQBFileExists();
  if (bQBError) {
    MsgBox(sQBErrorText, vbCritical);
    cmdStartDownload.SetEnabled(true);
    return std::nullopt;
  }
  const int32_t record_count = p.TsOrExpense ? m.varTARecordCount + m.varLARecordCount : m.varEXPRecordCount;
  if (record_count < 1) {
    MsgBox(p.TsOrExpense ? "No time/leave data available for download." : "No expenses available for download.",
           vbInformation);
    cmdStartDownload.SetEnabled(true);
    CloseWindow();
    return std::nullopt;
  }
  if (!TakeRunLock() || !OpenJournal()) {
    cmdStartDownload.SetEnabled(true);
    return std::nullopt;
  }
  return record_count;
}

bool KVRDowloadctl::PrepareRun(int32_t record_count) {
  // Before the first record: QuickBooks is let go and the window stays, so Continue may be pressed again.
  auto keep_window = [this] {
    StopBlinking();
    EndQBSession();
    CloseQBConnection();
    objResults.reset();
    cmdStartDownload.SetEnabled(true);
  };
  try {
    ShowPostingStarted(record_count);
    objResults = std::make_unique<frmResults>();
    objResults->CreateGrid();
    lngFailureCount = 0;
    lngSuccessCount = 0;
    CheckQuickBooks();
    if (bQBError) {
      keep_window();
      return false;
    }
    // Before anything is added: what earlier runs may have left in QuickBooks.
    if (!SettleJournal()) {
      keep_window();
      return false;
    }
    currentExpense = CurrentExpense{};
    return true;
  } catch (const std::exception& e) {
    MsgBox(ErrorText(e), vbInformation);
    keep_window();
    return false;
  }
}

void KVRDowloadctl::ShowPostingStarted(int32_t record_count) {
  ProgressBar1.SetMax(record_count);
  ProgressBar1.SetValue(0);
  lngPostedCount = 0;
  lblTransfer1.SetCaption("Posting data to QuickBooks..");
  lblTransfer1.SetVisible(true);
  lblTransfer1.Refresh();
  lblTransfer2.SetVisible(true);
  lblTransfer2.Refresh();
  Timer1.SetInterval(500);
  Timer1.SetEnabled(true);
}

bool KVRDowloadctl::WalkLines() {
  PostingWalk walk(sDownloadLines, Module().params.TsOrExpense);
  for (;;) {
    if (walk.NeedsPass() && bCancelPosting) {
      CancelRun();
      return false;
    }
    WalkStep step = walk.Next();
    if (auto* time = std::get_if<TimeStep>(&step)) {
      PostTimeRecord(*time);
    } else if (auto* expense = std::get_if<ExpenseStep>(&step)) {
      PostExpenseStep(*expense);
    } else {
      return true;
    }
  }
}

void KVRDowloadctl::PostTimeRecord(const TimeStep& step) {
  currentType_ = step.type;
  currentRecordId_ = std::to_string(step.id);
  currentItemIds_.clear();
  currentEntry_.reset();
  const bool earlier = HandleEarlierRecord(step.type, currentRecordId_, "", currentRecordId_, false, [&] {
    // The grid's row values come from the record's data line.
    sMessageSetID.clear();
    BuildQBXMLRequest(step.type, step.id, step.data);
  });
  if (!earlier) {
    // The record is reported whatever QuickBooks did with it: the service judges QuickBooks' answer.
    PostTimeActivity(step.type, step.id, step.data);
    lngLastResult = UpdateServerStatus(currentRecordId_, step.type, false);
    SettleEntry(lngLastResult);
    CountResult(lngLastResult);
  }
  ProgressStep();
  ShowRemaining();
}

void KVRDowloadctl::PostExpenseStep(ExpenseStep& step) {
  currentExpense = std::move(step.expense);
  currentType_ = RecordType::kExpense;
  currentRecordId_ = step.record_id;
  currentItemIds_ = SortItemIds(step.ids);
  currentEntry_.reset();
  if (!step.failure.empty()) {
    bQBError = true;
    sQBErrorText = step.failure;
    MsgBox(sQBErrorText, vbOKOnly);
    ++lngFailureCount;
    AddFailedExpenseRow(sQBErrorText);
  } else if (HandleEarlierRecord(RecordType::kExpense, currentRecordId_, currentItemIds_, step.ids,
                                 currentExpense.bCurExpIsBill, [] {})) {
    // Reported with the answer QuickBooks gave an earlier run, without a second add.
  } else if (PostExpense()) {
    lngLastResult = UpdateServerStatus(step.ids, RecordType::kExpense, currentExpense.bCurExpIsBill);
    SettleEntry(lngLastResult);
    CountResult(lngLastResult);
  } else {
    // Not reported, so the service keeps it pending; the grid tells the user why it was not posted.
    ++lngFailureCount;
    AddFailedExpenseRow(sQBErrorText);
  }
  ProgressStep();
  ShowRemaining();
}

void KVRDowloadctl::CountResult(PLKVUtilityResult result) {
  if (result == kvurSuccess) {
    ++lngSuccessCount;
    ++lngPostedCount;
  } else {
    ++lngFailureCount;
  }
}

void KVRDowloadctl::ProgressStep() {
  if (ProgressBar1.Value() + 1 <= ProgressBar1.Max()) ProgressBar1.SetValue(ProgressBar1.Value() + 1);
}

void KVRDowloadctl::ShowRemaining() {
  const TessarineModule& m = Module();
  if (m.params.TsOrExpense) {
    lblGather.SetCaption(std::to_string(m.varTARecordCount + m.varLARecordCount - lngPostedCount) +
                         " time/leave activity rows to be downloaded");
  } else {
    lblGather.SetCaption(std::to_string(m.varEXPRecordCount - lngPostedCount) + " expense(s) to be downloaded");
  }
  lblGather.Refresh();
}

void KVRDowloadctl::StopBlinking() {
  Timer1.SetEnabled(false);
  lblTransfer1.SetVisible(false);
  lblTransfer1.Refresh();
  lblTransfer2.SetVisible(false);
  lblTransfer2.Refresh();
}

void KVRDowloadctl::ClearRecordCounts() {
  TessarineModule& m = Module();
  m.varTARecordCount = 0;
  m.varLARecordCount = 0;
  m.varEXPRecordCount = 0;
}

void KVRDowloadctl::CancelRun() {
  lblGather.SetCaption(kCollectingInformation);
  EndQBSession();
  CloseQBConnection();
  ProgressBar1.SetValue(0);
  StopBlinking();
  ClearRecordCounts();
  objResults.reset();
  // The counts are gone, so this page cannot post the lines any more.
  runLock_.reset();
  cmdStartDownload.SetEnabled(true);
}

void KVRDowloadctl::FinishRun() {
  if (objResults) {
    objResults->lblTotal.SetCaption(std::to_string(lngFailureCount + lngSuccessCount));
    objResults->lblSuccess.SetCaption(std::to_string(lngSuccessCount));
    objResults->lblFailure.SetCaption(std::to_string(lngFailureCount));
  }
  StopBlinking();
  lblGather.SetCaption(kCollectingInformation);
  ProgressBar1.SetValue(0);
  EndQBSession();
  CloseQBConnection();
  ClearRecordCounts();
  cmdStartDownload.SetEnabled(true);
  if (objResults) {
    try {
      objResults->Show(platform::forms::vbModal);
    } catch (const std::exception& e) {
      MsgBox(ErrorText(e), vbInformation);
    }
    objResults.reset();
  }
  CloseWindow();
}

}  // namespace tessarine
