// What an earlier run left between QuickBooks and the service: a record added to QuickBooks whose status report
// never reached the service is still listed as pending, and must be reported, not added a second time.

#include <algorithm>
#include <set>
#include <utility>

#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/results_form.h"
#include "download_control/service_requests.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;

namespace {

using RecordKey = std::pair<std::string, std::string>;

bool OfThisMode(const std::string& type, bool time_mode) {
  return time_mode ? type == "TA" || type == "LA" : type == "EXP";
}

// The records the download lists, by type and ids; false when the lines could not all be read, so that entries
// of records further on are kept.
bool ListedRecords(const std::vector<std::string>& lines, bool time_mode, std::set<RecordKey>& listed) {
  try {
    PostingWalk walk(lines, time_mode);
    for (;;) {
      WalkStep step = walk.Next();
      if (auto* time = std::get_if<TimeStep>(&step)) {
        listed.emplace(time->type, std::to_string(time->id));
      } else if (auto* expense = std::get_if<ExpenseStep>(&step)) {
        if (!expense->ids.empty()) listed.emplace("EXP", expense->ids);
      } else {
        return true;
      }
    }
  } catch (const kv::Error&) {
    return false;
  }
}

std::string RecordWords(const std::string& type, const std::string& ids) {
  if (type == "TA") return "the time record " + ids;
  if (type == "LA") return "the leave record " + ids;
  return "the expense with the item ids " + ids;
}

}  // namespace

bool KVRDowloadctl::OpenJournal() {
  const DownloadParameters& p = Module().params;
  try {
    if (!journal_) journal_.emplace(PostingJournal::DefaultFolder());
    journal_->SetRun(p.SiteCode, p.QBFilePath);
    return true;
  } catch (const kv::Error& e) {
    MsgBox(e.description() + "\r\nNothing is posted into QuickBooks without it, so that no record is posted twice.",
           platform::forms::vbCritical);
    return false;
  }
}

void KVRDowloadctl::RecoverEarlierRun() {
  earlierEntries_.clear();
  if (!journal_) return;
  const bool time_mode = Module().params.TsOrExpense;
  const bool recovery = HasErrorRecovery(Module().session.QBXMLVersionCode);
  // This run holds the company file's lock: no other run of it writes the journal now.
  journal_->Adopt();
  std::set<RecordKey> listed;
  const bool complete = ListedRecords(sDownloadLines, time_mode, listed);
  for (JournalEntry& entry : journal_->Entries()) {
    if (!OfThisMode(entry.type, time_mode)) continue;
    if (!listed.contains({entry.type, entry.ids})) {
      // The service waits for it no longer: it heard of it after all, or the record was withdrawn.
      if (complete) journal_->Remove(entry);
      continue;
    }
    if (!entry.answered && entry.recovery && recovery) {
      std::string kept;
      const MessageSetOutcome outcome = AskMessageSetStatus(entry.message_set_id, kept);
      if (outcome == MessageSetOutcome::kNotProcessed ||
          (outcome == MessageSetOutcome::kProcessed && !QuickBooksTookRecord(kept))) {
        // QuickBooks has nothing of it: posting it is safe.
        journal_->Remove(entry);
        continue;
      }
      if (outcome == MessageSetOutcome::kProcessed) journal_->NoteAnswer(entry, kept);
    }
    earlierEntries_.push_back(std::move(entry));
  }
}

bool KVRDowloadctl::HandleEarlierRecord(const std::string& type, const std::string& ids, bool bill_or_check,
                                        const std::function<void()>& prepare_row) {
  const auto found = std::find_if(earlierEntries_.begin(), earlierEntries_.end(),
                                  [&](const JournalEntry& e) { return e.type == type && e.ids == ids; });
  if (found == earlierEntries_.end()) return false;
  JournalEntry entry = std::move(*found);
  earlierEntries_.erase(found);
  prepare_row();
  if (entry.answered) {
    sResponseXML = entry.answer;
    currentEntry_ = std::move(entry);
    bFromEarlierRun = true;
    try {
      lngLastResult = UpdateServerStatus(ids, type, bill_or_check);
    } catch (...) {
      bFromEarlierRun = false;
      throw;
    }
    bFromEarlierRun = false;
    SettleEntry(lngLastResult);
    CountResult(lngLastResult);
    return true;
  }
  const int answer = MsgBox("An earlier download was stopped while it was adding " + RecordWords(type, ids) +
                                " to QuickBooks, and this QuickBooks cannot tell whether the record was added.\r\n"
                                "Post it again? Answer No when the record is in QuickBooks already.",
                            platform::forms::vbYesNo + platform::forms::vbQuestion);
  if (answer == platform::forms::vbYes) {
    journal_->Remove(entry);
    return false;
  }
  ++lngFailureCount;
  const std::string reason =
      "Not posted again: an earlier download was stopped while adding it, and it may be in QuickBooks already. "
      "Check QuickBooks before the next download.";
  if (type == "EXP") {
    AddFailedExpenseRow(reason);
  } else if (objResults) {
    objResults->FillGrid(reason, type);
  }
  return true;
}

void KVRDowloadctl::SendJournaledRequest() {
  currentEntry_.reset();
  bAnswerToNote = false;
  if (!journal_ || sJournalIds.empty()) {
    SendQBRequest();
    return;
  }
  const bool recovery = HasErrorRecovery(Module().session.QBXMLVersionCode);
  try {
    currentEntry_ = journal_->Note(sMessageSetID, sJournalType, sJournalIds, recovery);
  } catch (const kv::Error& e) {
    // Not added: without the note a stop after the add would post the record twice.
    bQBError = true;
    sQBErrorText = e.description();
    return;
  }
  SendQBRequest();
  if (sResponseXML.empty()) {
    // Without recovery nobody can tell whether QuickBooks took it; the entry stays for the next run to ask.
    if (!recovery) return;
    const std::string failure = sQBErrorText;
    std::string kept;
    const MessageSetOutcome outcome = AskMessageSetStatus(sMessageSetID, kept);
    if (outcome == MessageSetOutcome::kUnknown) {
      bQBError = true;
      sQBErrorText = failure;
      return;
    }
    if (outcome == MessageSetOutcome::kNotProcessed) {
      bQBError = true;
      sQBErrorText = failure;
      journal_->Remove(*currentEntry_);
      currentEntry_.reset();
      return;
    }
    sResponseXML = std::move(kept);
    bQBError = false;
    sQBErrorText.clear();
  }
  if (QuickBooksTookRecord(sResponseXML)) {
    // Where QuickBooks keeps the answer until the next add, noting it can wait for a report the service did not
    // accept, which is rare; without recovery nothing else would know it after a stop.
    if (recovery) {
      bAnswerToNote = true;
    } else {
      journal_->NoteAnswer(*currentEntry_, sResponseXML);
    }
  } else {
    // Refused by QuickBooks: nothing of it is there, so the next run may post it again.
    journal_->Remove(*currentEntry_);
    currentEntry_.reset();
  }
}

void KVRDowloadctl::SettleEntry(PLKVUtilityResult result) {
  // Kept while the service has not accepted the report: the next run finds the record listed again and
  // reports it with QuickBooks' answer instead of adding it.
  if (currentEntry_ && journal_) {
    if (result == kvurSuccess) {
      journal_->Remove(*currentEntry_);
    } else if (bAnswerToNote) {
      // Before the next add replaces the answer QuickBooks keeps.
      journal_->NoteAnswer(*currentEntry_, sResponseXML);
    }
  }
  bAnswerToNote = false;
  currentEntry_.reset();
}

MessageSetOutcome KVRDowloadctl::AskMessageSetStatus(const std::string& message_set_id, std::string& kept) {
  const std::string request =
      std::exchange(sRequestXML, MessageSetStatusCheck(Module().session.QBXMLVersionCode, message_set_id));
  SendQBRequest();
  sRequestXML = request;
  kept = std::move(sResponseXML);
  sResponseXML.clear();
  return bQBError ? MessageSetOutcome::kUnknown : OutcomeOfStatusCheck(kept);
}

}  // namespace tessarine
