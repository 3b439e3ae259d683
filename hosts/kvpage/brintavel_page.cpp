// The page that embeds the sync control BrintavelCtl.

#include <unistd.h>

#include <iostream>
#include <map>
#include <set>

#include <CLI/CLI.hpp>

#include "hosts/kvpage/page_host.h"
#include "hosts/kvpage/prompt_interrupt.h"
#include "platform/activex/user_control.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
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

// How a Start Sync click ended, told by the box that ended it.
int SyncStatus(std::string_view last_box, int buttons, bool cancelled) {
  // Ctrl-C counts only when it ended the run: outside an upload wait Cancel does nothing.
  if ((buttons & 0x70) == platform::forms::vbCritical) return cancelled ? kExitCancelled : kExitRunFailed;
  if (last_box.starts_with("Your Kalvor data is already in sync")) return kExitRan;
  if (last_box.find("could not be sent") != std::string_view::npos ||
      last_box.find("could not be synchronized") != std::string_view::npos) {
    return kExitNotPosted;
  }
  if (last_box.find("synced with Kalvor successfully") != std::string_view::npos) return kExitRan;
  // A missing parameter or no list ticked: the run did not start.
  return kExitRunFailed;
}

struct SyncSession {
  brintavel::BrintavelCtl& ctl;
  RunOutcome outcome;
  std::string lastBox;
  int lastButtons = 0;
  // The step captions printed in this run: a step is printed once however often it is repainted.
  std::map<const platform::forms::Control*, std::string> printed;
};

// Presses Start Sync; Ctrl-C meanwhile presses Cancel.
void StartSync(SyncSession& session) {
  brintavel::BrintavelCtl& ctl = session.ctl;
  platform::forms::EventLoop& loop = platform::forms::EventLoop::Current();
  bool cancelled = false;
  loop.OnInterrupt([&ctl, &cancelled] {
    if (!ctl.RunActive()) return;
    cancelled = true;
    ctl.cmdNav[1].Click();
  });
  session.lastBox.clear();
  session.lastButtons = 0;
  session.printed.clear();
  ctl.cmdNav[3].Click();
  CancelAtPrompts();
  session.outcome.Record(SyncStatus(session.lastBox, session.lastButtons, cancelled));
}

void Interact(SyncSession& session, platform::forms::TerminalPresenter& presenter) {
  brintavel::BrintavelCtl& ctl = session.ctl;
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
      StartSync(session);
    } else if (typed.size() == 1 && typed[0] >= '1' && typed[0] <= '9') {
      boxes[static_cast<size_t>(typed[0] - '1')].second->Click();
    } else if (!typed.empty()) {
      out << "Type a list number, a, d, s, c, h, g or q.\n";
    }
  }
}

// The boxes named by --select, in the order given; a name that is no list is a usage error.
std::vector<platform::forms::CheckBox*> ChosenLists(brintavel::BrintavelCtl& ctl,
                                                    const std::vector<std::string>& select) {
  const auto boxes = ListBoxes(ctl);
  std::vector<platform::forms::CheckBox*> chosen;
  for (const std::string& item : select) {
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
  return chosen;
}

// The session learns how a run ended from its last message box; on a terminal the steps reached are printed.
void FollowRuns(SyncSession& session, platform::forms::TerminalPresenter& presenter, const HostContext& context) {
  brintavel::BrintavelCtl& ctl = session.ctl;
  presenter.OnMessageBox = [&session](std::string_view prompt, int buttons) {
    session.lastBox = prompt;
    session.lastButtons = buttons;
  };
  if (context.terminalOut) {
    // The converters' caption, the bar and "Please wait..." share one status line; the steps reached stay as
    // lines of their own.
    presenter.ShowProgressInPlace(ctl.lblProcess, ctl.ProgressBar1, &ctl.lblTransfer2, context.cursorControl,
                                  STDOUT_FILENO);
  }
  if (!context.interactive && !context.terminalOut) return;
  presenter.OnRefresh = [&ctl, &session, &presenter,
                         status_line = context.terminalOut](platform::forms::Control& control) {
    // The steps reached and the converters' own captions; the captions a reset puts back are no news.
    static const std::set<std::string> kReached = {"Contacted QuickBooks", "Response Received", "Response Processed",
                                                   "Transferred data"};
    const bool is_process = &control == &ctl.lblProcess;
    if (is_process && status_line) return;
    const bool shown = is_process ? control.Visible() : kReached.count(control.Caption()) != 0;
    if (!shown || control.Caption().empty()) return;
    std::string& seen = session.printed[&control];
    if (seen == control.Caption()) return;
    seen = control.Caption();
    presenter.PrintLine("  ... " + seen);
  };
}

// What the command line ticks and presses on the sited control, before any run.
void ApplyOptions(brintavel::BrintavelCtl& ctl, const std::vector<platform::forms::CheckBox*>& chosen,
                  const BrintavelOptions& options) {
  for (platform::forms::CheckBox* box : chosen) {
    if (box->Value() != platform::forms::vbChecked) box->Click();
  }
  if (options.selectAll) ctl.cmdSelectAll.Click();
  if (options.debug && ctl.chkDebugMode.Value() != platform::forms::vbChecked) ctl.chkDebugMode.Click();
  if (options.continueOnError) ctl.optContinue.Click();
}

int RunBrintavel(HostContext& context) {
  const BrintavelOptions& options = Options();
  brintavel::BrintavelCtl ctl(brintavel::AllConverters());
  const std::vector<platform::forms::CheckBox*> chosen = ChosenLists(ctl, options.select);
  if (options.continueOnError && !options.debug) throw UsageError{"--continue-on-error needs --debug"};

  platform::forms::TerminalPresenter presenter(std::cout, std::cin, context.interactive);
  platform::forms::PresenterScope scope(presenter);
  SyncSession session{ctl, {}, {}, 0, {}};
  FollowRuns(session, presenter, context);

  platform::activex::ControlHost host(ctl);
  try {
    host.Site(context.bag, 9600, 7200);
  } catch (const kv::Error& e) {
    std::cerr << "kvpage: the control could not read its page parameters: " << e.description() << '\n';
    return kExitHostFailed;
  }
  WarnOfUnreadParams(context, "BrintavelCtl");
  ApplyOptions(ctl, chosen, options);

  if (options.start) {
    StartSync(session);
  } else if (context.interactive) {
    Interact(session, presenter);
  } else {
    ShowWizard(ctl, std::cout);
  }
  host.Teardown();
  presenter.EndProgressLine();
  return session.outcome.Status();
}

}  // namespace

PageDefinition BrintavelPage() {
  PageDefinition page;
  page.control = "brintavel";
  page.className = "BrintavelCtl";
  page.classIds = {platform::com::GuidToString(brintavel::kBrintavelClassId).substr(1, 36),
                   std::string(brintavel::kBrintavelProgId)};
  page.addOptions = [](CLI::App& app) {
    BrintavelOptions& options = Options();
    return std::vector<CLI::Option*>{
        app.add_option(
               "--select", options.select,
               "brintavel: lists to tick: employees customers vendors payterms accounts items classes time expenses")
            ->delimiter(','),
        app.add_flag("--select-all", options.selectAll, "brintavel: press Select All"),
        app.add_flag("--debug", options.debug, "brintavel: tick the debug box"),
        app.add_flag("--continue-on-error", options.continueOnError,
                     "brintavel: debug mode continues on a failed upload"),
        app.add_flag("--start", options.start, "brintavel: press Start Sync")};
  };
  page.run = RunBrintavel;
  return page;
}

}  // namespace kvpage
