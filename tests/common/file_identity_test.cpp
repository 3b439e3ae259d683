// Which paths name one company file, and where the files that guard it lie.

#include "common/file_identity.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace kv {
namespace {

namespace fs = std::filesystem;

class FileIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-identity-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "Books.xml") << "open";
    std::ofstream(dir_ / "books.xml") << "other";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string In(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(FileIdentityTest, NamesDifferingInLetterCaseOrBlanksAreTwoFiles) {
  EXPECT_FALSE(SameFile(In("Books.xml"), In("books.xml")));
  EXPECT_FALSE(SameFile(In("Books.xml"), std::string(" ").append(In("Books.xml")).append(" ")));
  EXPECT_TRUE(SameFile(In("Books.xml"), In("Books.xml")));
}

TEST_F(FileIdentityTest, LinksAndOtherSpellingsOfOnePathAreOneFile) {
  fs::create_symlink(dir_ / "Books.xml", dir_ / "link.xml");
  fs::create_directory(dir_ / "sub");
  fs::create_hard_link(dir_ / "Books.xml", dir_ / "sub" / "hard.xml");
  EXPECT_TRUE(SameFile(In("link.xml"), In("Books.xml")));
  EXPECT_TRUE(SameFile(In("sub/../Books.xml"), In("./Books.xml")));
  EXPECT_TRUE(SameFile(In("sub/hard.xml"), In("Books.xml")));
  EXPECT_FALSE(SameFile(In("link.xml"), In("books.xml")));
}

TEST_F(FileIdentityTest, AMissingFileIsNoExistingOne) {
  EXPECT_FALSE(SameFile(In("gone.xml"), In("Books.xml")));
  EXPECT_FALSE(SameFile(In("Books.xml"), In("gone.xml")));
  // Neither exists: only the same resolved path counts.
  EXPECT_TRUE(SameFile(In("gone.xml"), In("sub/../gone.xml")));
  EXPECT_FALSE(SameFile(In("gone.xml"), In("Gone.xml")));
  EXPECT_FALSE(SameFile("", ""));
  EXPECT_FALSE(SameFile("", In("Books.xml")));
}

TEST_F(FileIdentityTest, ADotFileIsAFileLikeAnyOther) {
  std::ofstream(dir_ / ".books.xml") << "hidden by name only";
  EXPECT_TRUE(SameFile(In(".books.xml"), In("./.books.xml")));
  EXPECT_FALSE(SameFile(In(".books.xml"), In("books.xml")));
}

TEST_F(FileIdentityTest, GuardFilesLieBesideTheFileALinkLeadsTo) {
  fs::create_directory(dir_ / "sub");
  fs::create_symlink(dir_ / "Books.xml", dir_ / "sub" / "link.xml");
  fs::create_directory_symlink(dir_, dir_ / "sub" / "mapped");
  const fs::path real = fs::canonical(dir_);
  const fs::path expected = real / ".Books.xml.tessarine-lock";
  EXPECT_EQ(GuardFileOf(In("Books.xml"), ".tessarine-lock"), expected);
  EXPECT_EQ(GuardFileOf(In("sub/link.xml"), ".tessarine-lock"), expected);
  EXPECT_EQ(GuardFileOf(In("sub/mapped/Books.xml"), ".tessarine-lock"), expected);
  EXPECT_EQ(GuardFileOf(In("sub/../Books.xml"), ".tessarine-lock"), expected);
  EXPECT_EQ(GuardFileOf(In("Books.xml"), ".tessarine-journal"), real / ".Books.xml.tessarine-journal");
  // Letter case tells files apart here, and so their guards; a file not there yet is named by its path.
  EXPECT_EQ(GuardFileOf(In("books.xml"), ".x"), real / ".books.xml.x");
  EXPECT_EQ(GuardFileOf(In("sub/new.xml"), ".x"), real / "sub" / ".new.xml.x");
}

}  // namespace
}  // namespace kv
