#pragma once

// What kvpage knows of each control it can host. Every control's page lives in its own source file and is listed
// once in main.cpp.

#include <functional>
#include <optional>
#include <string>

#include "platform/activex/property_bag.h"

namespace CLI {
class App;
}

namespace kvpage {

// Exit status of the program.
inline constexpr int kExitRan = 0;
inline constexpr int kExitHostFailed = 1;
inline constexpr int kExitUsage = 2;

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
};

struct PageDefinition {
  std::string control;  // the value of --control
  // Registry text of the control's class id, without braces: picks the page's <object>.
  std::string classId;
  // Adds the control's own options to the command line.
  std::function<void(CLI::App&)> addOptions;
  // Hosts the control; throws UsageError for options that do not fit together.
  std::function<int(HostContext&)> run;
};

PageDefinition BrintavelPage();
PageDefinition TessarinePage();

}  // namespace kvpage
