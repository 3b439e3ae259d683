// The user's state folders: created private, tightened, or refused when another user could change them.

#include "platform/com/state_directory.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/base/error.h"

namespace platform::com {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class PrivateFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-state-folder-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Another local user: the tests run as root so that they can give a folder away.
  static std::optional<uid_t> Nobody() {
    if (geteuid() != 0) return std::nullopt;
    const passwd* entry = getpwnam("nobody");
    if (!entry) return std::nullopt;
    return entry->pw_uid;
  }

  // A folder made with the given mode, whatever the umask.
  fs::path Folder(const std::string& name, mode_t mode) {
    const fs::path folder = dir_ / name;
    EXPECT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(chmod(folder.c_str(), mode), 0);
    return folder;
  }

  static void ExpectRefused(const std::function<void()>& call, const fs::path& folder, const std::string& why) {
    try {
      call();
      ADD_FAILURE() << folder << " was used";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), 70) << e.description();
      EXPECT_NE(e.description().find("The state folder " + folder.string() + " "), std::string::npos)
          << e.description();
      EXPECT_NE(e.description().find(why), std::string::npos) << e.description();
    }
  }

  fs::path dir_;
};

TEST_F(PrivateFolderTest, AMissingFolderIsCreatedTheOwnersOnlyWhateverTheUmaskWithoutANotice) {
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0777}}) {
    const fs::path folder = dir_ / ("umask" + std::to_string(mask)) / "parent" / "state";
    testing::internal::CaptureStderr();
    const mode_t old = umask(mask);
    const fs::path opened = OpenPrivateFolder(folder);
    umask(old);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(opened, folder);
    EXPECT_TRUE(fs::is_directory(folder)) << mask;
    EXPECT_EQ(ModeOf(folder), 0700u) << mask;
  }
  // Named with a final slash: the same folder, made once, still without a notice.
  testing::internal::CaptureStderr();
  OpenPrivateFolder(dir_.string() + "/slash/state/");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ModeOf(dir_ / "slash" / "state"), 0700u);
}

TEST_F(PrivateFolderTest, AReaderCreatesNothingAndFindsNothingInAMissingFolder) {
  EXPECT_FALSE(CheckPrivateFolder(dir_ / "missing"));
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  EXPECT_TRUE(CheckPrivateFolder(Folder("present", 0700)));
}

TEST_F(PrivateFolderTest, TheUsersOwnFolderThatOthersMayReadIsTightenedWithANotice) {
  for (mode_t mode : {mode_t{0755}, mode_t{0701}, mode_t{0740}}) {
    const fs::path folder = Folder("loose" + std::to_string(mode), mode);
    testing::internal::CaptureStderr();
    OpenPrivateFolder(folder);
    const std::string notice = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ModeOf(folder), 0700u) << mode;
    EXPECT_NE(notice.find(folder.string()), std::string::npos) << notice;
    EXPECT_NE(notice.find("0700"), std::string::npos) << notice;
  }
  // A reader tightens it as well; a folder already right says nothing.
  const fs::path read = Folder("read", 0755);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(CheckPrivateFolder(read));
  EXPECT_NE(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(ModeOf(read), 0700u);
  testing::internal::CaptureStderr();
  OpenPrivateFolder(read);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(PrivateFolderTest, TheUsersOwnFolderThatOthersMayWriteIsRefusedAndLeftAsItIs) {
  for (mode_t mode : {mode_t{0777}, mode_t{0720}, mode_t{0702}}) {
    const fs::path folder = Folder("writable" + std::to_string(mode), mode);
    ExpectRefused([&] { OpenPrivateFolder(folder); }, folder, "may be written by other users");
    ExpectRefused([&] { CheckPrivateFolder(folder); }, folder, "may be written by other users");
    EXPECT_EQ(ModeOf(folder), mode);
  }
}

TEST_F(PrivateFolderTest, AFolderOfAnotherUserIsRefusedAndLeftAsItIs) {
  const auto nobody = Nobody();
  if (!nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  for (mode_t mode : {mode_t{0700}, mode_t{0777}, mode_t{0755}}) {
    const fs::path folder = Folder("theirs" + std::to_string(mode), mode);
    ASSERT_EQ(chown(folder.c_str(), *nobody, static_cast<gid_t>(-1)), 0);
    const std::string why = "belongs to another user (uid " + std::to_string(*nobody);
    ExpectRefused([&] { OpenPrivateFolder(folder); }, folder, why);
    ExpectRefused([&] { CheckPrivateFolder(folder); }, folder, why);
    EXPECT_EQ(ModeOf(folder), mode);  // not tightened: it is not ours to change
  }
}

TEST_F(PrivateFolderTest, ALinkAnotherUserPlacedIsRefusedEvenWhenItNamesTheUsersFolder) {
  const auto nobody = Nobody();
  if (!nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  const fs::path mine = Folder("mine", 0700);
  const fs::path link = dir_ / "link";
  fs::create_directory_symlink(mine, link);
  EXPECT_EQ(OpenPrivateFolder(link), link);  // the user's own link is followed
  ASSERT_EQ(lchown(link.c_str(), *nobody, static_cast<gid_t>(-1)), 0);
  ExpectRefused([&] { OpenPrivateFolder(link); }, link, "is a link that belongs to another user");
  ExpectRefused([&] { CheckPrivateFolder(link); }, link, "is a link that belongs to another user");
}

TEST_F(PrivateFolderTest, AFileOrADanglingLinkInThePlaceIsNeitherUsedNorFollowed) {
  const fs::path file = dir_ / "file";
  std::ofstream(file) << "x";
  ExpectRefused([&] { OpenPrivateFolder(file); }, file, "is not a folder");

  const fs::path dangling = dir_ / "dangling";
  fs::create_directory_symlink(dir_ / "target", dangling);
  EXPECT_THROW(OpenPrivateFolder(dangling), kv::Error);
  EXPECT_FALSE(fs::exists(dir_ / "target"));  // nothing created where the link points
}

}  // namespace
}  // namespace platform::com
