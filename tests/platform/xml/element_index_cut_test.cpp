// A long answer's index made in pieces, one thread each: the same answers as a parse of the whole text, and a text
// whose cuts cannot be vouched for parsed whole.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xml/element_index.h"
#include "tests/support/xml/cut_agreement.h"

namespace platform::xml {
namespace {

using kv::test_support::xml::CutDisagreements;

const std::vector<std::string> kNames = {"CustomerRet", "ItemServiceRet"};

// A query answer with `records` customers and as many service items, each list in its own query answer.
std::string Answer(int records) {
  std::string text = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n";
  text += "<CustomerQueryRs requestID=\"1\" statusCode=\"0\" statusMessage=\"Status OK\">\n";
  for (int i = 0; i < records; ++i) {
    text += "  <CustomerRet>\n    <ListID>C" + std::to_string(i) + "</ListID>\n    <Name>Customer " +
            std::to_string(i) + "</Name>\n    <IsActive>true</IsActive>\n  </CustomerRet>\n";
  }
  text += "</CustomerQueryRs>\n<ItemServiceQueryRs requestID=\"2\" statusCode=\"0\">\n";
  for (int i = 0; i < records; ++i) {
    text += "  <ItemServiceRet>\n    <ListID>I" + std::to_string(i) + "</ListID>\n    <Name>Item " + std::to_string(i) +
            "</Name>\n  </ItemServiceRet>\n";
  }
  return text + "</ItemServiceQueryRs>\n</QBXMLMsgsRs>\n</QBXML>\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

void ExpectAgreement(const std::string& text, const std::string& what) {
  for (size_t parts : {2, 3, 5, 8}) {
    EXPECT_EQ(Lines(CutDisagreements(text, kNames, parts)), "") << what << ", " << parts << " parts";
  }
}

TEST(ElementIndexPiecesTest, AnAnswerIsCutAtItsRecordsAndReadAsAWholeParseReadsIt) {
  const std::string text = Answer(300);
  for (size_t parts : {2, 3, 5, 8}) {
    const ElementIndex cut(text, kNames, true, {.parts = parts, .minPart = 1});
    EXPECT_EQ(cut.pieces(), parts);
    ASSERT_TRUE(cut.parsed());
    ASSERT_TRUE(cut.positioned());
    EXPECT_EQ(cut.Count("CustomerRet"), 300u);
    EXPECT_EQ(cut.Count("ItemServiceRet"), 300u);
    // Every place, whichever piece found it, holds its own record: the 17th customer and the 250th item.
    const std::vector<ElementIndex::Span> customers = cut.Spans("CustomerRet");
    EXPECT_EQ(text.substr(customers[17].start, customers[17].length),
              "<CustomerRet>\n    <ListID>C17</ListID>\n    <Name>Customer 17</Name>\n"
              "    <IsActive>true</IsActive>\n  </CustomerRet>");
    const std::vector<ElementIndex::Span> items = cut.Spans("ItemServiceRet");
    EXPECT_EQ(text.substr(items[250].start, items[250].length),
              "<ItemServiceRet>\n    <ListID>I250</ListID>\n    <Name>Item 250</Name>\n  </ItemServiceRet>");
  }
  ExpectAgreement(text, "the plain answer");
  // Only a text long enough for two pieces of the least length is cut.
  EXPECT_EQ(ElementIndex(text, kNames, true, {.parts = 8, .minPart = text.size() / 2 + 1}).pieces(), 1u);
  EXPECT_EQ(ElementIndex(text, kNames, true, {.parts = 1, .minPart = 1}).pieces(), 1u);
}

TEST(ElementIndexPiecesTest, TheMarkupAroundEveryCutReadsAsInTheWholeText) {
  const std::string text = Answer(120);
  struct Variant {
    const char* what;
    std::string text;
  };
  const std::vector<Variant> variants = {
      {"a '>' and a '/>' in the attributes of the elements framing a piece",
       Replaced(text, "statusCode=\"0\"", "statusCode=\"0\" note='a > b' x=\"/>\" ")},
      {"line ends of CR LF", Replaced(text, "\n", "\r\n")},
      {"a byte-order mark, comments and instructions before and after the root",
       "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- <CustomerRet> --><?pi <x>?>" + text.substr(text.find("<QBXML>")) +
           "<!-- after --><?end?>"},
      {"records with attributes, empty records and blanks in their tags",
       Replaced(Replaced(text, "<CustomerRet>", "<CustomerRet\n  kind=\"a\"\t>"), "<ItemServiceRet>",
                "<ItemServiceRet/><ItemServiceRet >")},
      // Tags the scan must step over to find what stands open; records' tags there are the next test's.
      {"tags in comments, CDATA sections and instructions inside the records",
       Replaced(text, "<Name>", "<!-- </Name></ListID><x> --><![CDATA[</Name><y>]]><?p </IsActive><z>?><Name>")},
      {"records of the names inside records of the names",
       Replaced(text, "<IsActive>", "<ItemServiceRet><CustomerRet/></ItemServiceRet><IsActive>")},
      // A namespace declared around the records: their places are dropped in the whole text, so in the pieces too.
      {"a namespace on the root", Replaced(text, "<QBXML>", "<QBXML xmlns:q=\"urn:q\">")},
      {"references", Replaced(text, "Customer ", "A &amp; B &#233; ")},
  };
  for (const Variant& v : variants) {
    ExpectAgreement(v.text, v.what);
    const ElementIndex cut(v.text, kNames, true, {.parts = 4, .minPart = 1});
    EXPECT_TRUE(cut.parsed()) << v.what;
    EXPECT_GT(cut.pieces(), 1u) << v.what;
  }
}

TEST(ElementIndexPiecesTest, ThePlacesAreKeptOrDroppedAsForTheWholeText) {
  // Records from a few bytes to a few dozen: their places cost more than a twentieth of the text for the shortest,
  // less for the longest, and a piece's first place, written from the start of the text, is longer than the step
  // the whole text writes there.
  for (size_t pad = 0; pad < 40; ++pad) {
    std::string text = "<QBXML><QBXMLMsgsRs>";
    for (int i = 0; i < 30; ++i) text += "<CustomerRet>" + std::string(pad, ' ') + "</CustomerRet>";
    text += "</QBXMLMsgsRs></QBXML>";
    ExpectAgreement(text, std::to_string(pad) + " blanks a record");
  }
}

TEST(ElementIndexPiecesTest, ACutThatFallsInsideOtherMarkupIsCaughtAndTheTextParsedWhole) {
  const std::string records = Replaced(Answer(200), "<ItemServiceRet>", "<CustomerRet>");
  const std::string customers =
      Replaced(records.substr(records.find("<CustomerRet>")), "</ItemServiceRet>", "</CustomerRet>");
  // The middle of the text, where every cut lands, is a comment, a CDATA section or an instruction holding records.
  for (const auto& [open, close] : std::vector<std::pair<std::string, std::string>>{
           {"<!--", "-->"}, {"<x><![CDATA[", "]]></x>"}, {"<?pi ", "?>"}}) {
    const std::string text = "<QBXML><CustomerRet/>" + open + customers + close + "<CustomerRet/></QBXML>";
    const ElementIndex cut(text, kNames, true, {.parts = 4, .minPart = 1});
    EXPECT_TRUE(cut.parsed()) << open;
    EXPECT_EQ(cut.Count("CustomerRet"), 2u) << open;
    EXPECT_EQ(cut.pieces(), 1u) << open;
    ExpectAgreement(text, open);
  }
}

TEST(ElementIndexPiecesTest, AMalformedTextFailsInPiecesAsItFailsWhole) {
  const std::string text = Answer(80);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"a missing end tag", Replaced(text, "</Name>\n  </ItemServiceRet>\n  <ItemServiceRet>\n    <ListID>I40<",
                                     "\n  </ItemServiceRet>\n  <ItemServiceRet>\n    <ListID>I40<")},
      {"an end tag too many", Replaced(text, "<ListID>C50</ListID>", "<ListID>C50</ListID></CustomerRet>")},
      {"a record closed by another name", Replaced(text, "C60</ListID>", "C60</ListID></ItemServiceRet>")},
      {"the lists closed in the wrong order",
       Replaced(text, "</ItemServiceQueryRs>\n</QBXMLMsgsRs>", "</QBXMLMsgsRs>\n</ItemServiceQueryRs>")},
      {"text after the root", text + "<CustomerRet/>"},
      {"a second root", text + "<QBXML></QBXML>"},
      {"an entity that is not declared", Replaced(text, "Customer 33", "Customer &thirty;")},
      {"a '<' in an attribute", Replaced(text, "requestID=\"2\"", "requestID=\"<CustomerRet>\"")},
      {"a comment that never ends", Replaced(text, "<ListID>C70</ListID>", "<!-- <ListID>C70</ListID>")},
      {"a NUL byte inside the root", Replaced(text, "<Name>Item 20</Name>", std::string("<Name>Item\0 20</Name>", 21))},
      {"a document type that declares entities",
       "<!DOCTYPE QBXML [<!ENTITY co \"Co\">]>" + Replaced(text.substr(text.find("<QBXML>")), "Item 7", "&co; 7")},
  };
  for (size_t cut = 40; cut < text.size(); cut += text.size() / 9) {
    cases.emplace_back("the text cut off after " + std::to_string(cut) + " bytes", text.substr(0, cut));
  }
  for (const auto& [what, malformed] : cases) {
    ExpectAgreement(malformed, what);
    if (what.starts_with("a document type")) continue;  // well-formed, parsed whole
    EXPECT_FALSE(ElementIndex(malformed, kNames, true, {.parts = 4, .minPart = 1}).parsed()) << what;
  }
  // After the root the parser stops at a NUL byte, in pieces as in the whole text.
  const std::string trailing = text + std::string("\0<junk", 6);
  ExpectAgreement(trailing, "a NUL byte after the root");
  EXPECT_TRUE(ElementIndex(trailing, kNames, true, {.parts = 4, .minPart = 1}).parsed());
}

TEST(ElementIndexPiecesTest, TheElementsFramingAPieceCountTowardsTheNestingLimit) {
  // Records deep inside wrappers: the frame of every piece carries the wrappers, so the limit falls where it falls
  // in the whole text.
  auto wrapped = [](int depth) {
    std::string text = "<QBXML>";
    for (int i = 0; i < depth; ++i) text += "<w>";
    for (int i = 0; i < 60; ++i) text += "<CustomerRet><ListID>" + std::to_string(i) + "</ListID></CustomerRet>";
    for (int i = 0; i < depth; ++i) text += "</w>";
    return text + "</QBXML>";
  };
  const std::string within = wrapped(10000 - 3);  // a record's ListID at the last level allowed
  const ElementIndex deep(within, kNames, true, {.parts = 4, .minPart = 1});
  EXPECT_TRUE(deep.parsed()) << deep.parseError().reason;
  EXPECT_GT(deep.pieces(), 1u);
  ExpectAgreement(within, "records at the last level allowed");
  const std::string beyond = wrapped(10000 - 2);
  EXPECT_FALSE(ElementIndex(beyond, kNames, true, {.parts = 4, .minPart = 1}).parsed());
  ExpectAgreement(beyond, "records a level beyond the limit");
}

}  // namespace
}  // namespace platform::xml
