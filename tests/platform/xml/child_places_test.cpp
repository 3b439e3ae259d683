// Record places: the records and fields of a response found in one pass, agreeing with libxml2's tree, and the
// qbXML header forms and declarations they are read past.

#include "platform/xml/child_places.h"

#include "platform/base/error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/xml/dom.h"
#include "platform/xml/prolog.h"

namespace platform::xml {
namespace {

using ::testing::HasSubstr;

std::string Markup(const ChildPlaces& places, size_t i, std::string_view text) {
  const ChildPlaces::Span span = places.children()[i].span;
  return std::string(text.substr(span.start, span.length));
}

std::string FieldText(const ChildPlaces& places, size_t child, std::string_view name) {
  const ChildPlaces::Child& c = places.children()[child];
  for (uint32_t i = 0; i < c.fieldsCount; ++i) {
    const ChildPlaces::Field& field = places.fields()[c.fieldsBegin + i];
    if (places.fieldNames()[field.name] == name) return std::string(places.Text(c, field));
  }
  return "(none)";
}

// Comments that open with ">" or "->" run to the first "-->", whatever they hold, as libxml2's tree reads them.
TEST(ChildPlaces, RecordsAndFieldsAgreeWithTheParsersTree) {
  const std::string text =
      "<?xml version=\"1.0\"?>\n<Root a=\"x &amp; y\" b='&#65;'>\n"
      "  <R><Name>one<!--> <Name>fake</Name> --></Name><Other><Name>deep</Name></Other></R>\n"
      "  <!---> <R><Name>inside a comment</Name></R> -->\n"
      "  <p:R xmlns:p=\"urn:p\"><Name>O&apos;Neill &amp; <![CDATA[<co>]]></Name><ListID/></p:R>\n"
      "  <?pi <R>?><E/>\n"
      "</Root>\n";
  ChildPlaces places(text, {"Name", "ListID"});
  ASSERT_TRUE(places.parsed()) << places.parseError().reason;
  EXPECT_EQ(places.rootName(), "Root");
  EXPECT_EQ(places.rootAttributes(), (std::vector<std::pair<std::string, std::string>>{{"a", "x & y"}, {"b", "A"}}));
  EXPECT_FALSE(places.rootHoldsText());

  Document tree;
  ASSERT_TRUE(tree.LoadXml(text));
  NodeList children = tree.documentElement().selectNodes("*");
  ASSERT_EQ(places.children().size(), children.length());
  for (size_t i = 0; i < children.length(); ++i) {
    EXPECT_EQ(places.children()[i].name, children.item(i).nodeName());
    Document alone;
    // A record read from its place alone is the element the tree holds (its namespace declared on itself).
    ASSERT_TRUE(alone.LoadXml(Markup(places, i, text))) << Markup(places, i, text);
    EXPECT_EQ(alone.documentElement().text(), children.item(i).text());
  }
  EXPECT_EQ(FieldText(places, 0, "Name"), "one");
  EXPECT_EQ(FieldText(places, 1, "Name"), "O'Neill & <co>");
  EXPECT_EQ(FieldText(places, 1, "ListID"), "");
  EXPECT_EQ(FieldText(places, 2, "Name"), "(none)");
  EXPECT_EQ(places.rootEndTag(), text.find("</Root>"));
}

TEST(ChildPlaces, MalformedTextsAndTextBetweenRecords) {
  for (const char* bad : {"<Root><R></Root>", "<Root/><Second/>", "", "<Root><R><!-- --></R>"}) {
    ChildPlaces places(bad, {});
    EXPECT_FALSE(places.parsed()) << bad;
    EXPECT_FALSE(places.parseError().reason.empty()) << bad;
    EXPECT_TRUE(places.children().empty());
  }
  ChildPlaces text("<Root>\n  <R/>\n  stray\n</Root>", {});
  ASSERT_TRUE(text.parsed());
  EXPECT_EQ(text.rootTextLine(), 3);
  ChildPlaces empty("<Root a='1'/>", {});
  ASSERT_TRUE(empty.parsed());
  EXPECT_TRUE(empty.rootIsEmptyTag());
}

TEST(Prolog, ReadsTheQbxmlHeaderFormsAndTheDeclaration) {
  const std::string doctype =
      "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n<QBXML/>";
  Prolog read = ReadProlog(doctype, true);
  ASSERT_TRUE(read.doctype.has_value());
  EXPECT_EQ(read.doctype->publicId, "-//INTUIT//DTD QBXML QBD 2.0//EN");
  EXPECT_EQ(doctype.substr(read.doctype->begin, read.doctype->end - read.doctype->begin),
            "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>");
  EXPECT_EQ(read.version, "1.0");
  EXPECT_TRUE(read.rootReached);

  Prolog instruction = ReadProlog(
      "<?xml version='1.0' encoding='utf-8'?><!-- <?qbxml version=\"9\"?> -->"
      "<?qbxml version=\"CA2.0\"?><QBXML><?qbxml version=\"1.0\"?></QBXML>",
      false);
  ASSERT_EQ(instruction.instructions.size(), 1u);
  EXPECT_EQ(PseudoAttribute(instruction.instructions[0].data, "version"), "CA2.0");
  EXPECT_EQ(instruction.declaredEncoding, "utf-8");
  EXPECT_EQ(PseudoAttribute("a='1' version = \"2\"", "version"), "2");
  EXPECT_EQ(PseudoAttribute("versions=\"2\"", "version"), std::nullopt);
}

TEST(Prolog, EncodingsAsXmlTellsThem) {
  std::string utf16le = "\xFF\xFE";
  for (char c : std::string_view("<?xml version=\"1.0\"?><a/>")) utf16le += std::string{c, '\0'};
  Utf8Text decoded = ToUtf8(utf16le);
  EXPECT_EQ(decoded.text, "<?xml version=\"1.0\"?><a/>");
  EXPECT_EQ(decoded.encoding, "UTF-16LE");
  EXPECT_TRUE(decoded.byteOrderMark);
  EXPECT_EQ(FromUtf8(decoded.text, decoded.encoding, true), utf16le);

  Utf8Text latin = ToUtf8("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>");
  EXPECT_EQ(latin.text, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xC3\xA9</a>");
  // A UTF-16 label on bytes that are not is read past, as the parser reads it.
  EXPECT_EQ(ToUtf8("<?xml version=\"1.0\" encoding=\"utf-16\"?><a/>").encoding, "UTF-8");
  EXPECT_EQ(ToUtf8("\xEF\xBB\xBF<a/>").text, "<a/>");
  EXPECT_THROW(FromUtf8("\xE2\x98\x83", "ISO-8859-1", false), kv::Error);
}

}  // namespace
}  // namespace platform::xml
