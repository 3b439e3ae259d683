// Company files and requests in UTF-16 and single-byte encodings answer as their UTF-8 twins.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iconv.h>

#include "platform/base/error.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/request_handler.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;

// The test's own conversion, so the files under test are not made by the code that reads them.
std::string Iconv(const std::string& text, const char* to, const char* from = "UTF-8") {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  EXPECT_NE(iconv(cd, &in, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string Utf16le(const std::string& utf8) {
  return "\xFF\xFE" + Iconv(utf8, "UTF-16LE");
}

std::string Declared(std::string text, const std::string& encoding) {
  const std::string utf8 = "encoding=\"UTF-8\"";
  size_t at = text.find(utf8);
  EXPECT_NE(at, std::string::npos);
  return text.replace(at, utf8.size(), "encoding=\"" + encoding + "\"");
}

std::string Request(const std::string& messages, const std::string& declaration = "<?xml version=\"1.0\"?>") {
  return declaration + "\n<?qbxml version=\"2.0\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"continueOnError\">\n" + messages +
         "</QBXMLMsgsRq>\n</QBXML>\n";
}

const std::string kQueries =
    "<CustomerQueryRq requestID=\"1\"><ActiveStatus>All</ActiveStatus></CustomerQueryRq>\n"
    "<EmployeeQueryRq requestID=\"2\"/>\n"
    "<BillQueryRq requestID=\"3\"/>\n"
    "<CheckQueryRq requestID=\"4\"><IncludeLineItems>true</IncludeLineItems></CheckQueryRq>\n";

const std::string kTimeAdd =
    "<TimeTrackingAddRq requestID=\"9\"><TimeTrackingAdd><TxnDate>2006-04-03</TxnDate>"
    "<EntityRef><FullName>Marcus O&apos;Neill</FullName></EntityRef>"
    "<ItemServiceRef><FullName>Consulting</FullName></ItemServiceRef>"
    "<Duration>PT2H</Duration><Notes>Caf\xC3\xA9 &#x2603; notes</Notes></TimeTrackingAdd></TimeTrackingAddRq>\n";

class EncodingTest : public ::testing::Test {
 protected:
  std::string Answer(const std::filesystem::path& company, const std::string& request) {
    return HandleQBXMLRequest(company, request).response.Join();
  }

  StandinEnv env_;
  std::filesystem::path utf8_ = env_.CopySample();
  std::string sample_ = env_.Read(utf8_);
};

TEST_F(EncodingTest, AUtf16CompanyFileAnswersAsItsUtf8Twin) {
  std::filesystem::path utf16 = env_.Write("company16.xml", Utf16le(Declared(sample_, "UTF-16")));
  const std::string expected = Answer(utf8_, Request(kQueries));
  ASSERT_THAT(expected, HasSubstr("<CustomerRet>"));
  EXPECT_EQ(Answer(utf16, Request(kQueries)), expected);

  // Without a byte-order mark, XML tells UTF-16 by its first characters.
  std::filesystem::path bare = env_.Write("bare16.xml", Iconv(Declared(sample_, "UTF-16"), "UTF-16BE"));
  EXPECT_EQ(Answer(bare, Request(kQueries)), expected);
}

TEST_F(EncodingTest, AnAddKeepsTheCompanyFilesOwnEncoding) {
  std::filesystem::path utf16 = env_.Write("company16.xml", Utf16le(Declared(sample_, "UTF-16")));
  std::string added = Answer(utf16, Request(kTimeAdd));
  ASSERT_THAT(added, HasSubstr("statusCode=\"0\""));

  const std::string onDisk = env_.Read(utf16);
  ASSERT_TRUE(onDisk.starts_with("\xFF\xFE"));
  const std::string decoded = Iconv(onDisk.substr(2), "UTF-8", "UTF-16LE");
  EXPECT_THAT(decoded, HasSubstr("<Notes>Caf\xC3\xA9 \xE2\x98\x83 notes</Notes>"));
  EXPECT_THAT(decoded, HasSubstr(std::string(sample_.substr(sample_.find("<QBStandinCompany"), 200))));
  probe::Document later(Answer(utf16, Request("<TimeTrackingQueryRq requestID=\"1\"/>\n")));
  bool found = false;
  for (probe::Element& ret : later.All("TimeTrackingRet")) found = found || ret.children["Duration"] == "PT2H";
  EXPECT_TRUE(found);

  // UTF-8 with a byte-order mark keeps its mark.
  std::filesystem::path marked = env_.Write("marked.xml", "\xEF\xBB\xBF" + sample_);
  Answer(marked, Request(kTimeAdd));
  EXPECT_TRUE(env_.Read(marked).starts_with("\xEF\xBB\xBF<?xml"));
}

TEST_F(EncodingTest, ADeclaredSingleByteEncodingIsReadAndKept) {
  std::string latin1 = Declared(sample_, "ISO-8859-1");
  const std::string name = "<Name>Consulting</Name>";
  size_t at = latin1.find(name);
  ASSERT_NE(at, std::string::npos);
  latin1.replace(at, name.size(), "<Name>Consult\xE9</Name>");  // é in ISO-8859-1
  std::filesystem::path company = env_.Write("latin1.xml", latin1);
  std::string answer = Answer(company, Request("<ClassQueryRq requestID=\"1\"/>\n"));
  EXPECT_THAT(answer, HasSubstr("Consult\xC3\xA9"));

  // A character the file's encoding has no byte for: the add fails and the file is as it was.
  EXPECT_THROW(Answer(company, Request(kTimeAdd)), kv::Error);
  EXPECT_EQ(env_.Read(company), latin1);
}

TEST_F(EncodingTest, ARequestInUtf16IsAnsweredAsInUtf8) {
  const std::string expected = Answer(utf8_, Request(kQueries));
  const std::string utf16 = Utf16le(Request(kQueries, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"));
  EXPECT_EQ(Answer(utf8_, utf16), expected);
  // The document type declaration form of the header, as the download control writes it.
  const std::string doctype =
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<!DOCTYPE QBXML PUBLIC "
      "'-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n<QBXML>\r\n<QBXMLMsgsRq onError=\"continueOnError\">" +
      kQueries + "</QBXMLMsgsRq>\r\n</QBXML>";
  EXPECT_EQ(Answer(utf8_, Utf16le(doctype)), expected);
}

}  // namespace
}  // namespace standins::quickbooks
