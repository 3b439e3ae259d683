// Out-of-process activation end to end: registration, create, inform and release across a real process.

#include "platform/com/activation.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/base/error.h"
#include "platform/com/class_registry.h"

namespace platform::com {
namespace {

namespace fs = std::filesystem;

constexpr char kProgId[] = "KvComTest.Listener";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each test has its own stand-in state directory with the test server registered in it, and the directory the
// server writes its record into.
class ActivationTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-com-activation-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    setenv("QB_STANDIN_HOME", (dir_ / "state").c_str(), 1);
    setenv("KV_COM_TEST_DIR", dir_.c_str(), 1);
    unsetenv("KV_COM_TIMEOUT_SECONDS");
    ASSERT_EQ(Server("/regserver"), 0);
  }
  void TearDown() override {
    for (const char* name : {"QB_STANDIN_HOME", "KV_COM_TEST_DIR", "KV_COM_TIMEOUT_SECONDS", "KV_COM_TEST_NO_CLASS",
                             "KV_COM_TEST_FACTORY_FAILS"}) {
      unsetenv(name);
    }
    fs::remove_all(dir_);
  }

  static int Server(const std::string& argument) {
    const int rc = std::system(("'" KV_COM_TEST_SERVER "' " + argument).c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string Log() { return ReadFile(dir_ / "log"); }

  static void ExpectError(const std::function<void()>& call, int64_t number, const std::string& description) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), number) << e.description();
      EXPECT_NE(e.description().find(description), std::string::npos) << e.description();
    }
  }

  fs::path dir_;
};

TEST_F(ActivationTest, RegserverRecordsTheProgramAndUnregserverRemovesIt) {
  auto entry = FindLocalServer(kProgId);
  ASSERT_TRUE(entry);
  EXPECT_EQ(fs::canonical(entry->program), fs::canonical(KV_COM_TEST_SERVER));
  EXPECT_EQ(GuidToString(entry->clsid), "{5A1D7C40-2E0B-4F43-9C11-3B6E5207A4D8}");

  EXPECT_EQ(Server("/UnRegServer"), 0);
  EXPECT_EQ(FindLocalServer(kProgId), std::nullopt);
  EXPECT_EQ(Server("-unregserver"), 0);  // already gone: still done
  ExpectError([] { ActivateAndInform(kProgId, "x\n"); }, kErrCantCreateObject, "ActiveX component can't create object");
  EXPECT_FALSE(fs::exists(dir_ / "log"));  // nothing was started
}

TEST_F(ActivationTest, DeliversTheEventTextExactlyAndTheServerEndsAfterTheRelease) {
  std::string text = "<?xml version=\"1.0\"?>\n<QBXMLEvents>\n<EventTag>4</EventTag>\n</QBXMLEvents>\n";
  text += std::string("caf\xc3\xa9 \x01\x7f\xff\r\n", 11);
  text += std::string(1, '\0') + "after a NUL";
  text += std::string(200000, 'z');  // more than one socket buffer
  ActivateAndInform(kProgId, text);
  EXPECT_EQ(ReadFile(dir_ / "received"), text);
  // Started as a server, with the connection variable taken out of its environment, and ended on its own.
  EXPECT_EQ(Log(), "start -Embedding\ncreate\ninform\nterminate\nended\n");
}

TEST_F(ActivationTest, ErrorsRaisedInsideInformComeBackToTheClient) {
  RemoteObject object = RemoteObject::Create(kProgId);
  ExpectError([&] { object.Inform("raise -2147220472 Could not start QuickBooks."); }, -2147220472,
              "Could not start QuickBooks.");
  ExpectError([&] { object.Inform("plain failure"); }, static_cast<int32_t>(E_FAIL), "plain failure");
  object.Inform("still usable\n");
  object.Release();
  EXPECT_FALSE(object.IsHeld());
  ExpectError([&] { object.Inform("x"); }, kv::kErrObjectRequired, "Object required");
  EXPECT_EQ(object.WaitForServerExit(), 0);
}

TEST_F(ActivationTest, CreateFailuresGive429OrTheFactorysError) {
  setenv("KV_COM_TEST_NO_CLASS", "1", 1);
  ExpectError([] { RemoteObject::Create(kProgId); }, kErrCantCreateObject, "does not serve KvComTest.Listener");
  unsetenv("KV_COM_TEST_NO_CLASS");

  setenv("KV_COM_TEST_FACTORY_FAILS", "1", 1);
  ExpectError([] { RemoteObject::Create(kProgId); }, 70, "Permission denied");
  unsetenv("KV_COM_TEST_FACTORY_FAILS");

  RegisterLocalServer({"Missing.Program", Guid{}, dir_ / "no-such-program"});
  ExpectError([] { RemoteObject::Create("Missing.Program"); }, kErrCantCreateObject, "could not be started");
  RegisterLocalServer({"Quits.AtOnce", Guid{}, "/bin/true"});
  ExpectError([] { RemoteObject::Create("Quits.AtOnce"); }, kErrCantCreateObject,
              "ended with exit status 0 before creating the object");
}

// Another user who can change the state folder can swap the program a ProgID starts; such a folder is refused
// before any entry in it is read.
TEST_F(ActivationTest, ASwappedEntryInAFolderOfAnotherUserIsNeverRun) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  const fs::path swapped = dir_ / "swapped";
  std::ofstream(swapped) << "#!/bin/sh\ntouch '" << (dir_ / "swapped-ran").string() << "'\n";
  fs::permissions(swapped, fs::perms::owner_all);
  RegisterLocalServer({kProgId, Guid{}, swapped});
  // In the user's own folder the entry is run: the marker shows the program would have been started.
  ExpectError([] { RemoteObject::Create(kProgId); }, kErrCantCreateObject, "before creating the object");
  ASSERT_TRUE(fs::exists(dir_ / "swapped-ran"));
  fs::remove(dir_ / "swapped-ran");

  const fs::path state = dir_ / "state";
  for (fs::perms mode : {fs::perms::owner_all, fs::perms::all}) {
    ASSERT_EQ(chown(state.c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);
    fs::permissions(state, mode);
    ExpectError([] { RemoteObject::Create(kProgId); }, 70, "The state folder " + state.string());
    ExpectError([] { ActivateAndInform(kProgId, "x\n"); }, 70, "belongs to another user");
    ExpectError([] { RegisterLocalServer({"Other.Server", Guid{}, "/bin/true"}); }, 70, state.string());
    EXPECT_FALSE(fs::exists(dir_ / "swapped-ran"));
    EXPECT_FALSE(fs::exists(dir_ / "log"));
  }
}

TEST_F(ActivationTest, ALockKeepsTheServerRunningAfterTheLastRelease) {
  RemoteObject object = RemoteObject::Create(kProgId);
  object.Inform("lock 1500");
  object.Release();
  EXPECT_EQ(Log().find("unlocked"), std::string::npos);
  EXPECT_EQ(object.WaitForServerExit(), 0);
  EXPECT_EQ(Log(), "start -Embedding\ncreate\ninform\nterminate\nunlocked\nended\n");
}

TEST_F(ActivationTest, AServerThatDiesDuringACallGivesAnError) {
  pid_t pid = -1;
  {
    RemoteObject object = RemoteObject::Create(kProgId);
    pid = object.ServerProcessId();
    ExpectError([&] { object.Inform("crash"); }, kRpcCallFailed, "was ended by signal 9");
  }
  EXPECT_NE(kill(pid, 0), 0);  // reaped
}

TEST_F(ActivationTest, AServerThatDoesNotAnswerTimesOutAndIsEnded) {
  setenv("KV_COM_TIMEOUT_SECONDS", "0.5", 1);
  pid_t pid = -1;
  {
    RemoteObject object = RemoteObject::Create(kProgId);
    pid = object.ServerProcessId();
    // The server never returns from this call: only the timeout can end the wait.
    ExpectError([&] { object.Inform("hang"); }, kRpcTimeout, "did not answer within 0.5 seconds");
    // Refused on the client's side, without waiting on the stuck server again.
    ExpectError([&] { object.Inform("x"); }, kRpcTimeout, "has not answered an earlier call");
  }
  // Ended by its client while still inside the call: it neither released the object nor ended on its own.
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_EQ(Log(), "start -Embedding\ncreate\ninform\n");
  EXPECT_EQ(ReadFile(dir_ / "received"), "hang");
}

TEST_F(ActivationTest, AnAbandonedObjectIsReleasedAndItsServerReaped) {
  pid_t pid = -1;
  {
    RemoteObject object = RemoteObject::Create(kProgId);
    pid = object.ServerProcessId();
    object.Inform("first\n");
  }
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_EQ(Log(), "start -Embedding\ncreate\ninform\nterminate\nended\n");
}

TEST(RemoteCallTimeoutTest, ComesFromTheEnvironmentWithAGenerousDefault) {
  unsetenv("KV_COM_TIMEOUT_SECONDS");
  EXPECT_EQ(RemoteCallTimeout(), std::chrono::minutes(10));
  for (const char* bad : {"", "soon", "-3", "0", "5s"}) {
    setenv("KV_COM_TIMEOUT_SECONDS", bad, 1);
    EXPECT_EQ(RemoteCallTimeout(), std::chrono::minutes(10)) << bad;
  }
  setenv("KV_COM_TIMEOUT_SECONDS", "2.25", 1);
  EXPECT_EQ(RemoteCallTimeout(), std::chrono::milliseconds(2250));
  unsetenv("KV_COM_TIMEOUT_SECONDS");
}

}  // namespace
}  // namespace platform::com
