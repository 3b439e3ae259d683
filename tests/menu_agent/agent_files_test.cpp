// The files the menu agent shares between its server processes: the answer file a scripted run reads its choices
// from, and the pick queue's lock. Both are opened where another program could have planted a link.

#include <gtest/gtest.h>

#include <filesystem>

#include "menu_agent/pick_queue.h"
#include "menu_agent/server_presenter.h"
#include "tests/menu_agent/menu_test_support.h"

namespace {

using menutest::AgentTest;
using menutest::ReadAll;
using menutest::WriteAll;

TEST_F(AgentTest, AnswerLinesAreTakenInTurnAndTheRestKept) {
  const std::filesystem::path file = Dir() / "answers.txt";
  WriteAll(file, "yes\r\nno\nlast");
  EXPECT_EQ(corvalink::TakeAnswerLine(file.string()), "yes");
  EXPECT_EQ(ReadAll(file), "no\nlast");
  EXPECT_EQ(corvalink::TakeAnswerLine(file.string()), "no");
  EXPECT_EQ(corvalink::TakeAnswerLine(file.string()), "last");
  EXPECT_EQ(ReadAll(file), "");
  EXPECT_EQ(corvalink::TakeAnswerLine(file.string()), std::nullopt);
}

TEST_F(AgentTest, AnAnswerFileThatIsMissingOrALinkGivesNoAnswerAndIsLeftAlone) {
  const std::filesystem::path missing = Dir() / "missing.txt";
  EXPECT_EQ(corvalink::TakeAnswerLine(missing.string()), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(missing));

  const std::filesystem::path victim = Dir() / "victim.txt";
  const std::filesystem::path link = Dir() / "link.txt";
  WriteAll(victim, "first\nsecond\n");
  std::filesystem::create_symlink(victim, link);
  EXPECT_EQ(corvalink::TakeAnswerLine(link.string()), std::nullopt);
  EXPECT_EQ(ReadAll(victim), "first\nsecond\n");
}

TEST_F(AgentTest, ALinkAtThePickLocksPlaceNeitherStopsAPickNorIsFollowed) {
  std::filesystem::create_directories(corvalink::PickLockPath().parent_path());
  const std::filesystem::path victim = Dir() / "planted";
  std::filesystem::create_symlink(victim, corvalink::PickLockPath());
  { corvalink::PickTurn turn; }  // goes at once
  EXPECT_FALSE(std::filesystem::exists(victim));
}

}  // namespace
