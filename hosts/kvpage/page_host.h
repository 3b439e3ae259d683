#pragma once

// What kvpage knows of each control it can host. Every control's page lives in its own source file and is listed
// once in main.cpp.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/activex/property_bag.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kvpage {

// Exit status of the program.
inline constexpr int kExitRan = 0;         // the run succeeded, or the page was only shown
inline constexpr int kExitHostFailed = 1;  // the page or its parameters could not be hosted
inline constexpr int kExitUsage = 2;       // the command line was wrong
inline constexpr int kExitRunFailed = 3;   // the run ended in an error (a critical message, nothing connected)
inline constexpr int kExitCancelled = 4;   // the run was cancelled
inline constexpr int kExitNotPosted = 5;   // the run finished, but some records were not sent or not posted

// A usage error found after the command line was parsed (a list name that does not exist, ...).
struct UsageError {
  std::string message;
};

struct HostContext {
  // The page's parameters; nothing when the page gives none at all.
  std::optional<platform::activex::PropertyBag> bag;
  // Standard input is a terminal the user answers at.
  bool interactive = false;
  // The class id named by the page's <object>, when the parameters came from a page.
  std::string pageClassId;
  // Standard output is a terminal: progress is drawn on one status line.
  bool terminalOut = false;
  // The terminal can move its cursor (TERM is set and not "dumb"): the status line is redrawn in place.
  bool cursorControl = false;
  // The names given with --param, in their order.
  std::vector<std::string> commandLineParams;
};

// After the control read its parameters: a warning on standard error for each --param it never asked for (a
// misspelt name would otherwise be taken without a word). The page is hosted all the same, as a browser would.
void WarnOfUnreadParams(const HostContext& context, std::string_view control_name);

// How a hosted run ended, to be told by the exit status; the worst of several runs counts.
class RunOutcome {
 public:
  void Record(int status) {
    if (Rank(status) > Rank(status_)) status_ = status;
  }
  int Status() const { return status_; }

 private:
  static int Rank(int status) {
    switch (status) {
      case kExitRunFailed:
        return 3;
      case kExitCancelled:
        return 2;
      case kExitNotPosted:
        return 1;
      default:
        return 0;
    }
  }
  int status_ = kExitRan;
};

struct PageDefinition {
  std::string control;    // the value of --control
  std::string className;  // the control's class, as messages name it
  // What a page's <object> names the control by: registry text of its class id without braces, its ProgID.
  std::vector<std::string> classIds;
  // Adds the control's own options to the command line and returns them: with another control they are wrong.
  std::function<std::vector<CLI::Option*>(CLI::App&)> addOptions;
  // Hosts the control; throws UsageError for options that do not fit together.
  std::function<int(HostContext&)> run;
};

PageDefinition BrintavelPage();
PageDefinition TessarinePage();

}  // namespace kvpage
