// The wizard's summary message of which lists will be sent.

#include "sync_control/wizard_messages.h"

namespace brintavel {
namespace {

constexpr std::string_view kPleaseResync = "Please synchronize all elements and try again.";

}  // namespace

std::string BillableNote(std::string_view word) {
  const std::string w(word);
  return "The sync process has added " + w + "(s) to Kalvor, timesheets for these " + w +
         "(s) will download to QuickBooks as non-billable time. To change this to billable: \r\n\r\n"
         "1. Go to Customize | Timesheet Preferences \r\n"
         "2. Click on 'Use Rules'. \r\n"
         "3. Select the " +
         w + "(s) you want to make billable and click the 'Make Billable' button.";
}

std::string BuildSummaryMessage(const SummaryInput& in) {
  std::string note;
  if (in.tasksAdded) {
    note = BillableNote(in.itemWord);
  } else if (in.projectsAdded) {
    note = BillableNote(in.projWord);
  }

  const struct {
    int32_t count;
    std::string label;
  } lines[] = {
      {in.failedEmp, in.empWord + "s - "}, {in.failedCust, in.custWord + "s - "}, {in.failedProj, in.projWord + "s - "},
      {in.failedClass, "Classes - "},      {in.failedGL, "Chart of Accounts - "}, {in.failedItem, in.itemWord + "s - "},
      {in.failedTime, "Time - "},          {in.failedExp, "Expenses - "},         {in.failedVend, "Vendors - "},
  };
  bool any_failed = false;
  for (const auto& line : lines) any_failed = any_failed || line.count != 0;

  if (any_failed) {
    std::string text = "Quickbooks data synced with Kalvor. Following data could not be sent..\r\n\r\n";
    for (const auto& line : lines) {
      if (line.count != 0) text += line.label + std::to_string(line.count) + "\r\n";
    }
    return text + note;
  }
  // Only one warning is shown; the time warning wins.
  if (in.timeWarning) {
    return "QB's data synced with Kalvor successfully..\r\n\r\nFew time transactions could not be synchronized. This "
           "could be because Kalvor and QuickBooks are not in sync. " +
           std::string(kPleaseResync) + note;
  }
  if (in.expenseWarning) {
    return "Quickbooks data synced with Kalvor successfully..\r\n\r\nFew expense transactions could not be "
           "synchronized. This could be because Kalvor and QuickBooks are not in sync. " +
           std::string(kPleaseResync) + note;
  }
  std::string text = "Quickbooks data synced with Kalvor successfully..";
  if (!note.empty()) text += "\r\n\r\n" + note;
  return text;
}

}  // namespace brintavel
