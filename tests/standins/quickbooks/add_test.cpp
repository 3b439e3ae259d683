// The stand-in's add messages: records a later query returns, ids, references and refused values.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>

#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/request_handler.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;

const std::string kCrLf = "\r\n";

// The document as the download control writes it: CR LF lines, the QBD 2.0 header, spaced attributes.
std::string Document(const std::string& messages, const std::string& onError = "continueOnError") {
  return "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n<QBXML>\r\n"
         "<QBXMLMsgsRq onError = \"" +
         onError + "\">\r\n" + messages + "</QBXMLMsgsRq>\r\n</QBXML>";
}

std::string FullName(const std::string& element, const std::string& name) {
  return "<" + element + ">\r\n<FullName>" + name + "</FullName>\r\n</" + element + ">\r\n";
}

struct Time {
  std::string employee = "Marcus O&apos;Neill";
  std::string customer = "Acme Widgets:Plant Expansion";
  std::string item = "Consulting";
  std::string duration = "PT7H30M";
  std::string klass = "Consulting";
  std::string payroll = "Regular Pay";
  std::string notes = "Met &amp; planned&#10;next steps";
  std::string date = "2006-04-03";
};

std::string TimeAdd(const Time& t, int id = 1) {
  std::string text = "<TimeTrackingAddRq requestID = \"" + std::to_string(id) + "\">\r\n<TimeTrackingAdd>\r\n";
  text += "<TxnDate>" + t.date + "</TxnDate>\r\n" + FullName("EntityRef", t.employee);
  if (!t.customer.empty()) text += FullName("CustomerRef", t.customer);
  text += FullName("ItemServiceRef", t.item);
  text += "<Duration>" + t.duration + "</Duration>";  // no line break after it, as the control writes it
  if (!t.klass.empty()) text += FullName("ClassRef", t.klass);
  if (!t.payroll.empty()) text += FullName("PayrollItemWageRef", t.payroll);
  text +=
      "<Notes>" + t.notes + "</Notes>\r\n<IsBillable>1</IsBillable>\r\n</TimeTrackingAdd>\r\n</TimeTrackingAddRq>\r\n";
  return text;
}

std::string ExpenseLine(const std::string& account, const std::string& amount, const std::string& customer = "") {
  std::string text = "<ExpenseLineAdd>\r\n" + FullName("AccountRef", account) + "<Amount>" + amount +
                     "</Amount>\r\n<Memo>Taxi to the airport</Memo>\r\n";
  if (!customer.empty()) text += FullName("CustomerRef", customer) + "<BillableStatus>Billable</BillableStatus>\r\n";
  return text + "</ExpenseLineAdd>\r\n";
}

std::string ItemLine(const std::string& item, const std::string& quantity, const std::string& cost) {
  return "<ItemLineAdd>\r\n" + FullName("ItemRef", item) + "<Desc>Paper</Desc>\r\n<Quantity>" + quantity +
         "</Quantity>\r\n<Cost>" + cost + "</Cost>\r\n" + FullName("ClassRef", "Consulting:West Region") +
         "</ItemLineAdd>\r\n";
}

std::string BillAdd(const std::string& vendor, const std::string& lines) {
  return "<BillAddRq requestID = \"1\">\r\n<BillAdd>\r\n" + FullName("VendorRef", vendor) +
         "<TxnDate>2006-05-10</TxnDate>\r\n<Memo>Trip to Acme</Memo>\r\n" + lines + "</BillAdd>\r\n</BillAddRq>\r\n";
}

std::string CheckAdd(const std::string& bank, const std::string& payee, const std::string& lines) {
  return "<CheckAddRq requestID = \"1\">\r\n<CheckAdd>\r\n" + FullName("AccountRef", bank) +
         FullName("PayeeEntityRef", payee) + "<TxnDate>2006-05-10</TxnDate>\r\n" + lines +
         "</CheckAdd>\r\n</CheckAddRq>\r\n";
}

// Whether the text matches a pattern where 9 stands for a decimal digit, X for a hexadecimal one, + repeats the
// character class before it, and anything else stands for itself.
bool Shaped(const std::string& text, const std::string& pattern) {
  size_t t = 0;
  for (size_t p = 0; p < pattern.size(); ++p) {
    auto fits = [&](char c) {
      if (pattern[p] == '9') return std::isdigit(static_cast<unsigned char>(c)) != 0;
      if (pattern[p] == 'X') return std::isxdigit(static_cast<unsigned char>(c)) != 0;
      if (pattern[p] == 'S') return c == '+' || c == '-';
      return c == pattern[p];
    };
    if (t >= text.size() || !fits(text[t])) return false;
    ++t;
    if (p + 1 < pattern.size() && pattern[p + 1] == '+') {
      while (t < text.size() && fits(text[t])) ++t;
      ++p;
    }
  }
  return t == text.size();
}

class AddTest : public ::testing::Test {
 protected:
  std::string Send(const std::string& messages, const std::string& onError = "continueOnError") {
    return HandleQBXMLRequest(company_, Document(messages, onError)).response.Join();
  }
  std::string Query(const std::string& name, const std::string& filter = "") {
    return HandleQBXMLRequest(company_, Document("<" + name + " requestID=\"9\">" + filter + "</" + name + ">"))
        .response.Join();
  }
  probe::Element Status(const std::string& response, const std::string& rs) {
    probe::Document document(response);
    std::vector<probe::Element> found = document.All(rs);
    EXPECT_EQ(found.size(), 1u) << response;
    return found.empty() ? probe::Element{} : found[0];
  }
  // The ListID of the named record in the company file.
  std::string ListIDOf(const std::string& kind, const std::string& name) {
    probe::Document file(env_.Read(company_));
    for (const probe::Element& record : file.All(kind)) {
      auto full = record.children.find("FullName");
      const std::string& recordName = full != record.children.end() ? full->second : record.children.at("Name");
      if (recordName == name) return record.children.at("ListID");
    }
    return "";
  }

  StandinEnv env_;
  std::filesystem::path company_ = env_.CopySample();
};

TEST_F(AddTest, TimeTrackingAddCreatesARecordThatALaterQueryReturns) {
  std::string response = Send(TimeAdd(Time{}));
  probe::Element status = Status(response, "TimeTrackingAddRs");
  EXPECT_EQ(status.attributes["statusCode"], "0") << response;
  EXPECT_EQ(status.attributes["requestID"], "1");
  probe::Document answer(response);
  ASSERT_EQ(answer.All("TimeTrackingRet").size(), 1u);
  probe::Element ret = answer.All("TimeTrackingRet")[0];
  EXPECT_TRUE(Shaped(ret.children["TxnID"], "X+-9+")) << ret.children["TxnID"];
  EXPECT_TRUE(Shaped(ret.children["TimeCreated"], "9999-99-99T99:99:99S99:99")) << ret.children["TimeCreated"];
  EXPECT_EQ(ret.children["TimeModified"], ret.children["TimeCreated"]);
  EXPECT_TRUE(Shaped(ret.children["EditSequence"], "9+"));
  EXPECT_EQ(ret.children["Duration"], "PT7H30M");
  EXPECT_EQ(ret.children["Notes"], "Met & planned\nnext steps");
  EXPECT_EQ(ret.children["IsBillable"], "true");
  EXPECT_EQ(answer.All("EntityRef")[0].children["ListID"], ListIDOf("EmployeeRet", "Marcus O'Neill"));
  EXPECT_EQ(answer.All("CustomerRef")[0].children["ListID"], ListIDOf("CustomerRet", "Acme Widgets:Plant Expansion"));

  probe::Document later(Query("TimeTrackingQueryRq"));
  std::vector<std::string> ids = probe::Ids(later.All("TimeTrackingRet"));
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.back(), ret.children["TxnID"]);
  EXPECT_EQ(later.All("TimeTrackingRet").back().children["Notes"], "Met & planned\nnext steps");
  EXPECT_NO_THROW(Company::Load(company_));
}

TEST_F(AddTest, NewTransactionsGetNewIds) {
  Time leave;
  leave.customer = "";
  leave.klass = "";
  leave.payroll = "Vacation Pay";
  std::string first = Send(TimeAdd(Time{}, 1) + TimeAdd(leave, 2));
  std::string second = Send(TimeAdd(Time{}, 1));
  std::vector<std::string> ids = probe::Ids(probe::Document(first).All("TimeTrackingRet"));
  ids.push_back(probe::Ids(probe::Document(second).All("TimeTrackingRet"))[0]);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(ids[1], ids[2]);
  // One past the highest transaction number the sample company uses (3E).
  EXPECT_EQ(ids[0].substr(0, ids[0].find('-')), "3F");
}

TEST_F(AddTest, ReferencesAreByFullNameInAnyLetterCase) {
  Time t;
  t.customer = "ACME WIDGETS:plant expansion:PHASE 2";
  std::string response = Send(TimeAdd(t));
  EXPECT_EQ(Status(response, "TimeTrackingAddRs").attributes["statusCode"], "0") << response;
  EXPECT_EQ(probe::Document(response).All("CustomerRef")[0].children["FullName"],
            "Acme Widgets:Plant Expansion:Phase 2");
}

TEST_F(AddTest, BadReferencesComeBackAsErrorStatusesNamingTheMissingOne) {
  std::string before = env_.Read(company_);
  struct Case {
    Time time;
    std::string expected;
  };
  std::vector<Case> cases(6);
  cases[0].time.employee = "Nobody Known";
  cases[0].expected = "There is an invalid reference to QuickBooks Entity \"Nobody Known\" in the Time Tracking.";
  cases[1].time.customer = "Acme Widgets:No Such Job";
  cases[1].expected = "Customer \"Acme Widgets:No Such Job\"";
  cases[2].time.item = "";
  cases[2].expected = "Item Service \"\"";
  cases[3].time.klass = "Marketing";
  cases[3].expected = "Class \"Marketing\"";
  cases[4].time.payroll = "Double Time";
  cases[4].expected = "Payroll Item Wage \"Double Time\"";
  cases[5].time.item = "Printer Paper";  // an item, but not a service item
  cases[5].expected = "Item Service \"Printer Paper\"";
  for (const Case& c : cases) {
    probe::Element status = Status(Send(TimeAdd(c.time)), "TimeTrackingAddRs");
    EXPECT_EQ(status.attributes["statusCode"], "3140");
    EXPECT_EQ(status.attributes["statusSeverity"], "Error");
    EXPECT_THAT(status.attributes["statusMessage"], HasSubstr(c.expected));
  }
  EXPECT_EQ(env_.Read(company_), before);  // nothing was written
}

TEST_F(AddTest, BadValuesComeBackAsErrorStatuses) {
  Time badDuration;
  badDuration.duration = "7.5 hours";
  Time badDate;
  badDate.date = "2006-02-30";
  for (const Time& t : {badDuration, badDate}) {
    probe::Element status = Status(Send(TimeAdd(t)), "TimeTrackingAddRs");
    EXPECT_EQ(status.attributes["statusCode"], "3000");
    EXPECT_FALSE(status.attributes["statusMessage"].empty());
  }
}

TEST_F(AddTest, BillWithExpenseAndItemLines) {
  std::string response =
      Send(BillAdd("Lee&apos;s Catering", ExpenseLine("Travel Expense", "12.50", "Northwind Traders") +
                                              ItemLine("Printer Paper", "2.00", "3.25")));
  EXPECT_EQ(Status(response, "BillAddRs").attributes["statusCode"], "0") << response;
  probe::Document answer(response);
  probe::Element bill = answer.All("BillRet")[0];
  EXPECT_EQ(bill.children["AmountDue"], "19.00");
  EXPECT_EQ(bill.children["Memo"], "Trip to Acme");
  EXPECT_EQ(answer.All("VendorRef")[0].children["FullName"], "Lee's Catering");
  EXPECT_EQ(answer.All("APAccountRef")[0].children["FullName"], "Accounts Payable");
  ASSERT_EQ(answer.All("ExpenseLineRet").size(), 1u);
  EXPECT_EQ(answer.All("ExpenseLineRet")[0].children["Amount"], "12.50");
  EXPECT_EQ(answer.All("ExpenseLineRet")[0].children["BillableStatus"], "Billable");
  ASSERT_EQ(answer.All("ItemLineRet").size(), 1u);
  EXPECT_EQ(answer.All("ItemLineRet")[0].children["Amount"], "6.50");
  EXPECT_EQ(answer.All("ItemLineRet")[0].children["Quantity"], "2.00");

  probe::Document later(Query("BillQueryRq", "<IncludeLineItems>true</IncludeLineItems>"));
  EXPECT_EQ(probe::Ids(later.All("BillRet")).back(), bill.children["TxnID"]);
  EXPECT_EQ(later.All("BillRet").back().childNames.back(), "ItemLineRet");
}

TEST_F(AddTest, CheckIsDrawnOnABankAccount) {
  std::string response =
      Send(CheckAdd("Checking", "Riverside Travel Agency", ExpenseLine("Automobile:Fuel", "1234.5")));
  EXPECT_EQ(Status(response, "CheckAddRs").attributes["statusCode"], "0") << response;
  probe::Document answer(response);
  EXPECT_EQ(answer.All("CheckRet")[0].children["Amount"], "1234.50");
  EXPECT_EQ(answer.All("PayeeEntityRef")[0].children["FullName"], "Riverside Travel Agency");

  probe::Element notBank = Status(
      Send(CheckAdd("Travel Expense", "Riverside Travel Agency", ExpenseLine("Travel Expense", "1"))), "CheckAddRs");
  EXPECT_EQ(notBank.attributes["statusSeverity"], "Error");
  EXPECT_THAT(notBank.attributes["statusMessage"], HasSubstr("Bank"));
  probe::Element noLines = Status(Send(CheckAdd("Checking", "Riverside Travel Agency", "")), "CheckAddRs");
  EXPECT_EQ(noLines.attributes["statusSeverity"], "Error");
  probe::Element badAccount =
      Status(Send(CheckAdd("Checking", "Riverside Travel Agency", ExpenseLine("Postage", "1"))), "CheckAddRs");
  EXPECT_THAT(badAccount.attributes["statusMessage"], HasSubstr("Account \"Postage\""));
}

TEST_F(AddTest, StopOnErrorWritesOnlyWhatCameBeforeTheError) {
  Time bad;
  bad.employee = "Nobody";
  std::string response = Send(TimeAdd(Time{}, 1) + TimeAdd(bad, 2) + TimeAdd(Time{}, 3), "stopOnError");
  probe::Document answer(response);
  EXPECT_EQ(answer.All("TimeTrackingAddRs").size(), 2u);
  EXPECT_EQ(probe::Document(Query("TimeTrackingQueryRq")).All("TimeTrackingRet").size(), 5u);  // 4 + 1

  response = Send(TimeAdd(bad, 1) + TimeAdd(Time{}, 2));
  EXPECT_EQ(probe::Document(response).All("TimeTrackingAddRs").size(), 2u);
  EXPECT_EQ(probe::Document(Query("TimeTrackingQueryRq")).All("TimeTrackingRet").size(), 6u);
}

TEST_F(AddTest, SelfClosingCompanyTakesRecords) {
  company_ = env_.Write("small.xml",
                        "<QBStandinCompany><EmployeeRet><ListID>E1</ListID><Name>Ann</Name></EmployeeRet>"
                        "<ItemServiceRet><ListID>I1</ListID><Name>Work</Name><FullName>Work</FullName></ItemServiceRet>"
                        "</QBStandinCompany>");
  Time t;
  t.employee = "Ann";
  t.customer = "";
  t.item = "Work";
  t.klass = "";
  t.payroll = "";
  EXPECT_EQ(Status(Send(TimeAdd(t)), "TimeTrackingAddRs").attributes["statusCode"], "0");
  company_ = env_.Write("empty.xml", "<?xml version=\"1.0\"?>\n<QBStandinCompany qbxmlVersions=\"2.0\"/>\n");
  EXPECT_EQ(Status(Send(TimeAdd(t)), "TimeTrackingAddRs").attributes["statusCode"], "3140");
  EXPECT_EQ(Company::Load(company_)->versions(), std::vector<std::string>{"2.0"});
}

}  // namespace
}  // namespace standins::quickbooks
