// What an earlier run left between QuickBooks and the service: a record added to QuickBooks whose status report
// never reached the service is still listed as pending, and must be reported, not added a second time.

#include <algorithm>
#include <filesystem>
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

bool OfThisMode(RecordType type, bool time_mode) {
  return time_mode ? type != RecordType::kExpense : type == RecordType::kExpense;
}

RecordType TypeOf(const std::string& code) {
  return RecordTypeFromCode(code).value_or(RecordType::kExpense);
}

// The records the download lists, by type and ids; false when the lines could not all be read, so that entries
// of records further on are kept.
bool ListedRecords(const std::vector<std::string>& lines, bool time_mode, std::vector<RecordKey>& listed) {
  try {
    PostingWalk walk(lines, time_mode);
    for (;;) {
      WalkStep step = walk.Next();
      if (auto* time = std::get_if<TimeStep>(&step)) {
        listed.emplace_back(time->type, std::to_string(time->id));
      } else if (auto* expense = std::get_if<ExpenseStep>(&step)) {
        if (!expense->ids.empty()) listed.emplace_back("EXP", expense->ids);
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
    // Opened anew for every run: another run may have written it since, under the lock this run now holds.
    journal_.reset();
    journal_.emplace(p.QBFilePath);
    if (!journal_->Damage().empty()) {
      std::string said = "The download's journal of what was posted into this company file is damaged:";
      for (const JournalDamage& d : journal_->Damage()) said += "\r\n" + d.file.string() + ": " + d.what;
      const std::filesystem::path aside = journal_->ClearDamage();
      if (!aside.empty()) said += "\r\nThe damaged file is kept as " + aside.string() + ".";
      MsgBox(said, platform::forms::vbExclamation);
    }
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
  const std::string site = JournalSiteKey(Module().params.SiteCode);
  std::vector<RecordKey> listed;
  ListedRecords(sDownloadLines, time_mode, listed);
  for (JournalEntry& entry : journal_->Entries()) {
    // A reported entry is kept for the record to be checked with QuickBooks should the service list it again.
    if (entry.site != site || !OfThisMode(entry.type, time_mode) || entry.state == JournalEntry::State::kReported) {
      continue;
    }
    // An entry whose record this listing leaves out is kept: a later listing may name it again.
    const bool is_listed = std::any_of(listed.begin(), listed.end(), [&](const RecordKey& key) {
      return NamesRecord(entry, TypeOf(key.first), key.first == "EXP" ? "" : key.second,
                         key.first == "EXP" ? key.second : "");
    });
    if (!is_listed) continue;
    if (entry.state == JournalEntry::State::kSent && !entry.message_set_id.empty() && recovery) {
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
  const RecordType record_type = TypeOf(type);
  const bool expense = record_type == RecordType::kExpense;
  const auto found = std::find_if(earlierEntries_.begin(), earlierEntries_.end(), [&](const JournalEntry& e) {
    return NamesRecord(e, record_type, expense ? "" : ids, expense ? ids : "");
  });
  if (found == earlierEntries_.end()) return false;
  JournalEntry entry = std::move(*found);
  earlierEntries_.erase(found);
  prepare_row();
  if (entry.state != JournalEntry::State::kSent) {
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
    const RecordType type = TypeOf(sJournalType);
    const bool expense = type == RecordType::kExpense;
    currentEntry_ = journal_->Note(Module().params.SiteCode, type, expense ? "" : sJournalIds,
                                   expense ? sJournalIds : "", recovery ? sMessageSetID : "", sRequestXML);
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
      journal_->NoteReported(*currentEntry_);
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
