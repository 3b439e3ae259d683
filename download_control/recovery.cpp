// What earlier runs left between QuickBooks and the service: records added to QuickBooks whose report never
// reached the service, and adds whose outcome nobody saw. Each is settled by asking QuickBooks before this run
// adds anything, and reported, never added a second time.

#include <algorithm>
#include <filesystem>
#include <utility>

#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/results_form.h"
#include "download_control/service_requests.h"
#include "download_control/witness_queries.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;

namespace {

struct ListedRecord {
  RecordType type;
  std::string record_id;
  std::string item_ids;
};

bool OfThisMode(RecordType type, bool time_mode) {
  return time_mode ? type != RecordType::kExpense : type == RecordType::kExpense;
}

// The records the download lists. A listing that cannot be read to its end lists what it could.
std::vector<ListedRecord> ListedRecords(const std::vector<std::string>& lines, bool time_mode) {
  std::vector<ListedRecord> listed;
  try {
    PostingWalk walk(lines, time_mode);
    for (;;) {
      WalkStep step = walk.Next();
      if (auto* time = std::get_if<TimeStep>(&step)) {
        listed.push_back({time->type, std::to_string(time->id), ""});
      } else if (auto* expense = std::get_if<ExpenseStep>(&step)) {
        listed.push_back({RecordType::kExpense, expense->record_id, SortItemIds(expense->ids)});
      } else {
        return listed;
      }
    }
  } catch (const kv::Error&) {
    return listed;
  }
}

std::string DamageMessage(const std::vector<JournalDamage>& damage, const std::filesystem::path& kept_aside) {
  std::string text = "The journal of what earlier downloads posted into this company file could not be read whole:";
  for (const JournalDamage& d : damage) text += "\r\n" + d.file.string() + ": " + d.what;
  if (!kept_aside.empty()) text += "\r\nThe damaged journal is kept as " + kept_aside.string() + ".";
  text +=
      "\r\nEvery record it may have named is looked for in QuickBooks before it is posted, so that none is posted "
      "twice.";
  return text;
}

}  // namespace

bool KVRDowloadctl::OpenJournal() {
  try {
    // Read anew for every run: runs of other sites and of the other mode write it too.
    journal_.reset();
    journal_.emplace(Module().params.QBFilePath);
    return true;
  } catch (const kv::Error& e) {
    MsgBox(e.description() + "\r\nNothing is posted into QuickBooks without it, so that no record is posted twice.",
           platform::forms::vbCritical);
    return false;
  }
}

bool KVRDowloadctl::SettleJournal() {
  earlierEntries_.clear();
  undecidedEntries_.clear();
  claimedTxnIDs_.clear();
  suspectSince_.reset();
  if (!journal_) return true;
  const bool time_mode = Module().params.TsOrExpense;
  const std::string site = JournalSiteKey(Module().params.SiteCode);
  if (!journal_->Damage().empty()) {
    const std::vector<JournalDamage> damage = journal_->Damage();
    std::filesystem::path kept_aside;
    try {
      kept_aside = journal_->ClearDamage();
    } catch (const kv::Error& e) {
      MsgBox(DamageMessage(damage, {}) + "\r\n" + e.description() + "\r\nNothing was posted.",
             platform::forms::vbCritical);
      return false;
    }
    MsgBox(DamageMessage(damage, kept_aside), platform::forms::vbCritical);
  }
  suspectSince_ = journal_->SuspectSince();
  const std::vector<ListedRecord> listed = ListedRecords(sDownloadLines, time_mode);
  auto listed_here = [&](const JournalEntry& entry) {
    if (entry.site != site || !OfThisMode(entry.type, time_mode)) return false;
    return std::any_of(listed.begin(), listed.end(),
                       [&](const ListedRecord& r) { return NamesRecord(entry, r.type, r.record_id, r.item_ids); });
  };
  std::vector<std::string> gone;
  for (JournalEntry& entry : journal_->Entries()) {
    const std::string words = RecordWords(entry.type, entry.record_id, entry.item_ids);
    // Still waited for by the service: it must outlive the keeping bound however long that goes on.
    if (listed_here(entry)) journal_->NoteListed(entry);
    if (entry.state == JournalEntry::State::kSent) {
      // Settled whoever noted it: this run's first add would replace the message set QuickBooks may keep of it.
      const WitnessAnswer witness = AskWitnessOfUnknown(entry);
      if (witness.verdict == Witness::kCannotTell) {
        MsgBox("QuickBooks could not tell whether it holds " + words +
                   ", which an earlier download was adding when it stopped:\r\n" + witness.why +
                   "\r\nNothing was posted; the next download asks QuickBooks again.",
               platform::forms::vbCritical);
        return false;
      }
      if (witness.verdict == Witness::kHasNot) {
        journal_->Remove(entry);
        continue;
      }
      if (witness.verdict == Witness::kUndecided) {
        if (listed_here(entry)) undecidedEntries_.push_back(std::move(entry));
        continue;
      }
      journal_->NoteAnswer(entry, witness.answer);
      if (listed_here(entry)) earlierEntries_.push_back(std::move(entry));
      continue;
    }
    // Entries of other sites and modes are reported by their own runs; one whose record the listing omits stays.
    if (!listed_here(entry)) continue;
    std::string why;
    const std::optional<bool> there = StillInQuickBooks(entry, why);
    if (!there) {
      MsgBox("QuickBooks could not be asked whether it still holds " + words +
                 ", which an earlier download added:\r\n" + why +
                 "\r\nNothing was posted; the next download asks QuickBooks again.",
             platform::forms::vbCritical);
      return false;
    }
    if (*there) {
      earlierEntries_.push_back(std::move(entry));
    } else {
      gone.push_back(words);
      journal_->Remove(entry);
    }
  }
  if (!gone.empty()) {
    std::string text =
        "QuickBooks no longer holds what earlier downloads added for these records (the company file "
        "was restored from a backup, or the transactions were deleted):";
    for (const std::string& words : gone) text += "\r\n" + words;
    MsgBox(text + "\r\nThey are posted into QuickBooks again.", platform::forms::vbInformation);
  }
  return true;
}

bool KVRDowloadctl::HandleEarlierRecord(RecordType type, const std::string& record_id, const std::string& item_ids,
                                        const std::string& report_ids, bool bill_or_check,
                                        const std::function<void()>& prepare_row) {
  auto names = [&](const JournalEntry& e) { return NamesRecord(e, type, record_id, item_ids); };
  if (std::any_of(undecidedEntries_.begin(), undecidedEntries_.end(), names)) {
    prepare_row();
    ++lngFailureCount;
    const std::string reason =
        "Not posted: QuickBooks holds several transactions that match it, and it was left undecided which is the "
        "record. The next download asks again.";
    if (type == RecordType::kExpense) {
      AddFailedExpenseRow(reason);
    } else if (objResults) {
      objResults->FillGrid(reason, std::string(RecordTypeCode(type)));
    }
    return true;
  }
  const auto found = std::find_if(earlierEntries_.begin(), earlierEntries_.end(), names);
  if (found == earlierEntries_.end()) return false;
  JournalEntry entry = std::move(*found);
  earlierEntries_.erase(found);
  prepare_row();
  sResponseXML = entry.answer;
  currentEntry_ = std::move(entry);
  bFromEarlierRun = true;
  lngLastResult = UpdateServerStatus(report_ids, type, bill_or_check);
  SettleEntry(lngLastResult);
  CountResult(lngLastResult);
  return true;
}

void KVRDowloadctl::SendJournaledRequest() {
  currentEntry_.reset();
  if (!journal_ || (currentRecordId_.empty() && currentItemIds_.empty())) {
    // The run refuses to start without its journal and the walk fails a record without ids: neither comes here.
    throw kv::Error(1, "A record without its journal note is never added to QuickBooks.");
  }
  const std::string words = RecordWords(currentType_, currentRecordId_, currentItemIds_);
  if (suspectSince_) {
    // The journal lost notes: this record may be in QuickBooks from a run whose entry is gone.
    const WitnessAnswer witness = MatchInQuickBooks(sRequestXML, *suspectSince_, words, 0);
    if (witness.verdict == Witness::kUndecided) {
      bQBError = true;
      sQBErrorText = "Not posted: " + witness.why + " The next download asks again.";
      return;
    }
    if (witness.verdict == Witness::kCannotTell) {
      throw kv::Error(1, "QuickBooks could not tell whether it holds " + words + " already:\r\n" + witness.why +
                             "\r\nNothing more was posted; the next download asks QuickBooks again.");
    }
    if (witness.verdict == Witness::kHas) {
      JournalEntry entry =
          journal_->Note(Module().params.SiteCode, currentType_, currentRecordId_, currentItemIds_, "", sRequestXML);
      journal_->NoteAnswer(entry, witness.answer);
      currentEntry_ = std::move(entry);
      sResponseXML = witness.answer;
      bFromEarlierRun = true;
      return;
    }
  }
  const bool recovery = kv::qb::HasErrorRecovery(Module().session.QBXMLVersionCode);
  try {
    currentEntry_ = journal_->Note(Module().params.SiteCode, currentType_, currentRecordId_, currentItemIds_,
                                   recovery ? sMessageSetID : std::string(), sRequestXML);
  } catch (const kv::Error& e) {
    // Not added: without the note a stop after the add would post the record twice.
    bQBError = true;
    sQBErrorText = e.description();
    return;
  }
  const QBRequestResult result = SendQBRequest(sRequestXML);
  sResponseXML = result.response;
  bQBError = result.error;
  sQBErrorText = result.error_text;
  if (result.error && !result.reached) {
    // QuickBooks never saw the add.
    journal_->Remove(*currentEntry_);
    currentEntry_.reset();
    return;
  }
  if (result.error || (!QuickBooksTookRecord(sResponseXML) && !QuickBooksRefusedRecord(sResponseXML))) {
    // The add went out and its answer was lost, or came in a form that says neither: QuickBooks is asked before
    // anything else is added.
    const WitnessAnswer witness = AskWitnessOfUnknown(*currentEntry_);
    if (witness.verdict == Witness::kCannotTell || witness.verdict == Witness::kUndecided) {
      throw kv::Error(1, (result.error ? result.error_text : "QuickBooks' answer to the add cannot be read.") +
                             "\r\nWhether QuickBooks added " + words + " cannot be told now: " + witness.why +
                             "\r\nNothing more was posted; the next download settles it with QuickBooks.");
    }
    if (witness.verdict == Witness::kHasNot) {
      journal_->Remove(*currentEntry_);
      currentEntry_.reset();
      return;
    }
    sResponseXML = witness.answer;
    bQBError = false;
    sQBErrorText.clear();
  }
  if (QuickBooksTookRecord(sResponseXML)) {
    // Durable before the report: nothing else may be trusted to remember it after a stop.
    journal_->NoteAnswer(*currentEntry_, sResponseXML);
    const std::string txn_id = TxnIDOfAnswer(sResponseXML);
    if (!txn_id.empty()) claimedTxnIDs_.insert(txn_id);
  } else {
    // Refused by QuickBooks: nothing of it is there, so the next run may post it again.
    journal_->Remove(*currentEntry_);
    currentEntry_.reset();
  }
}

void KVRDowloadctl::SettleEntry(PLKVUtilityResult result) {
  // Kept while the service has not accepted the report: the next run finds the record listed again and reports
  // it with QuickBooks' answer instead of adding it.
  if (currentEntry_ && journal_ && result == kvurSuccess) journal_->NoteReported(*currentEntry_);
  bFromEarlierRun = false;
  currentEntry_.reset();
}

}  // namespace tessarine
