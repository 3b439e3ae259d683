// The record view: a record's child texts read from its markup exactly as the tree holds them, in any order, the
// first of each name, and views that last as long as the record.

#include "platform/xml/record_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "platform/xml/element_stream.h"
#include "tests/support/xml/record_agreement.h"

namespace platform::xml {
namespace {

// Children that a scan of the markup can read, and children only a tree can: every read must match the tree's.
constexpr const char* kRecord =
    "<Rec a=\"x > y\">"
    "<Plain>Kitchen</Plain><Empty/><Blank></Blank><Spaces>  lead </Spaces>"
    "<Amp>Tom &amp; Jerry</Amp><Char>caf&#233;</Char><Cdata><![CDATA[<b>]]></Cdata>"
    "<Crlf>one\r\ntwo</Crlf><Commented>a<!-- c -->b</Commented><Pi>a<?p x?>b</Pi>"
    "<Ref><FullName>Only name</FullName></Ref>"
    "<Ref attr='1'>\n  <ListID>P-2</ListID>\n  <FullName>Parent</FullName>\n</Ref>"
    "<Deep><A><B><C>three</C></B></A></Deep>"
    "<Plain>second</Plain><q:Pre xmlns:q=\"urn:q\">ns</q:Pre>"
    "</Rec>";

std::vector<std::string> Paths() {
  return {"Plain",     "Empty",       "Blank", "Spaces",     "Amp",          "Char",       "Cdata", "Crlf",
          "Commented", "Pi",          "Ref",   "Ref/ListID", "Ref/FullName", "Deep/A/B/C", "Deep",  "Deep/A/X",
          "Missing",   "Ref/Missing", "q:Pre", "*",          "*/ListID"};
}

TEST(RecordViewTest, ChildTextsAreThoseOfTheTree) {
  // Enough records that the index keeps their places, so each view reads from the markup.
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += kRecord + std::string(60, ' ');
  text += "</r>";
  const ElementIndex index(text, {"Rec"});
  ASSERT_TRUE(index.positioned());
  Document doc;
  ASSERT_TRUE(doc.LoadXml(text));
  const Node tree = doc.getElementsByTagName("Rec").item(0);

  ElementStream stream(index, {"Rec"});
  const RecordView view = stream.NextRecord();
  ASSERT_TRUE(view);
  for (const std::string& path : Paths()) {
    const Node expected = tree.selectSingleNode(path);
    const std::optional<std::string> got = view.ChildText(path);
    if (!expected) {
      EXPECT_FALSE(got.has_value()) << path;
    } else {
      ASSERT_TRUE(got.has_value()) << path;
      EXPECT_EQ(*got, expected.text()) << path;
    }
  }
  // The node itself, for reads a name cannot express.
  EXPECT_EQ(view.node().nodeName(), "Rec");
  EXPECT_EQ(view.node().getAttribute("a"), "x > y");

  // A view of a record that is a tree already answers from the tree.
  const RecordView of_tree(tree);
  EXPECT_EQ(of_tree.ChildText("Ref/ListID"), "P-2");
  EXPECT_FALSE(RecordView());
}

// The names and texts of the element children, as a list to compare.
TEST(RecordViewTest, ReadsInAnyOrderFindTheFirstOfEachName) {
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += kRecord + std::string(60, ' ');
  // Names that come again further on, and a path whose first parent lacks what the second holds.
  text += "<Rec><A>1</A><B>2</B><A>3</A><R><X>x1</X></R><C>4</C><R><Y>y2</Y><X>x2</X></R><B>5</B></Rec></r>";
  const ElementIndex index(text, {"Rec"});
  ASSERT_TRUE(index.positioned());
  Document doc;
  ASSERT_TRUE(doc.LoadXml(text));
  const Node tree = doc.getElementsByTagName("Rec").item(0);

  std::vector<std::string> paths = Paths();
  const std::vector<std::vector<std::string>> orders = {
      std::vector<std::string>(paths.rbegin(), paths.rend()),
      {"Ref/FullName", "Plain", "Ref/ListID", "Ref", "Amp", "Plain", "Deep/A/B/C", "Ref/FullName", "Empty"},
  };
  for (const std::vector<std::string>& order : orders) {
    ElementStream stream(index, {"Rec"});
    const RecordView view = stream.NextRecord();
    for (const std::string& path : order) {
      const Node expected = tree.selectSingleNode(path);
      const std::optional<std::string> got = view.ChildText(path);
      ASSERT_EQ(got.has_value(), static_cast<bool>(expected)) << path;
      if (got) {
        EXPECT_EQ(*got, expected.text()) << path;
      }
    }
  }

  ElementStream stream(index, {"Rec"});
  for (int i = 0; i < 20; ++i) stream.NextRecord();
  const RecordView last = stream.NextRecord();
  // Each read after the one before it in the record, and back: always the first of its name.
  EXPECT_EQ(last.ChildText("C"), "4");
  EXPECT_EQ(last.ChildText("A"), "1");
  EXPECT_EQ(last.ChildText("B"), "2");
  EXPECT_EQ(last.ChildText("A"), "1");
  EXPECT_EQ(last.ChildText("R/Y"), "y2");
  EXPECT_EQ(last.ChildText("R/X"), "x1");
  EXPECT_EQ(last.ChildText("B"), "2");
  EXPECT_FALSE(last.ChildText("R/Z").has_value());
}

TEST(RecordViewTest, AReadOfTheFirstChildrenLeavesTheRestToReadLater) {
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += kRecord + std::string(60, ' ');
  text += "</r>";
  const ElementIndex index(text, {"Rec"});
  Document doc;
  ASSERT_TRUE(doc.LoadXml(text));
  std::vector<std::string> expected;
  for (Node child = doc.getElementsByTagName("Rec").item(0).firstChild(); child; child = child.nextSibling()) {
    if (child.nodeType() == NodeType::kElement) expected.push_back(child.nodeName());
  }
  ElementStream stream(index, {"Rec"});
  const RecordView view = stream.NextRecord();
  EXPECT_EQ(view.ChildText("Plain"), "Kitchen");
  EXPECT_TRUE(view.HasChild("Empty"));
  EXPECT_FALSE(view.HasChild("Nowhere"));
  std::vector<std::string> names;
  for (const RecordView::Element& child : view.ChildElements()) names.push_back(child.name);
  EXPECT_EQ(names, expected);
  EXPECT_EQ(view.ChildText("Deep/A/B/C"), "three");
}

TEST(RecordViewTest, AReadBackToAChildScannedAlreadyReadsNoFurther) {
  // The tail is what no scan can read, and the view has no parser to fall back to: only a read that scans that far
  // can miss. Reads that go back to a child scanned already, and to a name whose first child comes before the last
  // one read, answer from the scan.
  const RecordView view = RecordView::FromMarkup("<R><A>1</A><B>2</B><A>3</A><C>4</C><broken", nullptr);
  EXPECT_EQ(view.ChildText("B"), "2");
  EXPECT_EQ(view.ChildText("A"), "1");
  EXPECT_EQ(view.ChildText("C"), "4");
  EXPECT_EQ(view.ChildText("A"), "1");
  EXPECT_EQ(view.ChildText("B"), "2");
  EXPECT_EQ(view.ChildText("C"), "4");
  EXPECT_TRUE(view.HasChild("A"));
}

TEST(RecordViewTest, ViewsOfTextsLastAsLongAsTheRecord) {
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += kRecord + std::string(60, ' ');
  text += "</r>";
  const ElementIndex index(text, {"Rec"});
  ElementStream stream(index, {"Rec"});
  const RecordView view = stream.NextRecord();
  // A decoded text, one with markup inside and a plain one, each read before the others: none is overwritten.
  const std::optional<std::string_view> amp = view.ChildView("Amp");
  const std::optional<std::string_view> commented = view.ChildView("Commented");
  const std::optional<std::string_view> plain = view.ChildView("Ref/FullName");
  const std::optional<std::string_view> cdata = view.ChildView("Cdata");
  for (const std::string& path : Paths()) view.ChildView(path);
  ASSERT_TRUE(amp && commented && plain && cdata);
  EXPECT_EQ(*amp, "Tom & Jerry");
  EXPECT_EQ(*commented, "ab");
  EXPECT_EQ(*plain, "Only name");
  EXPECT_EQ(*cdata, "<b>");
  // The next records of the stream take the scan buffers over and read alike.
  for (int i = 1; i < 20; ++i) {
    const RecordView next = stream.NextRecord();
    EXPECT_EQ(next.ChildText("Ref/ListID"), "P-2");
    EXPECT_EQ(next.ChildText("Plain"), "Kitchen");
  }
}

std::vector<std::string> Elements(const RecordView& view) {
  std::vector<std::string> out;
  for (const RecordView::Element& child : view.ChildElements()) {
    out.push_back(child.name + "=" + child.view.ChildText("ListID").value_or("-") + "/" +
                  child.view.ChildText("Memo").value_or("-"));
  }
  return out;
}

TEST(RecordViewTest, ChildElementsAreTheTreesElementChildrenInOrder) {
  constexpr const char* kBill =
      "<BillRet><TxnID>T-1</TxnID>text between<!-- a comment -->"
      "<ItemLineRet><ListID>I-1</ListID><Memo>a &amp; b</Memo></ItemLineRet>"
      "<ExpenseLineRet><ListID>E-1</ListID><ItemLineRet><ListID>nested</ListID></ItemLineRet></ExpenseLineRet>"
      "<ExpenseLineRet/><![CDATA[<ItemLineRet>not one</ItemLineRet>]]>"
      "<ItemLineRet><ListID><![CDATA[I-2]]></ListID></ItemLineRet></BillRet>";
  const std::vector<std::string> expected = {"TxnID=-/-", "ItemLineRet=I-1/a & b", "ExpenseLineRet=E-1/-",
                                             "ExpenseLineRet=-/-", "ItemLineRet=I-2/-"};
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += kBill + std::string(60, ' ');
  text += "</r>";
  const ElementIndex index(text, {"BillRet"});
  ASSERT_TRUE(index.positioned());
  ElementStream stream(index, {"BillRet"});
  EXPECT_EQ(Elements(stream.NextRecord()), expected);

  Document doc;
  ASSERT_TRUE(doc.LoadXml(text));
  EXPECT_EQ(Elements(RecordView(doc.getElementsByTagName("BillRet").item(0))), expected);

  // Children that use a prefix declared on the record keep their names, whichever way they are read.
  std::string prefixed = "<r>";
  for (int i = 0; i < 20; ++i) {
    prefixed += "<q:BillRet xmlns:q=\"urn:q\"><q:ItemLineRet><q:ListID>Q</q:ListID></q:ItemLineRet></q:BillRet>";
  }
  prefixed += "</r>";
  const ElementIndex prefixed_index(prefixed, {"q:BillRet"});
  ElementStream prefixed_stream(prefixed_index, {"q:BillRet"});
  const std::vector<RecordView::Element> children = prefixed_stream.NextRecord().ChildElements();
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].name, "q:ItemLineRet");
  EXPECT_EQ(children[0].view.node().selectSingleNode("q:ListID").text(), "Q");
}

// Twenty copies of a record inside a root, enough that the index keeps their places and views scan the markup.
std::string Answer(const std::string& record) {
  std::string text = "<r>";
  for (int i = 0; i < 20; ++i) text += record + "\n";
  return text + "</r>";
}

TEST(RecordViewTest, CommentsThatOpenWithTheirOwnDashesHideWhatTheyHold) {
  // "<!-->" and "<!--->" open a comment that runs to the next "-->"; their first dashes close nothing.
  struct Case {
    const char* record;
    const char* name;
    const char* city;
  };
  const Case cases[] = {
      {"<R><!--><Name>Inside</Name>--><Name>Outside</Name><City>Oslo</City></R>", "Outside", "Oslo"},
      {"<R><!---><Name>Inside</Name>--><Name>Outside</Name><City>Oslo</City></R>", "Outside", "Oslo"},
      {"<R><Name>Out<!--></Name><Name>x-->side</Name><City>Oslo</City></R>", "Outside", "Oslo"},
      {"<R><Name>Out<!---></Name><City>x</City>-->side</Name><City>Oslo</City></R>", "Outside", "Oslo"},
      {"<R><!----><Name>Outside</Name><!-- <City>No</City> --><City>Oslo</City></R>", "Outside", "Oslo"},
  };
  for (const Case& c : cases) {
    const std::string text = Answer(c.record);
    const ElementIndex index(text, {"R"});
    ASSERT_TRUE(index.positioned()) << c.record;
    ElementStream stream(index, {"R"});
    const RecordView view = stream.NextRecord();
    EXPECT_EQ(view.ChildText("Name"), c.name) << c.record;
    EXPECT_EQ(view.ChildText("City"), c.city) << c.record;
    std::vector<std::string> names;
    for (const RecordView::Element& child : view.ChildElements()) names.push_back(child.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "City"})) << c.record;
    EXPECT_EQ(kv::test_support::xml::RecordDisagreements(text, {"R"}), std::vector<std::string>{}) << c.record;
  }
}

TEST(RecordViewTest, MarkupBetweenAndInsideChildrenReadsAsTheTreeReadsIt) {
  // Processing instructions and CDATA sections that hold what looks like tags, references of every kind, blanks
  // inside tags and empty elements written both ways.
  const char* records[] = {
      "<R><?pi <Name>no</Name>?><Name>a<?x?>b</Name><![CDATA[<City>no</City>]]><City >Oslo</City ></R>",
      "<R><Name\n>a &lt;&#x41;&#66;&amp;</Name\t><City/><Zip></Zip><Zip\n/></R>",
      "<R a='>' b=\"/>\"><Name c='</Name>'>x</Name><City><![CDATA[]]></City><Deep><A><B>b</B></A></Deep></R>",
      "<R><Name>line\r\nnext\rlast</Name><Ref><Name>inner</Name></Ref><Ref><Other/></Ref></R>",
      "<R>\n  <Ref>\n    <ListID>1</ListID>\n  </Ref>\n  <Ref><FullName>F</FullName></Ref>\n</R>",
  };
  for (const char* record : records) {
    EXPECT_EQ(kv::test_support::xml::RecordDisagreements(Answer(record), {"R", "Ref"}), std::vector<std::string>{})
        << record;
  }
  // Entities declared in the answer's prolog reach every record read alone.
  const std::string declared =
      "<!DOCTYPE r [<!ENTITY co \"Acme &amp; Co\">]>" + Answer("<R><Name>&co;</Name><City>x&co;y</City></R>");
  EXPECT_EQ(kv::test_support::xml::RecordDisagreements(declared, {"R"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace platform::xml
