// The qbXML validator: doctypes, schema errors and the prefixes of its stages.

#include "sync_control/xml_validator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace brintavel {
namespace {

constexpr const char* kSchema = R"(<?xml version="1.0"?>
<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">
  <xs:element name="QBXML">
    <xs:complexType>
      <xs:sequence>
        <xs:element name="QBXMLMsgsRq" type="xs:string"/>
      </xs:sequence>
    </xs:complexType>
  </xs:element>
</xs:schema>
)";

class XmlValidatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-validator-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    schema_ = (dir_ / "qbxml.xsd").string();
    std::ofstream(schema_) << kSchema;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::string schema_;
  XMLValidator validator_;
};

const std::string kValidBody = "<QBXML><QBXMLMsgsRq>x</QBXMLMsgsRq></QBXML>";

TEST_F(XmlValidatorTest, TheQbxml10DoctypeAloneIsValid) {
  EXPECT_TRUE(validator_.ValidateXML(
      "<?xml version=\"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n" + kValidBody,
      schema_));
  EXPECT_EQ(validator_.ValidateMsg(), "XML instance is Valid.");
}

TEST_F(XmlValidatorTest, OtherDoctypeIsValidWithAComplaint) {
  EXPECT_TRUE(validator_.ValidateXML(
      "<?xml version=\"1.0\"?><!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>" + kValidBody, schema_));
  EXPECT_EQ(validator_.ValidateMsg(),
            "XML instance is Valid.\r\rIncorrect DOCTYPE declaration. Please use:\rDOCTYPE QBXML PUBLIC "
            "'-//INTUIT//DTD QBXML QBD 1.0//EN' ['uri']");
}

TEST_F(XmlValidatorTest, MissingDoctypeIsNoted) {
  EXPECT_TRUE(validator_.ValidateXML(kValidBody, schema_));
  EXPECT_EQ(validator_.ValidateMsg(), "XML instance is Valid.\r\rMissing DOCTYPE declaration");
}

TEST_F(XmlValidatorTest, ADocumentThatBreaksTheSchemaReportsWhereAndWhy) {
  EXPECT_FALSE(validator_.ValidateXML("<QBXML>\n  <Other/>\n</QBXML>", schema_));
  const std::string& msg = validator_.ValidateMsg();
  EXPECT_EQ(msg.rfind("Line: 2\rLinePos: ", 0), 0u) << msg;
  EXPECT_NE(msg.find("\rSrc Text: "), std::string::npos) << msg;
  EXPECT_NE(msg.find("\rReason: "), std::string::npos) << msg;
}

TEST_F(XmlValidatorTest, StageFailuresCarryTheirPrefix) {
  EXPECT_FALSE(validator_.ValidateXML(kValidBody, (dir_ / "missing.xsd").string()));
  EXPECT_EQ(validator_.ValidateMsg().rfind("Error loading schema: ", 0), 0u) << validator_.ValidateMsg();
  EXPECT_FALSE(validator_.ValidateXML("<?xml version=\"1.0\"?><!DOCTYPE QBXML PUBLIC", schema_));
  EXPECT_EQ(validator_.ValidateMsg().rfind("Error loading XML Instance: ", 0), 0u) << validator_.ValidateMsg();
}

TEST_F(XmlValidatorTest, DashesInsideTheDeclarationKeepTheCommentWellFormed) {
  // The declaration becomes one comment, with the word DOCTYPE in it once.
  EXPECT_EQ(XMLValidator::CommentOutDoctype("<?xml version=\"1.0\"?><!DOCTYPE QBXML PUBLIC 'x'>" + kValidBody).document,
            "<?xml version=\"1.0\"?><!-- <!DOCTYPE QBXML PUBLIC 'x'> -->" + kValidBody);
  const auto commented = XMLValidator::CommentOutDoctype("<!DOCTYPE QBXML PUBLIC 'a--b---c'>" + kValidBody);
  EXPECT_EQ(commented.declaration, "DOCTYPE QBXML PUBLIC 'a--b---c'");
  EXPECT_EQ(commented.document.find("--", 4), commented.document.find("-->"));
  EXPECT_TRUE(validator_.ValidateXML("<!DOCTYPE QBXML PUBLIC 'a--b'>" + kValidBody, schema_));
}

TEST(XmlValidatorWords, SplitKeepsNineWordsAndLeadingGapsGiveAnEmptyWord) {
  auto words = XMLValidator::SplitOnWhitespace(" a\t\tb c");
  EXPECT_EQ(words[0], "");
  EXPECT_EQ(words[1], "a");
  EXPECT_EQ(words[2], "b");
  EXPECT_EQ(words[3], "c");
  EXPECT_EQ(words[4], "");
  words = XMLValidator::SplitOnWhitespace("1 2 3 4 5 6 7 8 9 10");
  EXPECT_EQ(words[8], "9");
  EXPECT_EQ(XMLValidator::SplitOnWhitespace("")[0], "");
  EXPECT_EQ(XMLValidator::SplitOnWhitespace("x ")[0], "x");
}

TEST(XmlValidatorWords, DoctypeCheckComparesSevenWordsIgnoringCaseAndRejectsANinth) {
  std::string complaint;
  EXPECT_TRUE(XMLValidator::CheckDoctype("doctype qbxml public '-//intuit//dtd qbxml qbd 1.0//en'", complaint));
  EXPECT_TRUE(complaint.empty());
  EXPECT_TRUE(
      XMLValidator::CheckDoctype("DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN' 'any.dtd'", complaint));
  EXPECT_FALSE(
      XMLValidator::CheckDoctype("DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN' 'any.dtd' x", complaint));
  EXPECT_FALSE(complaint.empty());
}

}  // namespace
}  // namespace brintavel
