// The pages that embed the download control KVRDowloadctl (pending time and leave, pending expenses).

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include <CLI/CLI.hpp>

#include "download_control/kvr_download_ctl.h"
#include "download_control/results_form.h"
#include "hosts/kvpage/page_host.h"
#include "hosts/kvpage/prompt_interrupt.h"
#include "hosts/kvpage/results_view.h"
#include "platform/activex/user_control.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/presenter.h"
#include "platform/forms/terminal_presenter.h"

namespace kvpage {
namespace {

struct TessarineOptions {
  bool pressContinue = false;
};

TessarineOptions& Options() {
  static TessarineOptions options;
  return options;
}

std::string Shown(const std::string& caption) {
  return kv::ReplaceAll(caption, "&", "");
}

void ShowControl(tessarine::KVRDowloadctl& ctl, std::ostream& out) {
  out << "-- " << ctl.Frame1.Caption() << " --\n";
  out << ctl.lblGather.Caption() << "\n";
  if (ctl.lblTransfer1.Visible()) out << ctl.lblTransfer1.Caption() << "\n";
}

struct DownloadSession {
  tessarine::KVRDowloadctl& ctl;
  RunOutcome outcome;
  std::string lastBox;
  // The results form closed the run; with this many records not posted.
  std::optional<long> notPosted;
  bool posting = false;
};

// Presses Continue; Ctrl-C meanwhile presses Cancel, which the run honours between records.
void PressContinue(DownloadSession& session, platform::forms::TerminalPresenter& presenter) {
  tessarine::KVRDowloadctl& ctl = session.ctl;
  platform::forms::EventLoop& loop = platform::forms::EventLoop::Current();
  bool cancelled = false;
  loop.OnInterrupt([&ctl, &cancelled, &presenter] {
    cancelled = true;
    presenter.PrintLine("  ... Cancel pressed; the run stops after the current record");
    ctl.Command1.Click();
  });
  session.lastBox.clear();
  session.notPosted.reset();
  session.posting = true;
  ctl.cmdStartDownload.Click();
  session.posting = false;
  CancelAtPrompts();
  presenter.EndProgressLine();
  if (session.notPosted) {
    session.outcome.Record(*session.notPosted > 0 ? kExitNotPosted : kExitRan);
  } else if (cancelled) {
    session.outcome.Record(kExitCancelled);
  } else if (!session.lastBox.starts_with("No time/leave data available") &&
             !session.lastBox.starts_with("No expenses available")) {
    session.outcome.Record(kExitRunFailed);
  }
}

void Interact(DownloadSession& session, platform::forms::TerminalPresenter& presenter) {
  tessarine::KVRDowloadctl& ctl = session.ctl;
  std::ostream& out = presenter.Out();
  while (!ctl.Closed()) {
    ShowControl(ctl, out);
    out << "  c <" << Shown(ctl.cmdStartDownload.Caption()) << ">  n <" << Shown(ctl.Command1.Caption())
        << ">  q Quit\n> " << std::flush;
    std::string line;
    if (!presenter.ReadLine(line)) return;
    const std::string typed = kv::ToLowerAscii(kv::TrimBlanks(line));
    if (typed == "q") return;
    if (typed == "c") {
      if (ctl.cmdStartDownload.Enabled()) {
        PressContinue(session, presenter);
      } else {
        out << "Continue is not available now.\n";
      }
    } else if (typed == "n") {
      ctl.Command1.Click();
    } else if (!typed.empty()) {
      out << "Type c, n or q.\n";
    }
  }
}

// The session keeps the last message box; progress goes to the terminal as the labels change.
void FollowProgress(DownloadSession& session, platform::forms::TerminalPresenter& presenter,
                    const HostContext& context) {
  tessarine::KVRDowloadctl& ctl = session.ctl;
  presenter.OnMessageBox = [&session](std::string_view prompt, int) { session.lastBox = prompt; };
  if (context.terminalOut) {
    // "Posting data to QuickBooks..", the bar and "Please wait..." share one status line.
    presenter.ShowProgressInPlace(ctl.lblTransfer1, ctl.ProgressBar1, &ctl.lblTransfer2, context.cursorControl,
                                  STDOUT_FILENO);
  }
  auto seen = std::make_shared<std::map<const platform::forms::Control*, std::string>>();
  presenter.OnRefresh = [&ctl, &session, &presenter, seen,
                         status_line = context.terminalOut](platform::forms::Control& control) {
    bool watched = &control == &ctl.lblGather || &control == &ctl.lblTransfer1;
    // On the status line the bar counts the records; the count of the rows left would be a line per record.
    if (status_line && (&control == &ctl.lblTransfer1 || session.posting)) watched = false;
    if (!watched || !control.Visible() || control.Caption().empty()) return;
    std::string& last = (*seen)[&control];
    if (last == control.Caption()) return;
    last = control.Caption();
    presenter.PrintLine("  ... " + last);
  };
}

// Records the run did not reach (it stopped at a line it could not read) are not posted either; the bar counts
// the records the run set out to post.
long RecordsNotPosted(const tessarine::frmResults& results, long planned) {
  const long failed = std::strtol(results.lblFailure.Caption().c_str(), nullptr, 10);
  const long handled = std::strtol(results.lblTotal.Caption().c_str(), nullptr, 10);
  return failed + std::max(0L, planned - handled);
}

// The results form that ends a run is shown on the terminal, or described, and closed again.
void ShowResultsWhenShown(DownloadSession& session, platform::forms::TerminalPresenter& presenter,
                          const HostContext& context) {
  presenter.OnModal("frmResults", [&session, interactive = context.interactive, terminal = context.terminalOut](
                                      platform::forms::Form& form, platform::forms::TerminalPresenter& p) {
    auto& results = dynamic_cast<tessarine::frmResults&>(form);
    session.notPosted = RecordsNotPosted(results, static_cast<long>(session.ctl.ProgressBar1.Max()));
    if (terminal) {
      ShowResultsOnTerminal(results, p, interactive);
    } else {
      form.DescribeForm(p.Out());
      p.Out() << "\n";
      if (interactive) {
        p.Out() << "Press Enter to close the results." << std::flush;
        std::string line;
        p.ReadLine(line);
      }
    }
    if (form.Loaded()) form.Unload();
  });
}

// After the start-up: Continue pressed from the command line, the user's keys, or the page shown once.
void UseOpenPage(DownloadSession& session, platform::forms::TerminalPresenter& presenter, const HostContext& context) {
  tessarine::KVRDowloadctl& ctl = session.ctl;
  if (Options().pressContinue) {
    ShowControl(ctl, std::cout);
    PressContinue(session, presenter);
    // A run that Cancel stopped leaves the page open with Continue available again.
    if (!ctl.Closed()) ShowControl(ctl, std::cout);
  } else if (context.interactive) {
    Interact(session, presenter);
  } else {
    ShowControl(ctl, std::cout);
  }
}

int RunTessarine(HostContext& context) {
  tessarine::KVRDowloadctl ctl;
  platform::forms::TerminalPresenter presenter(std::cout, std::cin, context.interactive);
  platform::forms::PresenterScope scope(presenter);
  DownloadSession session{ctl, {}, {}, {}, false};
  FollowProgress(session, presenter, context);
  ShowResultsWhenShown(session, presenter, context);

  platform::activex::ControlHost host(ctl);
  try {
    // The first sizing runs the start-up and its download.
    host.Site(context.bag, 7200, 3600);
  } catch (const kv::Error& e) {
    std::cerr << "kvpage: the control could not read its page parameters: " << e.description() << '\n';
    return kExitHostFailed;
  }
  WarnOfUnreadParams(context, "KVRDowloadctl");
  // Closed at start-up: the connection parameters are missing. Still collecting: the download failed.
  if (ctl.Closed() || ctl.lblGather.Caption() == tessarine::kCollectingInformation)
    session.outcome.Record(kExitRunFailed);

  if (!ctl.Closed()) UseOpenPage(session, presenter, context);
  if (ctl.Closed()) std::cout << ctl.lblMessage.Caption() << "\n";
  host.Teardown();
  return session.outcome.Status();
}

}  // namespace

PageDefinition TessarinePage() {
  PageDefinition page;
  page.control = "tessarine";
  page.className = "KVRDowloadctl";
  page.classIds = {"Tessarine.KVRDowloadctl"};
  page.addOptions = [](CLI::App& app) {
    return std::vector<CLI::Option*>{
        app.add_flag("--continue", Options().pressContinue, "tessarine: press Continue after the download")};
  };
  page.run = RunTessarine;
  return page;
}

}  // namespace kvpage
