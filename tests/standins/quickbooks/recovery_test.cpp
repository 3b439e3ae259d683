// QuickBooks' error-recovery memory as the stand-in keeps it: status checks, replacement, per application.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <future>
#include <thread>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/request_handler.h"
#include "standins/quickbooks/state.h"
#include "tests/standins/quickbooks/qbxml_probe.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;

const Application kApp{"731-5096-4482630", "Pellucent"};

std::string Request(const std::string& setAttributes, const std::string& messages, const std::string& version = "2.0") {
  return "<?xml version=\"1.0\"?>\n<?qbxml version=\"" + version +
         "\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"stopOnError\"" + setAttributes + ">\n" + messages +
         "</QBXMLMsgsRq>\n</QBXML>\n";
}

std::string TimeAdd(const std::string& notes) {
  return "<TimeTrackingAddRq requestID=\"1\"><TimeTrackingAdd><TxnDate>2006-04-03</TxnDate>"
         "<EntityRef><FullName>Marcus O&apos;Neill</FullName></EntityRef>"
         "<ItemServiceRef><FullName>Consulting</FullName></ItemServiceRef>"
         "<Duration>PT1H</Duration><Notes>" +
         notes + "</Notes></TimeTrackingAdd></TimeTrackingAddRq>\n";
}

std::string StatusCheck(const std::string& id) {
  return Request(" oldMessageSetID=\"" + id + "\"", "");
}

std::string SetStatus(const std::string& response) {
  probe::Document document(response);
  std::vector<probe::Element> sets = document.All("QBXMLMsgsRs");
  if (sets.size() != 1) return "no message set in: " + response;
  return sets[0].attributes["messageSetStatusCode"];
}

class RecoveryTest : public ::testing::Test {
 protected:
  std::string Send(const std::string& request, const Application& app = kApp) {
    return HandleQBXMLRequest(company_, request, app).response.Join();
  }
  size_t TimeRecordsWithNotes(const std::string& notes) {
    probe::Document file(env_.Read(company_));
    size_t count = 0;
    for (probe::Element& record : file.All("TimeTrackingRet")) count += record.children["Notes"] == notes;
    return count;
  }

  StandinEnv env_;
  std::filesystem::path company_ = env_.CopySample();
};

TEST_F(RecoveryTest, AStatusCheckAnswersWithTheKeptResponseAndAddsNothing) {
  std::string added = Send(Request(" newMessageSetID=\"run1-0001\"", TimeAdd("first")));
  probe::Document document(added);
  ASSERT_EQ(document.All("QBXMLMsgsRs").size(), 1u) << added;
  probe::Element set = document.All("QBXMLMsgsRs")[0];
  EXPECT_EQ(set.attributes["newMessageSetID"], "run1-0001");
  EXPECT_EQ(set.attributes["messageSetStatusCode"], "0");
  ASSERT_EQ(document.All("TimeTrackingRet").size(), 1u);

  // Asked twice: the kept state stays until it is replaced or cleared.
  EXPECT_EQ(Send(StatusCheck("run1-0001")), added);
  EXPECT_EQ(Send(StatusCheck("run1-0001")), added);
  EXPECT_EQ(TimeRecordsWithNotes("first"), 1u);

  // With the add sent again beside the old id, the add is answered from the kept state, not done twice.
  EXPECT_EQ(Send(Request(" oldMessageSetID=\"run1-0001\"", TimeAdd("first"))), added);
  EXPECT_EQ(TimeRecordsWithNotes("first"), 1u);

  // The state belongs to the application that sent the message set.
  EXPECT_EQ(SetStatus(Send(StatusCheck("run1-0001"), {kApp.id, "Another"})), "600");
  EXPECT_EQ(SetStatus(Send(StatusCheck("run1-0001"), {"1-2-3", kApp.name})), "600");
  // The company file is still one a fresh reader takes, and queries do not show the kept state.
  EXPECT_NO_THROW(Company::Load(company_));
}

TEST_F(RecoveryTest, AnIdNeverProcessedIsAnsweredWithNoStateAndItsRequestsAreProcessed) {
  std::string before = env_.Read(company_);
  std::string answer = Send(StatusCheck("never-sent"));
  EXPECT_EQ(SetStatus(answer), "600");
  probe::Document document(answer);
  EXPECT_TRUE(document.All("TimeTrackingAddRs").empty());
  EXPECT_EQ(env_.Read(company_), before);

  // A later message set replaces the application's earlier one.
  Send(Request(" newMessageSetID=\"a\"", TimeAdd("a")));
  std::string second = Send(Request(" newMessageSetID=\"b\"", TimeAdd("b")));
  EXPECT_EQ(SetStatus(Send(StatusCheck("a"))), "600");
  EXPECT_EQ(Send(StatusCheck("b")), second);

  // Not processed before: the requests beside the old id are processed now.
  std::string resent = Send(Request(" oldMessageSetID=\"c\" newMessageSetID=\"c2\"", TimeAdd("c")));
  EXPECT_EQ(SetStatus(resent), "0");
  EXPECT_EQ(TimeRecordsWithNotes("c"), 1u);
  EXPECT_EQ(Send(StatusCheck("c2")), resent);
}

TEST_F(RecoveryTest, AnyLaterMessageSetWithAnIdReplacesTheKeptOneAndNothingElseDoes) {
  const std::string query = "<EmployeeQueryRq requestID=\"1\"><MaxReturned>1</MaxReturned></EmployeeQueryRq>\n";
  Send(Request(" newMessageSetID=\"add\"", TimeAdd("kept")));
  // A message set that only asks replaces it all the same.
  std::string asked = Send(Request(" newMessageSetID=\"query\"", query));
  EXPECT_EQ(SetStatus(Send(StatusCheck("add"))), "600");
  EXPECT_EQ(Send(StatusCheck("query")), asked);
  // So does one with nothing in it, and one whose add failed.
  std::string empty = Send(Request(" newMessageSetID=\"empty\"", ""));
  EXPECT_EQ(SetStatus(Send(StatusCheck("query"))), "600");
  EXPECT_EQ(Send(StatusCheck("empty")), empty);
  AddFaults({"add fail"});
  std::string failed = Send(Request(" newMessageSetID=\"failed\"", TimeAdd("failed")));
  EXPECT_THAT(failed, HasSubstr("statusSeverity=\"Error\""));
  EXPECT_EQ(SetStatus(Send(StatusCheck("empty"))), "600");
  EXPECT_EQ(Send(StatusCheck("failed")), failed);

  // Without an id, a message set leaves the kept one alone, whatever it adds; so does a check of another id with
  // requests of its own.
  Send(Request("", TimeAdd("no id")));
  Send(Request(" oldMessageSetID=\"never\"", TimeAdd("checked")));
  EXPECT_EQ(Send(StatusCheck("failed")), failed);
  EXPECT_EQ(TimeRecordsWithNotes("kept"), 1u);
  EXPECT_EQ(TimeRecordsWithNotes("no id"), 1u);
  EXPECT_EQ(TimeRecordsWithNotes("checked"), 1u);
  EXPECT_EQ(TimeRecordsWithNotes("failed"), 0u);
  // One kept message set of the application in the file, however many it sent.
  EXPECT_EQ(probe::Document(env_.Read(company_)).All("QBStandinMessageSet").size(), 1u);
}

TEST_F(RecoveryTest, TwoApplicationsKeepOneMessageSetEach) {
  const Application other{"118-2207-5501", "Quillwort"};
  std::string mineFirst = Send(Request(" newMessageSetID=\"m1\"", TimeAdd("m1")));
  std::string theirs = Send(Request(" newMessageSetID=\"t1\"", TimeAdd("t1")), other);
  EXPECT_EQ(Send(StatusCheck("m1")), mineFirst);
  std::string mineSecond = Send(Request(" newMessageSetID=\"m2\"", TimeAdd("m2")));
  EXPECT_EQ(SetStatus(Send(StatusCheck("m1"))), "600");
  EXPECT_EQ(Send(StatusCheck("m2")), mineSecond);
  EXPECT_EQ(Send(StatusCheck("t1"), other), theirs);
  // Neither sees the other's.
  EXPECT_EQ(SetStatus(Send(StatusCheck("t1"))), "600");
  EXPECT_EQ(SetStatus(Send(StatusCheck("m2"), other)), "600");
  // A check by one does not disturb the other's.
  Send(StatusCheck("m2"));
  EXPECT_EQ(Send(StatusCheck("t1"), other), theirs);
  EXPECT_EQ(probe::Document(env_.Read(company_)).All("QBStandinMessageSet").size(), 2u);
}

TEST_F(RecoveryTest, ClearAllMessageSetsDropsTheApplicationsStateOnly) {
  std::string mine = Send(Request(" newMessageSetID=\"mine\"", TimeAdd("mine")));
  const Application other{"9-9-9", "Other"};
  std::string theirs = Send(Request(" newMessageSetID=\"theirs\"", TimeAdd("theirs")), other);

  EXPECT_EQ(SetStatus(Send(Request(" oldMessageSetID=\"ClearAllMessageSets\"", ""))), "0");
  EXPECT_EQ(SetStatus(Send(StatusCheck("mine"))), "600");
  EXPECT_EQ(Send(StatusCheck("theirs"), other), theirs);
  // The records themselves stay.
  EXPECT_EQ(TimeRecordsWithNotes("mine"), 1u);
  // Clearing again, with nothing kept, changes nothing.
  EXPECT_EQ(SetStatus(Send(Request(" oldMessageSetID=\"ClearAllMessageSets\"", ""))), "0");
}

TEST_F(RecoveryTest, AnIdOverTwentyThreeCharactersIsRefusedAndNothingIsProcessed) {
  const std::string id23(23, 'x');
  const std::string id24(24, 'x');
  EXPECT_EQ(SetStatus(Send(Request(" newMessageSetID=\"" + id24 + "\"", TimeAdd("long")))), "9004");
  EXPECT_EQ(TimeRecordsWithNotes("long"), 0u);
  EXPECT_EQ(SetStatus(Send(StatusCheck(id24))), "9004");
  EXPECT_EQ(SetStatus(Send(Request(" newMessageSetID=\"" + id23 + "\"", TimeAdd("long")))), "0");
  EXPECT_EQ(TimeRecordsWithNotes("long"), 1u);
}

TEST_F(RecoveryTest, ResponsesWithLineEndsAndMarkupAreKeptByteForByte) {
  std::string added =
      Send(Request(" newMessageSetID=\"crlf\"", TimeAdd("line one&#13;&#10;&lt;two&gt; &amp; \"three\"")));
  ASSERT_THAT(added, HasSubstr("TimeTrackingRet"));
  EXPECT_EQ(Send(StatusCheck("crlf")), added);
}

// Versions whose message set has no error recovery refuse the attributes as QuickBooks refuses any request that
// does not fit its message set: the whole request, before anything is read.
TEST(RecoveryVersions, OnlyTheTwoPointOhMessageSetsTakeTheAttributes) {
  StandinEnv env;
  std::filesystem::path company =
      env.Write("versions.xml", EmptyCompanyText("1.0 1.1 2.0 CA1.0 CA1.1 CA2.0 UK1.0 UK1.1 UK2.0"));
  for (const std::string version : {"1.0", "1.1", "CA1.0", "CA1.1", "UK1.0", "UK1.1"}) {
    for (const std::string attribute : {" oldMessageSetID=\"x\"", " newMessageSetID=\"x\""}) {
      try {
        HandleQBXMLRequest(company, Request(attribute, "", version), kApp);
        ADD_FAILURE() << version << attribute << " was taken";
      } catch (const kv::Error& e) {
        EXPECT_EQ(e.number(), platform::qb::kErrRequestNotXml) << version;
      }
    }
  }
  for (const std::string version : {"2.0", "CA2.0", "UK2.0"}) {
    std::string answer =
        HandleQBXMLRequest(company, Request(" oldMessageSetID=\"x\"", "", version), kApp).response.Join();
    EXPECT_EQ(SetStatus(answer), "600") << version;
  }
}

// Whether /proc/locks shows a process waiting for an flock on the file.
bool SomeoneWaitsForLockOn(const std::filesystem::path& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  std::ifstream locks("/proc/locks");
  std::string line;
  const std::string inode = ":" + std::to_string(info.st_ino) + " ";
  while (std::getline(locks, line)) {
    if (line.find("->") != std::string::npos && line.find("FLOCK") != std::string::npos &&
        line.find(inode) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST_F(RecoveryTest, AStatusCheckWaitsForTheAddStillBeingProcessed) {
  AddFaults({"add hold"});
  std::future<std::string> add =
      std::async(std::launch::async, [&] { return Send(Request(" newMessageSetID=\"busy\"", TimeAdd("busy"))); });
  const std::filesystem::path held = AddHeldMarker();
  while (!std::filesystem::exists(held)) std::this_thread::yield();

  std::future<std::string> check = std::async(std::launch::async, [&] { return Send(StatusCheck("busy")); });
  while (!SomeoneWaitsForLockOn(company_)) std::this_thread::yield();
  std::filesystem::remove(held);

  std::string added = add.get();
  EXPECT_EQ(SetStatus(added), "0");
  EXPECT_EQ(check.get(), added);
  EXPECT_EQ(TimeRecordsWithNotes("busy"), 1u);
}

bool HasTemporaryOf(const std::filesystem::path& path) {
  const std::string prefix = "." + path.filename().string() + ".";
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
    if (entry.path().filename().string().starts_with(prefix)) return true;
  }
  return false;
}

TEST(SafeWrites, AFailedWriteLeavesNoTemporaryFile) {
  StandinEnv env;
  // A target that is a directory with something in it: the rename fails after the temporary file was written.
  std::filesystem::path target = env.dir() / "target";
  std::filesystem::create_directories(target / "inside");
  EXPECT_THROW(WriteFileAtomically(target, std::string(100000, 'x')), std::runtime_error);
  EXPECT_FALSE(HasTemporaryOf(target));
}

TEST_F(RecoveryTest, TheTemporaryFileOfAKilledWriteIsRemovedAtTheNextWriteAndOpen) {
  const std::filesystem::path leftover = company_.parent_path() / ("." + company_.filename().string() + ".Ab12Z9");
  const std::filesystem::path unrelated = company_.parent_path() / ("." + company_.filename().string() + ".keep");
  env_.Write(leftover.filename().string(), std::string(4096, '<'));
  env_.Write(unrelated.filename().string(), "not ours to remove");

  Send(Request(" newMessageSetID=\"w\"", TimeAdd("w")));
  EXPECT_FALSE(std::filesystem::exists(leftover));
  EXPECT_TRUE(std::filesystem::exists(unrelated));

  env_.Write(leftover.filename().string(), "again");
  env_.Open(company_);
  EXPECT_FALSE(std::filesystem::exists(leftover));
}

// A company file opened through a link is that file: the add lands in it, under its lock, and the link stays.
TEST_F(RecoveryTest, AnAddThroughALinkWritesTheFileItNamesAndKeepsTheLink) {
  const std::filesystem::path link = company_.parent_path() / "linked" / "Company.QBW";
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_symlink(company_, link);
  const std::string added = HandleQBXMLRequest(link, Request("", TimeAdd("through the link")), kApp).response.Join();
  EXPECT_THAT(added, HasSubstr("statusCode=\"0\""));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(TimeRecordsWithNotes("through the link"), 1u);
}

}  // namespace
}  // namespace standins::quickbooks
