// The command blocks of README.md run as they are written, in their order, against a copy of the samples: a
// README that sends a newcomer into an error fails here first.
//
// A block is a run of lines indented by four blanks. One the reader should not have run for them (the demo, the
// full test run) has an HTML comment starting "<!-- not run by the README test" as the last line before it.
// The copy lives in a folder of its own: the README's "/tmp/" stands for that folder, its port 40123 for a free
// one, and build/bin is this build's. The round runs twice, as a reader who tries it again would: the second one
// finds the service with nothing left to download, and the copied tree is as it was before either.

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSkipMark = "<!-- not run by the README test";
constexpr std::string_view kReadmePort = "40123";

struct Block {
  std::string text;
  bool skipped = false;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<Block> CommandBlocks(const std::string& markdown) {
  std::vector<std::string> lines;
  std::istringstream in(markdown);
  for (std::string line; std::getline(in, line);) lines.push_back(line);

  std::vector<Block> blocks;
  bool fenced = false;
  std::string last_text;  // the last line with text before the current one
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.rfind("```", 0) == 0) fenced = !fenced;
    const bool starts_block = !fenced && line.rfind("    ", 0) == 0 && (i == 0 || lines[i - 1].empty());
    if (!starts_block) {
      if (line.find_first_not_of(' ') != std::string::npos) last_text = line;
      continue;
    }
    Block block;
    block.skipped = last_text.rfind(kSkipMark, 0) == 0;
    for (; i < lines.size() && (lines[i].rfind("    ", 0) == 0 || lines[i].empty()); ++i) {
      block.text += lines[i].empty() ? "\n" : lines[i].substr(4) + "\n";
    }
    --i;
    last_text = lines[i];
    blocks.push_back(block);
  }
  return blocks;
}

// A port no one listens on now; the stand-in is started on it by the README's own command.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

class ReadmeCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* source = std::getenv("KV_SOURCE_DIR");
    const char* bin = std::getenv("KV_BUILD_BIN");
    ASSERT_TRUE(source && bin) << "KV_SOURCE_DIR and KV_BUILD_BIN come from ctest";
    source_ = source;
    bin_ = bin;
    dir_ = fs::temp_directory_path() / ("kv-readme-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "tree" / "build");
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path source_, bin_, dir_;
};

// Every file under a folder with its bytes: a round that writes into the tree shows here.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    files[name] = entry.is_directory() ? std::string("(folder)") : ReadAll(entry.path());
  }
  return files;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
  return count;
}

// Whether a command line starts its command in the background: it ends in a lone "&", a comment aside.
bool RunsInBackground(std::string_view line) {
  std::string_view command = line.substr(0, line.find('#'));
  while (!command.empty() && (command.back() == ' ' || command.back() == '\t')) command.remove_suffix(1);
  return command.ends_with('&') && !command.ends_with("&&");
}

TEST(ReadmeBlocks, IndentedBlocksWithTheirMarksFencesAndListsLeftOut) {
  const std::vector<Block> blocks = CommandBlocks(
      "# Title\n\n    first one\n    first two\n\n    first after a blank\nText.\n"
      "<!-- not run by the README test: long -->\n\n    skipped\n\n"
      "- a list item\n  with a continuation\n\n```\n\n    fenced, no command\n```\n\n    last\n");
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].text, "first one\nfirst two\n\nfirst after a blank\n");
  EXPECT_FALSE(blocks[0].skipped);
  EXPECT_EQ(blocks[1].text, "skipped\n\n");
  EXPECT_TRUE(blocks[1].skipped);
  EXPECT_EQ(blocks[2].text, "last\n");
  EXPECT_FALSE(blocks[2].skipped);
}

TEST_F(ReadmeCommands, TheBlocksAreFoundAndOnlyTheLongOnesSkipped) {
  const std::vector<Block> blocks = CommandBlocks(ReadAll(source_ / "README.md"));
  std::string run, skipped;
  for (const Block& block : blocks) (block.skipped ? skipped : run) += block.text;
  EXPECT_NE(skipped.find("scripts/demo.sh"), std::string::npos) << skipped;
  EXPECT_NE(skipped.find("scripts/test.sh"), std::string::npos) << skipped;
  for (const char* program : {"kalvor-standin", "qb-standin", "kvpage", "corvalink"}) {
    EXPECT_NE(run.find(std::string("build/bin/") + program), std::string::npos) << program;
  }
  // The performance table is fenced, not a command.
  EXPECT_EQ(run.find("N=5,000"), std::string::npos);
}

TEST_F(ReadmeCommands, EveryCommandWorksAsWritten) {
  const fs::path tree = dir_ / "tree";
  fs::copy(source_ / "samples", tree / "samples", fs::copy_options::recursive);
  fs::create_directory_symlink(bin_, tree / "build" / "bin");
  const std::string folder = dir_.string() + "/";
  const int port = FreePort();
  ASSERT_GT(port, 0);
  const std::string port_text = std::to_string(port);
  for (const char* file : {"accounts.txt", "page-params.txt"}) {
    const fs::path path = tree / "samples" / "service" / file;
    WriteAll(path, ReplaceAll(ReadAll(path), "/tmp/", folder));
  }
  const auto samples_before = Snapshot(tree / "samples");

  // Whatever a block leaves running is stopped with the script; a started server is waited for before the next
  // command talks to it, as a reader would.
  std::string script = "set -e\ntrap 'kill $(jobs -p) 2>/dev/null || true' EXIT\nexec <'" +
                       (dir_ / "typed.txt").string() + "'\ncd '" + tree.string() + "'\n";
  size_t run_blocks = 0;
  for (const char* round : {"first", "second"}) {
    script += std::string("echo '==== ") + round + " round'\n";
    for (const Block& block : CommandBlocks(ReadAll(source_ / "README.md"))) {
      if (block.skipped) continue;
      ++run_blocks;
      std::istringstream lines(
          ReplaceAll(ReplaceAll(block.text, "/tmp/", folder), std::string(kReadmePort), port_text));
      for (std::string line; std::getline(lines, line);) {
        script += line + "\n";
        if (RunsInBackground(line)) {
          script += "until (exec 3<>/dev/tcp/127.0.0.1/" + port_text +
                    ") 2>/dev/null; do kill -0 $! || exit 90; sleep 0.05; done\n";
        }
      }
    }
    // The stand-in the round stopped has let go of its port before the next round starts one.
    script += "wait\n";
  }
  ASSERT_GE(run_blocks, 8u);
  WriteAll(dir_ / "readme.sh", script);
  // What the reader types at corvalink's sign-in prompt: the demo login the README gives.
  WriteAll(dir_ / "typed.txt", "demo\ndemo-pass\ndemo\ndemo-pass\n");

  // The environment of a fresh terminal: nothing of this test's settings.
  const std::string command =
      "env -u QB_STANDIN_HOME -u CORVALINK_SERVER_URL -u KV_BROWSER_LOG BROWSER=false "
      "timeout 600 bash '" +
      (dir_ / "readme.sh").string() + "' >'" + (dir_ / "out.txt").string() + "' 2>&1";
  const int status = std::system(command.c_str());
  const std::string out = ReadAll(dir_ / "out.txt");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << script << "\n" << out;

  const std::string base = "http://127.0.0.1:" + port_text + "/";
  const size_t second_round = out.find("==== second round\n");
  ASSERT_NE(second_round, std::string::npos) << out;
  const std::string first = out.substr(0, second_round);
  const std::string second = out.substr(second_round);
  EXPECT_EQ(first.find(base + "\n"), first.find('\n') + 1) << out;
  EXPECT_NE(first.find("Kalvor menu items added to QuickBooks"), std::string::npos) << out;
  EXPECT_EQ(out.find("/regserver\"."), std::string::npos) << "registered, yet told to register:\n" << out;
  // The exported address reached the pick too: the page it opened is the stand-in's.
  const fs::path work = dir_ / "kalvor";
  EXPECT_NE(ReadAll(work / "pages.txt").find(base + "BrintavelCall.asp?sitecode=DEMO01&siteid=K-4711"),
            std::string::npos)
      << ReadAll(work / "pages.txt") << out;
  // The sync and the download reached the service and QuickBooks: the sample's four time and leave entries.
  EXPECT_TRUE(fs::exists(work / "service" / "received"));
  EXPECT_EQ(out.find("No transactions were added"), std::string::npos) << out;
  EXPECT_NE(first.find("Time/Leave transactions successfully posted 4"), std::string::npos) << first;
  // The second round's download found every record transferred: it posted nothing, and said so.
  EXPECT_NE(second.find("No time/leave data available for download."), std::string::npos) << second;
  EXPECT_EQ(second.find("successfully posted"), std::string::npos) << second;
  EXPECT_EQ(Count(second, "TimeTracking"), Count(first, "TimeTracking")) << out;
  EXPECT_GT(Count(first, "TimeTracking"), 0u) << first;

  // Neither round wrote into the tree; the work folder holds what they wrote.
  EXPECT_EQ(Snapshot(tree / "samples"), samples_before);
  EXPECT_TRUE(fs::exists(work / "service" / "transferred.txt"));
}

}  // namespace
