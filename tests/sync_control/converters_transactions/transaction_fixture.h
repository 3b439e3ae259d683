#pragma once

// qbXML records with nested references for the vendor, time and expense converter tests, and the "|" lines the
// service stand-in received read back into fields.

#include <string>
#include <string_view>
#include <vector>

#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {

// <name>text</name>, the text escaped (a CR as a character reference).
std::string Leaf(std::string_view name, std::string_view text);
// <name>inner</name>, inner as it is.
std::string Node(std::string_view name, std::string_view inner);
// A reference: <name><ListID>id</ListID><FullName>full</FullName></name>; an empty id or name is left out.
std::string Ref(std::string_view name, std::string_view list_id, std::string_view full_name = "");
// The records inside a query response as QuickBooks sends it.
std::string QueryResponse(std::string_view records);

// The lines of a body; every line must end with CR LF (a body that does not fails the test).
std::vector<std::string> Lines(const std::string& body);
std::vector<std::string> Fields(const std::string& line);

class TransactionTest : public ConverterTest {
 protected:
  void SetUp() override;

  // Every line of every upload, in order.
  std::vector<std::string> AllLines() const;
  // The number of lines of each upload, and its options letter.
  std::vector<std::string> UploadShape() const;
};

}  // namespace brintavel::testing
