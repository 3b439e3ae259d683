#pragma once

// Internal to the request handler: the company as one request set sees it, and the message handlers.

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/request_handler.h"

namespace standins::quickbooks {

using platform::xml::Node;

// The element children of an element, in order.
std::vector<Node> ElementChildren(const Node& element);
// An attribute's value, or nothing when the element has none of that name.
std::optional<std::string> AttributeOf(const Node& element, std::string_view name);

struct Status {
  int code = kStatusOk;
  std::string severity = "Info";
  std::string message = "Status OK";

  static Status Error(int code, std::string message) { return {code, "Error", std::move(message)}; }
  bool IsError() const { return severity == "Error"; }
};

// A list record that a reference can name.
struct ListEntry {
  std::string kind;
  std::string listID;
  std::string fullName;
  std::string accountType;  // accounts only
};

// The company file's records followed by those the current request set added.
class Workspace {
 public:
  explicit Workspace(std::shared_ptr<const Company> base) : base_(std::move(base)) {}

  const Company& base() const { return *base_; }
  std::shared_ptr<const Company> shared_base() const { return base_; }
  template <class F>
  void ForEach(F&& visit) const {
    for (const Record& record : base_->records()) visit(record);
    for (const Record& record : added_records_) visit(record);
  }
  // Adds a record given as its element text at column 0.
  void Append(std::string_view kind, const std::string& element);
  const std::deque<std::string>& AddedIndented() const { return *added_; }
  // Responses hold views into the added records' texts: they keep this alive.
  std::shared_ptr<const void> AddedStorage() const { return added_wrapped_; }
  const Record& LastAdded() const { return added_records_.back(); }

  // The list record of one of the kinds with that ListID (exact) or full name (FullName, else Name; letter case
  // ignored), or nothing.
  std::optional<ListEntry> Find(const std::vector<std::string>& kinds, const std::string& listID,
                                const std::string& fullName);
  std::optional<ListEntry> FirstAccountOfType(const std::string& accountType);
  // The next transaction number: one past the highest hexadecimal prefix of the TxnIDs so far.
  uint64_t NextTxnNumber();

 private:
  const std::vector<ListEntry>& Index(const std::string& kind);

  std::shared_ptr<const Company> base_;
  std::shared_ptr<std::deque<std::string>> added_ = std::make_shared<std::deque<std::string>>();
  std::deque<std::string> added_kinds_;
  std::shared_ptr<std::deque<std::string>> added_wrapped_ = std::make_shared<std::deque<std::string>>();
  std::vector<std::shared_ptr<const platform::xml::ChildPlaces>> added_places_;
  std::vector<Record> added_records_;
  std::map<std::string, std::vector<ListEntry>> index_;
  std::optional<uint64_t> next_txn_;
};

// Query messages: true when the name is one; fills body and status.
bool IsQuery(const std::string& requestName);
Status HandleQuery(const std::string& requestName, const Node& request, Workspace& workspace, ResponseText& out);

// The transactions a time-tracking, bill or check query asks for, in the order QuickBooks answers them: the order of
// its TxnIDs, else file order; and whether it asked for their lines. An id the file does not hold gives status 500
// (a warning) and the others are still answered.
struct TxnSelection {
  std::vector<const Record*> records;
  bool lines = false;
};
Status SelectTransactions(const std::string& requestName, std::string_view recordKind, const Node& request,
                          Workspace& workspace, TxnSelection& selection);

// Add messages.
bool IsAdd(const std::string& requestName);
Status HandleAdd(const std::string& requestName, const Node& request, Workspace& workspace, ResponseText& out,
                 std::vector<AddedTransaction>& added);

// The qbXML date-time of now, in local time with its offset ("2024-05-01T10:15:30-05:00").
std::string QBDateTimeNow();

}  // namespace standins::quickbooks
