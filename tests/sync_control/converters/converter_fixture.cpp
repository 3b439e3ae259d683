// The converter tests' shared control, service stand-in and response builders (see converter_fixture.h).

#include "tests/sync_control/converters/converter_fixture.h"

#include "platform/base/text.h"
#include "platform/xml/escape.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "sync_control/statement_stream.h"

namespace brintavel::testing {

Record& Record::Set(std::string name, std::string text) {
  for (auto& child : children) {
    if (child.first == name) {
      child.second = std::move(text);
      return *this;
    }
  }
  children.emplace_back(std::move(name), std::move(text));
  return *this;
}

Record& Record::Remove(const std::string& name) {
  std::erase_if(children, [&](const auto& child) { return child.first == name; });
  return *this;
}

std::string ChildText(const Record& r, std::string_view name) {
  for (const auto& [n, text] : r.children) {
    if (n == name) return text;
  }
  return {};
}

std::string Sent(std::string_view text, size_t width) {
  const std::string_view cut = width == 0 ? text : kv::LeftChars(text, width);
  std::string out;
  for (const char ch : cut) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else if ((c & 0xC0) != 0x80) {
      out += '?';
    }
  }
  return out;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += (out.empty() ? "" : ",") + piece;
  return out;
}

std::string XmlEscape(std::string_view text) {
  return platform::xml::Escaped(text, {.quote = true, .apostrophe = true});
}

std::string Response(const std::vector<Record>& records) {
  std::string out = "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n";
  out += "<ListQueryRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n";
  for (const Record& record : records) {
    out += "<" + record.element + ">\r\n";
    for (const auto& [name, text] : record.children) out += "<" + name + ">" + XmlEscape(text) + "</" + name + ">\r\n";
    out += "</" + record.element + ">\r\n";
  }
  out += "</ListQueryRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
  return out;
}

void ConverterTest::SetUp() {
  ResetModule();
  ResetRecordSets();
  service = std::make_unique<kv::test::ServiceStandinProcess>();
  ui = std::make_unique<kvtest::ScriptedUi>();
  ctl = std::make_unique<BrintavelCtl>(AllConverters());
  ctl->KVSecureServerURL = service->BaseUrl();
  ctl->SiteCode = "S1";
  ctl->SiteKey = "K1";
  ctl->KalvorUser = "syncuser";
  ctl->EmpLexicon = "Employee";
  ctl->objUploadStream = NewStatementStream();
  // Old enough that every record of the tests passes unless a test says otherwise.
  ModWizard& m = Module();
  m.EmployeeLastSyncDate = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
  m.GLAccountsLastSyncDate = m.EmployeeLastSyncDate;
  m.ClassLastSyncDate = m.EmployeeLastSyncDate;
}

void ConverterTest::TearDown() {
  // The upload form's browser keeps its connection to the stand-in open; it goes first so the stand-in can stop
  // at once.
  ResetModule();
  ResetRecordSets();
  ctl.reset();
  ui.reset();
  service.reset();
}

std::vector<kv::test::ReceivedRequest> ConverterTest::Requests(std::string_view page) const {
  std::vector<kv::test::ReceivedRequest> out;
  for (auto& request : service->Received()) {
    if (request.Page() == page) out.push_back(std::move(request));
  }
  return out;
}

std::vector<kv::test_support::sql::Statement> ConverterTest::AllStatements() const {
  std::string script;
  for (const auto& upload : Uploads()) script += upload.body;
  return kv::test_support::sql::ParseScript(script);
}

}  // namespace brintavel::testing
