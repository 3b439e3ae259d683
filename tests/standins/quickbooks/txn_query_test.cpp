// Time-tracking, bill and check queries that find a record: by TxnID in the order asked, by date ranges, by entity
// and with MaxReturned; and the TimeCreated an add writes and a query returns.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <sstream>

#include "standins/quickbooks/request_handler.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Request(const std::string& body, const std::string& version = "2.0") {
  return "<?xml version=\"1.0\" ?><?qbxml version=\"" + version +
         "\"?><QBXML><QBXMLMsgsRq onError=\"continueOnError\">" + body + "</QBXMLMsgsRq></QBXML>";
}

std::string Query(const std::string& name, const std::string& inside) {
  return "<" + name + " requestID=\"9\">" + inside + "</" + name + ">";
}

std::string TxnIDs(const std::vector<std::string>& ids) {
  std::string text;
  for (const std::string& id : ids) text += "<TxnID>" + id + "</TxnID>";
  return text;
}

std::string DateRange(const std::string& from, const std::string& to) {
  std::string text = "<TxnDateRangeFilter>";
  if (!from.empty()) text += "<FromTxnDate>" + from + "</FromTxnDate>";
  if (!to.empty()) text += "<ToTxnDate>" + to + "</ToTxnDate>";
  return text + "</TxnDateRangeFilter>";
}

struct Kind {
  const char* request;
  const char* record;
  const char* entityRef;
  const char* entityFilter;
};
constexpr Kind kKinds[] = {{"TimeTrackingQueryRq", "TimeTrackingRet", "EntityRef", "TimeTrackingEntityFilter"},
                           {"BillQueryRq", "BillRet", "VendorRef", "EntityFilter"},
                           {"CheckQueryRq", "CheckRet", "PayeeEntityRef", "EntityFilter"}};

std::string ResponseName(const Kind& kind) {
  std::string name = kind.request;
  return name.replace(name.size() - 2, 2, "Rs");
}

class TxnQueryTest : public ::testing::Test {
 protected:
  struct Answered {
    std::map<std::string, std::string> status;
    std::vector<std::string> ids;
    std::vector<probe::Element> records;
  };
  Answered Ask(const Kind& kind, const std::string& inside) {
    probe::Document document(HandleQBXMLRequest(company_, Request(Query(kind.request, inside))).response.Join());
    EXPECT_TRUE(document.Parsed());
    Answered answered;
    std::vector<probe::Element> rs = document.All(ResponseName(kind));
    EXPECT_EQ(rs.size(), 1u);
    if (!rs.empty()) answered.status = rs[0].attributes;
    answered.records = document.All(kind.record);
    answered.ids = probe::Ids(answered.records);
    return answered;
  }
  std::vector<probe::Element> FileRecords(const Kind& kind) {
    return probe::Document(env_.Read(company_)).All(kind.record);
  }
  // The ids of the file's records of the kind that the predicate keeps, in file order.
  template <class Keep>
  std::vector<std::string> Expected(const Kind& kind, Keep keep) {
    std::vector<probe::Element> kept;
    for (const probe::Element& record : FileRecords(kind))
      if (keep(record)) kept.push_back(record);
    return probe::Ids(kept);
  }

  StandinEnv env_;
  std::filesystem::path company_ = env_.CopySample();
};

TEST_F(TxnQueryTest, TxnIDsAreAnsweredInTheOrderAsked) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.request);
    std::vector<std::string> ids = probe::Ids(FileRecords(kind));
    ASSERT_GE(ids.size(), 2u);
    std::vector<std::string> reversed(ids.rbegin(), ids.rend());
    Answered answered = Ask(kind, TxnIDs(reversed));
    EXPECT_EQ(answered.status["statusCode"], "0");
    EXPECT_EQ(answered.ids, reversed);
  }
}

TEST_F(TxnQueryTest, AnIdTheFileDoesNotHoldIsWarning500AndTheOthersAreStillAnswered) {
  const std::string kMessage =
      "The query request has not been fully completed. There was a required element (\"7F-1999999999\") that "
      "could not be found in QuickBooks.";
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.request);
    std::vector<std::string> ids = probe::Ids(FileRecords(kind));
    Answered some = Ask(kind, TxnIDs({ids[1], "7F-1999999999", ids[0]}));
    EXPECT_EQ(some.status["statusCode"], "500");
    EXPECT_EQ(some.status["statusSeverity"], "Warn");
    EXPECT_EQ(some.status["statusMessage"], kMessage);
    EXPECT_THAT(some.ids, ElementsAre(ids[1], ids[0]));
    Answered none = Ask(kind, TxnIDs({"7F-1999999999"}));
    EXPECT_EQ(none.status["statusCode"], "500");
    EXPECT_THAT(none.ids, IsEmpty());
  }
  // A transaction of another kind is not one of these.
  std::string checkID = probe::Ids(FileRecords(kKinds[2]))[0];
  EXPECT_EQ(Ask(kKinds[0], TxnIDs({checkID})).status["statusCode"], "500");
}

TEST_F(TxnQueryTest, TxnDateRangeKeepsTheDaysBetweenItsBoundsEitherOfWhichMayBeMissing) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.request);
    std::vector<probe::Element> records = FileRecords(kind);
    std::string day = records[0].children.at("TxnDate");
    auto on = [&](const probe::Element& r) { return r.children.at("TxnDate") == day; };
    auto from = [&](const probe::Element& r) { return r.children.at("TxnDate") >= day; };
    auto to = [&](const probe::Element& r) { return r.children.at("TxnDate") <= day; };
    EXPECT_EQ(Ask(kind, DateRange(day, day)).ids, Expected(kind, on));
    EXPECT_EQ(Ask(kind, DateRange(day, "")).ids, Expected(kind, from));
    EXPECT_EQ(Ask(kind, DateRange("", day)).ids, Expected(kind, to));
    EXPECT_EQ(Ask(kind, DateRange("", "")).ids, probe::Ids(records));
    Answered nothing = Ask(kind, DateRange("1990-01-01", "1990-12-31"));
    EXPECT_EQ(nothing.status["statusCode"], "1");
    EXPECT_EQ(nothing.status["statusSeverity"], "Warn");
  }
}

TEST_F(TxnQueryTest, DatesQuickBooksCannotReadOrAReversedRangeAreErrors) {
  const Kind& time = kKinds[0];
  Answered reversed = Ask(time, DateRange("2006-05-02", "2006-05-01"));
  EXPECT_EQ(reversed.status["statusCode"], "3030");
  EXPECT_EQ(reversed.status["statusSeverity"], "Error");
  EXPECT_EQ(reversed.status["statusMessage"], "Invalid date range: From date is greater than To date.");
  for (const char* bad : {"2006-02-29", "2006-13-01", "05/01/2006", "2006-5-1", "yesterday"}) {
    SCOPED_TRACE(bad);
    Answered answered = Ask(time, DateRange(bad, ""));
    EXPECT_EQ(answered.status["statusCode"], "3020");
    EXPECT_EQ(answered.status["statusMessage"], "There was an error when converting the date value \"" +
                                                    std::string(bad) + "\" in the field \"FromTxnDate\".");
    EXPECT_THAT(answered.ids, IsEmpty());
  }
  EXPECT_EQ(Ask(time, DateRange("2004-02-29", "")).status["statusCode"], "0");  // a leap day
}

TEST_F(TxnQueryTest, ModifiedDateRangeComparesTheInstantWhateverTheOffset) {
  const Kind& time = kKinds[0];
  std::vector<probe::Element> records = FileRecords(time);
  // 09:12 at -05:00 is 14:12 UTC.
  ASSERT_EQ(records[1].children.at("TimeModified"), "2006-05-06T09:12:00-05:00");
  auto range = [](const std::string& from) {
    return "<ModifiedDateRangeFilter><FromModifiedDate>" + from + "</FromModifiedDate></ModifiedDateRangeFilter>";
  };
  EXPECT_THAT(Ask(time, range("2006-05-06T14:12:00Z")).ids, ::testing::Contains(probe::Ids(records)[1]));
  EXPECT_THAT(Ask(time, range("2006-05-06T16:12:00+02:00")).ids, ::testing::Contains(probe::Ids(records)[1]));
  EXPECT_THAT(Ask(time, range("2006-05-06T14:12:01Z")).ids,
              ::testing::Not(::testing::Contains(probe::Ids(records)[1])));
  EXPECT_EQ(Ask(time, range("2006-05-06T25:00:00")).status["statusCode"], "3020");
}

TEST_F(TxnQueryTest, EntityFilterMatchesFullNamesWithoutRegardToCaseAndListIDs) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.request);
    std::vector<probe::Element> records = FileRecords(kind);
    // The ref's text holds its ListID and its FullName.
    std::string refText = records[0].children.at(kind.entityRef);
    std::istringstream words(refText);
    std::string listID, fullName, word;
    words >> listID;
    while (words >> word) fullName += (fullName.empty() ? "" : " ") + word;
    ASSERT_FALSE(fullName.empty()) << refText;
    auto same = [&](const probe::Element& r) {
      return r.children.at(kind.entityRef).find(listID) != std::string::npos;
    };
    std::string upper = fullName;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string filter = std::string("<") + kind.entityFilter + ">";
    std::string close = std::string("</") + kind.entityFilter + ">";
    EXPECT_EQ(Ask(kind, filter + "<FullName>" + upper + "</FullName>" + close).ids, Expected(kind, same));
    EXPECT_EQ(Ask(kind, filter + "<ListID>" + listID + "</ListID>" + close).ids, Expected(kind, same));
    EXPECT_EQ(Ask(kind, filter + "<FullName>Nobody Of That Name</FullName>" + close).status["statusCode"], "1");
    // With a date range and MaxReturned, every filter must hold.
    std::string day = records[0].children.at("TxnDate");
    Answered both = Ask(kind, "<MaxReturned>1</MaxReturned>" + DateRange(day, day) + filter + "<ListID>" + listID +
                                  "</ListID>" + close);
    EXPECT_EQ(both.ids, std::vector<std::string>{probe::Ids(records)[0]});
  }
}

TEST_F(TxnQueryTest, WithChildrenTakesTheJobsOfACustomerPayee) {
  // A check paid to a job: the payee's full name is the customer's, then the job's.
  std::string add = Request(
      "<CheckAddRq requestID=\"1\"><CheckAdd><AccountRef><FullName>Checking</FullName></AccountRef>"
      "<PayeeEntityRef><FullName>Acme Widgets:Plant Expansion</FullName></PayeeEntityRef><TxnDate>2006-05-09</TxnDate>"
      "<ExpenseLineAdd><AccountRef><FullName>Travel Expense</FullName></AccountRef><Amount>5.00</Amount>"
      "</ExpenseLineAdd></CheckAdd></CheckAddRq>");
  RequestResult added = HandleQBXMLRequest(company_, add);
  ASSERT_EQ(added.added.size(), 1u) << added.response.Join();
  const Kind& checks = kKinds[2];
  auto filter = [](const std::string& inside) { return "<EntityFilter>" + inside + "</EntityFilter>"; };
  EXPECT_THAT(Ask(checks, filter("<FullNameWithChildren>acme widgets</FullNameWithChildren>")).ids,
              ElementsAre(added.added[0].txnID));
  EXPECT_EQ(Ask(checks, filter("<FullName>Acme Widgets</FullName>")).status["statusCode"], "1");
  EXPECT_EQ(Ask(checks, filter("<FullNameWithChildren>Acme Widget</FullNameWithChildren>")).status["statusCode"], "1");
}

TEST_F(TxnQueryTest, AnAddWritesTimeCreatedInLocalTimeWithItsOffsetAndAQueryReturnsIt) {
  const std::string line =
      "<ExpenseLineAdd><AccountRef><FullName>Travel Expense</FullName></AccountRef><Amount>5.00</Amount>"
      "</ExpenseLineAdd>";
  const std::string adds[] = {
      "<TimeTrackingAddRq requestID=\"1\"><TimeTrackingAdd><TxnDate>2006-05-09</TxnDate>"
      "<EntityRef><FullName>Dana Whitfield</FullName></EntityRef><Duration>PT1H0M</Duration>"
      "</TimeTrackingAdd></TimeTrackingAddRq>",
      "<BillAddRq requestID=\"1\"><BillAdd><VendorRef><FullName>Cascade Office Supply</FullName></VendorRef>"
      "<TxnDate>2006-05-09</TxnDate>" +
          line + "</BillAdd></BillAddRq>",
      "<CheckAddRq requestID=\"1\"><CheckAdd><AccountRef><FullName>Checking</FullName></AccountRef>"
      "<PayeeEntityRef><FullName>Riverside Travel Agency</FullName></PayeeEntityRef><TxnDate>2006-05-09</TxnDate>" +
          line + "</CheckAdd></CheckAddRq>"};
  // A zone away from UTC, so that an offset left out or taken from the wrong clock shows. Its rules are spelled
  // out, so no zone database is needed.
  const char* savedZone = std::getenv("TZ");
  const std::optional<std::string> zone = savedZone ? std::optional<std::string>(savedZone) : std::nullopt;
  setenv("TZ", "XST5XDT,M3.2.0,M11.1.0", 1);
  tzset();
  struct RestoreZone {
    const std::optional<std::string>& zone;
    ~RestoreZone() {
      zone ? setenv("TZ", zone->c_str(), 1) : unsetenv("TZ");
      tzset();
    }
  } restore{zone};
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    const Kind& kind = kKinds[i];
    SCOPED_TRACE(kind.record);
    time_t before = time(nullptr);
    RequestResult added = HandleQBXMLRequest(company_, Request(adds[i]));
    time_t after = time(nullptr);
    ASSERT_EQ(added.added.size(), 1u) << added.response.Join();
    std::vector<probe::Element> inAnswer = probe::Document(added.response.Join()).All(kind.record);
    ASSERT_EQ(inAnswer.size(), 1u);
    std::string created = inAnswer[0].children.at("TimeCreated");

    // Second resolution and an offset, nothing more: "2006-05-09T14:03:07-05:00".
    tm fields{};
    char sign = 0;
    int offsetHours = 0, offsetMinutes = 0, consumed = 0;
    ASSERT_EQ(std::sscanf(created.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d%n", &fields.tm_year, &fields.tm_mon,
                          &fields.tm_mday, &fields.tm_hour, &fields.tm_min, &fields.tm_sec, &sign, &offsetHours,
                          &offsetMinutes, &consumed),
              9)
        << created;
    EXPECT_EQ(created.size(), 25u) << created;
    EXPECT_EQ(consumed, 25) << created;
    ASSERT_TRUE(sign == '+' || sign == '-') << created;
    fields.tm_year -= 1900;
    fields.tm_mon -= 1;
    long offset = (offsetHours * 60L + offsetMinutes) * 60 * (sign == '-' ? -1 : 1);
    time_t instant = timegm(&fields) - offset;
    EXPECT_GE(instant, before);
    EXPECT_LE(instant, after);
    tm local{};
    localtime_r(&instant, &local);
    EXPECT_EQ(offset, local.tm_gmtoff);  // the offset of local time then
    EXPECT_TRUE(offset == -5 * 3600 || offset == -4 * 3600) << created;

    Answered queried = Ask(kind, TxnIDs({added.added[0].txnID}));
    ASSERT_EQ(queried.records.size(), 1u);
    EXPECT_EQ(queried.records[0].children.at("TimeCreated"), created);
  }
}

}  // namespace
}  // namespace standins::quickbooks
