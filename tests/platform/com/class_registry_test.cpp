// The class registry: where it lives, who may own it, and its entries.

#include "platform/com/class_registry.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/base/error.h"
#include "platform/com/state_directory.h"

namespace platform::com {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class ClassRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-com-registry-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    home_ = std::make_unique<ScopedVariable>("QB_STANDIN_HOME", (dir_ / "state").c_str());
  }
  void TearDown() override {
    home_.reset();
    fs::remove_all(dir_);
  }

  std::string RegistryText() {
    std::ifstream in(ClassRegistryPath());
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::unique_ptr<ScopedVariable> home_;
};

TEST(StateDirectoryTest, OwnVariableThenXdgStateThenHome) {
  ScopedVariable home("HOME", "/home/clerk");
  {
    ScopedVariable own("QB_STANDIN_HOME", "/srv/qb");
    ScopedVariable xdg("XDG_STATE_HOME", "/var/state");
    EXPECT_EQ(StateDirectory(), fs::path("/srv/qb"));
  }
  ScopedVariable own("QB_STANDIN_HOME", "");
  {
    ScopedVariable xdg("XDG_STATE_HOME", "/var/state");
    EXPECT_EQ(StateDirectory(), fs::path("/var/state/qb-standin"));
  }
  {
    ScopedVariable xdg("XDG_STATE_HOME", "relative/state");  // not absolute: ignored
    EXPECT_EQ(StateDirectory(), fs::path("/home/clerk/.local/state/qb-standin"));
  }
  ScopedVariable xdg("XDG_STATE_HOME", nullptr);
  EXPECT_EQ(StateDirectory(), fs::path("/home/clerk/.local/state/qb-standin"));
}

// The registry lives beside the subscriptions that hold the site's sign-in values: the owner's only.
TEST_F(ClassRegistryTest, TheRegistryAndItsDirectoryAreTheOwnersOnlyWhateverTheUmask) {
  for (mode_t mask : {mode_t{0}, mode_t{0777}}) {
    fs::remove_all(dir_ / "state");
    const mode_t old = umask(mask);
    RegisterLocalServer({"Corvalink.QBMenuListener", Guid{}, "/opt/kalvor/corvalink"});
    umask(old);
    struct stat info {};
    ASSERT_EQ(stat((dir_ / "state").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u) << mask;
    for (const fs::path& file : {ClassRegistryPath(), fs::path(ClassRegistryPath().string() + ".lock")}) {
      ASSERT_EQ(stat(file.c_str(), &info), 0) << file;
      EXPECT_EQ(info.st_mode & 07777, 0600u) << file << " " << mask;
    }
    EXPECT_TRUE(FindLocalServer("Corvalink.QBMenuListener"));
  }
}

// A folder the user owns but left writable to others is not used; nor is what another user put into the
// registry's folder.
TEST_F(ClassRegistryTest, AWritableFolderAndWhatAnotherUserPutIntoItAreNotUsed) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  RegisterLocalServer({"Corvalink.QBMenuListener", Guid{}, "/opt/kalvor/corvalink"});
  const fs::path state = dir_ / "state";
  fs::permissions(state, fs::perms::all);
  try {
    FindLocalServer("Corvalink.QBMenuListener");
    ADD_FAILURE() << "a folder others may write was used";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find("may be written by other users"), std::string::npos) << e.description();
  }
  fs::permissions(state, fs::perms::owner_all);
  const fs::path lock = ClassRegistryPath().string() + ".lock";
  for (const fs::path& planted : {ClassRegistryPath(), lock}) {
    ASSERT_EQ(chown(planted.c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);
    testing::internal::CaptureStderr();
    try {
      planted == lock ? RegisterLocalServer({"Other.Server", Guid{}, "/bin/true"})
                      : static_cast<void>(FindLocalServer("Corvalink.QBMenuListener"));
      ADD_FAILURE() << planted << " was used";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), 70);
      EXPECT_NE(e.description().find(planted.string() + " belongs to another user"), std::string::npos)
          << e.description();
    }
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(chown(planted.c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
  }
  struct stat info {};
  ASSERT_EQ(stat(state.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);

  // A link in the registry's place is not followed, neither to read nor to lock.
  const fs::path elsewhere = dir_ / "elsewhere";
  std::ofstream(elsewhere) << "Corvalink.QBMenuListener\t\t/tmp/theirs\n";
  fs::remove(ClassRegistryPath());
  fs::create_symlink(elsewhere, ClassRegistryPath());
  EXPECT_THROW(FindLocalServer("Corvalink.QBMenuListener"), kv::Error);
  fs::remove(ClassRegistryPath());
  fs::remove(lock);
  fs::create_symlink(dir_ / "lock-target", lock);
  EXPECT_THROW(RegisterLocalServer({"Other.Server", Guid{}, "/bin/true"}), kv::Error);
  EXPECT_FALSE(fs::exists(dir_ / "lock-target"));
}

TEST_F(ClassRegistryTest, RegistersFindsReplacesAndRemovesIgnoringLetterCase) {
  EXPECT_EQ(FindLocalServer("Corvalink.QBMenuListener"), std::nullopt);  // no registry yet
  EXPECT_FALSE(UnregisterLocalServer("Corvalink.QBMenuListener"));

  const Guid clsid{0x0B01C3C5, 0xB46F, 0x4CFE, {0xB4, 0x2F, 0xDA, 0x3D, 0x4E, 0x02, 0x9F, 0x41}};
  RegisterLocalServer({"Corvalink.QBMenuListener", clsid, "/opt/kalvor/corvalink"});
  RegisterLocalServer({"Other.Server", Guid{}, "/opt/other/server with blank"});
  auto found = FindLocalServer("corvalink.qbmenulistener");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->progId, "Corvalink.QBMenuListener");
  EXPECT_EQ(found->clsid, clsid);
  EXPECT_EQ(found->program, fs::path("/opt/kalvor/corvalink"));
  EXPECT_EQ(FindLocalServer("Other.Server")->program, fs::path("/opt/other/server with blank"));

  RegisterLocalServer({"CORVALINK.QBMenuListener", clsid, "/usr/bin/corvalink"});
  EXPECT_EQ(ListLocalServers().size(), 2u);
  EXPECT_EQ(FindLocalServer("Corvalink.QBMenuListener")->program, fs::path("/usr/bin/corvalink"));

  EXPECT_TRUE(UnregisterLocalServer("Corvalink.QBMenuListener"));
  EXPECT_EQ(FindLocalServer("Corvalink.QBMenuListener"), std::nullopt);
  EXPECT_TRUE(FindLocalServer("Other.Server"));
  // Only the registry and its lock file: no temporary file is left behind.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ClassRegistryPath().parent_path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"class-registry", "class-registry.lock"}));
}

TEST_F(ClassRegistryTest, RejectsBadProgIdsAndProgramPaths) {
  for (const char* progId :
       {"", "9Lives.Server", "Has Blank.Server", "Tab\tServer", "Too.Long.ProgId.For.The.Registry.1234567"}) {
    try {
      RegisterLocalServer({progId, Guid{}, "/bin/true"});
      ADD_FAILURE() << "accepted ProgID \"" << progId << "\"";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), kv::kErrInvalidArgument);
    }
  }
  EXPECT_THROW(RegisterLocalServer({"Good.Name", Guid{}, "relative/program"}), kv::Error);
  EXPECT_THROW(RegisterLocalServer({"Good.Name", Guid{}, "/bin/with\nline break"}), kv::Error);
  EXPECT_TRUE(ListLocalServers().empty());
}

TEST_F(ClassRegistryTest, KeepsLinesItDoesNotUnderstand) {
  RegisterLocalServer({"First.Server", Guid{}, "/bin/first"});
  {
    std::ofstream out(ClassRegistryPath(), std::ios::app);
    out << "Future.Server\tnot-a-guid\t/bin/future\n";
  }
  RegisterLocalServer({"Second.Server", Guid{}, "/bin/second"});
  EXPECT_NE(RegistryText().find("Future.Server\tnot-a-guid\t/bin/future\n"), std::string::npos);
  EXPECT_EQ(ListLocalServers().size(), 2u);
}

TEST_F(ClassRegistryTest, ConcurrentRegistrationsAreAllKept) {
  // flock excludes per open file, so threads contend exactly as separate processes would.
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 10; ++i) {
        RegisterLocalServer({"Server" + std::to_string(t) + ".N" + std::to_string(i), Guid{}, "/bin/true"});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(ListLocalServers().size(), 80u);
}

}  // namespace
}  // namespace platform::com
