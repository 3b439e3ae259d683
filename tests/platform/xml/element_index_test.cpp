// The response index: one parse that notes where every list's records stand, in document order, read back from
// their places as the tree reads them, entities included, in place or piece by piece.

#include "platform/xml/element_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_stream.h"

namespace platform::xml {
namespace {

// Records of every kind a sync reads, kinds interleaved, with the same names nested inside records (line items
// inside bills, a customer inside a customer), entities, character references and CDATA; long enough for the
// places of its records to stay within a twentieth of the text.
std::string EveryList() {
  std::string text = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n";
  const std::string padding(400, ' ');
  const char* kinds[] = {"EmployeeRet", "CustomerRet", "VendorRet", "AccountRet",      "ItemServiceRet",
                         "ClassRet",    "BillRet",     "CheckRet",  "TimeTrackingRet", "SalesTaxCodeRet"};
  for (int round = 0; round < 3; ++round) {
    for (const std::string kind : kinds) {
      const std::string id = kind.substr(0, 2).append(std::to_string(round));
      text.append("<").append(kind).append("><ListID>").append(id);
      text += "</ListID><Name>A &amp; B &#233; <![CDATA[<raw>]]></Name>";
      if (kind == "BillRet") {
        text += "<ItemLineRet><ListID>line-" + id + "</ListID><ItemLineRet><ListID>inner-" + id +
                "</ListID></ItemLineRet></ItemLineRet>";
      }
      if (kind == "CustomerRet" && round == 1) {
        text += "<Nested><CustomerRet><ListID>nested-" + id + "</ListID></CustomerRet></Nested>";
      }
      text.append("<!-- ").append(padding).append(" --></").append(kind).append(">\n");
    }
  }
  return text + "</QBXMLMsgsRs>\n</QBXML>\n";
}

std::vector<std::string> ListIds(ElementStream& stream) {
  std::vector<std::string> ids;
  for (Node n = stream.Next(); n; n = stream.Next()) ids.push_back(n.selectSingleNode("ListID").text());
  return ids;
}

// What a load of the whole text finds, in document order.
std::vector<std::string> DocumentListIds(const std::string& text, const std::string& name) {
  Document doc;
  EXPECT_TRUE(doc.LoadXml(text)) << doc.parseError().reason;
  std::vector<std::string> ids;
  const NodeList all = doc.getElementsByTagName(name);
  for (size_t i = 0; i < all.length(); ++i) ids.push_back(all.item(i).selectSingleNode("ListID").text());
  return ids;
}

TEST(ElementIndexTest, OneParseFindsEveryListsRecordsInDocumentOrder) {
  const std::string text = EveryList();
  const std::vector<std::string> names{"EmployeeRet", "CustomerRet", "BillRet", "ItemLineRet", "SalesTaxCodeRet"};
  const ElementIndex index(text, names);
  ASSERT_TRUE(index.parsed()) << index.parseError().reason;
  ASSERT_TRUE(index.positioned());
  EXPECT_LE(index.PositionBytes(), text.size() / 20);
  EXPECT_EQ(index.Count("EmployeeRet"), 3u);
  EXPECT_EQ(index.Count("CustomerRet"), 4u);  // one nested in another
  EXPECT_EQ(index.Count("ItemLineRet"), 6u);  // a line and the line inside it, per bill
  EXPECT_EQ(index.Count("VendorRet"), 0u);    // not asked for

  // Each place holds exactly its element's markup.
  for (const ElementIndex::Span& span : index.Spans("BillRet")) {
    const std::string_view markup = std::string_view(text).substr(span.start, span.length);
    EXPECT_EQ(markup.substr(0, 9), "<BillRet>");
    EXPECT_EQ(markup.substr(markup.size() - 10), "</BillRet>");
  }
  for (const std::string& name : names) {
    ElementStream stream(index, {name});
    EXPECT_TRUE(stream.parsed());
    EXPECT_EQ(stream.Count(name), index.Count(name));
    EXPECT_EQ(ListIds(stream), DocumentListIds(text, name)) << name;
  }
  // Several names at once come in document order too, the nested customer after the one holding it.
  ElementStream both(index, {"CustomerRet", "EmployeeRet"});
  const std::vector<std::string> ids = ListIds(both);
  EXPECT_EQ(ids, (std::vector<std::string>{"Em0", "Cu0", "Em1", "Cu1", "nested-Cu1", "Em2", "Cu2"}));
}

TEST(ElementIndexTest, RecordsReadFromTheirPlacesReadAsInTheDocument) {
  const std::string text = EveryList();
  const ElementIndex index(text, {"CustomerRet"});
  ASSERT_TRUE(index.positioned());
  ElementStream stream(index, {"CustomerRet"});
  const Node first = stream.Next();
  EXPECT_EQ(first.selectSingleNode("Name").text(), "A & B \u00e9 <raw>");
  EXPECT_TRUE(first.parentNode().nodeType() == NodeType::kDocument);
  const Node second = stream.Next();
  EXPECT_EQ(second.selectSingleNode("Nested/CustomerRet/ListID").text(), "nested-Cu1");
}

TEST(ElementIndexTest, DeclaredEntitiesReadInEveryRecord) {
  std::string text = "<!DOCTYPE r [<!ENTITY co \"Smith &amp; Sons\"><!ENTITY m \"<b>x</b>y\">]>\n<r>\n";
  for (int i = 0; i < 40; ++i) {
    text += "  <a><ListID>" + std::to_string(i) + "</ListID><Name>&co; &m;</Name>" + std::string(200, ' ') + "</a>\n";
  }
  text += "</r>";
  const ElementIndex index(text, {"a"});
  ASSERT_TRUE(index.parsed()) << index.parseError().reason;
  EXPECT_TRUE(index.positioned());
  EXPECT_FALSE(index.Prolog().empty());
  ElementStream stream(index, {"a"});
  size_t read = 0;
  for (Node n = stream.Next(); n; n = stream.Next(), ++read)
    EXPECT_EQ(n.selectSingleNode("Name").text(), "Smith & Sons xy");
  EXPECT_EQ(read, 40u);
}

TEST(ElementIndexTest, WhereARecordCannotBeReadAloneTheTextIsWalked) {
  // A namespace declared around the records would be lost by a record read alone.
  std::string text = "<r xmlns:q=\"urn:q\">";
  for (int i = 0; i < 30; ++i) text += "<a><q:b>" + std::to_string(i) + "</q:b>" + std::string(100, ' ') + "</a>";
  text += "</r>";
  const ElementIndex around(text, {"a"});
  EXPECT_TRUE(around.parsed());
  EXPECT_FALSE(around.positioned());
  ElementStream stream(around, {"a"});
  EXPECT_EQ(stream.Count("a"), 30u);
  const Node first = stream.Next();
  EXPECT_EQ(first.selectSingleNode("q:b").text(), "0");

  // Records so small that their places would cost more than a twentieth of the text.
  std::string tiny = "<r>";
  for (int i = 0; i < 200; ++i) tiny += "<a/>";
  tiny += "</r>";
  const ElementIndex small(tiny, {"a"});
  EXPECT_FALSE(small.positioned());
  EXPECT_EQ(small.PositionBytes(), 0u);
  ElementStream walk(small, {"a"});
  size_t n = 0;
  while (walk.Next()) ++n;
  EXPECT_EQ(n, 200u);
  EXPECT_FALSE(walk.failed());
}

TEST(ElementIndexTest, ANamespaceDeclaredBesideOrInsideTheRecordsKeepsTheirPlaces) {
  // Declarations on elements that close before a record opens, on an empty one among a record's children and on a
  // child of a record: no record stands inside any of them, so every record reads from its place.
  const std::string pad(200, ' ');
  const std::string first = "<a><b xmlns:q=\"urn:q\"><q:c>1</q:c></b>" + pad + "</a>";
  const std::string outer = "<a><e xmlns:p=\"urn:p\"/><a>in</a>" + pad + "</a>";
  const std::string last = "<a>3" + pad + "</a>";
  const std::string text = "<r><n xmlns:p=\"urn:p\"><p:x><y/></p:x></n>" + first + "<k><m xmlns:z=\"urn:z\"/></k>" +
                           outer + "<n xmlns:p=\"urn:p\"/>" + last + "</r>";
  const ElementIndex beside(text, {"a"});
  ASSERT_TRUE(beside.parsed());
  EXPECT_TRUE(beside.positioned());
  EXPECT_EQ(beside.Count("a"), 4u);
  std::vector<std::string> records;
  for (const ElementIndex::Span& span : beside.Spans("a")) records.push_back(text.substr(span.start, span.length));
  EXPECT_EQ(records, (std::vector<std::string>{first, outer, "<a>in</a>", last}));

  // A record inside a declaring element, after records that were not: read by a walk instead.
  const std::string around = "<r>" + first + "<w xmlns:q=\"urn:q\"><v><a>2" + pad + "</a></v></w>" + last + "</r>";
  const ElementIndex inside(around, {"a"});
  ASSERT_TRUE(inside.parsed());
  EXPECT_FALSE(inside.positioned());
  EXPECT_EQ(inside.Count("a"), 3u);
}

TEST(ElementIndexTest, MalformedTextGivesTheLoadsErrorToEveryReader) {
  std::string text = EveryList();
  text.insert(text.find("<BillRet>", text.size() / 2), "<broken>");
  Document doc;
  ASSERT_FALSE(doc.LoadXml(text));
  const ElementIndex index(text, {"BillRet", "CustomerRet"});
  EXPECT_FALSE(index.parsed());
  EXPECT_FALSE(index.positioned());
  EXPECT_EQ(index.Count("BillRet"), 0u);
  for (const char* name : {"BillRet", "CustomerRet"}) {
    ElementStream stream(index, {name});
    EXPECT_FALSE(stream.parsed());
    EXPECT_EQ(stream.parseError().reason, doc.parseError().reason);
    EXPECT_EQ(stream.parseError().line, doc.parseError().line);
    EXPECT_TRUE(stream.Next().IsNull());
    EXPECT_TRUE(stream.failed());
  }
}

std::string Nested(int depth) {
  std::string text = "<r><a>";
  for (int i = 0; i < depth; ++i) text += "<d>";
  text += "x";
  for (int i = 0; i < depth; ++i) text += "</d>";
  return text + "</a></r>";
}

TEST(ElementIndexTest, NestingBeyondTheLimitIsRefusedNotCrashedOn) {
  // A hundred thousand levels inside one record: refused by the check, the load and the walk alike.
  const std::string deep = Nested(100000);
  const ElementIndex index(deep, {"a"});
  EXPECT_FALSE(index.parsed());
  EXPECT_EQ(index.parseError().reason, "Excessive depth in document: 10000");
  Document doc;
  EXPECT_FALSE(doc.LoadXml(deep));
  EXPECT_EQ(doc.parseError().reason, "Excessive depth in document: 10000");
  ElementStream stream(deep, {"a"});
  EXPECT_TRUE(stream.Next().IsNull());
  EXPECT_TRUE(stream.failed());
  EXPECT_EQ(stream.parseError().reason, "Excessive depth in document: 10000");

  // Up to the limit a record still reads.
  const std::string limit = Nested(10000 - 2);
  ElementStream within(limit, {"a"});
  EXPECT_EQ(within.Next().text(), "x");
  EXPECT_FALSE(ElementIndex(Nested(10000 - 1), {"a"}).parsed());
}

}  // namespace
// A string is read where it lies, a view in pieces: both find the same places and the same faults, also in texts
// long enough that the parser moves on through them many times, and whatever the length of their last part.
TEST(ElementIndexTest, AStringReadInPlaceIndexesAsAViewDoes) {
  auto same = [](const std::string& text) -> bool {
    const ElementIndex whole(text, {"Ret", "Last"});
    const ElementIndex pieces(std::string_view(text), {"Ret", "Last"});
    EXPECT_EQ(whole.parsed(), pieces.parsed());
    EXPECT_EQ(whole.positioned(), pieces.positioned());
    EXPECT_EQ(whole.Count("Ret"), pieces.Count("Ret"));
    EXPECT_EQ(whole.Count("Last"), pieces.Count("Last"));
    const std::vector<ElementIndex::Span> a = whole.Spans("Ret"), b = pieces.Spans("Ret");
    EXPECT_EQ(a.size(), b.size());
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      EXPECT_EQ(text.substr(a[i].start, a[i].length), text.substr(b[i].start, b[i].length));
    }
    EXPECT_EQ(whole.parseError().reason, pieces.parseError().reason);
    EXPECT_EQ(whole.parseError().line, pieces.parseError().line);
    EXPECT_EQ(whole.parseError().linepos, pieces.parseError().linepos);
    return whole.parsed();
  };
  for (size_t tail = 0; tail < 700; tail += 35) {
    std::string text = "<?xml version=\"1.0\" ?>\n<QBXML>\n";
    for (int i = 0; i < 300; ++i)
      text += "  <Ret><ListID>" + std::to_string(i) + "</ListID><Name>A &amp; B</Name></Ret>\n";
    text += "<Last>" + std::string(tail, 'x') + "</Last></QBXML>\n";
    EXPECT_TRUE(same(text)) << "tail of " << tail;
    EXPECT_FALSE(same(text.substr(0, text.size() - 4))) << "tail of " << tail;
    // A NUL byte ends the text for both.
    EXPECT_TRUE(same(text + std::string(1, '\0') + "<junk>"));
  }
}

}  // namespace platform::xml
