// The qb-standin program: its commands, menu picks into a registered program, concurrent writers, and the
// company generator of the benchmarks.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "platform/qb/class_factory.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/menu.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::BuildProgram;
using platform::qb::testing::RunResult;
using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(StandinCli, OpenStatusCloseAndNew) {
  StandinEnv env;
  RunResult status = env.Run({"status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_THAT(status.out, HasSubstr("QuickBooks is not running"));

  std::filesystem::path company = env.CopySample();
  env.Open(company);
  status = env.Run({"status"});
  EXPECT_THAT(status.out, HasSubstr("Open company file: " + company.string()));
  EXPECT_THAT(status.out, HasSubstr("CustomerRet: 7"));

  EXPECT_EQ(env.Run({"close"}).status, 0);
  EXPECT_THAT(env.Run({"status"}).out, HasSubstr("not running"));
  RunResult query = env.Run({"query", "Customer"});
  EXPECT_EQ(query.status, 1);
  EXPECT_THAT(query.err, HasSubstr("QuickBooks is not running"));

  std::filesystem::path fresh = env.dir() / "fresh.xml";
  EXPECT_EQ(env.Run({"new", fresh.string(), "--versions", "1.0 2.0"}).status, 0);
  EXPECT_EQ(Company::Load(fresh)->records().size(), 0u);
  EXPECT_EQ(Company::Load(fresh)->versions(), (std::vector<std::string>{"1.0", "2.0"}));
  EXPECT_EQ(env.Run({"new", fresh.string()}).status, 1);  // never overwrites by accident
  EXPECT_EQ(env.Run({"new", fresh.string(), "--force"}).status, 0);
}

TEST(StandinCli, OpenRefusesWhatIsNoCompanyFile) {
  StandinEnv env;
  RunResult missing = env.Run({"open", (env.dir() / "missing.xml").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("missing.xml"));
  RunResult bad =
      env.Run({"open", env.Write("bad.xml", "<QBStandinCompany>\n<ClassRet>\n</QBStandinCompany>\n").string()});
  EXPECT_EQ(bad.status, 1);
  EXPECT_THAT(bad.err, HasSubstr("line 3"));
  RunResult wrongRoot = env.Run({"open", env.Write("other.xml", "<Company/>").string()});
  EXPECT_EQ(wrongRoot.status, 1);
  EXPECT_THAT(wrongRoot.err, HasSubstr("QBStandinCompany"));
  EXPECT_THAT(env.Run({"status"}).out, HasSubstr("not running"));
}

std::string TimeAddRequest(int count, const std::string& notes) {
  std::string text =
      "<?xml version=\"1.0\"?>\n<?qbxml version=\"2.0\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"stopOnError\">\n";
  for (int i = 0; i < count; ++i) {
    text += "<TimeTrackingAddRq requestID=\"" + std::to_string(i + 1) +
            "\"><TimeTrackingAdd><TxnDate>2006-05-01</TxnDate><EntityRef><FullName>Priya Raman</FullName>"
            "</EntityRef><Duration>PT1H0M</Duration><Notes>" +
            notes +
            "</Notes></TimeTrackingAdd>"
            "</TimeTrackingAddRq>\n";
  }
  return text + "</QBXMLMsgsRq>\n</QBXML>\n";
}

TEST(StandinCli, ConcurrentWritersNeverLoseARecord) {
  StandinEnv env;
  std::filesystem::path company = env.CopySample();
  env.Open(company);
  constexpr int kWriters = 4;
  constexpr int kRequests = 3;
  std::vector<int> pids;
  for (int w = 0; w < kWriters; ++w) {
    std::filesystem::path request =
        env.Write("add" + std::to_string(w) + ".xml", TimeAddRequest(2, "writer " + std::to_string(w)));
    for (int r = 0; r < kRequests; ++r) {
      std::string tag = "w" + std::to_string(w) + "r" + std::to_string(r);
      pids.push_back(env.Start({"request", request.string()}, tag));
    }
  }
  for (size_t i = 0; i < pids.size(); ++i) {
    std::string tag = "w" + std::to_string(i / kRequests) + "r" + std::to_string(i % kRequests);
    RunResult result = env.Wait(pids[i], tag);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, Not(HasSubstr("statusSeverity=\"Error\"")));
  }
  probe::Document file(env.Read(company));
  ASSERT_TRUE(file.Parsed());
  std::vector<std::string> ids = probe::Ids(file.All("TimeTrackingRet"));
  EXPECT_EQ(ids.size(), 4u + kWriters * kRequests * 2);
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());  // every TxnID once

  RunResult txns = env.Run({"txns"});
  EXPECT_EQ(txns.status, 0);
  EXPECT_EQ(std::count(txns.out.begin(), txns.out.end(), '\n'), kWriters * kRequests * 2);
  EXPECT_THAT(txns.out, HasSubstr("Priya Raman"));
}

constexpr const char* kSubscriber = "{B5492484-1401-4EDA-AF03-62F1627C094A}";

void Subscribe(const std::string& progId) {
  auto manager = platform::qb::CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  auto set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  platform::qb::UIExtensionSubscriptionAdd& add = set->AppendUIExtensionSubscriptionAddRq();
  add.SubscriberID = kSubscriber;
  add.COMCallbackInfo.AppName = "Kalvor";
  add.COMCallbackInfo.ProgID = progId;
  add.MenuExtensionSubscription.AddToMenu = platform::qb::kAddToMenuFile;
  auto& items = add.MenuExtensionSubscription.SetSubmenu().MenuItemList;
  const char* texts[] = {"Get Timesheets", "Get Expenses", "Syncronize", "Siteid"};
  const char* tags[] = {"0", "1", "4", "SITE-77"};
  for (int i = 0; i < 4; ++i) {
    items.Append().MenuText = texts[i];
    items.GetAt(i).EventTag = tags[i];
  }
  items.GetAt(3).DisplayCondition.VisibleIfNot.Add(platform::qb::kVisibleIfNotHidden);
  auto responses = manager->DoSubscriptionRequests(*set);
  ASSERT_EQ(responses->ResponseList()->GetAt(0).StatusCode(), 0);
  manager->CloseConnection();
}

class PickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    company_ = env_.CopySample();
    env_.Open(company_);
    std::string listener = BuildProgram("qb_pick_listener").string();
    ASSERT_EQ(std::system(("'" + listener + "' /regserver").c_str()), 0);
    log_ = env_.dir() / "picks.log";
    setenv("QB_PICK_LOG", log_.c_str(), 1);
    unsetenv("QB_PICK_FAIL");
  }
  void TearDown() override {
    unsetenv("QB_PICK_LOG");
    unsetenv("QB_PICK_FAIL");
  }

  StandinEnv env_;
  std::filesystem::path company_;
  std::filesystem::path log_;
};

TEST_F(PickTest, MenuShowsTheSubscribedItemsWithTheirTags) {
  EXPECT_THAT(env_.Run({"menu"}).out, HasSubstr("No menu subscriptions"));
  Subscribe("QBStandinTest.Listener");
  RunResult menu = env_.Run({"menu"});
  EXPECT_EQ(menu.status, 0);
  EXPECT_THAT(menu.out, HasSubstr(std::string("Subscriber ") + kSubscriber));
  EXPECT_THAT(menu.out, HasSubstr("File menu | Kalvor"));
  EXPECT_THAT(menu.out, HasSubstr("  [4] Syncronize\n"));
  EXPECT_THAT(menu.out, HasSubstr("[SITE-77] Siteid  (hidden)"));
}

TEST_F(PickTest, PickStartsTheRegisteredProgramAndDeliversTheEventTextExactly) {
  Subscribe("QBStandinTest.Listener");
  RunResult pick = env_.Run({"pick", "4"});
  ASSERT_EQ(pick.status, 0) << pick.err;
  std::string delivered = env_.Read(log_);
  std::string expected = MenuEventText("4", kSubscriber, company_);
  EXPECT_EQ(delivered, expected + "--end--\n");
  EXPECT_THAT(expected, HasSubstr("\n<EventTag>4</EventTag>\n"));
  EXPECT_EQ(expected.find('\r'), std::string::npos);
  EXPECT_THAT(expected, HasSubstr("<CompanyFilePath>" + company_.string() + "</CompanyFilePath>"));
  probe::Document event(expected);
  EXPECT_TRUE(event.Parsed());

  // Each pick starts the program anew and delivers once.
  ASSERT_EQ(env_.Run({"pick", "0"}).status, 0);
  EXPECT_EQ(env_.Read(log_), expected + "--end--\n" + MenuEventText("0", kSubscriber, company_) + "--end--\n");
}

TEST_F(PickTest, OnlyShownItemsCanBePicked) {
  Subscribe("QBStandinTest.Listener");
  RunResult hidden = env_.Run({"pick", "SITE-77"});
  EXPECT_EQ(hidden.status, 1);
  EXPECT_THAT(hidden.err, HasSubstr("SITE-77"));
  EXPECT_EQ(env_.Run({"pick", "12"}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(log_));
}

TEST_F(PickTest, AFailedInformIsReportedWithItsError) {
  Subscribe("QBStandinTest.Listener");
  setenv("QB_PICK_FAIL", "1", 1);
  RunResult pick = env_.Run({"pick", "1"});
  EXPECT_EQ(pick.status, 1);
  EXPECT_THAT(pick.err, HasSubstr("0x80040500"));
  EXPECT_THAT(pick.err, HasSubstr("The listener refused the menu pick."));
  EXPECT_TRUE(std::filesystem::exists(log_));  // it was delivered, and refused
}

TEST_F(PickTest, AnUnregisteredProgramCannotBeStarted) {
  Subscribe("QBStandinTest.Nobody");
  RunResult pick = env_.Run({"pick", "0"});
  EXPECT_EQ(pick.status, 1);
  EXPECT_THAT(pick.err, HasSubstr("429"));
}

TEST_F(PickTest, ACustomEventTextIsDeliveredAsItIs) {
  Subscribe("QBStandinTest.Listener");
  std::string text = "<EventTag>4</EventTag>\r\n<EventTag>0</EventTag>";
  ASSERT_EQ(env_.Run({"pick", "4", "--event-file", env_.Write("event.txt", text).string()}).status, 0);
  EXPECT_EQ(env_.Read(log_), text + "--end--\n");
}

TEST(CompanyGenerator, WritesNRecordsOfEveryListDeterministically) {
  StandinEnv env;
  std::filesystem::path first = env.dir() / "gen1.xml";
  std::filesystem::path second = env.dir() / "gen2.xml";
  std::string generator = BuildProgram("kv-gen-company").string();
  ASSERT_EQ(std::system(("'" + generator + "' 30 '" + first.string() + "'").c_str()), 0);
  ASSERT_EQ(std::system(("'" + generator + "' 30 '" + second.string() + "'").c_str()), 0);
  EXPECT_EQ(env.Read(first), env.Read(second));
  std::shared_ptr<const Company> company = Company::Load(first);
  std::map<std::string, int> counts;
  for (const Record& record : company->records()) ++counts[std::string(record.kind)];
  for (const char* kind : {"CustomerRet", "EmployeeRet", "VendorRet", "StandardTermsRet", "AccountRet",
                           "ItemServiceRet", "ItemNonInventoryRet", "ItemOtherChargeRet", "PayrollItemWageRet",
                           "ClassRet", "SalesRepRet", "TimeTrackingRet", "CheckRet", "BillRet"}) {
    EXPECT_EQ(counts[kind], 30) << kind;
  }
  probe::Document parsed(env.Read(first));
  ASSERT_TRUE(parsed.Parsed());
  std::set<std::string> sublevels;
  for (const probe::Element& customer : parsed.All("CustomerRet")) sublevels.insert(customer.children.at("Sublevel"));
  EXPECT_EQ(sublevels, (std::set<std::string>{"0", "1", "2"}));

  // Its time entries refer to records of the file, so adds against it resolve too.
  env.Open(first);
  RunResult add = env.Run({"request", "-"}, TimeAddRequest(1, "x").replace(TimeAddRequest(1, "x").find("Priya Raman"),
                                                                           11, "Employee 000001"));
  EXPECT_THAT(add.out, HasSubstr("statusCode=\"0\"")) << add.out << add.err;
  EXPECT_NE(std::system(("'" + generator + "' 0 '" + first.string() + "' 2>/dev/null").c_str()), 0);
}

}  // namespace
}  // namespace standins::quickbooks
