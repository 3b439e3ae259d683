// Ctrl-C at a prompt ends kvpage with the cancelled status.

#include "hosts/kvpage/prompt_interrupt.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

#include "hosts/kvpage/page_host.h"

namespace kvpage {
namespace {

bool g_have_terminal = false;
termios g_terminal{};

void OnSigintAtPrompt(int) {
  // A prompt for hidden input has switched echo off; the shell must get it back.
  if (g_have_terminal) tcsetattr(STDIN_FILENO, TCSANOW, &g_terminal);
  constexpr char kLine[] = "\nkvpage: cancelled (Ctrl-C)\n";
  [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kLine, sizeof kLine - 1);
  _exit(kExitCancelled);
}

}  // namespace

void CancelAtPrompts() {
  static bool saved = false;
  if (!saved) {
    g_have_terminal = tcgetattr(STDIN_FILENO, &g_terminal) == 0;
    saved = true;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSigintAtPrompt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace kvpage
