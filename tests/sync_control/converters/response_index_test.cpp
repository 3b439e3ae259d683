// The run reads QuickBooks' response once for all its converters: each converter gets from the run's reading the
// records, statements, captions and messages it gets from a walk of the response of its own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

// One record as QuickBooks writes it, with a note long enough that the places of the records stay a small part
// of the response.
std::string RecordText(const std::string& element, const std::string& id, const std::string& modified,
                       const std::string& inner = "") {
  const bool txn = element == "TimeTrackingRet" || element == "CheckRet" || element == "BillRet";
  return "<" + element + ">\r\n<" + (txn ? "TxnID" : "ListID") + ">" + id + "</" + (txn ? "TxnID" : "ListID") +
         ">\r\n<TimeCreated>2010-01-01T08:00:00</TimeCreated>\r\n<TimeModified>" + modified +
         "</TimeModified>\r\n<Name>" + id + " &amp; Sons &#233;</Name>\r\n<FullName>" + id +
         "</FullName>\r\n<IsActive>true</IsActive>\r\n" + inner + "<Note>" + std::string(300, 'n') + "</Note>\r\n</" +
         element + ">\r\n";
}

std::string Lines(const std::string& id) {
  return "<ExpenseLineRet><TxnLineID>" + id +
         "-1</TxnLineID><AccountRef><FullName>Travel</FullName></AccountRef>"
         "<Amount>12.50</Amount><Memo><![CDATA[a <b> memo]]></Memo></ExpenseLineRet>\r\n"
         "<ItemLineRet><TxnLineID>" +
         id +
         "-2</TxnLineID><ItemRef><FullName>Part</FullName></ItemRef>"
         "<Desc>Part &lt;1&gt;</Desc><Amount>20.00</Amount><ItemLineRet><TxnLineID>inner</TxnLineID></ItemLineRet>"
         "</ItemLineRet>\r\n";
}

// Every list the converters read, kinds interleaved, changed and unchanged records, customers with jobs.
std::string EveryList(const std::string& root) {
  const std::string changed = "2011-01-02T10:30:00";
  const std::string unchanged = "2010-06-01T08:00:00";
  std::string text = "<?xml version=\"1.0\" ?>\r\n" + root + "\r\n<QBXMLMsgsRs>\r\n";
  for (int round = 0; round < 3; ++round) {
    const std::string r = std::to_string(round);
    const std::string& when = round == 1 ? unchanged : changed;
    text += RecordText("VendorRet", "V" + r, when);
    text += RecordText("CustomerRet", "C" + r, when, "<Sublevel>0</Sublevel>\r\n");
    text += RecordText("CustomerRet", "J" + r, round == 0 ? changed : unchanged,
                       "<ParentRef><ListID>C" + r + "</ListID></ParentRef><Sublevel>1</Sublevel>\r\n");
    text += RecordText("CustomerRet", "S" + r, unchanged,
                       "<ParentRef><ListID>J" + r + "</ListID></ParentRef><Sublevel>2</Sublevel>\r\n");
    text += RecordText("BillRet", "B" + r, when, Lines("B" + r));
    text += RecordText("EmployeeRet", "E" + r, when);
    text += RecordText("ClassRet", "K" + r, when);
    text += RecordText("ItemServiceRet", "IS" + r, when, "<SalesTaxCodeRef><FullName>Tax</FullName></SalesTaxCodeRef>");
    text += RecordText("AccountRet", "A" + r, when, "<AccountType>Expense</AccountType>\r\n");
    text += RecordText("CheckRet", "X" + r, when, Lines("X" + r));
    text += RecordText("ItemNonInventoryRet", "IN" + r, when);
    text += RecordText("TimeTrackingRet", "T" + r, when, "<Duration>PT1H30M</Duration>\r\n");
    text += RecordText("ItemOtherChargeRet", "IO" + r, when);
    text += RecordText("PayrollItemWageRet", "W" + r, when, "<WageType>HourlyRegular</WageType>\r\n");
    text += "<SalesTaxCodeRet><Name>Tax</Name><IsTaxable>true</IsTaxable></SalesTaxCodeRet>\r\n";
  }
  return text + "</QBXMLMsgsRs>\r\n</QBXML>\r\n";
}

class ResponseIndexTest : public ConverterTest {
 protected:
  struct Run {
    std::vector<std::string> bodies;  // every request to the service, page and body
    std::string caption;
    double progress_max = 0;
    int64_t counts = 0;
    bool error = false;
    std::string error_text;
  };

  // One run of the dispatcher with every list ticked over the response.
  Run Dispatch(const std::string& response) {
    const size_t before = service->Received().size();
    ResetRecordSets();
    ModWizard& m = Module();
    m.sQBXMLResponse = response;
    for (kv::DateTime* last :
         {&m.CustomerLastSyncDate, &m.EmployeeLastSyncDate, &m.GLAccountsLastSyncDate, &m.ClassLastSyncDate,
          &m.TasksLastSyncDate, &m.VendorsLastSyncDate, &m.TimeLastSyncDate, &m.ExpenseLastSyncDate}) {
      *last = kv::DateTime::FromParts(2010, 12, 1);  // between the unchanged and the changed records
    }
    m.bSyncEmployees = m.bSyncCustomers = m.bSyncClasses = m.bSyncGLAccounts = m.bSyncTasks = m.bSyncVendors =
        m.bSyncTime = m.bSyncExpense = true;
    ctl->bAbortSync = false;
    ctl->ProcessQueryResponse();
    Run run;
    const auto received = service->Received();
    for (size_t i = before; i < received.size(); ++i)
      run.bodies.push_back(received[i].Page() + "\n" + received[i].body);
    run.caption = ctl->lblProcess.Caption();
    run.progress_max = ctl->ProgressBar1.Max();
    run.counts = m.varEmployeeCount + 10 * m.varCustomerCount + 100 * m.varProjectCount + 1000 * m.varClassCount +
                 10000 * m.varGLAccountCount + 100000 * m.varTaskCount + 1000000 * m.varVendorCount +
                 10000000 * m.varTimeCount + 100000000 * m.varExpenseTotal;
    run.error = m.bSyncError;
    run.error_text = m.sSyncErrorText;
    return run;
  }
};

TEST_F(ResponseIndexTest, EveryConverterGetsWhatAWalkOfItsOwnGives) {
  // A namespace declared around the records keeps them from being read from their places: the converters then
  // walk the response each for themselves, as they always did.
  const std::string around = EveryList("<QBXML xmlns:z=\"urn:z\">");
  const std::string plain = EveryList("<QBXML>");
  ASSERT_FALSE(platform::xml::ElementIndex(around, {"CustomerRet"}).positioned());
  ASSERT_TRUE(platform::xml::ElementIndex(plain, {"CustomerRet", "BillRet", "ItemServiceRet"}).positioned());
  const Run walked = Dispatch(around);
  const Run indexed = Dispatch(plain);
  ASSERT_FALSE(indexed.error) << indexed.error_text;
  EXPECT_EQ(indexed.bodies, walked.bodies);
  EXPECT_EQ(indexed.caption, walked.caption);
  EXPECT_EQ(indexed.progress_max, walked.progress_max);
  EXPECT_EQ(indexed.counts, walked.counts);
  // Changed records of every list went (unchanged ones only where a rule sends them), with the statuses.
  EXPECT_GT(indexed.bodies.size(), 10u);
  EXPECT_EQ(Module().varProjectCount, 2);  // J0, and its sub-job S0 along with it
  EXPECT_EQ(Module().varExpenseTotal, 8);  // two lines each of the changed checks and bills, X0, X2, B0, B2
  EXPECT_EQ(Module().varEmployeeCount, 2);
  EXPECT_EQ(Module().varClassCount, 3);  // classes are sent whole
}

TEST_F(ResponseIndexTest, AResponseThatDoesNotParseGivesTheMessageOfToday) {
  std::string broken = EveryList("<QBXML>");
  broken.insert(broken.find("<ClassRet>", broken.size() / 2), "<Unclosed>");
  platform::xml::Document doc;
  ASSERT_FALSE(doc.LoadXml(broken));
  ui->ExpectBoxContaining("qbXML response could not be read: " + doc.parseError().reason);
  const Run run = Dispatch(broken);
  EXPECT_TRUE(run.error);
  EXPECT_EQ(run.error_text, "qbXML response could not be read: " + doc.parseError().reason);
  EXPECT_TRUE(run.bodies.empty());
  EXPECT_EQ(Module().responseIndex, nullptr);  // released with the run
}

}  // namespace
}  // namespace brintavel::testing
