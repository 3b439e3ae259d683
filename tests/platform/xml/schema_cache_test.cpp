// Validating loads against cached XML schemas, their errors and positions.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/error.h"
#include "platform/xml/dom.h"
#include "platform/xml/schema_cache.h"

namespace platform::xml {
namespace {

constexpr const char* kSchema = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="QBXML">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="Count" type="xs:int" maxOccurs="unbounded"/>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

TEST(SchemaCacheTest, ValidDocumentLoadsAndKeepsItsTree) {
  SchemaCache cache;
  cache.AddText("", kSchema);
  EXPECT_EQ(cache.length(), 1u);
  EXPECT_TRUE(cache.Has(""));
  Document doc;
  doc.SetSchemas(cache);
  ASSERT_TRUE(
      doc.LoadXml("<?xml version=\"1.0\" encoding=\"utf-16\"?>\n<QBXML><Count>1</Count><Count>2</Count></QBXML>"))
      << doc.parseError().reason;
  EXPECT_EQ(doc.getElementsByTagName("Count").item(1).text(), "2");
}

TEST(SchemaCacheTest, InvalidDocumentReportsReasonAndPosition) {
  SchemaCache cache;
  cache.AddText("", kSchema);
  Document doc;
  doc.SetSchemas(cache);
  EXPECT_FALSE(doc.LoadXml("<QBXML>\n  <Count>1</Count>\n  <Count>many</Count>\n</QBXML>\n"));
  EXPECT_FALSE(doc.parsed());
  const ParseError& e = doc.parseError();
  EXPECT_NE(e.errorCode, 0);
  EXPECT_NE(e.reason.find("'many' is not a valid value"), std::string::npos) << e.reason;
  EXPECT_EQ(e.line, 3);
  EXPECT_GT(e.linepos, 0);
  EXPECT_EQ(e.srcText, "  <Count>many</Count>");

  EXPECT_FALSE(doc.LoadXml("<QBXML>\n  <Other/>\n</QBXML>"));
  EXPECT_NE(doc.parseError().reason.find("'Other'"), std::string::npos) << doc.parseError().reason;
  EXPECT_EQ(doc.parseError().line, 2);
  EXPECT_EQ(doc.parseError().linepos, 9);  // at the end of the offending tag

  EXPECT_FALSE(doc.LoadXml("<Unknown/>"));
  EXPECT_EQ(doc.parseError().line, 1);
  // Well-formedness errors still come first and keep their own position.
  EXPECT_FALSE(doc.LoadXml("<QBXML>\n<Count>1</Count"));
  EXPECT_EQ(doc.parseError().line, 2);

  doc.ClearSchemas();
  EXPECT_TRUE(doc.LoadXml("<Unknown/>"));
}

TEST(SchemaCacheTest, RootNamespacePicksTheSchema) {
  SchemaCache cache;
  cache.AddText("", kSchema);
  cache.AddText("urn:other", R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:other">
    <xs:element name="Other" type="xs:string"/></xs:schema>)");
  Document doc;
  doc.SetSchemas(cache);
  EXPECT_TRUE(doc.LoadXml("<o:Other xmlns:o=\"urn:other\">x</o:Other>")) << doc.parseError().reason;
  EXPECT_TRUE(doc.LoadXml("<QBXML><Count>3</Count></QBXML>")) << doc.parseError().reason;
  EXPECT_FALSE(doc.LoadXml("<Other xmlns=\"urn:third\"/>"));
  EXPECT_NE(doc.parseError().reason.find("urn:third"), std::string::npos) << doc.parseError().reason;
}

TEST(SchemaCacheTest, BadSchemasRaiseErrors) {
  SchemaCache cache;
  EXPECT_THROW(cache.AddText("", "<xs:schema"), kv::Error);
  try {
    cache.AddText("", R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
      <xs:element name="A" type="NoSuchType"/></xs:schema>)");
    ADD_FAILURE() << "an unresolvable type compiled";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find("NoSuchType"), std::string::npos) << e.description();
  }
  EXPECT_THROW(cache.AddText("urn:x", kSchema), kv::Error);  // the schema has no target namespace
  EXPECT_THROW(cache.AddFile("", "/nonexistent/schema.xsd"), kv::Error);
  EXPECT_THROW(cache.Add("", Document()), kv::Error);
  EXPECT_EQ(cache.length(), 0u);
}

TEST(SchemaCacheTest, FileSchemaWithRelativeIncludeAndDocumentSchema) {
  char dir[] = "/tmp/kv_xsd_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string base = dir;
  {
    std::ofstream(base + "/types.xsd") << R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
      <xs:simpleType name="Code"><xs:restriction base="xs:string"><xs:maxLength value="3"/></xs:restriction>
      </xs:simpleType></xs:schema>)";
  }
  {
    std::ofstream(base + "/main.xsd") << R"(<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
      <xs:include schemaLocation="types.xsd"/><xs:element name="C" type="Code"/></xs:schema>)";
  }
  SchemaCache cache;
  cache.AddFile("", base + "/main.xsd");
  Document doc;
  doc.SetSchemas(cache);
  EXPECT_TRUE(doc.LoadXml("<C>abc</C>")) << doc.parseError().reason;
  EXPECT_FALSE(doc.LoadXml("<C>abcd</C>"));

  // A loaded schema document can be added and still be used by its owner afterwards.
  Document schemaDoc;
  ASSERT_TRUE(schemaDoc.LoadXml(kSchema));
  SchemaCache second;
  second.Add("", schemaDoc);
  EXPECT_EQ(schemaDoc.documentElement().nodeName(), "xs:schema");
  std::filesystem::remove_all(dir);
}

TEST(SchemaCacheTest, ValidationOnSeveralThreads) {
  SchemaCache cache;
  cache.AddText("", kSchema);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        Document doc;
        doc.SetSchemas(cache);
        if (!doc.LoadXml("<QBXML><Count>" + std::to_string(i) + "</Count></QBXML>")) ++failures[t];
        if (doc.LoadXml("<QBXML><Count>x</Count></QBXML>") || doc.parseError().line != 1) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

constexpr const char* kNotesSchema = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:simpleType name="Short">
    <xs:restriction base="xs:string"><xs:maxLength value="4"/></xs:restriction>
  </xs:simpleType>
  <xs:element name="Set">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="Entry" maxOccurs="unbounded">
          <xs:complexType>
            <xs:sequence>
              <xs:element name="Name" type="Short"/>
              <xs:element name="Note" type="Short" minOccurs="0"/>
            </xs:sequence>
          </xs:complexType>
        </xs:element>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

TEST(SchemaCacheTest, ValidateReportsEveryViolationWithTheElementItConcerns) {
  SchemaCache cache;
  cache.AddText("", kNotesSchema);
  SchemaCheck fits = cache.Validate("", "<Set><Entry><Name>abcd</Name></Entry></Set>");
  EXPECT_TRUE(fits.Valid());

  // Two texts over their length (counted in characters, not bytes) and nothing else.
  SchemaCheck long_texts =
      cache.Validate("",
                     "<Set><Entry><Name>ab</Name></Entry><Entry><Name>\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9</Name>"
                     "<Note>abcde</Note></Entry></Set>");
  ASSERT_TRUE(long_texts.wellFormed);
  ASSERT_FALSE(long_texts.violations.empty());
  bool note_seen = false;
  for (const SchemaViolation& v : long_texts.violations) {
    if (!v.tooLong) continue;
    EXPECT_EQ(v.element, "Note");
    EXPECT_EQ(v.text, "abcde");
    EXPECT_EQ(v.path, (std::vector<size_t>{1, 1}));
    note_seen = true;
  }
  EXPECT_TRUE(note_seen);

  SchemaCheck out_of_order = cache.Validate("", "<Set><Entry><Note>a</Note><Name>b</Name></Entry></Set>");
  ASSERT_FALSE(out_of_order.violations.empty());
  EXPECT_FALSE(out_of_order.violations[0].tooLong);
  EXPECT_EQ(out_of_order.violations[0].element, "Note");
  EXPECT_EQ(out_of_order.violations[0].path, (std::vector<size_t>{0, 0}));

  SchemaCheck broken = cache.Validate("", "<Set><Entry>");
  EXPECT_FALSE(broken.wellFormed);
  EXPECT_FALSE(broken.parseError.empty());
  EXPECT_THROW(cache.Validate("urn:other", "<Set/>"), kv::Error);
}

}  // namespace
}  // namespace platform::xml
