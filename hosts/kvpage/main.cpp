// kvpage: embeds one control as a service page would, with the page's parameters, and shows it on the terminal.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>
#include <string_view>
#include <vector>

#include "hosts/kvpage/page_host.h"
#include "hosts/kvpage/page_params.h"
#include "hosts/kvpage/prompt_interrupt.h"
#include "platform/base/error.h"
#include "platform/com/activation.h"
#include "platform/web/web_browser.h"

namespace {

const std::string kHelpFooter =
    R"(Exit status:
  0  the run succeeded, or the page was only shown
  1  the page could not be hosted (a parameter of the wrong type, a page that cannot be read or that embeds
     no control of the kind asked for)
  2  a wrong command line
  3  the run failed (a critical message, the service or QuickBooks not reached, a parameter missing, no list
     ticked)
  4  the run was cancelled (Ctrl-C presses Cancel; at a prompt it cancels the page)
  5  the run finished but some records were not sent or not posted
  Of several runs in one session the worst counts.

Settings (environment variables):
)" + std::string(platform::web::kSettingsHelp) +
    platform::com::kSettingsHelp +
    R"(  QB_STANDIN_HOME            state folder of the QuickBooks stand-in (else $XDG_STATE_HOME/qb-standin, else
                             ~/.local/state/qb-standin)
  QB_STANDIN                 the QuickBooks stand-in program (else qb-standin beside this program, else on PATH)
  TERM                       "dumb" or unset: no status line redrawn in place)";

std::vector<kvpage::PageDefinition> Pages() {
  return {kvpage::BrintavelPage(), kvpage::TessarinePage()};
}

int Run(int argc, char** argv) {
  const std::vector<kvpage::PageDefinition> pages = Pages();
  std::vector<std::string> names;
  for (const auto& page : pages) names.push_back(page.control);

  CLI::App app{"Embeds a Kalvor control as its service page does and shows it on the terminal."};
  std::string control;
  std::vector<std::string> params;
  std::string page_source;
  app.add_option("--control", control, "The control to host")->required()->check(CLI::IsMember(names));
  app.add_option("--param", params, "A page parameter NAME=VALUE (repeatable)");
  app.add_option("--page", page_source, "A page file or URL whose <object> gives the parameters");
  std::vector<std::vector<CLI::Option*>> own_options;
  for (const auto& page : pages) own_options.push_back(page.addOptions(app));
  app.footer(kHelpFooter);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kvpage::kExitUsage;
  }

  const kvpage::PageDefinition* page = nullptr;
  for (size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].control == control) {
      page = &pages[i];
      continue;
    }
    for (const CLI::Option* option : own_options[i]) {
      if (option->count() == 0) continue;
      std::cerr << "kvpage: " << option->get_name() << " is an option of --control " << pages[i].control << ", not of "
                << control << "\n";
      return kvpage::kExitUsage;
    }
  }

  kvpage::HostContext context;
  context.interactive = isatty(STDIN_FILENO) != 0;
  context.terminalOut = isatty(STDOUT_FILENO) != 0;
  const char* term = std::getenv("TERM");
  context.cursorControl = term != nullptr && *term != '\0' && std::string_view(term) != "dumb";
  // Command-line parameters come first: with a name given twice the first one counts.
  if (!params.empty() || !page_source.empty()) context.bag.emplace();
  for (const std::string& param : params) {
    const size_t eq = param.find('=');
    if (eq == std::string::npos || eq == 0) {
      std::cerr << "kvpage: --param needs NAME=VALUE, not \"" << param << "\"\n";
      return kvpage::kExitUsage;
    }
    context.bag->Add(param.substr(0, eq), param.substr(eq + 1));
    context.commandLineParams.push_back(param.substr(0, eq));
  }
  if (!page_source.empty()) {
    try {
      const auto objects = kvpage::ParseObjects(kvpage::ReadPage(page_source));
      const kvpage::PageObject& object = kvpage::PickObject(objects, page->classIds, page->className);
      context.pageClassId = object.classid;
      for (const auto& [name, value] : object.params) context.bag->Add(name, value);
    } catch (const kv::Error& e) {
      std::cerr << "kvpage: " << e.description() << '\n';
      return kvpage::kExitHostFailed;
    }
  }

  // Nothing holds the terminal or QuickBooks yet that Ctrl-C would leave behind.
  kvpage::CancelAtPrompts();
  try {
    return page->run(context);
  } catch (const kvpage::UsageError& e) {
    std::cerr << "kvpage: " << e.message << '\n';
    return kvpage::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "kvpage: " << e.what() << '\n';
    return kvpage::kExitHostFailed;
  }
}
