// Asking QuickBooks whether it holds a record: its error-recovery memory only where that provably still holds
// the record's message set, else the transactions themselves.

#include <algorithm>
#include <utility>

#include "download_control/kvr_download_ctl.h"
#include "download_control/message_sets.h"
#include "download_control/module_state.h"
#include "download_control/service_requests.h"
#include "download_control/witness_queries.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;

std::string RecordWords(RecordType type, const std::string& record_id, const std::string& item_ids) {
  switch (type) {
    case RecordType::kTime:
      return "the time record " + record_id;
    case RecordType::kLeave:
      return "the leave record " + record_id;
    case RecordType::kExpense:
      break;
  }
  if (record_id.empty()) return "the expense with the item ids " + item_ids;
  return "the expense " + record_id + " (item ids " + item_ids + ")";
}

namespace {

// Several transactions match: the user says which, if any, is the record. Only No posts it anew; Cancel, and an
// input that closed, leave it for the next download to ask again, so no answer but a deliberate one posts it.
int AskWhichMatches(const std::string& record_words, const std::vector<WitnessCandidate>& candidates) {
  std::string text = "QuickBooks may hold " + record_words + " already (no answer to an earlier add of it was kept), " +
                     "and QuickBooks holds " + std::to_string(candidates.size()) + " transactions that match it:";
  for (const WitnessCandidate& c : candidates) {
    text += "\r\nTxnID " + c.txn_id + ", dated " + c.txn_date + ", created " + c.time_created;
  }
  text +=
      "\r\nIs the record the first of them? Yes: it is reported to Kalvor with that transaction and not posted "
      "again. No: none of them is the record, and it is posted anew. Cancel: it is left for the next download.";
  return MsgBox(text, platform::forms::vbYesNoCancel + platform::forms::vbQuestion);
}

}  // namespace

KVRDowloadctl::WitnessAnswer KVRDowloadctl::AskWitnessOfUnknown(const JournalEntry& entry) {
  if (!entry.message_set_id.empty() && kv::qb::HasErrorRecovery(Module().session.QBXMLVersionCode) &&
      journal_->IsLastMessageSet(entry)) {
    std::string kept;
    if (AskMessageSetStatus(entry.message_set_id, kept) == MessageSetOutcome::kProcessed) {
      if (QuickBooksRefusedRecord(kept)) return {Witness::kHasNot, "", ""};
      if (QuickBooksTookRecord(kept)) {
        const std::string txn_id = TxnIDOfAnswer(kept);
        if (!txn_id.empty()) claimedTxnIDs_.insert(txn_id);
        return {Witness::kHas, std::move(kept), ""};
      }
    }
    // 600 says only that QuickBooks keeps nothing of it any more (another message set of this application came
    // in between, or a clear); a failed check, or a kept answer that cannot be read, says nothing. The
    // transactions themselves decide.
  }
  return MatchInQuickBooks(entry.request, entry.noted_at, RecordWords(entry.type, entry.record_id, entry.item_ids),
                           entry.sequence);
}

KVRDowloadctl::WitnessAnswer KVRDowloadctl::MatchInQuickBooks(const std::string& request, int64_t noted_at,
                                                              const std::string& record_words,
                                                              uint64_t exclude_sequence) {
  try {
    const AskedRecord asked = ReadAddRequest(request);
    const QBRequestResult result = SendQBRequest(MatchQuery(Module().session.QBXMLVersionCode, asked));
    if (result.error) return {Witness::kCannotTell, "", result.error_text};
    const std::vector<platform::xml::Node> rets = QueryRets(result.response, asked.kind);
    std::set<std::string> claimed = claimedTxnIDs_;
    for (const JournalEntry& other : journal_->Entries()) {
      if (other.sequence == exclude_sequence || other.answer.empty()) continue;
      const std::string txn_id = TxnIDOfAnswer(other.answer);
      if (!txn_id.empty()) claimed.insert(txn_id);
    }
    // A full answer may have left out the record, or another transaction that matches it as well.
    if (rets.size() >= static_cast<size_t>(kMatchQueryMaxReturned)) {
      return {Witness::kCannotTell, "", "QuickBooks holds too many transactions of that day to look through."};
    }
    std::vector<WitnessCandidate> candidates = MatchingRets(asked, rets, noted_at, claimed);
    if (candidates.empty()) return {Witness::kHasNot, "", ""};
    std::stable_sort(candidates.begin(), candidates.end(), [](const WitnessCandidate& a, const WitnessCandidate& b) {
      return ReadQBDateTime(a.time_created).value_or(0) < ReadQBDateTime(b.time_created).value_or(0);
    });
    if (candidates.size() > 1) {
      const int choice = AskWhichMatches(record_words, candidates);
      if (choice == platform::forms::vbNo) return {Witness::kHasNot, "", ""};
      if (choice != platform::forms::vbYes) {
        return {Witness::kUndecided, "", "QuickBooks holds several transactions that match it."};
      }
    }
    claimedTxnIDs_.insert(candidates.front().txn_id);
    return {Witness::kHas, AddAnswerOf(asked, candidates.front().ret), ""};
  } catch (const kv::Error& e) {
    return {Witness::kCannotTell, "", e.description()};
  }
}

std::optional<bool> KVRDowloadctl::StillInQuickBooks(const JournalEntry& entry, std::string& why) {
  try {
    const AskedRecord asked = ReadAddRequest(entry.request);
    const std::string txn_id = TxnIDOfAnswer(entry.answer);
    if (txn_id.empty()) {
      why = "QuickBooks' answer noted for it names no transaction.";
      return std::nullopt;
    }
    const QBRequestResult result = SendQBRequest(TxnIDQuery(Module().session.QBXMLVersionCode, asked.kind, txn_id));
    if (result.error) {
      why = result.error_text;
      return std::nullopt;
    }
    const bool there = !QueryRets(result.response, asked.kind).empty();
    if (there) claimedTxnIDs_.insert(txn_id);
    return there;
  } catch (const kv::Error& e) {
    why = e.description();
    return std::nullopt;
  }
}

MessageSetOutcome KVRDowloadctl::AskMessageSetStatus(const std::string& message_set_id, std::string& kept) {
  QBRequestResult result = SendQBRequest(MessageSetStatusCheck(Module().session.QBXMLVersionCode, message_set_id));
  if (result.error) return MessageSetOutcome::kUnknown;
  kept = std::move(result.response);
  return OutcomeOfStatusCheck(kept);
}

}  // namespace tessarine
