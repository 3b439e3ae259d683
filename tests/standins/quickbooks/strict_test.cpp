// The stand-in refuses what QuickBooks refuses: a request that does not fit the message set of its version fails
// as a whole with QuickBooks' parse error, a text over its field's length fails only its own message.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "standins/quickbooks/request_handler.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// QuickBooks' own description of error 0x80040400, as its SDK reference gives it.
constexpr char kParseError[] = "QuickBooks found an error when parsing the provided XML text stream.";

std::string Request(const std::string& body, const std::string& header = "<?qbxml version=\"2.0\"?>") {
  return "<?xml version=\"1.0\" ?>" + header + "<QBXML>\r\n<QBXMLMsgsRq onError=\"continueOnError\">\r\n" + body +
         "</QBXMLMsgsRq>\r\n</QBXML>";
}

std::string Ref(const std::string& element, const std::string& name) {
  return "<" + element + "><FullName>" + name + "</FullName></" + element + ">";
}

// A time entry whose parts can be swapped out.
std::string Time(const std::string& inside) {
  return "<TimeTrackingAddRq requestID=\"1\"><TimeTrackingAdd>" + inside + "</TimeTrackingAdd></TimeTrackingAddRq>\r\n";
}

const std::string kEmployee = Ref("EntityRef", "Dana Whitfield");
const std::string kDuration = "<Duration>PT1H0M</Duration>";
const std::string kDate = "<TxnDate>2006-05-01</TxnDate>";

std::string Bill(const std::string& lines, const std::string& head = "") {
  return "<BillAddRq requestID=\"2\"><BillAdd>" + Ref("VendorRef", "Cascade Office Supply") + kDate + head + lines +
         "</BillAdd></BillAddRq>\r\n";
}
const std::string kExpenseLine =
    "<ExpenseLineAdd>" + Ref("AccountRef", "Travel Expense") + "<Amount>5.00</Amount></ExpenseLineAdd>";
const std::string kItemLine =
    "<ItemLineAdd>" + Ref("ItemRef", "Printer Paper") + "<Quantity>1.00</Quantity><Cost>2.00</Cost></ItemLineAdd>";

class StrictTest : public ::testing::Test {
 protected:
  std::string Answer(const std::string& request) { return HandleQBXMLRequest(company_, request).response.Join(); }

  // The description of the error that refused the whole request, or "" when it was taken.
  std::string Refusal(const std::string& request) {
    try {
      HandleQBXMLRequest(company_, request);
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), platform::qb::kErrRequestNotXml);
      return e.description();
    }
    return "";
  }

  probe::Element Status(const std::string& response, const std::string& rs) {
    std::vector<probe::Element> found = probe::Document(response).All(rs);
    EXPECT_EQ(found.size(), 1u) << response;
    return found.empty() ? probe::Element{} : found[0];
  }

  StandinEnv env_;
  std::filesystem::path company_ = env_.CopySample();
};

TEST_F(StrictTest, AFittingRequestIsTaken) {
  std::string response = Answer(Request(Time(kDate + kEmployee + kDuration) + Bill(kExpenseLine + kItemLine)));
  EXPECT_EQ(Status(response, "TimeTrackingAddRs").attributes["statusCode"], "0") << response;
  EXPECT_EQ(Status(response, "BillAddRs").attributes["statusCode"], "0") << response;
}

TEST_F(StrictTest, ADocumentThatDoesNotFitItsMessageSetIsRefusedWhole) {
  const std::string good = Time(kEmployee + kDuration);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"children out of order", Time(kEmployee + kDate + kDuration)},
      {"an item line before an expense line", Bill(kItemLine + kExpenseLine)},
      {"a required child missing", Time(kDate + kDuration)},
      {"the other required child missing", Time(kEmployee)},
      {"a single child repeated", Time(kEmployee + kEmployee + kDuration)},
      {"a reference named twice",
       Time("<EntityRef><FullName>Dana Whitfield</FullName><FullName>Marcus O'Neill</FullName></EntityRef>" +
            kDuration)},
      {"an unknown enumerated value", "<EmployeeQueryRq><ActiveStatus>Some</ActiveStatus></EmployeeQueryRq>"},
      {"an unknown billable status", Bill("<ExpenseLineAdd>" + Ref("AccountRef", "Travel Expense") +
                                          "<BillableStatus>Maybe</BillableStatus>" + "</ExpenseLineAdd>")},
      {"a filter the message does not have",
       "<TimeTrackingQueryRq><ActiveStatus>All</ActiveStatus></TimeTrackingQueryRq>"},
      {"an element QuickBooks does not know", Time(kEmployee + kDuration + "<Colour>red</Colour>")},
      {"a message QuickBooks does not know", "<NoSuchQueryRq requestID=\"3\"/>"},
  };
  for (const auto& [what, message] : cases) {
    // The fitting message beside it does not save the request.
    EXPECT_THAT(Refusal(Request(good + message)), StartsWith(kParseError)) << what;
  }
  EXPECT_THAT(Refusal("<?xml version=\"1.0\" ?><?qbxml version=\"2.0\"?><QBXML><QBXMLMsgsRq>" + good +
                      "</QBXMLMsgsRq></QBXML>"),
              StartsWith(kParseError))
      << "no onError";
}

TEST_F(StrictTest, AVersionQuickBooksDoesNotServeIsRefused) {
  const std::string body = Time(kEmployee + kDuration);
  EXPECT_THAT(Refusal(Request(body, "<?qbxml version=\"ZZ9.9\"?>")), StartsWith(kParseError));
  EXPECT_THAT(Refusal(Request(body, "")), StartsWith(kParseError));
  // The sample company speaks the US versions only.
  EXPECT_THAT(Refusal(Request(body, "<?qbxml version=\"CA2.0\"?>")), StartsWith(kParseError));
  EXPECT_THAT(Refusal(Request(body, "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 3.0//EN'>")),
              StartsWith(kParseError));
  EXPECT_EQ(Refusal(Request(body, "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>")), "");
  EXPECT_EQ(Refusal(Request(body, "<?qbxml version=\"1.1\"?>")), "");
}

TEST_F(StrictTest, BillableStatusCameWithVersionTwo) {
  const std::string line = "<ExpenseLineAdd>" + Ref("AccountRef", "Travel Expense") + "<Amount>1.00</Amount>" +
                           Ref("CustomerRef", "Northwind Traders") + "<BillableStatus>Billable</BillableStatus>" +
                           "</ExpenseLineAdd>";
  EXPECT_THAT(Refusal(Request(Bill(line), "<?qbxml version=\"1.1\"?>")), StartsWith(kParseError));
  EXPECT_EQ(Refusal(Request(Bill(line), "<?qbxml version=\"2.0\"?>")), "");
}

TEST_F(StrictTest, TransactionQueriesTakeTheirFiltersInEveryVersionAndNothingTheyLack) {
  // The ids, or the filters in QuickBooks' order: MaxReturned, one date range, the entity filter, then the lines.
  const std::string time =
      "<TimeTrackingQueryRq><MaxReturned>5</MaxReturned><TxnDateRangeFilter><FromTxnDate>2006-04-01</FromTxnDate>"
      "</TxnDateRangeFilter><TimeTrackingEntityFilter><FullName>Dana Whitfield</FullName><FullName>Priya Raman"
      "</FullName></TimeTrackingEntityFilter></TimeTrackingQueryRq>";
  const std::string bill =
      "<BillQueryRq><ModifiedDateRangeFilter><ToModifiedDate>2006-05-01</ToModifiedDate></ModifiedDateRangeFilter>"
      "<EntityFilter><FullNameWithChildren>Cascade Office Supply</FullNameWithChildren></EntityFilter>"
      "<IncludeLineItems>true</IncludeLineItems></BillQueryRq>";
  const std::string check =
      "<CheckQueryRq><TxnID>2A-1146420000</TxnID><TxnID>2E-1133445600</TxnID><IncludeLineItems>false"
      "</IncludeLineItems></CheckQueryRq>";
  std::string sample = env_.Read(company_);
  const std::string us = "qbxmlVersions=\"1.0 1.1 2.0\"";
  sample.replace(sample.find(us), us.size(), "qbxmlVersions=\"1.0 1.1 2.0 CA1.0 CA1.1 CA2.0 UK1.0 UK1.1 UK2.0\"");
  company_ = env_.Write("every-version.xml", sample);
  for (const char* version : {"1.0", "1.1", "2.0", "CA1.0", "CA1.1", "CA2.0", "UK1.0", "UK1.1", "UK2.0"}) {
    const std::string header = std::string("<?qbxml version=\"") + version + "\"?>";
    EXPECT_EQ(Refusal(Request(time + bill + check, header)), "") << version;
    const std::vector<std::pair<std::string, std::string>> refused = {
        // Came with 4.0, after every version the stand-in serves.
        {"IncludeRetElement",
         "<TimeTrackingQueryRq><IncludeRetElement>TxnID</IncludeRetElement></TimeTrackingQueryRq>"},
        {"a bill's entity filter in a time query",
         "<TimeTrackingQueryRq><EntityFilter><FullName>Dana Whitfield</FullName></EntityFilter>"
         "</TimeTrackingQueryRq>"},
        {"children of a time entry's entity",
         "<TimeTrackingQueryRq><TimeTrackingEntityFilter><FullNameWithChildren>Dana Whitfield"
         "</FullNameWithChildren></TimeTrackingEntityFilter></TimeTrackingQueryRq>"},
        {"ids and names in one entity filter",
         "<BillQueryRq><EntityFilter><ListID>80000020-1104190200</ListID><FullName>Cascade Office Supply</FullName>"
         "</EntityFilter></BillQueryRq>"},
        {"ids together with a filter",
         "<CheckQueryRq><TxnID>2A-1146420000</TxnID><MaxReturned>1</MaxReturned></CheckQueryRq>"},
        {"both date ranges", "<CheckQueryRq><ModifiedDateRangeFilter/><TxnDateRangeFilter/></CheckQueryRq>"},
        {"MaxReturned after the date range",
         "<BillQueryRq><TxnDateRangeFilter/><MaxReturned>1</MaxReturned></BillQueryRq>"},
        {"the lines asked for before the filters",
         "<BillQueryRq><IncludeLineItems>true</IncludeLineItems><MaxReturned>1</MaxReturned></BillQueryRq>"},
        {"the lines of a time entry",
         "<TimeTrackingQueryRq><IncludeLineItems>true</IncludeLineItems>"
         "</TimeTrackingQueryRq>"},
    };
    for (const auto& [what, message] : refused) {
      EXPECT_THAT(Refusal(Request(message, header)), StartsWith(kParseError)) << version << ": " << what;
    }
  }
}

TEST_F(StrictTest, ATextOneOverItsLengthFailsOnlyItsMessage) {
  const std::string notes(4096, 'n');
  std::string response = Answer(Request(Time(kEmployee + kDuration + "<Notes>" + notes + "</Notes>") +
                                        Time(kEmployee + kDuration + "<Notes>" + notes.substr(1) + "</Notes>")));
  std::vector<probe::Element> statuses = probe::Document(response).All("TimeTrackingAddRs");
  ASSERT_EQ(statuses.size(), 2u) << response;
  EXPECT_EQ(statuses[0].attributes["statusCode"], "3070");
  EXPECT_EQ(statuses[0].attributes["statusSeverity"], "Error");
  EXPECT_EQ(statuses[0].attributes["statusMessage"],
            "The string \"" + notes + "\" in the field \"Notes\" is too long.");
  EXPECT_EQ(statuses[1].attributes["statusCode"], "0");
  EXPECT_EQ(probe::Document(response).All("TimeTrackingRet").size(), 1u);

  // A full name of 209 characters is read (and names nobody); one of 210 is too long.
  const std::string name(209, 'x');
  EXPECT_EQ(
      Status(Answer(Request(Time(Ref("EntityRef", name) + kDuration))), "TimeTrackingAddRs").attributes["statusCode"],
      "3140");
  probe::Element over = Status(Answer(Request(Time(Ref("EntityRef", name + "x") + kDuration))), "TimeTrackingAddRs");
  EXPECT_EQ(over.attributes["statusCode"], "3070");
  EXPECT_THAT(over.attributes["statusMessage"], HasSubstr("\"FullName\""));

  EXPECT_EQ(
      Status(Answer(Request(Bill(kExpenseLine, "<RefNumber>" + std::string(21, '7') + "</RefNumber>"))), "BillAddRs")
          .attributes["statusCode"],
      "3070");
  EXPECT_EQ(
      Status(Answer(Request(Bill(kExpenseLine, "<RefNumber>" + std::string(20, '7') + "</RefNumber>"))), "BillAddRs")
          .attributes["statusCode"],
      "0");
  const std::string desc =
      "<ItemLineAdd>" + Ref("ItemRef", "Printer Paper") + "<Desc>" + std::string(4096, 'd') + "</Desc></ItemLineAdd>";
  EXPECT_EQ(Status(Answer(Request(Bill(desc))), "BillAddRs").attributes["statusCode"], "3070");
}

TEST_F(StrictTest, ATooLongTextInADocumentThatDoesNotFitIsStillAParseError) {
  EXPECT_THAT(
      Refusal(Request(Time(kEmployee + kEmployee + kDuration + "<Notes>" + std::string(4096, 'n') + "</Notes>"))),
      StartsWith(kParseError));
}

TEST(StrictSubscriptionTest, SubscriptionRequestsFitTheirMessageSet) {
  const std::string add =
      "<UIExtensionSubscriptionAddRq requestID=\"1\"><UIExtensionSubscriptionAdd>"
      "<SubscriberID>{B5492484-1401-4EDA-AF03-62F1627C094A}</SubscriberID>"
      "<COMCallbackInfo><AppName>Kalvor</AppName><ProgID>Corvalink.QBMenuListener</ProgID></COMCallbackInfo>"
      "<MenuExtensionSubscription><AddToMenu>File</AddToMenu><Submenu>"
      "<MenuItem><MenuText>Get Timesheets</MenuText><EventTag>0</EventTag></MenuItem>"
      "</Submenu></MenuExtensionSubscription></UIExtensionSubscriptionAdd></UIExtensionSubscriptionAddRq>";
  auto set = [](const std::string& version, const std::string& body) {
    return "<?xml version=\"1.0\" ?>" + version + "<QBXML><QBXMLSubscriptionMsgsRq>" + body +
           "</QBXMLSubscriptionMsgsRq></QBXML>";
  };
  const std::string v3 = "<?qbxml version=\"3.0\"?>";
  EXPECT_NO_THROW(CheckSubscriptionRequest(set(v3, add), 3, 0));
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"no version", set("", add)},
      {"a version before subscriptions", set("<?qbxml version=\"2.0\"?>", add)},
      {"a version after the library's", set("<?qbxml version=\"4.0\"?>", add)},
      {"a delete without its type",
       set(v3,
           "<SubscriptionDelRq><SubscriberID>{B5492484-1401-4EDA-AF03-62F1627C094A}</SubscriberID>"
           "</SubscriptionDelRq>")},
      {"an unknown menu", set(v3, std::string(add).replace(add.find("File"), 4, "Tools"))},
      {"a submenu without items",
       set(v3, std::string(add).replace(add.find("<MenuItem>"), add.find("</Submenu>") - add.find("<MenuItem>"), ""))},
      {"both a ProgID and a CLSID",
       set(v3, std::string(add).replace(add.find("</COMCallbackInfo>"), 0,
                                        "<CLSID>{B5492484-1401-4EDA-AF03-62F1627C094A}</CLSID>"))},
  };
  for (const auto& [what, text] : refused) {
    try {
      CheckSubscriptionRequest(text, 3, 0);
      ADD_FAILURE() << what;
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), platform::qb::kErrRequestNotXml) << what;
      EXPECT_THAT(e.description(), StartsWith(kParseError)) << what;
    }
  }
}

TEST(HeaderVersionTest, TheVersionComesFromTheInstructionOrTheDoctype) {
  EXPECT_EQ(HeaderVersion("<?xml version=\"1.0\" ?><?qbxml version=\"CA1.1\"?><QBXML/>"), "CA1.1");
  EXPECT_EQ(HeaderVersion("<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>"
                          "\r\n<QBXML/>"),
            "2.0");
  EXPECT_EQ(HeaderVersion("<?qbxml version='UK2.0'?><QBXML/>"), "UK2.0");
  EXPECT_EQ(HeaderVersion("<?xml version=\"1.0\" ?><QBXML><?qbxml version=\"2.0\"?></QBXML>"), std::nullopt);
  EXPECT_EQ(HeaderVersion("<QBXML/>"), std::nullopt);
}

}  // namespace
}  // namespace standins::quickbooks
