// qbXML records and the received "|" lines for the vendor, time and expense converter tests (see
// transaction_fixture.h).

#include "tests/sync_control/converters_transactions/transaction_fixture.h"

#include "platform/base/text.h"
#include "platform/xml/escape.h"
#include "sync_control/module_state.h"

namespace brintavel::testing {

std::string Node(std::string_view name, std::string_view inner) {
  std::string node;
  node.append("<").append(name).append(">").append(inner).append("</").append(name).append(">");
  return node;
}

std::string Leaf(std::string_view name, std::string_view text) {
  // A CR written as it is would reach the converter as LF (XML's line-end rule); QuickBooks writes it as a
  // character reference.
  return Node(name, platform::xml::Escaped(text, {.quote = true, .apostrophe = true, .carriage_return = true}));
}

std::string Ref(std::string_view name, std::string_view list_id, std::string_view full_name) {
  std::string inner;
  if (!list_id.empty()) inner += Leaf("ListID", list_id);
  if (!full_name.empty()) inner += Leaf("FullName", full_name);
  return Node(name, inner);
}

std::string QueryResponse(std::string_view records) {
  return "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\r\n"
         "<TxnQueryRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n" +
         std::string(records) + "\r\n</TxnQueryRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
}

std::vector<std::string> Lines(const std::string& body) {
  std::vector<std::string> lines;
  if (body.empty()) return lines;
  EXPECT_TRUE(body.ends_with("\r\n")) << "body does not end with CR LF";
  lines = kv::Split(body, "\r\n");
  lines.pop_back();
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "a lone CR or LF inside a line";
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  return kv::Split(line, "|");
}

void TransactionTest::SetUp() {
  ConverterTest::SetUp();
  ModWizard& m = Module();
  m.VendorsLastSyncDate = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
  m.TimeLastSyncDate = m.VendorsLastSyncDate;
  m.ExpenseLastSyncDate = m.VendorsLastSyncDate;
  m.lngQBXMLVersion = kv::qb::QBXMLVersion::kUS2_0;
}

std::vector<std::string> TransactionTest::AllLines() const {
  std::vector<std::string> out;
  for (const auto& upload : Uploads()) {
    for (std::string& line : Lines(upload.body)) out.push_back(std::move(line));
  }
  return out;
}

std::vector<std::string> TransactionTest::UploadShape() const {
  std::vector<std::string> out;
  for (const auto& upload : Uploads()) {
    out.push_back(upload.QueryValue("options") + " " + std::to_string(Lines(upload.body).size()));
  }
  return out;
}

}  // namespace brintavel::testing
