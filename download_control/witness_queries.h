#pragma once

// Asking QuickBooks whether it holds a record the download may have added: by the TxnID of its answer where that
// is known, else by the record's own fields, read back from the add request that was sent. A transaction found
// that way becomes the answer the add would have had, so the service is told what it is always told.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/qbxml_version.h"
#include "platform/xml/dom.h"

namespace tessarine {

// The transactions the download adds.
enum class TxnKind { kTimeTracking, kBill, kCheck };
// The kind's name as qbXML's messages and records spell it: "TimeTracking", "Bill", "Check".
std::string_view TxnName(TxnKind kind);

// What an add request asked QuickBooks for, as QuickBooks would store it.
struct AskedRecord {
  struct Line {
    bool item = false;  // an item line (ItemRef) rather than an expense line (AccountRef)
    std::string ref;    // the account's or item's full name
    int64_t cents = 0;  // the amount; an item line's is its quantity times its cost
    // Worked out here from quantity and cost: QuickBooks rounds that product in decimal, a double may land on the
    // other side of half a cent, so a cent either way still matches.
    bool computed = false;
  };
  TxnKind kind = TxnKind::kTimeTracking;
  std::string request_id;      // the add's requestID
  std::string message_set_id;  // the newMessageSetID the add carried; "" for none
  std::string date;            // TxnDate, yyyy-mm-dd
  std::string entity;          // the employee, the vendor or the payee
  // Time tracking.
  std::string customer;
  std::string item;
  std::string class_name;
  std::string payroll_item;
  int64_t duration_seconds = 0;
  std::optional<std::string> notes;
  // Bills and checks.
  std::string memo;
  std::vector<Line> lines;
};

// Reads an add request of the download (TimeTrackingAddRq, BillAddRq, CheckAddRq). Throws kv::Error when the
// text is not one.
AskedRecord ReadAddRequest(std::string_view request);

// The query of one transaction by its TxnID, with its lines for bills and checks; a complete request.
std::string TxnIDQuery(kv::qb::QBXMLVersion version, TxnKind kind, std::string_view txn_id);
// The transactions that may be the asked one: its date and entity, the lines of bills and checks.
std::string MatchQuery(kv::qb::QBXMLVersion version, const AskedRecord& asked);
// How many transactions a match query asks for: enough for one employee's or vendor's transactions of one day,
// few enough to stay a quick query.
inline constexpr int kMatchQueryMaxReturned = 200;

// The Rets of a query's answer. A query that found nothing (status 1, or 500 for a TxnID QuickBooks does not
// hold) gives none; any other failure throws kv::Error with QuickBooks' status text.
std::vector<platform::xml::Node> QueryRets(std::string_view response, TxnKind kind);

// The TxnID of an add's answer, or "" when it holds none.
std::string TxnIDOfAnswer(std::string_view answer);

// A qbXML date-time ("2026-03-04T10:11:12", with "Z" or an offset such as "+01:00"; without one, local time) in
// Unix seconds. Nothing when the text is not one.
std::optional<int64_t> ReadQBDateTime(std::string_view text);

// Whether a Ret holds what the add asked for: names compared as QuickBooks compares them (letter case aside),
// amounts and durations as numbers, lines in any order.
bool RetMatches(const AskedRecord& asked, const platform::xml::Node& ret);

// A transaction that may be the record: it matches, QuickBooks created it at or after noted_at (TimeCreated
// has whole seconds only, so one second earlier still counts), and its TxnID is not claimed by another record.
struct WitnessCandidate {
  std::string txn_id;
  std::string txn_date;
  std::string time_created;  // as QuickBooks wrote it
  platform::xml::Node ret;
};
std::vector<WitnessCandidate> MatchingRets(const AskedRecord& asked, const std::vector<platform::xml::Node>& rets,
                                           int64_t noted_at, const std::set<std::string>& claimed);

// The answer QuickBooks gives to the asked add when it makes the transaction of the Ret.
std::string AddAnswerOf(const AskedRecord& asked, const platform::xml::Node& ret);

}  // namespace tessarine
