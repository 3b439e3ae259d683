#pragma once

// The stand-in's answer to one qbXML request document, and the response text built without copying the
// company file's records.

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "standins/quickbooks/error_recovery.h"
#include "standins/quickbooks/qbxml_status.h"

namespace standins::quickbooks {

// A response built from pieces: texts of its own and views into a company file's text (kept alive with it),
// so an answer of hundreds of megabytes is never copied before it is sent.
class ResponseText {
 public:
  void Add(std::string text);
  void AddView(std::string_view view) { pieces_.push_back(view); }
  // A place for a text that is known only later (a status tag written after its records).
  size_t Placeholder();
  void Fill(size_t placeholder, std::string text);
  void KeepAlive(std::shared_ptr<const void> owner) { owners_.push_back(std::move(owner)); }

  const std::vector<std::string_view>& Pieces() const { return pieces_; }
  size_t Size() const;
  std::string Join() const;

 private:
  std::deque<std::string> owned_;
  std::vector<std::string_view> pieces_;
  std::vector<std::shared_ptr<const void>> owners_;
};

struct AddedTransaction {
  std::string kind;  // "TimeTracking", "Bill", "Check"
  std::string txnID;
};

struct RequestResult {
  ResponseText response;
  std::vector<AddedTransaction> added;
  // A scripted fault saved an add and wants its answer lost: the connection breaks instead of answering.
  bool answer_lost = false;
};

// Answers a qbXML request message set (QBXML/QBXMLMsgsRq) against a company file: the queries of the lists
// (ActiveStatus, MaxReturned), those of time tracking, bills and checks (TxnIDs, or MaxReturned, a date range and
// the entity filter; IncludeLineItems) and the adds TimeTrackingAddRq, BillAddRq and CheckAddRq.
// Every message gets its ...Rs with requestID echoed and a status; onError="stopOnError" stops after the first
// error status. Adds are written to the company file under its lock, re-read under that lock, so that
// concurrent writers never lose each other's records.
// The document is first checked against the message set of the version its header names (qbxml_schema.h): a
// message with a text over its field's length gets status 3070 and is not read.
// Error recovery, for the application that sent the request: a message set with newMessageSetID keeps its
// response in the company file (replacing the application's earlier one); oldMessageSetID asks for the kept
// response of that id (messageSetStatusCode 600 when there is none, and the message set's own requests are then
// processed); oldMessageSetID="ClearAllMessageSets" drops it. An id over 23 characters is answered 9004 and
// nothing is processed. The kept state is read and written under the company file's lock, so a status check
// waits for the message set it asks about.
// Raises kv::Error: kErrRequestNotXml when the text is not a qbXML request QuickBooks takes (no or an unknown
// version, or a document that does not fit its message set), kErrCannotOpenFile when the company file cannot be
// read or written.
RequestResult HandleQBXMLRequest(const std::filesystem::path& companyPath, std::string_view request,
                                 const Application& application = {});

// Appends the transactions to the state directory's record of adds (for "qb-standin txns").
void JournalAddedTransactions(const std::filesystem::path& companyPath, const std::vector<AddedTransaction>& added);

}  // namespace standins::quickbooks
