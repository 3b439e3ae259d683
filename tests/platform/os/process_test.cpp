// Child processes: exit status, environment, folder, redirections and pipes.

#include "platform/os/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace platform::os {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kv-os-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    path = pattern;
  }
  ~TempDir() { fs::remove_all(path); }
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a shell command with its standard output into a pipe; returns what it printed and how it ended.
std::pair<std::string, ExitStatus> Shell(const std::string& command, Launch launch = {}) {
  launch.argv = {"sh", "-c", command};
  launch.out = Redirect::Pipe();
  Process child = Process::Start(launch);
  std::string out = ReadToEnd(child.StdoutFd());
  return {out, child.Wait()};
}

TEST(Process, ReportsExitStatusAndTheSignalThatEndedIt) {
  const ExitStatus seven = Shell("exit 7").second;
  EXPECT_TRUE(seven.Exited());
  EXPECT_EQ(seven.code, 7);
  EXPECT_EQ(seven.ShellStatus(), 7);

  const ExitStatus killed = Shell("kill -TERM $$").second;
  EXPECT_FALSE(killed.Exited());
  EXPECT_EQ(killed.signal, SIGTERM);
  EXPECT_EQ(killed.ShellStatus(), 128 + SIGTERM);
}

TEST(Process, EnvironmentAdditionsReplaceOursAndKeepTheRest) {
  setenv("KV_OS_TEST_REPLACED", "ours", 1);
  setenv("KV_OS_TEST_KEPT", "kept", 1);
  Launch launch;
  launch.env = {{"KV_OS_TEST_REPLACED", "theirs"}, {"KV_OS_TEST_NEW", "a=b c"}};
  const auto [out, status] =
      Shell("printf '%s|%s|%s' \"$KV_OS_TEST_REPLACED\" \"$KV_OS_TEST_KEPT\" \"$KV_OS_TEST_NEW\"", launch);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(out, "theirs|kept|a=b c");
  // Only the child's environment changed.
  EXPECT_STREQ(std::getenv("KV_OS_TEST_REPLACED"), "ours");
  unsetenv("KV_OS_TEST_REPLACED");
  unsetenv("KV_OS_TEST_KEPT");
}

TEST(Process, RunsInTheFolderItIsGiven) {
  TempDir dir;
  Launch launch;
  launch.directory = dir.path;
  EXPECT_EQ(Shell("pwd -P", launch).first, fs::canonical(dir.path).string() + "\n");
}

TEST(Process, RedirectsStreamsToFilesAndOneStreamOntoAnother) {
  TempDir dir;
  std::ofstream(dir.path / "in.txt") << "line one\nline two\n";
  Launch launch;
  launch.argv = {"sh", "-c", "cat; echo to-error >&2"};
  launch.in = Redirect::ReadFrom(dir.path / "in.txt");
  launch.out = Redirect::WriteTo(dir.path / "out.txt");
  launch.err = Redirect::Stream(1);
  EXPECT_EQ(Process::Start(launch).Wait().code, 0);
  EXPECT_EQ(Slurp(dir.path / "out.txt"), "line one\nline two\nto-error\n");
  EXPECT_EQ(fs::status(dir.path / "out.txt").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST(Process, PipesCarryInputAndBothOutputsSeparately) {
  Launch launch;
  launch.argv = {"sh", "-c", "read word; echo \"out:$word\"; echo \"err:$word\" >&2"};
  launch.in = Redirect::Pipe();
  launch.out = Redirect::Pipe();
  launch.err = Redirect::Pipe();
  Process child = Process::Start(launch);
  ASSERT_EQ(write(child.StdinFd(), "hello\n", 6), 6);
  child.CloseStdin();
  EXPECT_EQ(ReadToEnd(child.StdoutFd()), "out:hello\n");
  EXPECT_EQ(ReadToEnd(child.StderrFd()), "err:hello\n");
  EXPECT_EQ(child.Wait().code, 0);
}

TEST(Process, HandsOverOnlyTheDescriptorsItIsGiven) {
  int given[2];
  int stray[2];
  ASSERT_EQ(pipe2(given, O_CLOEXEC), 0);
  ASSERT_EQ(pipe(stray), 0);  // inheritable, yet not handed over
  Launch launch;
  const int number = std::max({given[0], given[1], stray[0], stray[1]}) + 1;
  launch.descriptors = {{number, given[1]}};
  const std::string command = "echo handed >&" + std::to_string(number) + "; test -e /proc/self/fd/" +
                              std::to_string(stray[0]) + " && echo leaked || echo closed";
  const auto [out, status] = Shell(command, launch);
  close(given[1]);
  EXPECT_EQ(ReadToEnd(given[0]), "handed\n");
  EXPECT_EQ(out, "closed\n");
  for (int fd : {given[0], stray[0], stray[1]}) close(fd);
}

TEST(Process, AProgramThatCannotStartIsAnErrorNamingIt) {
  TempDir dir;
  Launch missing;
  missing.argv = {"kv-no-such-program"};
  try {
    Process::Start(missing);
    FAIL() << "started a missing program";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("kv-no-such-program"), std::string::npos) << e.what();
  }

  std::ofstream(dir.path / "not-executable") << "#!/bin/sh\n";
  Launch denied;
  denied.argv = {(dir.path / "not-executable").string()};
  try {
    Process::Start(denied);
    FAIL() << "started a file that is not executable";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EACCES);
  }

  Launch no_input;
  no_input.argv = {"cat"};
  no_input.in = Redirect::ReadFrom(dir.path / "absent.txt");
  try {
    Process::Start(no_input);
    FAIL() << "started without its input";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ENOENT);
    EXPECT_NE(std::string(e.what()).find("standard input"), std::string::npos) << e.what();
  }
}

TEST(Process, StopForcesAChildThatIgnoresTheSignal) {
  Launch launch;
  launch.argv = {"sh", "-c", "trap '' TERM; echo ready; exec sleep 60"};
  launch.out = Redirect::Pipe();
  Process child = Process::Start(launch);
  char ready[6] = {};
  ASSERT_EQ(read(child.StdoutFd(), ready, sizeof ready), 6);
  const ExitStatus status = child.Stop(SIGTERM, std::chrono::milliseconds(100));
  EXPECT_EQ(status.signal, SIGKILL);
  EXPECT_FALSE(child.Running());
}

TEST(Process, AnAbandonedChildIsKilledAndReaped) {
  pid_t pid = -1;
  {
    Launch launch;
    launch.argv = {"sleep", "60"};
    Process child = Process::Start(launch);
    pid = child.Id();
    EXPECT_EQ(child.TryWait(), std::nullopt);
  }
  // Reaped: no such process (not even a zombie) is left.
  EXPECT_NE(kill(pid, 0), 0);
  EXPECT_EQ(errno, ESRCH);
}

TEST(Process, ForkedBodyEndsWithItsReturnValue) {
  Process child = Process::Fork([] { return 5; });
  EXPECT_EQ(child.Wait().code, 5);
}

TEST(Process, ADetachedProgramIsNotOurChild) {
  int report[2];
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  Launch launch;
  launch.argv = {"sh", "-c", "echo $PPID"};
  launch.out = Redirect::Descriptor(report[1]);
  StartDetached(launch);
  close(report[1]);
  const std::string parent = ReadToEnd(report[0]);
  close(report[0]);
  ASSERT_FALSE(parent.empty());
  EXPECT_NE(std::stoi(parent), getpid());

  Launch missing;
  missing.argv = {"/nonexistent/kv-browser"};
  EXPECT_THROW(StartDetached(missing), std::system_error);
}

}  // namespace
}  // namespace platform::os
