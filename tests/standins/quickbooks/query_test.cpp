// The stand-in's query messages: records in file order, filters, lines and empty answers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "standins/quickbooks/request_handler.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The header of a request as the sync control writes it for a version code.
std::string Request(const std::string& body, int versionCode = 0, const std::string& onError = "continueOnError") {
  std::string header;
  if (versionCode >= 6) {
    static const char* kNames[] = {"CA1.0", "CA1.1", "CA2.0", "UK1.0", "UK1.1", "UK2.0"};
    header = std::string("<?xml version=\"1.0\" ?><?qbxml version=\"") + kNames[versionCode - 6] + "\"?>";
  } else {
    header = std::string("<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD ") +
             (versionCode >= 2 ? "2.0" : "1.0") + "//EN'>\r\n";
  }
  return header + "<QBXML>\r\n<QBXMLMsgsRq onError = \"" + onError + "\">\r\n" + body + "</QBXMLMsgsRq>\r\n</QBXML>";
}

std::string Query(const std::string& name, int id, const std::string& filter = "") {
  return "<" + name + " requestID = \"" + std::to_string(id) + "\">\r\n" + filter + "</" + name + ">\r\n";
}

class QueryTest : public ::testing::Test {
 protected:
  std::string Answer(const std::string& request) { return HandleQBXMLRequest(company_, request).response.Join(); }

  // The records of a kind in the company file, read independently of the stand-in.
  std::vector<probe::Element> FileRecords(const std::string& kind) {
    probe::Document document(env_.Read(company_));
    std::vector<probe::Element> all = document.All(kind);
    return all;
  }

  StandinEnv env_;
  std::filesystem::path company_ = env_.CopySample();
};

struct ListQuery {
  const char* request;
  const char* record;
};

constexpr ListQuery kLists[] = {
    {"CustomerQueryRq", "CustomerRet"},
    {"EmployeeQueryRq", "EmployeeRet"},
    {"VendorQueryRq", "VendorRet"},
    {"StandardTermsQueryRq", "StandardTermsRet"},
    {"AccountQueryRq", "AccountRet"},
    {"ItemServiceQueryRq", "ItemServiceRet"},
    {"ItemNonInventoryQueryRq", "ItemNonInventoryRet"},
    {"ItemOtherChargeQueryRq", "ItemOtherChargeRet"},
    {"PayrollItemWageQueryRq", "PayrollItemWageRet"},
    {"ClassQueryRq", "ClassRet"},
    {"SalesRepQueryRq", "SalesRepRet"},
    {"SalesTaxCodeQueryRq", "SalesTaxCodeRet"},
};

TEST_F(QueryTest, EveryListAnswersItsRecordsInFileOrderByActiveStatus) {
  for (const ListQuery& list : kLists) {
    SCOPED_TRACE(list.request);
    std::vector<probe::Element> records = FileRecords(list.record);
    ASSERT_FALSE(records.empty()) << "the sample company has no " << list.record;
    std::vector<std::string> active, inactive;
    for (const probe::Element& record : records) {
      bool isActive = !record.children.contains("IsActive") || record.children.at("IsActive") == "true";
      (isActive ? active : inactive).push_back(probe::Ids({record})[0]);
    }
    auto answered = [&](const std::string& filter) {
      probe::Document response(Answer(Request(Query(list.request, 7, filter))));
      EXPECT_TRUE(response.Parsed());
      return probe::Ids(response.All(list.record));
    };
    EXPECT_EQ(answered("<ActiveStatus>All</ActiveStatus>\r\n"), probe::Ids(records));
    EXPECT_EQ(answered("<ActiveStatus>ActiveOnly</ActiveStatus>"), active);
    EXPECT_EQ(answered(""), active);  // QuickBooks' default
    EXPECT_EQ(answered("<ActiveStatus>InactiveOnly</ActiveStatus>"), inactive);
  }
}

TEST_F(QueryTest, SampleCompanyHasInactiveRecordsAndJobsToFilter) {
  std::vector<probe::Element> customers = FileRecords("CustomerRet");
  std::vector<std::string> sublevels;
  for (const probe::Element& customer : customers) sublevels.push_back(customer.children.at("Sublevel"));
  EXPECT_THAT(sublevels, ::testing::Contains("2"));
  for (const char* kind : {"EmployeeRet", "CustomerRet", "VendorRet", "AccountRet", "ClassRet", "ItemServiceRet"}) {
    bool anyInactive = false;
    for (const probe::Element& record : FileRecords(kind)) anyInactive |= record.children.at("IsActive") == "false";
    EXPECT_TRUE(anyInactive) << kind;
  }
}

TEST_F(QueryTest, TransactionsWithAndWithoutTheirLines) {
  for (const char* kind : {"Check", "Bill"}) {
    SCOPED_TRACE(kind);
    std::string request = std::string(kind) + "QueryRq";
    std::string record = std::string(kind) + "Ret";
    std::vector<probe::Element> inFile = FileRecords(record);
    probe::Document withLines(Answer(Request(Query(request, 1, "<IncludeLineItems>true</IncludeLineItems>\r\n"))));
    probe::Document without(Answer(Request(Query(request, 1))));
    EXPECT_EQ(probe::Ids(withLines.All(record)), probe::Ids(inFile));
    EXPECT_EQ(probe::Ids(without.All(record)), probe::Ids(inFile));
    size_t lines = 0;
    for (const probe::Element& transaction : inFile) {
      for (const std::string& child : transaction.childNames)
        lines += child == "ExpenseLineRet" || child == "ItemLineRet";
    }
    EXPECT_EQ(withLines.All("ExpenseLineRet").size() + withLines.All("ItemLineRet").size(), lines);
    EXPECT_FALSE(withLines.All("ItemLineRet").empty());
    EXPECT_TRUE(without.All("ExpenseLineRet").empty());
    EXPECT_TRUE(without.All("ItemLineRet").empty());
    // Everything but the lines is still there.
    EXPECT_EQ(without.All(record)[0].children, [&] {
      auto children = inFile[0].children;
      children.erase("ExpenseLineRet");
      children.erase("ItemLineRet");
      return children;
    }());
  }
  probe::Document time(Answer(Request(Query("TimeTrackingQueryRq", 3))));
  EXPECT_EQ(probe::Ids(time.All("TimeTrackingRet")), probe::Ids(FileRecords("TimeTrackingRet")));
}

TEST_F(QueryTest, TheSyncRequestOfAllFourteenQueriesAnswersEachInItsOrder) {
  const char* names[] = {
      "CustomerQueryRq",        "EmployeeQueryRq",    "VendorQueryRq",           "StandardTermsQueryRq",
      "AccountQueryRq",         "ItemServiceQueryRq", "ItemNonInventoryQueryRq", "ItemOtherChargeQueryRq",
      "PayrollItemWageQueryRq", "ClassQueryRq",       "SalesRepQueryRq",         "TimeTrackingQueryRq",
      "CheckQueryRq",           "BillQueryRq"};
  std::string body;
  int id = 0;
  for (const char* name : names) {
    std::string filter = std::string(name) == "TimeTrackingQueryRq" ? ""
                         : std::string(name) == "CheckQueryRq" || std::string(name) == "BillQueryRq"
                             ? "<IncludeLineItems>true</IncludeLineItems>\r\n"
                             : "<ActiveStatus>All</ActiveStatus>\r\n";
    body += Query(name, ++id, filter);
  }
  // A company file of an edition that speaks every version the system knows.
  std::string sample = env_.Read(company_);
  const std::string kUsVersions = "qbxmlVersions=\"1.0 1.1 2.0\"";
  sample.replace(sample.find(kUsVersions), kUsVersions.size(),
                 "qbxmlVersions=\"1.0 1.1 2.0 CA1.0 CA1.1 CA2.0 UK1.0 UK1.1 UK2.0\"");
  company_ = env_.Write("every-version.xml", sample);
  for (int version : {0, 1, 2, 6, 7, 8, 9, 10, 11}) {
    SCOPED_TRACE(version);
    std::string response = Answer(Request(body, version));
    probe::Document document(response);
    ASSERT_TRUE(document.Parsed());
    for (int i = 0; i < 14; ++i) {
      std::string rs = std::string(names[i]).substr(0, std::string(names[i]).size() - 2) + "Rs";
      std::vector<probe::Element> found = document.All(rs);
      ASSERT_EQ(found.size(), 1u) << rs;
      EXPECT_EQ(found[0].attributes.at("requestID"), std::to_string(i + 1));
      EXPECT_EQ(found[0].attributes.at("statusCode"), "0");
      EXPECT_EQ(found[0].attributes.at("statusSeverity"), "Info");
      EXPECT_EQ(found[0].attributes.at("statusMessage"), "Status OK");
    }
    // In request order.
    EXPECT_LT(response.find("<CustomerQueryRs"), response.find("<EmployeeQueryRs"));
    EXPECT_LT(response.find("<CheckQueryRs"), response.find("<BillQueryRs"));
  }
}

TEST_F(QueryTest, EmptyAnswerIsStatusOneWarn) {
  std::filesystem::path empty = env_.Write("empty.xml", "<QBStandinCompany/>");
  probe::Document document(HandleQBXMLRequest(empty, Request(Query("ClassQueryRq", 5))).response.Join());
  std::vector<probe::Element> rs = document.All("ClassQueryRs");
  ASSERT_EQ(rs.size(), 1u);
  EXPECT_EQ(rs[0].attributes.at("requestID"), "5");
  EXPECT_EQ(rs[0].attributes.at("statusCode"), "1");
  EXPECT_EQ(rs[0].attributes.at("statusSeverity"), "Warn");
  EXPECT_EQ(rs[0].attributes.at("statusMessage"), "A query request did not find a matching object in QuickBooks");
}

TEST_F(QueryTest, FiltersAreReadAndARequestWithoutIdGetsNoneEchoed) {
  std::string body = Query("EmployeeQueryRq", 1, "<MaxReturned>many</MaxReturned>") +
                     Query("EmployeeQueryRq", 2, "<MaxReturned>2</MaxReturned>") +
                     "<ClassQueryRq/>\r\n";  // no requestID: none echoed
  probe::Document document(Answer(Request(body)));
  ASSERT_TRUE(document.Parsed());
  std::vector<probe::Element> employees = document.All("EmployeeQueryRs");
  ASSERT_EQ(employees.size(), 2u);
  EXPECT_EQ(employees[0].attributes.at("statusSeverity"), "Error");
  EXPECT_THAT(employees[0].attributes.at("statusMessage"), HasSubstr("many"));
  EXPECT_EQ(employees[1].attributes.at("statusCode"), "0");
  EXPECT_EQ(document.All("EmployeeRet").size(), 2u);  // MaxReturned
  EXPECT_FALSE(document.All("ClassQueryRs")[0].attributes.contains("requestID"));
}

TEST_F(QueryTest, StopOnErrorStopsAtTheFirstErrorButNotAtAWarning) {
  std::filesystem::path empty = env_.Write("empty.xml", "<QBStandinCompany/>");
  std::string body = Query("ClassQueryRq", 1) + Query("EmployeeQueryRq", 2, "<MaxReturned>x</MaxReturned>") +
                     Query("VendorQueryRq", 3);
  probe::Document document(HandleQBXMLRequest(empty, Request(body, 0, "stopOnError")).response.Join());
  EXPECT_EQ(document.All("ClassQueryRs").size(), 1u);  // a warning goes on
  EXPECT_EQ(document.All("EmployeeQueryRs").size(), 1u);
  EXPECT_TRUE(document.All("VendorQueryRs").empty());
  probe::Document going(HandleQBXMLRequest(empty, Request(body)).response.Join());
  EXPECT_EQ(going.All("VendorQueryRs").size(), 1u);
}

TEST_F(QueryTest, TextThatIsNoRequestRaisesTheParseError) {
  for (const std::string& text :
       {std::string(""), std::string("<QBXML><QBXMLMsgsRq onError=\"continueOnError\">"), std::string("hello"),
        std::string("<Other/>"), std::string("<QBXML><Nothing/></QBXML>"),
        Request(Query("ClassQueryRq", 1), 0, "rollbackSometimes")}) {
    try {
      HandleQBXMLRequest(company_, text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), platform::qb::kErrRequestNotXml) << text;
      EXPECT_FALSE(e.description().empty());
    }
  }
}

TEST_F(QueryTest, RecordsAreAnsweredVerbatim) {
  std::string response = Answer(Request(Query("EmployeeQueryRq", 1, "<ActiveStatus>All</ActiveStatus>")));
  std::string file = env_.Read(company_);
  size_t start = file.find("<EmployeeRet>");
  size_t end = file.find("</EmployeeRet>", start) + std::string("</EmployeeRet>").size();
  EXPECT_THAT(response, HasSubstr(file.substr(start, end - start)));
}

TEST_F(QueryTest, MalformedCompanyFileIsReportedWithItsLine) {
  std::filesystem::path bad = env_.Write("bad.xml", "<QBStandinCompany>\n  <ClassRet>\n    <Name>x</Nmae>\n");
  try {
    HandleQBXMLRequest(bad, Request(Query("ClassQueryRq", 1)));
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), platform::qb::kErrCannotOpenFile);
    EXPECT_THAT(e.description(), HasSubstr("line 3"));
  }
}

}  // namespace
}  // namespace standins::quickbooks
