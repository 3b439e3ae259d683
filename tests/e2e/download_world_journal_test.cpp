// A damaged journal is never silently ignored: a download killed while QuickBooks processes an add leaves the
// company file's journal naming the record; the journal is then damaged as a disk, a tool or a hand damages a
// file. The next run says so in a critical message naming the journal, and posts nothing twice; the runs after
// it leave every record once in QuickBooks and reported once.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/download_world.h"

namespace kv::test::world {
namespace {

namespace fs = std::filesystem;

enum class Damage { kFlippedByte, kGarbageLine, kCutInTheMiddle, kCrLfLineEnds, kEmptied, kDeleted, kUnreadable };

struct DamageCase {
  const char* name;
  Damage damage;
};

void PrintTo(const DamageCase& damage, std::ostream* out) {
  *out << damage.name;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWhole(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void Apply(Damage damage, const fs::path& journal) {
  std::string text = ReadWhole(journal);
  const size_t middle = text.size() / 2;
  switch (damage) {
    case Damage::kFlippedByte: {
      // A letter or digit in the middle turns into another one: the line still reads as a line.
      size_t at = middle;
      while (at < text.size() && !std::isalnum(static_cast<unsigned char>(text[at]))) ++at;
      if (at == text.size()) at = middle;
      text[at] = text[at] == 'x' ? 'y' : 'x';
      WriteWhole(journal, text);
      break;
    }
    case Damage::kGarbageLine: {
      const size_t line = text.find('\n', middle);
      text.insert(line == std::string::npos ? text.size() : line + 1, "5002|TA|garbage in the middle\n");
      WriteWhole(journal, text);
      break;
    }
    case Damage::kCutInTheMiddle:
      text.erase(text.size() / 3, text.size() / 3);
      WriteWhole(journal, text);
      break;
    case Damage::kCrLfLineEnds: {
      std::string crlf;
      for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      WriteWhole(journal, crlf);
      break;
    }
    case Damage::kEmptied:
      fs::resize_file(journal, 0);
      break;
    case Damage::kDeleted:
      fs::remove(journal);
      break;
    case Damage::kUnreadable:
      // As root no permission keeps a reader out: a folder in its place cannot be read as a file.
      fs::remove(journal);
      fs::create_directory(journal);
      break;
  }
}

class DamagedJournal : public DownloadWorldTest, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedJournal, IsSaidToTheUserAndNoRecordIsPostedTwice) {
  KillDuringAdd(true, 2);
  const fs::path journal = JournalOf(company_.file());
  ASSERT_TRUE(fs::is_regular_file(journal)) << journal;
  const Damage damage = GetParam().damage;
  Apply(damage, journal);
  const bool kept = damage != Damage::kDeleted && damage != Damage::kUnreadable;
  const std::string damaged = kept ? ReadWhole(journal) : "";

  const ProgramRun next = Download(true);
  EXPECT_TRUE(ShowsBox(next.out, "Critical", journal.filename().string())) << next.out << next.err;
  if (kept) {
    // The damaged bytes are kept aside for the user, under the name the message gives.
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(journal.parent_path())) {
      if (entry.path().filename().string().starts_with(journal.filename().string() + ".damaged")) {
        copies.push_back(entry.path());
      }
    }
    ASSERT_EQ(copies.size(), 1u) << next.out;
    EXPECT_TRUE(ShowsBox(next.out, "Critical", copies[0].filename().string())) << next.out;
    EXPECT_EQ(ReadWhole(copies[0]), damaged);
  }
  if (damage == Damage::kUnreadable) {
    // The user takes the folder away; that the journal is missing now is said again.
    fs::remove_all(journal);
  }
  const size_t said = Outputs().size();
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
  if (damage != Damage::kUnreadable) {
    // Said once: the downloads after it read a whole journal.
    for (size_t run = said; run < Outputs().size(); ++run) {
      EXPECT_FALSE(ShowsBox(Outputs()[run], "Critical", journal.filename().string())) << Outputs()[run];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedJournal,
    ::testing::Values(DamageCase{"FlippedByte", Damage::kFlippedByte}, DamageCase{"GarbageLine", Damage::kGarbageLine},
                      DamageCase{"CutInTheMiddle", Damage::kCutInTheMiddle},
                      DamageCase{"CrLfLineEnds", Damage::kCrLfLineEnds}, DamageCase{"Emptied", Damage::kEmptied},
                      DamageCase{"Deleted", Damage::kDeleted}, DamageCase{"Unreadable", Damage::kUnreadable}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kv::test::world
