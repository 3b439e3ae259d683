// The pages that embed the download control KVRDowloadctl (pending time and leave, pending expenses).

#include <csignal>
#include <iostream>
#include <map>
#include <memory>

#include <CLI/CLI.hpp>

#include "common/error.h"
#include "common/text.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/results_form.h"
#include "hosts/kvpage/page_host.h"
#include "platform/activex/user_control.h"
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

// Presses Continue; Ctrl-C meanwhile presses Cancel, which the run honours between records.
void PressContinue(tessarine::KVRDowloadctl& ctl) {
  platform::forms::EventLoop& loop = platform::forms::EventLoop::Current();
  loop.OnInterrupt([&ctl] {
    std::cout << "  ... Cancel pressed; the run stops after the current record\n" << std::flush;
    ctl.Command1.Click();
  });
  ctl.cmdStartDownload.Click();
  std::signal(SIGINT, SIG_DFL);
}

void Interact(tessarine::KVRDowloadctl& ctl, platform::forms::TerminalPresenter& presenter) {
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
        PressContinue(ctl);
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

int RunTessarine(HostContext& context) {
  tessarine::KVRDowloadctl ctl;
  platform::forms::TerminalPresenter presenter(std::cout, std::cin, context.interactive);
  platform::forms::PresenterScope scope(presenter);

  // Progress goes to the terminal as the labels change.
  auto seen = std::make_shared<std::map<const platform::forms::Control*, std::string>>();
  presenter.OnRefresh = [&ctl, seen](platform::forms::Control& control) {
    const bool watched = &control == &ctl.lblGather || &control == &ctl.lblTransfer1;
    if (!watched || !control.Visible() || control.Caption().empty()) return;
    std::string& last = (*seen)[&control];
    if (last == control.Caption()) return;
    last = control.Caption();
    std::cout << "  ... " << last << "\n" << std::flush;
  };
  presenter.OnModal("frmResults", [interactive = context.interactive](platform::forms::Form& form,
                                                                      platform::forms::TerminalPresenter& p) {
    form.DescribeForm(p.Out());
    p.Out() << "\n";
    if (interactive) {
      p.Out() << "Press Enter to close the results." << std::flush;
      std::string line;
      p.ReadLine(line);
    }
    form.Unload();
  });

  platform::activex::ControlHost host(ctl);
  try {
    // The first sizing runs the start-up and its download.
    host.Site(context.bag, 7200, 3600);
  } catch (const kv::Error& e) {
    std::cerr << "kvpage: the control could not read its page parameters: " << e.description() << '\n';
    return kExitHostFailed;
  }

  if (!ctl.Closed()) {
    if (Options().pressContinue) {
      ShowControl(ctl, std::cout);
      PressContinue(ctl);
      // A run that Cancel stopped leaves the page open with Continue available again.
      if (!ctl.Closed()) ShowControl(ctl, std::cout);
    } else if (context.interactive) {
      Interact(ctl, presenter);
    } else {
      ShowControl(ctl, std::cout);
    }
  }
  if (ctl.Closed()) std::cout << ctl.lblMessage.Caption() << "\n";
  host.Teardown();
  return kExitRan;
}

}  // namespace

PageDefinition TessarinePage() {
  PageDefinition page;
  page.control = "tessarine";
  page.classId = "Tessarine.KVRDowloadctl";
  page.addOptions = [](CLI::App& app) {
    app.add_flag("--continue", Options().pressContinue, "tessarine: press Continue after the download");
  };
  page.run = RunTessarine;
  return page;
}

}  // namespace kvpage
