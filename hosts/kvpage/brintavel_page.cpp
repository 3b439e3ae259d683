// The page that embeds the sync control BrintavelCtl.

#include <csignal>
#include <iostream>
#include <map>
#include <set>

#include <CLI/CLI.hpp>

#include "common/error.h"
#include "common/text.h"
#include "hosts/kvpage/page_host.h"
#include "platform/activex/user_control.h"
#include "platform/com/guid.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/presenter.h"
#include "platform/forms/terminal_presenter.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converters.h"

namespace kvpage {
namespace {

struct BrintavelOptions {
  std::vector<std::string> select;
  bool selectAll = false;
  bool debug = false;
  bool continueOnError = false;
  bool start = false;
};

BrintavelOptions& Options() {
  static BrintavelOptions options;
  return options;
}

// The names the command line uses for the list boxes, in the order the page shows them.
std::vector<std::pair<std::string, platform::forms::CheckBox*>> ListBoxes(brintavel::BrintavelCtl& ctl) {
  return {{"employees", &ctl.chkQBEmployee}, {"customers", &ctl.chkQBCustomers}, {"vendors", &ctl.chkQBVendors},
          {"payterms", &ctl.chkQBPayTerms},  {"accounts", &ctl.chkQBCOA},        {"items", &ctl.chkQBTasks},
          {"classes", &ctl.chkQBClasses},    {"time", &ctl.chkQBTimesheet},      {"expenses", &ctl.chkQBExpense}};
}

const platform::forms::Label& RowLabel(brintavel::BrintavelCtl& ctl, const platform::forms::CheckBox* box) {
  const std::map<const platform::forms::CheckBox*, const platform::forms::Label*> labels = {
      {&ctl.chkQBEmployee, &ctl.Label2}, {&ctl.chkQBCustomers, &ctl.Label3}, {&ctl.chkQBVendors, &ctl.Label4},
      {&ctl.chkQBPayTerms, &ctl.Label5}, {&ctl.chkQBCOA, &ctl.Label6},       {&ctl.chkQBTasks, &ctl.Label7},
      {&ctl.chkQBClasses, &ctl.Label8},  {&ctl.chkQBTimesheet, &ctl.Label9}, {&ctl.chkQBExpense, &ctl.Label10}};
  return *labels.at(box);
}

std::string Mark(const platform::forms::CheckBox& box) {
  return box.Value() == platform::forms::vbChecked ? "[x]" : box.Value() == platform::forms::vbGrayed ? "[-]" : "[ ]";
}

std::string Shown(std::string caption) {
  return kv::ReplaceAll(caption, "&", "");
}

void ShowWizard(brintavel::BrintavelCtl& ctl, std::ostream& out) {
  out << kv::TrimBlanks(ctl.Label1.Caption()) << "\n" << ctl.Label11.Caption() << "\n" << ctl.Label12.Caption() << "\n";
  int number = 1;
  for (const auto& [name, box] : ListBoxes(ctl)) {
    out << "  " << number++ << " " << Mark(*box) << " " << RowLabel(ctl, box).Caption() << "\n";
  }
  if (ctl.cmdSelectAll.Visible()) out << "  a <" << ctl.cmdSelectAll.Caption() << ">\n";
  out << "  d " << Mark(ctl.chkDebugMode) << " " << ctl.chkDebugMode.Caption() << "\n";
  if (ctl.optStop.Visible()) {
    out << "  s " << (ctl.optStop.Value() ? "(o) " : "( ) ") << ctl.optStop.Caption() << "   c "
        << (ctl.optContinue.Value() ? "(o) " : "( ) ") << ctl.optContinue.Caption() << "\n";
  }
  out << "  h <" << Shown(ctl.cmdNav[0].Caption()) << ">  g <" << Shown(ctl.cmdNav[3].Caption()) << ">  q Quit\n";
}

// Presses Start Sync; Ctrl-C meanwhile presses Cancel.
void StartSync(brintavel::BrintavelCtl& ctl) {
  platform::forms::EventLoop& loop = platform::forms::EventLoop::Current();
  loop.OnInterrupt([&ctl] {
    if (ctl.RunActive()) ctl.cmdNav[1].Click();
  });
  ctl.cmdNav[3].Click();
  std::signal(SIGINT, SIG_DFL);
}

void Interact(brintavel::BrintavelCtl& ctl, platform::forms::TerminalPresenter& presenter) {
  std::ostream& out = presenter.Out();
  const auto boxes = ListBoxes(ctl);
  for (;;) {
    ShowWizard(ctl, out);
    out << "> " << std::flush;
    std::string line;
    if (!presenter.ReadLine(line)) return;
    const std::string typed = kv::ToLowerAscii(kv::TrimBlanks(line));
    if (typed == "q") return;
    if (typed == "a") {
      ctl.cmdSelectAll.Click();
    } else if (typed == "d") {
      ctl.chkDebugMode.Click();
    } else if (typed == "s") {
      ctl.optStop.Click();
    } else if (typed == "c") {
      ctl.optContinue.Click();
    } else if (typed == "h") {
      ctl.cmdNav[0].Click();
    } else if (typed == "g") {
      StartSync(ctl);
    } else if (typed.size() == 1 && typed[0] >= '1' && typed[0] <= '9') {
      boxes[static_cast<size_t>(typed[0] - '1')].second->Click();
    } else if (!typed.empty()) {
      out << "Type a list number, a, d, s, c, h, g or q.\n";
    }
  }
}

int RunBrintavel(HostContext& context) {
  const BrintavelOptions& options = Options();
  brintavel::BrintavelCtl ctl(brintavel::AllConverters());
  const auto boxes = ListBoxes(ctl);
  std::vector<platform::forms::CheckBox*> chosen;
  for (const std::string& item : options.select) {
    for (const std::string& name : kv::Split(item, ",")) {
      const std::string wanted = kv::ToLowerAscii(kv::TrimBlanks(name));
      if (wanted.empty()) continue;
      platform::forms::CheckBox* found = nullptr;
      for (const auto& [list, box] : boxes) {
        if (list == wanted) found = box;
      }
      if (!found) {
        throw UsageError{"unknown list \"" + name +
                         "\" for --select (employees customers vendors payterms accounts items classes time expenses)"};
      }
      chosen.push_back(found);
    }
  }
  if (options.continueOnError && !options.debug) throw UsageError{"--continue-on-error needs --debug"};

  platform::forms::TerminalPresenter presenter(std::cout, std::cin, context.interactive);
  platform::forms::PresenterScope scope(presenter);
  if (context.interactive) {
    // Progress goes to the terminal as the step labels change.
    auto last = std::make_shared<std::map<const platform::forms::Control*, std::string>>();
    presenter.OnRefresh = [&ctl, last](platform::forms::Control& control) {
      // The steps reached and the converters' own captions; the captions a reset puts back are no news.
      static const std::set<std::string> kReached = {"Contacted QuickBooks", "Response Received", "Response Processed",
                                                     "Transferred data"};
      const bool shown = &control == &ctl.lblProcess ? control.Visible() : kReached.count(control.Caption()) != 0;
      if (!shown || control.Caption().empty()) return;
      std::string& seen = (*last)[&control];
      if (seen == control.Caption()) return;
      seen = control.Caption();
      std::cout << "  ... " << seen << "\n" << std::flush;
    };
  }

  platform::activex::ControlHost host(ctl);
  try {
    host.Site(context.bag, 9600, 7200);
  } catch (const kv::Error& e) {
    std::cerr << "kvpage: the control could not read its page parameters: " << e.description() << '\n';
    return kExitHostFailed;
  }

  for (platform::forms::CheckBox* box : chosen) {
    if (box->Value() != platform::forms::vbChecked) box->Click();
  }
  if (options.selectAll) ctl.cmdSelectAll.Click();
  if (options.debug && ctl.chkDebugMode.Value() != platform::forms::vbChecked) ctl.chkDebugMode.Click();
  if (options.continueOnError) ctl.optContinue.Click();

  if (options.start) {
    StartSync(ctl);
  } else if (context.interactive) {
    Interact(ctl, presenter);
  } else {
    ShowWizard(ctl, std::cout);
  }
  host.Teardown();
  return kExitRan;
}

}  // namespace

PageDefinition BrintavelPage() {
  PageDefinition page;
  page.control = "brintavel";
  page.classId = platform::com::GuidToString(brintavel::kBrintavelClassId).substr(1, 36);
  page.addOptions = [](CLI::App& app) {
    BrintavelOptions& options = Options();
    app.add_option(
           "--select", options.select,
           "brintavel: lists to tick: employees customers vendors payterms accounts items classes time expenses")
        ->delimiter(',');
    app.add_flag("--select-all", options.selectAll, "brintavel: press Select All");
    app.add_flag("--debug", options.debug, "brintavel: tick the debug box");
    app.add_flag("--continue-on-error", options.continueOnError, "brintavel: debug mode continues on a failed upload");
    app.add_flag("--start", options.start, "brintavel: press Start Sync");
  };
  page.run = RunBrintavel;
  return page;
}

}  // namespace kvpage
