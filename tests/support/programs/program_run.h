#pragma once

// Runs a program of the build as a user would from a terminal, for the end-to-end tests of every folder:
//
//   kv::test::ProgramOptions options;
//   options.env = {{"QB_STANDIN_HOME", dir}};
//   kv::test::ProgramRun run = kv::test::RunProgram("kvpage", {"--control", "brintavel", ...}, options);
//   EXPECT_EQ(run.status, 0);  run.out, run.err, run.elapsed, run.timed_out
//
// Standard input is /dev/null, so a program that would ask the terminal gets no answer and must not wait on one.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kv::test {

struct ProgramOptions {
  // Set in the child on top of the test's own environment.
  std::vector<std::pair<std::string, std::string>> env;
  // Past this the program is killed and the run marked timed_out.
  std::chrono::milliseconds time_limit{25000};
  // Runs on a thread of its own with the child's pid while the child runs (e.g. to send it a signal).
  std::function<void(pid_t)> during;
};

struct ProgramRun {
  int status = -1;  // the exit status; -1 when a signal ended the program (killed_by says which)
  int killed_by = 0;
  bool timed_out = false;
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

ProgramRun RunProgram(const std::string& name, const std::vector<std::string>& args,
                      const ProgramOptions& options = {});

// Runs a program on a pseudo-terminal of `columns` columns, as from a terminal window: standard input, output and
// error are the terminal, `input` is typed at it from the start (echoed back as a terminal does) and out holds
// everything the terminal showed, with the terminal's CR LF line ends. TERM is "xterm" unless options.env sets it.
ProgramRun RunProgramOnTerminal(const std::string& name, const std::vector<std::string>& args,
                                const ProgramOptions& options, const std::string& input, unsigned short columns = 100);

}  // namespace kv::test
