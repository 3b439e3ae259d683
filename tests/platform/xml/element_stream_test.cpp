// The record stream: records found as getElementsByTagName finds them, read like their tree nodes, and nodes that
// outlive the stream and the text.

#include "platform/xml/element_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xml/dom.h"

namespace platform::xml {
namespace {

// Records of two names at several depths, one nested in another, and a look-alike with a prefix.
constexpr const char* kAnswer = R"(<?xml version="1.0" encoding="utf-16"?>
<?qbxml version="2.0"?>
<QBXML xmlns:q="urn:q">
  <QBXMLMsgsRs>
    <ItemQueryRs>
      <ItemServiceRet><ListID>S-1</ListID><Name>Caf&#xe9; &amp; Co</Name><Desc>Tom’s</Desc></ItemServiceRet>
      <ItemServiceRet><ListID>S-2</ListID>
        <Nested><ItemServiceRet><ListID>S-3</ListID></ItemServiceRet></Nested>
      </ItemServiceRet>
      <SalesTaxCodeRet><Name>Tax</Name></SalesTaxCodeRet>
      <q:ItemServiceRet><ListID>Q-1</ListID></q:ItemServiceRet>
    </ItemQueryRs>
    <Deep><Deeper><ItemServiceRet><ListID>S-4</ListID></ItemServiceRet></Deeper></Deep>
  </QBXMLMsgsRs>
</QBXML>
)";

std::vector<std::string> Walk(ElementStream& stream) {
  std::vector<std::string> seen;
  for (Node n = stream.Next(); n; n = stream.Next())
    seen.push_back(n.nodeName() + "=" + n.selectSingleNode("ListID").text());
  return seen;
}

std::vector<std::string> WalkDocument(std::string_view text, const std::vector<std::string>& names) {
  Document doc;
  EXPECT_TRUE(doc.LoadXml(text)) << doc.parseError().reason;
  std::vector<std::string> seen;
  NodeList all = doc.getElementsByTagName("*");
  for (size_t i = 0; i < all.length(); ++i) {
    const Node n = all.item(i);
    for (const std::string& name : names) {
      if (n.nodeName() == name) seen.push_back(n.nodeName() + "=" + n.selectSingleNode("ListID").text());
    }
  }
  return seen;
}

void ExpectSameError(const std::string& text) {
  Document doc;
  ASSERT_FALSE(doc.LoadXml(text)) << text.substr(0, 80);
  ElementStream stream(text, {"r"});
  EXPECT_FALSE(stream.Check());
  const ParseError& d = doc.parseError();
  const ParseError& s = stream.parseError();
  EXPECT_EQ(s.errorCode, d.errorCode) << d.reason;
  EXPECT_EQ(s.reason, d.reason);
  EXPECT_EQ(s.line, d.line) << d.reason;
  EXPECT_EQ(s.linepos, d.linepos) << d.reason;
  EXPECT_EQ(s.srcText, d.srcText);
  EXPECT_EQ(stream.Count("r"), 0u);
}

TEST(ElementStreamTest, FindsRecordsAsGetElementsByTagNameDoes) {
  const std::vector<std::string> names{"ItemServiceRet", "SalesTaxCodeRet", "q:ItemServiceRet"};
  ElementStream stream(kAnswer, names);
  ASSERT_TRUE(stream.Check()) << stream.parseError().reason;
  EXPECT_EQ(stream.Count("ItemServiceRet"), 4u);
  EXPECT_EQ(stream.Count("SalesTaxCodeRet"), 1u);
  EXPECT_EQ(stream.Count("q:ItemServiceRet"), 1u);
  EXPECT_EQ(stream.Count("Other"), 0u);

  // A nested record follows the one holding it, as in a document-order list of both.
  const std::vector<std::string> seen = Walk(stream);
  EXPECT_EQ(seen, WalkDocument(kAnswer, names));
  EXPECT_EQ(seen, (std::vector<std::string>{"ItemServiceRet=S-1", "ItemServiceRet=S-2", "ItemServiceRet=S-3",
                                            "SalesTaxCodeRet=", "q:ItemServiceRet=Q-1", "ItemServiceRet=S-4"}));
  EXPECT_FALSE(stream.failed());
  EXPECT_TRUE(stream.Next().IsNull());
}

TEST(ElementStreamTest, RecordsReadLikeTheirDocumentNodes) {
  ElementStream stream(kAnswer, {"ItemServiceRet"});
  const Node first = stream.Next();
  ASSERT_TRUE(first);
  // Entities decoded, declared encoding ignored for the UTF-8 text.
  EXPECT_EQ(first.selectSingleNode("Name").text(), "Caf\u00e9 & Co");
  EXPECT_EQ(first.selectSingleNode("Desc").text(), "Tom\u2019s");
  const Node second = stream.Next();
  // The nested record stays inside the one holding it.
  EXPECT_EQ(second.getElementsByTagName("ItemServiceRet").length(), 1u);
  EXPECT_EQ(second.selectSingleNode("Nested/ItemServiceRet/ListID").text(), "S-3");
}

TEST(ElementStreamTest, NodesOutliveTheStreamAndTheText) {
  Node kept;
  {
    std::string text = "<r><a><ListID>1</ListID><b>two</b></a><a><ListID>2</ListID></a></r>";
    ElementStream stream(text, {"a"});
    kept = stream.Next();
    const Node second = stream.Next();
    EXPECT_EQ(second.selectSingleNode("ListID").text(), "2");
    text.assign(text.size(), 'x');
  }
  EXPECT_EQ(kept.selectSingleNode("b").text(), "two");
  EXPECT_EQ(kept.xml(), "<a><ListID>1</ListID><b>two</b></a>");
}

TEST(ElementStreamTest, MalformedTextGivesTheLoadsErrorAndNoRecord) {
  ExpectSameError("<a>\r\n  <b></a>\r\n");
  ExpectSameError("");
  ExpectSameError("<r><n>1</n>");
  ExpectSameError("<r/><r/>");
  ExpectSameError("<r>\xff\xfe</r>");
  ExpectSameError("<r>&undeclared;</r>");

  // Errors far past the first pieces the parser is handed, after many good records.
  std::string records = "<?xml version=\"1.0\"?>\n<QBXML>\n";
  for (int i = 0; i < 3000; ++i) records += "  <r><ListID>" + std::to_string(i) + "</ListID></r>\n";
  ExpectSameError(records + "  <r><ListID>x</List></r>\n</QBXML>\n");
  ExpectSameError(records + "  <r a=\"1\" a=\"2\"/>\n</QBXML>\n");
  ExpectSameError(records);

  // The walk alone stops at the error and says so, after the records before it.
  const std::string broken = records + "  <r><ListID>x</List></r>\n</QBXML>\n";
  ElementStream stream(broken, {"r"});
  size_t yielded = 0;
  while (stream.Next()) ++yielded;
  EXPECT_TRUE(stream.failed());
  EXPECT_LE(yielded, 3001u);
  EXPECT_FALSE(stream.parseError().reason.empty());
  EXPECT_TRUE(stream.Next().IsNull());
}

TEST(ElementStreamTest, EntitiesAreRefusedAsTheDocumentRefusesThem) {
  std::string bomb = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    bomb += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) bomb += "&l" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  bomb += "]><r>&l9;</r>";
  Document doc;
  if (!doc.LoadXml(bomb)) {
    ExpectSameError(bomb);
  } else {
    ElementStream stream(bomb, {"r"});
    EXPECT_TRUE(stream.Check());
    EXPECT_LT(stream.Next().text().size(), 1u << 20);
  }

  // External entities are never read; internal ones still read as their text.
  const std::string text =
      "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\"><!ENTITY y \"inner\">]>"
      "<r><a>&x;|&y;</a></r>";
  ElementStream stream(text, {"a"});
  ASSERT_TRUE(stream.Check()) << stream.parseError().reason;
  EXPECT_EQ(stream.Count("a"), 1u);
  EXPECT_EQ(stream.Next().text(), "|inner");

  // An entity holding markup reads as its character data, as in the document, in every record that uses it.
  const std::string markup =
      "<!DOCTYPE r [<!ENTITY m \"<b>x</b>y\"><!ENTITY n \"[&m;]\">]><r><a>1&m;2</a><a>&n;</a></r>";
  ElementStream records(markup, {"a"});
  EXPECT_EQ(records.Next().text(), "1xy2");
  EXPECT_EQ(records.Next().text(), "[xy]");
  EXPECT_EQ(WalkDocument(markup, {"a"}).size(), 2u);
}

// Texts a load takes although a stricter reader would not; the walk must take them too, or a lookup that walks
// without a check would drop what a load keeps.
TEST(ElementStreamTest, WalksWhatALoadTakes) {
  using namespace std::string_literals;
  for (const std::string& text : {"<r><a>1</a><a>2</a></r>\0\0<a<>junk"s, "<r><b:/><a>1</a></r>"s}) {
    Document doc;
    ASSERT_TRUE(doc.LoadXml(text));
    ElementStream stream(text, {"a"});
    EXPECT_TRUE(stream.Check());
    std::vector<std::string> texts;
    for (Node n = stream.Next(); n; n = stream.Next()) texts.push_back(n.text());
    EXPECT_FALSE(stream.failed()) << stream.parseError().reason;
    EXPECT_EQ(texts.size(), doc.getElementsByTagName("a").length());
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "1");
  }
}

TEST(ElementStreamTest, DeepNestingOutsideHugeModeFailsAsTheLoadDoes) {
  // A text that declares entities is parsed without huge mode, whose depth limit then applies to both.
  std::string deep = "<!DOCTYPE d [<!ENTITY e \"x\">]>";
  for (int i = 0; i < 300; ++i) deep += "<d>";
  for (int i = 0; i < 300; ++i) deep += "</d>";
  ExpectSameError(deep);
}

}  // namespace
}  // namespace platform::xml
