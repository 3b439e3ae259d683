// The state directory holds the site code and site id of the menu subscription, which sign in to the service:
// nobody but its owner may read it, whatever the umask of the process that made it.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/base/error.h"
#include "platform/qb/subscription.h"
#include "standins/quickbooks/request_handler.h"
#include "standins/quickbooks/state.h"
#include "standins/quickbooks/subscription_service.h"
#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(umask(mask)) {}
  ~UmaskScope() { umask(old_); }

 private:
  mode_t old_;
};

TEST(StateFilesTest, TheDirectoryAndEveryFileInItAreTheOwnersOnly) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
    SCOPED_TRACE(mask);
    platform::qb::testing::StandinEnv env;
    fs::path company = env.CopySample();
    {
      UmaskScope scope(mask);
      SetOpenCompanyFile(company);
      SetAccessDenied("Somebody", true);
      AddFaults({"add ok"});
      SetLibraryVersion({3, 0, 0, 0});
      platform::qb::UIExtensionSubscriptionRet subscription;
      subscription.SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
      FileSubscriptionStore().Put(*SubscriberKey(subscription.SubscriberID), subscription);
      JournalAddedTransactions(company, {{"Bill", "1-1"}});
      TakeFault("session");
      platform::os::FileLock::TryAcquire(EnsureStateDir() / "sessions.lock", platform::os::LockMode::kShared);
    }
    size_t files = 0;
    EXPECT_EQ(ModeOf(env.StateDir()), 0700u);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(env.StateDir())) {
      if (entry.is_directory()) {
        EXPECT_EQ(ModeOf(entry.path()), 0700u) << entry.path();
      } else {
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
        ++files;
      }
    }
    EXPECT_GE(files, 8u);
    // The company file is the user's document, not state: it keeps the usual permissions of a new file.
    EXPECT_EQ(ModeOf(company) & 0700, 0600u);
  }
}

// Another user who owns the folder could name any file as the open company or plant a subscription: nothing in
// it is read, and the stand-in says which folder it refuses.
TEST(StateFilesTest, AFolderOfAnotherUserIsNeitherReadNorWritten) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  platform::qb::testing::StandinEnv env;
  const fs::path company = env.CopySample();
  env.Open(company);
  ASSERT_EQ(chown(env.StateDir().c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);

  EXPECT_THROW(OpenCompanyFile(), kv::Error);
  EXPECT_THROW(IsAccessDenied("Somebody"), kv::Error);
  const platform::qb::testing::RunResult run = env.Run({"open", company.string()});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.err.find("The state folder " + env.StateDir().string()), std::string::npos) << run.err;

  // Given back, it is used again as it was.
  ASSERT_EQ(chown(env.StateDir().c_str(), geteuid(), static_cast<gid_t>(-1)), 0);
  EXPECT_EQ(OpenCompanyFile(), company);
}

// A file planted in the state folder while it was open to others must not steer the stand-in: a link is not
// followed, to read or to append, and another user's file is not believed.
TEST(StateFilesTest, ALinkOrAnotherUsersFileInTheFolderIsNotTrusted) {
  platform::qb::testing::StandinEnv env;
  const fs::path company = env.CopySample();
  env.Open(company);
  const fs::path elsewhere = env.dir() / "elsewhere";
  std::ofstream(elsewhere) << "add fail 3180\n";
  for (const char* name : {"open-company", "faults", "library-version", "added-transactions"}) {
    fs::remove(env.StateDir() / name);
    fs::create_symlink(elsewhere, env.StateDir() / name);
  }
  EXPECT_THROW(OpenCompanyFile(), std::runtime_error);
  EXPECT_THROW(TakeFault("add"), std::runtime_error);
  EXPECT_THROW(LibraryVersion(), std::runtime_error);
  JournalAddedTransactions(company, {{"Bill", "1-1"}});
  std::ifstream in(elsewhere);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "add fail 3180\n");

  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  fs::remove(env.StateDir() / "open-company");
  SetOpenCompanyFile(company);
  EXPECT_EQ(OpenCompanyFile(), company);
  ASSERT_EQ(chown((env.StateDir() / "open-company").c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);
  try {
    OpenCompanyFile();
    ADD_FAILURE() << "another user's open-company was read";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace standins::quickbooks
