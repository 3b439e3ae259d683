// Answering a request message set against a company file: the queries, the adds, the status checks.

#include "standins/quickbooks/request_handler.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <optional>
#include <sstream>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/qb/qb_errors.h"
#include "platform/xml/escape.h"
#include "standins/quickbooks/handlers.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "standins/quickbooks/state.h"

namespace standins::quickbooks {

using platform::xml::EscapeXmlAttribute;

// ---------------------------------------------------------------- ResponseText

void ResponseText::Add(std::string text) {
  owned_.push_back(std::move(text));
  pieces_.push_back(owned_.back());
}

size_t ResponseText::Placeholder() {
  pieces_.emplace_back();
  return pieces_.size() - 1;
}

void ResponseText::Fill(size_t placeholder, std::string text) {
  owned_.push_back(std::move(text));
  pieces_[placeholder] = owned_.back();
}

size_t ResponseText::Size() const {
  size_t size = 0;
  for (std::string_view piece : pieces_) size += piece.size();
  return size;
}

std::string ResponseText::Join() const {
  std::string text;
  text.reserve(Size());
  for (std::string_view piece : pieces_) text.append(piece);
  return text;
}

// ---------------------------------------------------------------- request elements

std::vector<Node> ElementChildren(const Node& element) {
  std::vector<Node> children;
  const platform::xml::NodeList list = element.selectNodes("*");
  children.reserve(list.length());
  for (size_t i = 0; i < list.length(); ++i) children.push_back(list.item(i));
  return children;
}

std::optional<std::string> AttributeOf(const Node& element, std::string_view name) {
  if (!element.hasAttribute(name)) return std::nullopt;
  return element.getAttribute(name);
}

// ---------------------------------------------------------------- Workspace

void Workspace::Append(std::string_view kind, const std::string& element) {
  added_->push_back(IndentRecord(element));
  added_kinds_.emplace_back(kind);
  // Read as the company file's records are read: a child of a root, placed by the parser.
  // The record as it stands in the file, indentation and all, so an answer shows it as the file does.
  added_wrapped_->push_back("<r>" + added_->back() + "</r>");
  std::string_view wrapped = added_wrapped_->back();
  added_places_.push_back(PlaceRecord(wrapped));
  const platform::xml::ChildPlaces::Span span = added_places_.back()->children()[0].span;
  added_records_.push_back({added_kinds_.back(), wrapped.substr(span.start, span.length),
                            wrapped.substr(3, span.start - 3), added_places_.back().get(), 0});
}

const std::vector<ListEntry>& Workspace::Index(const std::string& kind) {
  auto found = index_.find(kind);
  if (found != index_.end()) return found->second;
  std::vector<ListEntry>& entries = index_[kind];
  ForEach([&](const Record& record) {
    if (record.kind != kind) return;
    ListEntry entry;
    entry.kind = kind;
    entry.listID = FieldText(record, "ListID").value_or("");
    std::optional<std::string_view> fullName = FieldText(record, "FullName");
    entry.fullName = fullName ? *fullName : FieldText(record, "Name").value_or("");
    if (kind == "AccountRet") entry.accountType = FieldText(record, "AccountType").value_or("");
    entries.push_back(std::move(entry));
  });
  return entries;
}

std::optional<ListEntry> Workspace::Find(const std::vector<std::string>& kinds, const std::string& listID,
                                         const std::string& fullName) {
  for (const std::string& kind : kinds) {
    for (const ListEntry& entry : Index(kind)) {
      bool match = !listID.empty() ? entry.listID == listID : kv::EqualsIgnoreCase(entry.fullName, fullName);
      if (match) return entry;
    }
  }
  return std::nullopt;
}

std::optional<ListEntry> Workspace::FirstAccountOfType(const std::string& accountType) {
  for (const ListEntry& entry : Index("AccountRet")) {
    if (entry.accountType == accountType) return entry;
  }
  return std::nullopt;
}

uint64_t Workspace::NextTxnNumber() {
  if (!next_txn_) {
    uint64_t highest = 0;
    ForEach([&](const Record& record) {
      std::optional<std::string_view> id = FieldText(record, "TxnID");
      if (!id) return;
      uint64_t number = 0;
      std::string_view prefix = id->substr(0, id->find('-'));
      auto [end, ec] = std::from_chars(prefix.data(), prefix.data() + prefix.size(), number, 16);
      if (ec == std::errc() && end == prefix.data() + prefix.size() && number > highest) highest = number;
    });
    next_txn_ = highest + 1;
  }
  return (*next_txn_)++;
}

// ---------------------------------------------------------------- request sets

std::string QBDateTimeNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char text[96];
  long offset = local.tm_gmtoff / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, sign, offset / 60, offset % 60);
  return text;
}

namespace {

std::string ResponseName(const std::string& requestName) {
  if (requestName.size() > 2 && requestName.ends_with("Rq"))
    return requestName.substr(0, requestName.size() - 2) + "Rs";
  return requestName + "Rs";
}

std::string StatusTag(const std::string& name, const std::optional<std::string>& requestID, const Status& status,
                      bool empty) {
  std::string tag = "<" + name;
  if (requestID) tag += " requestID=\"" + EscapeXmlAttribute(*requestID) + "\"";
  tag += " statusCode=\"" + std::to_string(status.code) + "\" statusSeverity=\"" + status.severity +
         "\" statusMessage=\"" + EscapeXmlAttribute(status.message) + "\"";
  tag += empty ? " />\n" : ">\n";
  return tag;
}

[[noreturn]] void NotARequest(const std::string& why) {
  throw kv::Error(platform::qb::kErrRequestNotXml, std::string(kParseErrorText) + " " + why);
}

std::shared_ptr<const Company> LoadOrRaise(const std::filesystem::path& path) {
  try {
    return LoadCompanyCached(path);
  } catch (const std::exception& e) {
    throw kv::Error(platform::qb::kErrCannotOpenFile, std::string("Could not open the company file: ") + e.what());
  }
}

// The error status of an add the faults file tells to fail.
std::optional<Status> ScriptedAddFailure(const std::string& requestName, bool& answer_lost) {
  const std::optional<std::string> fault = TakeFault("add");
  if (fault == "lose") answer_lost = true;
  if (fault == "hold") {
    HoldWhile(AddHeldMarker());
    return std::nullopt;
  }
  if (!fault || !fault->starts_with("fail")) return std::nullopt;
  int code = kStatusCouldNotSave;
  std::istringstream words(fault->substr(4));
  words >> code;
  const std::string kind = requestName.substr(0, requestName.size() - std::string_view("AddRq").size());
  return Status::Error(code, "There was an error when saving a " + kind +
                                 ". QuickBooks error message: the stand-in was told to fail this add.");
}

// Writes the company file with the records the request set added (and the kept message set, when there is one
// to keep) in one replace, without the dropped record.
void WriteCompany(const std::filesystem::path& companyPath, const Workspace& workspace, const std::string* keep,
                  const Record* dropped) {
  std::vector<std::string> records(workspace.AddedIndented().begin(), workspace.AddedIndented().end());
  if (keep != nullptr) records.push_back(*keep);
  try {
    std::string encoded;
    WriteFileAtomically(CompanyFileBehindLinks(companyPath),
                        workspace.base().Encoded(workspace.base().WithRecordsAppended(records, dropped), encoded));
  } catch (const std::exception& e) {
    throw kv::Error(platform::qb::kErrCannotOpenFile,
                    std::string("QuickBooks could not save the company file: ") + e.what());
  }
}

// The message set of a request and its attributes, as QuickBooks reads them before doing anything.
struct MessageSet {
  std::string onError;
  std::vector<Node> messages;
  std::optional<std::string> newID;
  std::optional<std::string> oldID;
  bool clearAll = false;
};

MessageSet ReadMessageSet(platform::xml::Document& document, const QBXMLRequestText& text) {
  if (!document.LoadXml(text.text)) {
    const platform::xml::ParseError& error = document.parseError();
    NotARequest(error.reason + (error.line > 0 ? " (line " + std::to_string(error.line) + ")" : ""));
  }
  Node root = document.documentElement();
  if (root.nodeName() != "QBXML") NotARequest("the root element is <" + root.nodeName() + ">, not <QBXML>.");
  Node set = root.selectSingleNode("QBXMLMsgsRq");
  if (!set) NotARequest("<QBXML> holds no <QBXMLMsgsRq> message set.");
  MessageSet read;
  read.onError = AttributeOf(set, "onError").value_or("stopOnError");
  if (read.onError != "continueOnError" && read.onError != "stopOnError") {
    NotARequest("onError=\"" + read.onError + "\" is not supported; use continueOnError or stopOnError.");
  }
  read.messages = ElementChildren(set);
  read.newID = AttributeOf(set, "newMessageSetID");
  read.oldID = AttributeOf(set, "oldMessageSetID");
  read.clearAll = read.oldID == kClearAllMessageSets;
  return read;
}

// A writer holds the file's lock from reading it to replacing it, so no other writer's record is lost; a status
// check holds it too, so it answers only once the message set it asks about is written or given up.
platform::os::FileLock LockForWriting(const std::filesystem::path& companyPath, const MessageSet& set) {
  bool adds = set.newID || set.oldID;
  for (const Node& message : set.messages) adds = adds || IsAdd(message.nodeName());
  platform::os::FileLock lock;
  if (!adds) return lock;
  try {
    lock = LockCompanyFile(companyPath);
  } catch (const std::exception& e) {
    throw kv::Error(platform::qb::kErrCannotOpenFile, std::string("Could not open the company file: ") + e.what());
  }
  RemoveLeftoverTemporaries(companyPath);
  return lock;
}

// Answers a status check or a clear that needs no processing; false when the message set is to be processed.
bool AnswerFromKeptState(const std::filesystem::path& companyPath, const MessageSet& set, const Workspace& workspace,
                         const std::optional<KeptMessageSet>& kept, ResponseText& out) {
  if (set.oldID && !set.clearAll) {
    if (kept && kept->messageSetID == *set.oldID) {
      // Processed before: its answer again, and nothing of this message set is done twice.
      out.Add(kept->response.empty() ? MessageSetStatusResponse(kMessageSetNoStoredResponse) : kept->response);
      return true;
    }
    if (set.messages.empty()) {
      out.Add(MessageSetStatusResponse(kMessageSetNotKept));
      return true;
    }
  }
  if (set.clearAll && set.messages.empty() && !set.newID) {
    if (kept) WriteCompany(companyPath, workspace, nullptr, kept->record);
    out.Add(MessageSetStatusResponse(kMessageSetProcessed));
    return true;
  }
  return false;
}

Status HandleMessage(const Node& message, const std::optional<TooLongText>& overLength, Workspace& workspace,
                     ResponseText& out, RequestResult& result) {
  const std::string name = message.nodeName();
  if (overLength)
    return Status::Error(kStatusStringTooLong, StringTooLongMessage(overLength->value, overLength->field));
  if (IsQuery(name)) return HandleQuery(name, message, workspace, out);
  if (IsAdd(name)) {
    Status status = ScriptedAddFailure(name, result.answer_lost).value_or(Status{});
    return status.IsError() ? status : HandleAdd(name, message, workspace, out, result.added);
  }
  return Status::Error(kStatusUnsupported, "The request " + name + " is not supported by QuickBooks.");
}

}  // namespace

RequestResult HandleQBXMLRequest(const std::filesystem::path& companyPath, std::string_view request,
                                 const Application& application) {
  const QBXMLRequestText text = ReadQBXMLRequest(request);
  const std::vector<TooLongText> tooLong = CheckQBXMLRequest(text, LoadOrRaise(companyPath)->versions());
  platform::xml::Document document;
  const MessageSet set = ReadMessageSet(document, text);

  RequestResult result;
  ResponseText& out = result.response;
  if ((set.newID && set.newID->size() > kMaxMessageSetID) ||
      (set.oldID && !set.clearAll && set.oldID->size() > kMaxMessageSetID)) {
    out.Add(MessageSetStatusResponse(kMessageSetIDTooLong));
    return result;
  }
  const platform::os::FileLock lock = LockForWriting(companyPath, set);
  Workspace workspace(LoadOrRaise(companyPath));
  std::optional<KeptMessageSet> kept;
  if (set.newID || set.oldID) kept = FindKeptMessageSet(workspace.base(), application);
  if (AnswerFromKeptState(companyPath, set, workspace, kept, out)) return result;

  out.KeepAlive(workspace.shared_base());
  out.KeepAlive(workspace.AddedStorage());
  std::string setTag = "<QBXMLMsgsRs";
  if (set.newID) setTag += " newMessageSetID=\"" + EscapeXmlAttribute(*set.newID) + "\"";
  if (set.newID || set.oldID) setTag += " messageSetStatusCode=\"" + std::to_string(kMessageSetProcessed) + "\"";
  out.Add("<?xml version=\"1.0\" ?>\n<QBXML>\n" + setTag + ">\n");
  for (size_t position = 0; position < set.messages.size(); ++position) {
    const Node& message = set.messages[position];
    const std::string responseName = ResponseName(message.nodeName());
    const size_t tag = out.Placeholder();
    const size_t before = out.Pieces().size();
    const auto overLength =
        std::find_if(tooLong.begin(), tooLong.end(), [&](const TooLongText& text) { return text.message == position; });
    const Status status =
        HandleMessage(message, overLength == tooLong.end() ? std::nullopt : std::optional<TooLongText>(*overLength),
                      workspace, out, result);
    const bool empty = out.Pieces().size() == before;
    out.Fill(tag, StatusTag(responseName, AttributeOf(message, "requestID"), status, empty));
    if (!empty) out.Add("</" + responseName + ">\n");
    if (status.IsError() && set.onError == "stopOnError") break;
  }
  out.Add("</QBXMLMsgsRs>\n</QBXML>\n");

  const bool dropKept = set.clearAll && kept;
  if (!workspace.AddedIndented().empty() || set.newID || dropKept) {
    std::optional<std::string> keep;
    if (set.newID) keep = IndentRecord(KeptMessageSetElement(application, *set.newID, out.Join()));
    // The application's earlier message set is replaced by this one, or cleared.
    WriteCompany(companyPath, workspace, keep ? &*keep : nullptr,
                 kept && (set.newID || dropKept) ? kept->record : nullptr);
    JournalAddedTransactions(companyPath, result.added);
  }
  return result;
}

void JournalAddedTransactions(const std::filesystem::path& companyPath, const std::vector<AddedTransaction>& added) {
  if (added.empty()) return;
  std::string lines;
  for (const AddedTransaction& transaction : added) {
    lines += companyPath.string() + "\t" + transaction.kind + "\t" + transaction.txnID + "\n";
  }
  try {
    std::filesystem::path journal = EnsureStateDir() / "added-transactions";
    int fd = OpenPrivate(journal, O_WRONLY | O_APPEND);
    if (fd < 0) return;
    // One write with O_APPEND: lines of concurrent writers never interleave.
    ssize_t written = write(fd, lines.data(), lines.size());
    (void)written;
    close(fd);
  } catch (const std::exception&) {
    // The journal only serves the listing of added transactions; the records themselves are saved.
  }
}

}  // namespace standins::quickbooks
