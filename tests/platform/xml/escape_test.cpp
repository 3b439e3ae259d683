// The escaper's rules against XML's own: what each rule writes, and that a parser hands every text back as it was.
#include "platform/xml/escape.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/xml/dom.h"

namespace platform::xml {
namespace {

const std::string kAwkward = "Tom & \"Jerry's\" <b>\r\nline\ttab\rend\n";

TEST(EscapeTest, EachRuleWritesItsReferences) {
  EXPECT_EQ(Escaped(kAwkward, kMarkupOnly), "Tom &amp; \"Jerry's\" &lt;b&gt;\r\nline\ttab\rend\n");
  EXPECT_EQ(EscapeXmlText(kAwkward), "Tom &amp; \"Jerry's\" &lt;b&gt;&#13;\nline\ttab&#13;end\n");
  EXPECT_EQ(EscapeXmlAttribute(kAwkward), "Tom &amp; &quot;Jerry's&quot; &lt;b&gt;&#13;&#10;line&#9;tab&#13;end&#10;");
  EXPECT_EQ(Escaped(kAwkward, {.quote = true, .apostrophe = true}),
            "Tom &amp; &quot;Jerry&apos;s&quot; &lt;b&gt;\r\nline\ttab\rend\n");
  // Nothing else changes: an existing reference is escaped again, other bytes stay as they came.
  EXPECT_EQ(EscapeXmlText("&amp; caf\xC3\xA9 \x01"), "&amp;amp; caf\xC3\xA9 \x01");
  EXPECT_EQ(EscapeXmlText(""), "");
  std::string out = "<a>";
  AppendEscaped(out, "x<y");
  EXPECT_EQ(out, "<a>x&lt;y");
}

TEST(EscapeTest, AParserReadsBackTheTextAsItWas) {
  Document text_doc;
  ASSERT_TRUE(text_doc.LoadXml("<r>" + EscapeXmlText(kAwkward) + "</r>"));
  EXPECT_EQ(text_doc.documentElement().text(), kAwkward);

  Document attribute_doc;
  ASSERT_TRUE(attribute_doc.LoadXml("<r a=\"" + EscapeXmlAttribute(kAwkward) + "\"/>"));
  EXPECT_EQ(attribute_doc.documentElement().getAttribute("a"), kAwkward);

  // Without the line rules, the reader's normalisation shows: CR LF and a lone CR come back as LF.
  Document markup_doc;
  ASSERT_TRUE(markup_doc.LoadXml("<r>" + Escaped(kAwkward, kMarkupOnly) + "</r>"));
  EXPECT_EQ(markup_doc.documentElement().text(), "Tom & \"Jerry's\" <b>\nline\ttab\nend\n");
}

}  // namespace
}  // namespace platform::xml
