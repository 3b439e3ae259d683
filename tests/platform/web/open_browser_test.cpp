// Opening an address in the user's browser, or in the log that stands in for it.

#include "platform/web/open_browser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "tests/support/scoped_env.h"

namespace platform::web {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kv::test::ScopedEnv;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class OpenBrowserTest : public ::testing::Test {
 protected:
  OpenBrowserTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-browser-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~OpenBrowserTest() override { fs::remove_all(dir_); }

  // A stand-in browser that writes its arguments, its parent and its session to args.txt, one a line.
  fs::path MakeBrowser(const std::string& name) {
    const fs::path script = dir_ / name;
    std::ofstream(script)
        << "#!/bin/sh\n"
        << "out='" << (dir_ / "args.txt").string() << "'\n"
        << "{ for a in \"$@\"; do printf '%s\\n' \"$a\"; done; echo \"ppid=$PPID\";"
        << " echo \"sid=$(cut -d' ' -f6 /proc/$$/stat)\"; } > \"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
  }

  std::vector<std::string> WaitForArgs() {
    const fs::path out = dir_ / "args.txt";
    for (int i = 0; i < 500 && !fs::exists(out); ++i) std::this_thread::sleep_for(10ms);
    std::vector<std::string> lines = kv::Split(ReadWhole(out), "\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }

  fs::path dir_;
  ScopedEnv no_log_{"KV_BROWSER_LOG", nullptr};
};

TEST_F(OpenBrowserTest, TheLogReceivesEachAddressOnALine) {
  const fs::path log = dir_ / "browser.log";
  ScopedEnv env("KV_BROWSER_LOG", log.c_str());
  OpenBrowser("http://127.0.0.1:1/tspenddownlist.asp?sitecode=A&siteid=B");
  OpenBrowser("http://127.0.0.1:1/help/QBmenu.html");
  EXPECT_EQ(ReadWhole(log),
            "http://127.0.0.1:1/tspenddownlist.asp?sitecode=A&siteid=B\n"
            "http://127.0.0.1:1/help/QBmenu.html\n");
}

TEST_F(OpenBrowserTest, ALogThatCannotBeWrittenRaisesAnError) {
  ScopedEnv env("KV_BROWSER_LOG", (dir_ / "missing" / "browser.log").c_str());
  try {
    OpenBrowser("http://x/");
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrBrowserNotStarted);
  }
}

TEST_F(OpenBrowserTest, TheBrowserGetsTheAddressIntactAndRunsDetached) {
  const fs::path browser = MakeBrowser("fake-browser");
  const std::string url = "http://h/p.asp?a=1&b=$(touch pwned);x' \"y";
  ScopedEnv env("BROWSER", (browser.string() + " --new-window").c_str());
  OpenBrowser(url);
  const auto lines = WaitForArgs();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "--new-window");
  EXPECT_EQ(lines[1], url);
  EXPECT_NE(lines[2], "ppid=" + std::to_string(getpid()));
  EXPECT_NE(lines[3], "sid=" + std::to_string(getsid(0)));
  EXPECT_NE(lines[3], "sid=");
  EXPECT_FALSE(fs::exists("pwned"));
  // Nothing is left for this process to reap.
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
}

TEST_F(OpenBrowserTest, APlaceholderTakesTheAddress) {
  const fs::path browser = MakeBrowser("fake-browser");
  ScopedEnv env("BROWSER", (browser.string() + "  %s  --flag").c_str());
  OpenBrowser("http://h/x");
  const auto lines = WaitForArgs();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "http://h/x");
  EXPECT_EQ(lines[1], "--flag");
}

TEST_F(OpenBrowserTest, WithoutBrowserXdgOpenIsFoundOnThePath) {
  MakeBrowser("xdg-open");
  ScopedEnv browser("BROWSER", nullptr);
  ScopedEnv path("PATH", (dir_.string() + ":/usr/bin:/bin").c_str());
  OpenBrowser("http://h/y");
  const auto lines = WaitForArgs();
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "http://h/y");
}

TEST_F(OpenBrowserTest, ABrowserThatCannotStartRaisesAnError) {
  for (const char* command : {"/nonexistent/browser", "kv-no-such-browser-here"}) {
    ScopedEnv env("BROWSER", command);
    try {
      OpenBrowser("http://h/");
      ADD_FAILURE() << command << " started";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), kErrBrowserNotStarted);
      EXPECT_NE(e.description().find(command), std::string::npos) << e.description();
    }
  }
  // Found but not a program the system can run.
  const fs::path bogus = dir_ / "bogus";
  std::ofstream(bogus) << "\x7f"
                       << "ELF garbage";
  fs::permissions(bogus, fs::perms::owner_all);
  ScopedEnv env("BROWSER", bogus.c_str());
  EXPECT_THROW(OpenBrowser("http://h/"), kv::Error);
}

}  // namespace
}  // namespace platform::web
