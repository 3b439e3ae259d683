// Whole-file replacement: the mode asked, interrupted writes, links and missing folders.

#include "platform/os/atomic_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/os/process.h"

namespace platform::os {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public testing::Test {
 protected:
  AtomicFileTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-atomic-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  ~AtomicFileTest() override { fs::remove_all(dir_); }

  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(AtomicFileTest, ReplacesTheWholeFileWithTheModeAsked) {
  const fs::path path = dir_ / "state.txt";
  std::ofstream(path) << "an old and longer content\n";
  ReplaceFileAtomically(path, std::vector<std::string_view>{"new ", "content"});
  EXPECT_EQ(Slurp(path), "new content");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  ReplaceFileAtomically(path, "shared", 0644);
  EXPECT_EQ(Slurp(path), "shared");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Names(), (std::vector<std::string>{"state.txt"}));
}

TEST_F(AtomicFileTest, TheModeAskedHoldsWhateverTheUmask) {
  const fs::path path = dir_ / "private";
  const mode_t old = umask(0777);
  ReplaceFileAtomically(path, "mine");
  ReplaceFileAtomically(dir_ / "shared", "ours", 0640);
  umask(old);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(dir_ / "shared").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Slurp(path), "mine");
}

TEST_F(AtomicFileTest, AnInterruptedReplacementLeavesTheOldFileWholeAndNoTemporary) {
  const fs::path path = dir_ / "registry";
  std::ofstream(path) << "old content";
  // The child may write no more than 16 bytes into any file: the write of the new content fails half way.
  Process child = Process::Fork([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit small{16, 16};
    setrlimit(RLIMIT_FSIZE, &small);
    try {
      ReplaceFileAtomically(path, std::string(4096, 'n'));
    } catch (const std::system_error& e) {
      return e.code().value() == EFBIG ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(child.Wait().code, 0);
  EXPECT_EQ(Slurp(path), "old content");
  EXPECT_EQ(Names(), (std::vector<std::string>{"registry"}));
}

TEST_F(AtomicFileTest, ReplacesALinkAtThePlaceRatherThanWritingThroughIt) {
  const fs::path victim = dir_ / "victim";
  const fs::path path = dir_ / "link";
  std::ofstream(victim) << "untouched";
  fs::create_symlink(victim, path);
  ReplaceFileAtomically(path, "mine");
  EXPECT_EQ(Slurp(victim), "untouched");
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(Slurp(path), "mine");
}

TEST_F(AtomicFileTest, AMissingFolderIsAnErrorNamingTheFile) {
  const fs::path path = dir_ / "absent" / "file";
  try {
    ReplaceFileAtomically(path, "x");
    FAIL() << "wrote into a missing folder";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace platform::os
