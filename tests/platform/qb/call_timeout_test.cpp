// A QuickBooks call that does not answer within KV_COM_TIMEOUT_SECONDS ends with an error, and the stand-in that
// did not answer is killed and reaped, so the call's outcome is settled: the company file holds its add or not.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/base/error.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"
#include "tests/support/qb/standin_env.h"

namespace platform::qb {
namespace {

using testing::StandinEnv;

using testing::ErrorOf;

std::string Request(const std::string& messages) {
  return "<?xml version=\"1.0\" ?><?qbxml version=\"2.0\"?><QBXML><QBXMLMsgsRq onError=\"stopOnError\">" + messages +
         "</QBXMLMsgsRq></QBXML>";
}

std::string TimeAdd(const std::string& notes) {
  return "<TimeTrackingAddRq requestID=\"1\"><TimeTrackingAdd><TxnDate>2006-05-09</TxnDate><EntityRef><FullName>"
         "Dana Whitfield</FullName></EntityRef><Duration>PT1H0M</Duration><Notes>" +
         notes + "</Notes></TimeTrackingAdd></TimeTrackingAddRq>";
}

// The processes this one started that run the named program.
std::vector<pid_t> ChildrenNamed(const std::string& name) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    if (parent == getpid() && line.substr(open + 1, close - open - 1) == name) {
      found.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return found;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class CallTimeout : public ::testing::Test {
 protected:
  // Only the held call gets the short time: starting a stand-in built with sanitizers on a busy machine can take
  // longer than that by itself. The other calls get half a minute, so that a stand-in still holding fails the test
  // rather than hangs it.
  CallTimeout() { setenv("KV_COM_TIMEOUT_SECONDS", kAroundHeld, 1); }
  ~CallTimeout() override { unsetenv("KV_COM_TIMEOUT_SECONDS"); }

  // The error of the held call, which must have taken the whole time-out.
  static kv::Error HeldCall(const char* seconds, std::chrono::milliseconds timeout, const std::function<void()>& call) {
    setenv("KV_COM_TIMEOUT_SECONDS", seconds, 1);
    const auto start = std::chrono::steady_clock::now();
    kv::Error error = ErrorOf(call);
    EXPECT_GE(std::chrono::steady_clock::now() - start, timeout);
    setenv("KV_COM_TIMEOUT_SECONDS", kAroundHeld, 1);
    return error;
  }

  static constexpr const char* kAroundHeld = "30";
  StandinEnv env_;
};

TEST_F(CallTimeout, AnAddHeldPastTheTimeOutEndsTheCallAndTheStandinAndTheFileIsWhole) {
  auto company = env_.CopySample();
  env_.Open(company);
  ASSERT_EQ(env_.Run({"fault", "add hold"}).status, 0);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  const std::string ticket = processor->BeginSession("", kOpenModeDoNotCare);
  const std::vector<pid_t> servers = ChildrenNamed("qb-standin");
  ASSERT_EQ(servers.size(), 1u);

  const kv::Error error = HeldCall("0.4", std::chrono::milliseconds(400),
                                   [&] { processor->ProcessRequest(ticket, Request(TimeAdd("held"))); });
  EXPECT_EQ(error.number(), kErrQBNoAnswer);
  EXPECT_EQ(error.description(), "QuickBooks did not answer within 0.4 seconds.");
  // Killed and reaped: not even a zombie is left.
  const int gone = kill(servers[0], 0) == 0 ? 0 : errno;
  EXPECT_EQ(gone, ESRCH);
  // The connection went with it; the object takes a new one.
  EXPECT_EQ(ErrorOf([&] { processor->ProcessRequest(ticket, Request("")); }).number(), kErrNotConnected);
  std::filesystem::remove(env_.StateDir() / "add-held");

  processor->OpenConnection("731-5096-4482630", "Pellucent");
  const std::string again = processor->BeginSession("", kOpenModeDoNotCare);
  // The lock went with the killed process: a new add is taken at once.
  EXPECT_THAT(processor->ProcessRequest(again, Request(TimeAdd("after"))), ::testing::HasSubstr("statusCode=\"0\""));
  const std::string listed = processor->ProcessRequest(
      again, Request("<TimeTrackingQueryRq requestID=\"2\"><TxnDateRangeFilter><FromTxnDate>2006-05-09</FromTxnDate>"
                     "</TxnDateRangeFilter></TimeTrackingQueryRq>"));
  // The held add is in the file wholly or not at all, and the file reads as a whole.
  EXPECT_LE(Count(listed, "<Notes>held</Notes>"), 1u);
  EXPECT_EQ(Count(listed, "<Notes>after</Notes>"), 1u);
  EXPECT_EQ(Count(env_.Read(company), "<TimeTrackingRet>"), Count(env_.Read(company), "</TimeTrackingRet>"));
  EXPECT_THAT(env_.Read(company), ::testing::EndsWith("</QBStandinCompany>\n"));
}

// The menu agent's session manager is bounded the same way, and so is the processor's BeginSession.
TEST_F(CallTimeout, ASessionThatIsNotGivenInTimeEndsTheCallForBothKindsOfObject) {
  env_.Open(env_.CopySample());
  const std::filesystem::path held = env_.StateDir() / "session-held";
  auto held_call = [](const std::function<void()>& call) {
    return HeldCall("0.25", std::chrono::milliseconds(250), call);
  };

  ASSERT_EQ(env_.Run({"fault", "session hold"}).status, 0);
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Corvalink");
  kv::Error error = held_call([&] { manager->BeginSession("", kOpenModeDoNotCare); });
  EXPECT_EQ(error.number(), kErrQBNoAnswer);
  EXPECT_EQ(error.description(), "QuickBooks did not answer within 0.25 seconds.");
  EXPECT_TRUE(ChildrenNamed("qb-standin").empty());
  std::filesystem::remove(held);
  manager->OpenConnection("", "Corvalink");
  EXPECT_NO_THROW(manager->BeginSession("", kOpenModeDoNotCare));
  manager.reset();

  ASSERT_EQ(env_.Run({"fault", "session hold"}).status, 0);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  error = held_call([&] { processor->BeginSession("", kOpenModeDoNotCare); });
  EXPECT_EQ(error.number(), kErrQBNoAnswer);
  EXPECT_TRUE(ChildrenNamed("qb-standin").empty());
  std::filesystem::remove(held);
}

}  // namespace
}  // namespace platform::qb
