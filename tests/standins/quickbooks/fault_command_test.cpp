// qb-standin fault: scripting events, listing the lines still waiting, dropping them, and a help that names every
// line an event takes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/qb/standin_env.h"

namespace standins::quickbooks {
namespace {

using platform::qb::testing::RunResult;
using platform::qb::testing::StandinEnv;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(StandinFaultCommand, ListsTheWaitingLinesInTheirOrderAndClearsThem) {
  StandinEnv env;
  EXPECT_THAT(env.Run({"fault"}).out, HasSubstr("No scripted events are waiting."));
  EXPECT_EQ(env.Run({"fault", "add fail 3180", "session refuse"}).status, 0);
  EXPECT_EQ(env.Run({"fault", "add hold"}).status, 0);
  RunResult listed = env.Run({"fault"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_EQ(listed.out, "add fail 3180\nsession refuse\nadd hold\n");

  RunResult cleared = env.Run({"fault", "--clear"});
  EXPECT_EQ(cleared.status, 0);
  EXPECT_THAT(cleared.out, HasSubstr("dropped 3 scripted events"));
  EXPECT_THAT(env.Run({"fault"}).out, HasSubstr("No scripted events are waiting."));
  // Cleared and scripted anew in one go: only the new line waits.
  EXPECT_EQ(env.Run({"fault", "--clear", "session ok"}).status, 0);
  EXPECT_EQ(env.Run({"fault"}).out, "session ok\n");
}

TEST(StandinFaultCommand, ItsHelpNamesEveryLineAndNoSourceFile) {
  StandinEnv env;
  RunResult help = env.Run({"fault", "--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* line : {"session refuse", "session hold", "session ok", "add fail [CODE]", "add ok", "add hold",
                           "add lose", "--clear"}) {
    EXPECT_THAT(help.out, HasSubstr(line)) << help.out;
  }
  EXPECT_THAT(help.out, Not(HasSubstr(".h"))) << help.out;
}

}  // namespace
}  // namespace standins::quickbooks
