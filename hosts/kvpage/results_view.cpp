// The download's results form drawn on a terminal, apart from kvpage's main view because only the download
// has it.

#include "hosts/kvpage/results_view.h"

#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "download_control/results_form.h"
#include "platform/base/text.h"
#include "platform/forms/terminal_grid.h"
#include "platform/forms/terminal_presenter.h"
#include "platform/forms/terminal_status.h"

namespace kvpage {
namespace {

std::string Label(const platform::forms::Label& label) {
  std::string caption(kv::TrimBlanks(label.Caption()));
  while (!caption.empty() && (caption.back() == ':' || caption.back() == ' ')) caption.pop_back();
  return caption;
}

void ShowSummary(tessarine::frmResults& form, std::ostream& out, size_t width) {
  out << "== " << form.Caption() << " ==\n";
  out << form.Label1.Caption() << " " << form.lblTotal.Caption() << "\n";
  out << form.Label2.Caption() << " " << form.lblSuccess.Caption() << "\n";
  out << form.Label3.Caption() << " " << form.lblFailure.Caption() << "\n";
  if (form.ListView1.ItemCount() == 0) return;
  out << "\n";
  platform::forms::WriteGrid(out, form.ListView1, width);
}

// The details panel as the form shows it at full height: the counter, then each caption beside its box.
void ShowDetails(tessarine::frmResults& form, std::ostream& out, size_t width) {
  out << "\n" << form.lblCounter.Caption() << "\n";
  const std::vector<std::string> labels = {Label(form.lblEmp),   Label(form.lblCust), Label(form.lblSI),
                                           Label(form.lblDate),  Label(form.lblType), Label(form.lblHours),
                                           Label(form.lblReason)};
  const std::vector<std::string> values = {form.txtEmp.Text(),   form.txtCust.Text(), form.txtService.Text(),
                                           form.txtType.Text(),  form.txtDate.Text(), form.txtHrs.Text(),
                                           form.txtReason.Text()};
  platform::forms::WriteFields(out, labels, values, width);
}

}  // namespace

void ShowResultsOnTerminal(tessarine::frmResults& form, platform::forms::TerminalPresenter& presenter,
                           bool interactive) {
  std::ostream& out = presenter.Out();
  auto width = [] { return platform::forms::TerminalColumns(STDOUT_FILENO); };
  ShowSummary(form, out, width());
  out << "\n";
  if (!interactive) return;
  auto shown = [&form] { return form.Loaded() && form.Visible(); };
  const bool has_rows = form.ListView1.ItemCount() > 0;
  while (shown()) {
    out << (has_rows ? "  d <Details>" : "");
    if (form.bDetailsShown) out << "  p <Previous>  n <Next>";
    out << "  o <OK>\n> " << std::flush;
    std::string line;
    if (!presenter.ReadLine(line)) {
      form.OKButton.Click();
      break;
    }
    const std::string typed = kv::ToLowerAscii(kv::TrimBlanks(line));
    if (typed == "o" || typed.empty()) {
      form.OKButton.Click();
    } else if (typed == "d" && has_rows) {
      form.cmdDetails.Click();
      if (form.bDetailsShown) ShowDetails(form, out, width());
    } else if ((typed == "p" || typed == "<") && form.bDetailsShown) {
      form.cmdLeft.Click();
      ShowDetails(form, out, width());
    } else if ((typed == "n" || typed == ">") && form.bDetailsShown) {
      form.cmdRight.Click();
      ShowDetails(form, out, width());
    } else {
      out << "Type one of the letters shown.\n";
    }
  }
}

}  // namespace kvpage
