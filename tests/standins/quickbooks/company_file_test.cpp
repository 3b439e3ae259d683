// Reading and appending to a company file of the QuickBooks stand-in.

#include "standins/quickbooks/company_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace standins::quickbooks {
namespace {

using ::testing::HasSubstr;

std::string Join(const std::vector<std::string_view>& pieces) {
  std::string text;
  for (std::string_view piece : pieces) text.append(piece);
  return text;
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
                        Case{"<QBStandinCompany/>\n<Second/>", "Extra content at the end of the document"},
                        Case{"<Other/>", "QBStandinCompany"}, Case{"", "Document is empty"},
                        Case{"<QBStandinCompany>\n<A>\n</B>\n</QBStandinCompany>", "line 3"}}) {
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
