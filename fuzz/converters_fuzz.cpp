// A qbXML response into every converter of the sync control, as the dispatcher runs them with every list
// ticked. Whatever the response holds, each upload must keep its form: an SQL upload reads back statement by
// statement into well-formed literals, a line upload has exactly the fields of its kind on every line, and
// nothing but ASCII reaches the service.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "sync_control/statement_stream.h"
#include "tests/support/sql/sql_script.h"

namespace {

using kvfuzz::Require;

// The fields of one line by its upload's options letter and its third field ("Expense" or "Item").
size_t ExpectedFields(const std::string& letter, const std::string& kind) {
  if (letter == "H") return 15;
  const size_t base = letter == "X" ? 17 : 16;  // a check line has one empty field more than a bill line
  return kind == "Item" ? base + 2 : base;
}

void CheckLines(const std::string& letter, const std::string& body) {
  if (body.empty()) return;
  Require(body.ends_with("\r\n"), "a line upload ends with CR LF", body);
  std::vector<std::string> lines = kvfuzz::SplitAll(body, "\r\n");
  lines.pop_back();
  for (const std::string& line : lines) {
    Require(line.find_first_of("\r\n") == std::string::npos, "no lone CR or LF inside a line", line);
    const std::vector<std::string> fields = kvfuzz::SplitAll(line, "|");
    if (letter != "H") {
      Require(fields.size() > 2 && (fields[2] == "Expense" || fields[2] == "Item"),
              "an expense line names its kind in field 3", line);
      Require(fields[1] == (letter == "X" ? "Check" : "Bill"), "an expense line names its transaction", line);
    }
    Require(fields.size() == ExpectedFields(letter, fields.size() > 2 ? fields[2] : ""),
            "a line has the field count of its kind", letter + ": " + line);
  }
}

void CheckStatements(const std::string& body) {
  std::vector<kv::test_support::sql::Statement> statements;
  try {
    statements = kv::test_support::sql::ParseScript(body);
  } catch (const kv::test_support::sql::ParseError& e) {
    kvfuzz::Fail("an SQL upload reads back into statements", std::string(e.what()) + "\n" + body);
  }
  for (const auto& s : statements) {
    if (s.has_insert) {
      Require(s.if_list_id == s.where_list_id, "the IF head and the WHERE clause name the same record", body);
    }
  }
}

void CheckUpload(const kvfuzz::InProcessService::Request& request) {
  const std::string letter = request.Query("options").value_or("");
  Require(request.post_data.has_value(), "an upload is a POST", request.url);
  const std::string& body = *request.post_data;
  for (const char c : body) {
    Require(static_cast<unsigned char>(c) < 128, "an upload holds ASCII only", body);
  }
  if (letter == "H" || letter == "X" || letter == "B") {
    CheckLines(letter, body);
  } else {
    Require(letter == "C" || letter == "G" || letter == "E" || letter == "P" || letter == "T" || letter == "V",
            "an upload names a known list", request.url);
    CheckStatements(body);
  }
}

void RunEveryConverter(const std::string& response) {
  using namespace brintavel;
  ResetModule();
  ResetRecordSets();
  auto ctl = std::make_unique<BrintavelCtl>(AllConverters());
  ctl->KVSecureServerURL = std::string(kvfuzz::InProcessService::kBaseUrl);
  ctl->SiteCode = "S1";
  ctl->SiteKey = "K1";
  ctl->KalvorUser = "syncuser";
  ctl->EmpLexicon = "Employee";
  ctl->CustLexicon = "Customer";
  ctl->ProjLexicon = "Project";
  ctl->objUploadStream = NewStatementStream();
  ModWizard& m = Module();
  // Old enough that every record with readable time stamps is sent.
  const kv::DateTime old = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
  m.CustomerLastSyncDate = m.VendorsLastSyncDate = m.EmployeeLastSyncDate = m.GLAccountsLastSyncDate = old;
  m.TasksLastSyncDate = m.ClassLastSyncDate = m.TimeLastSyncDate = m.ExpenseLastSyncDate = old;
  m.lngQBXMLVersion = kv::qb::QBXMLVersion::kUS2_0;
  m.bSyncCustomers = m.bSyncEmployees = m.bSyncVendors = m.bSyncGLAccounts = m.bSyncTasks = m.bSyncClasses = true;
  m.bSyncSalesReps = m.bSyncTime = m.bSyncExpense = true;
  m.sQBXMLResponse = response;
  ctl->ProcessQueryResponse();
  // The upload form's browser goes before the control and the module state it belongs to.
  ResetModule();
  ctl.reset();
  ResetRecordSets();
}

// The service's answer to the uploads and status reports. It follows the input's length, so that mutations also
// reach the converters' paths for an upload that found nothing to take or failed.
platform::web::fake::WebAnswer UploadAnswer(size_t input_size) {
  switch (input_size % 8) {
    case 5:
      return {200, "text/plain", "No data to upload. "};
    case 6:
      return {500, "text/plain", "SUCCESS"};
    case 7:
      return {200, "text/plain", "SUCCESS1"};  // some lines of the batch were not taken
    default:
      return {200, "text/plain", "SUCCESS"};
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::AnsweringUser user;
  const platform::web::fake::WebAnswer answer = UploadAnswer(size);
  kvfuzz::InProcessService service([&answer](const platform::web::fake::WebRequest&) { return answer; });
  RunEveryConverter(std::string(kvfuzz::AsText(data, size)));
  for (const auto& request : service.requests) {
    if (request.page == "brintavel.asp") CheckUpload(request);
  }
  return 0;
}
