#pragma once

// The download's results form on a terminal: the summary, the grid of records not posted fitted to the
// terminal's width, and its buttons (Details, paging, OK) pressed by keys listed under it.

namespace platform::forms {
class TerminalPresenter;
}
namespace tessarine {
class frmResults;
}

namespace kvpage {

// Shows the form on the presenter's output; interactive: offers its keys until OK (or the end of input) closes it.
void ShowResultsOnTerminal(tessarine::frmResults& form, platform::forms::TerminalPresenter& presenter,
                           bool interactive);

}  // namespace kvpage
