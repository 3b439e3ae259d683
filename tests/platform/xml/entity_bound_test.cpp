// Entities declared in a document can make a small text stand for gigabytes. Whatever the encoding, every reader
// refuses such a text with a parse error and stays within a small, fixed memory.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "platform/xml/element_stream.h"

namespace platform::xml {
namespace {

// A 200 KB answer: one entity of 50 KB, referred to 50,000 times, in a record's child or in an attribute.
std::string Amplified(bool inAttribute) {
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE QBXML [<!ENTITY big \"" + std::string(50'000, 'x') +
                     "\">]>\n<QBXML><CustomerRet><ListID>1</ListID>";
  std::string refs;
  for (int i = 0; i < 50'000; ++i) refs += "&big;";
  text += inAttribute ? "<Name v=\"" + refs + "\"/>" : "<Name>" + refs + "</Name>";
  return text + "</CustomerRet></QBXML>";
}

// UTF-16 little-endian with its byte-order mark, from ASCII.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(EntityBoundTest, UTF16TextsAreReadWithTheirEntities) {
  // The encoding is no obstacle by itself: a small UTF-16 document with an entity reads as its UTF-8 twin.
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE r [<!ENTITY co \"Acme &amp; Co\">]>"
      "<r><CustomerRet><Name>&co; / &co;</Name></CustomerRet></r>";
  for (const std::string& encoded : {text, Utf16(text)}) {
    Document doc;
    ASSERT_TRUE(doc.LoadXml(encoded)) << doc.parseError().reason;
    EXPECT_EQ(doc.selectSingleNode("r/CustomerRet/Name").text(), "Acme & Co / Acme & Co");
    ElementStream stream(encoded, {"CustomerRet"});
    ASSERT_TRUE(stream.Check()) << stream.parseError().reason;
    EXPECT_EQ(stream.NextRecord().ChildText("Name"), "Acme & Co / Acme & Co");
  }
}

TEST(EntityBoundTest, AmplifiedTextsAreRefusedInEveryEncodingWithinBoundedMemory) {
  const long before = PeakKilobytes();
  for (const bool inAttribute : {false, true}) {
    for (const bool utf16 : {false, true}) {
      SCOPED_TRACE(std::string(utf16 ? "UTF-16" : "UTF-8") + (inAttribute ? ", attribute" : ", text"));
      const std::string utf8 = Amplified(inAttribute);
      ASSERT_GT(utf8.size(), 200'000u);
      const std::string text = utf16 ? Utf16(utf8) : utf8;

      Document doc;
      EXPECT_FALSE(doc.LoadXml(text));
      EXPECT_NE(doc.parseError().reason, "");
      EXPECT_GT(doc.parseError().line, 0);

      const ElementIndex index(text, {"CustomerRet"});
      EXPECT_FALSE(index.parsed());
      EXPECT_NE(index.parseError().reason, "");

      ElementStream stream(text, {"CustomerRet"});
      EXPECT_FALSE(stream.Check());
      EXPECT_FALSE(stream.NextRecord());
      EXPECT_TRUE(stream.failed());
    }
  }
  // Expanded, the text would take 2.5 GB in each of the eight reads.
  EXPECT_LT(PeakKilobytes() - before, 256 * 1024);
}

TEST(EntityBoundTest, EntitiesThatReferToThemselvesAreRefused) {
  for (const char* body : {"<r a=\"&a;\"/>", "<r>&a;</r>", "<r b=\"&c;\">&c;</r>"}) {
    const std::string text =
        std::string("<!DOCTYPE r [<!ENTITY a \"x&b;&b;\"><!ENTITY b \"&a;&a;\"><!ENTITY c \"&b;\">]>") + body;
    Document doc;
    EXPECT_FALSE(doc.LoadXml(text)) << body;
    EXPECT_NE(doc.parseError().reason, "") << body;
    EXPECT_FALSE(ElementIndex(text, {"r"}).parsed()) << body;
  }
}

TEST(EntityBoundTest, ReferencesInContentNameTheLimitTheyPass) {
  Document doc;
  ASSERT_FALSE(doc.LoadXml(Amplified(false)));
  EXPECT_NE(doc.parseError().reason.find("amplification"), std::string::npos) << doc.parseError().reason;
  // Many references to a small entity stay well inside the limit.
  std::string modest = "<!DOCTYPE r [<!ENTITY e \"0123456789\">]><r>";
  for (int i = 0; i < 20'000; ++i) modest += "<a>&e;</a>";
  modest += "</r>";
  ASSERT_TRUE(doc.LoadXml(modest)) << doc.parseError().reason;
  EXPECT_EQ(doc.documentElement().text().size(), 200'000u);
}

}  // namespace
}  // namespace platform::xml
