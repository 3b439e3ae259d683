#include "standins/quickbooks/company_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "standins/quickbooks/xml_scan.h"

namespace standins::quickbooks {
namespace {

using ::testing::HasSubstr;

std::string Join(const std::vector<std::string_view>& pieces) {
  std::string text;
  for (std::string_view piece : pieces) text.append(piece);
  return text;
}

TEST(XmlScan, FindsChildrenPastCommentsCdataAndQuotedMarkup) {
  std::string text =
      "<R a=\"x>y\" b='/>'><!-- <Fake> --><A>1</A>\n<![CDATA[<B>no</B>]]><?pi <C>?><B x=\"1\"/><C><C>in</C></C></R>";
  ElementSpan root = ScanElement(text, 0);
  EXPECT_EQ(root.name, "R");
  EXPECT_EQ(root.end, text.size());
  ChildCursor cursor(text, root);
  std::vector<std::string_view> names;
  while (auto child = cursor.Next()) names.push_back(child->name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"A", "B", "C"}));
  EXPECT_EQ(AttributeOf(text, root, "a"), "x>y");
  EXPECT_EQ(AttributeOf(text, root, "b"), "/>");
  EXPECT_FALSE(AttributeOf(text, root, "c").has_value());
}

TEST(XmlScan, DecodesTextAndRejectsBrokenNesting) {
  std::string text = "<N>Bob&apos;s &amp; &#x41;&#66;<![CDATA[<&>]]><I>in</I>&unknown;</N>";
  EXPECT_EQ(DecodedText(text, ScanElement(text, 0)), "Bob's & AB<&>in&unknown;");
  for (const char* bad : {"<A><B></A></B>", "<A>", "<A x=\"1></A>", "<A><!-- </A>"}) {
    EXPECT_THROW(ScanElement(bad, 0), XmlScanError) << bad;
  }
}

TEST(CompanyFile, RecordsInFileOrderWithVersions) {
  auto company = Company::FromText(
      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- note -->\n<!DOCTYPE x>\n"
      "<QBStandinCompany qbxmlVersions=\"1.0  CA2.0\">\n  <ClassRet><Name>a</Name></ClassRet>\n"
      "  <!-- between -->\n  <EmployeeRet/>\n</QBStandinCompany>\n<!-- after -->\n",
      "c.xml");
  EXPECT_EQ(company->versions(), (std::vector<std::string>{"1.0", "CA2.0"}));
  ASSERT_EQ(company->records().size(), 2u);
  EXPECT_EQ(company->records()[0].kind, "ClassRet");
  EXPECT_EQ(company->records()[0].text, "<ClassRet><Name>a</Name></ClassRet>");
  EXPECT_EQ(company->records()[0].indent, "  ");
  EXPECT_EQ(company->records()[1].text, "<EmployeeRet/>");
  EXPECT_EQ(Company::FromText("<QBStandinCompany/>", "d.xml")->versions(),
            (std::vector<std::string>{"1.0", "1.1", "2.0"}));
}

TEST(CompanyFile, MistakesAreNamedWithTheirLine) {
  struct Case {
    const char* text;
    const char* expected;
  };
  for (const Case& c : {Case{"<QBStandinCompany>\n  text\n</QBStandinCompany>", "line 2"},
                        Case{"<QBStandinCompany/>\n<Second/>", "after the root"}, Case{"<Other/>", "QBStandinCompany"},
                        Case{"", "no root"}, Case{"<QBStandinCompany>\n<A>\n</B>\n</QBStandinCompany>", "line 3"}}) {
    try {
      Company::FromText(c.text, "bad.xml");
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const CompanyError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.expected));
      EXPECT_THAT(e.what(), HasSubstr("bad.xml"));
    }
  }
}

TEST(CompanyFile, AppendedRecordsGoBeforeTheRootEndTag) {
  auto company = Company::FromText("<QBStandinCompany>\n  <A/>\n</QBStandinCompany>\n", "c.xml");
  std::string text = Join(company->WithRecordsAppended({IndentRecord("<B>\n  <C>x</C>\n</B>\n")}));
  EXPECT_EQ(text, "<QBStandinCompany>\n  <A/>\n  <B>\n    <C>x</C>\n  </B>\n</QBStandinCompany>\n");
  auto closed = Company::FromText("<?xml version=\"1.0\"?>\n<QBStandinCompany qbxmlVersions=\"2.0\"/>\n", "c.xml");
  text = Join(closed->WithRecordsAppended({"  <B/>"}));
  EXPECT_EQ(text, "<?xml version=\"1.0\"?>\n<QBStandinCompany qbxmlVersions=\"2.0\">\n  <B/>\n</QBStandinCompany>\n");
  EXPECT_EQ(Company::FromText(text, "c.xml")->records().size(), 1u);
  auto oneLine = Company::FromText("<QBStandinCompany><A/></QBStandinCompany>", "c.xml");
  EXPECT_EQ(Company::FromText(Join(oneLine->WithRecordsAppended({"  <B/>"})), "c.xml")->records().size(), 2u);
}

}  // namespace
}  // namespace standins::quickbooks
