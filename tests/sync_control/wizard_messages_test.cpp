// The wizard's closing messages: success, the billable note, the warnings and the failure lines.

#include "sync_control/wizard_messages.h"

#include <gtest/gtest.h>

namespace brintavel {
namespace {

SummaryInput Words() {
  SummaryInput in;
  in.empWord = "Employee";
  in.custWord = "Customer";
  in.projWord = "Project";
  in.itemWord = "Service Item";
  return in;
}

TEST(Summary, PlainSuccessAndItsNote) {
  SummaryInput in = Words();
  EXPECT_EQ(BuildSummaryMessage(in), "Quickbooks data synced with Kalvor successfully..");
  in.projectsAdded = true;
  EXPECT_EQ(BuildSummaryMessage(in),
            "Quickbooks data synced with Kalvor successfully..\r\n\r\n" + BillableNote("Project"));
  in.tasksAdded = true;  // tasks win over projects
  EXPECT_EQ(BuildSummaryMessage(in),
            "Quickbooks data synced with Kalvor successfully..\r\n\r\n" + BillableNote("Service Item"));
}

TEST(Summary, BillableNoteText) {
  EXPECT_EQ(BillableNote("Job"),
            "The sync process has added Job(s) to Kalvor, timesheets for these Job(s) will download to QuickBooks as "
            "non-billable time. To change this to billable: \r\n\r\n1. Go to Customize | Timesheet Preferences \r\n2. "
            "Click on 'Use Rules'. \r\n3. Select the Job(s) you want to make billable and click the 'Make Billable' "
            "button.");
}

TEST(Summary, TimeWarningWinsOverExpenseWarning) {
  SummaryInput in = Words();
  in.timeWarning = true;
  in.expenseWarning = true;
  EXPECT_EQ(BuildSummaryMessage(in),
            "QB's data synced with Kalvor successfully..\r\n\r\nFew time transactions could not be synchronized. This "
            "could be because Kalvor and QuickBooks are not in sync. Please synchronize all elements and try again.");
  in.timeWarning = false;
  in.tasksAdded = true;
  EXPECT_EQ(BuildSummaryMessage(in),
            "Quickbooks data synced with Kalvor successfully..\r\n\r\nFew expense transactions could not be "
            "synchronized. This could be because Kalvor and QuickBooks are not in sync. Please synchronize all "
            "elements and try again." +
                BillableNote("Service Item"));
}

TEST(Summary, FailureLinesInTheirOrderWithTheLexicons) {
  SummaryInput in = Words();
  in.failedClass = 2;
  EXPECT_EQ(BuildSummaryMessage(in),
            "Quickbooks data synced with Kalvor. Following data could not be sent..\r\n\r\nClasses - 2\r\n");

  in = Words();
  in.empWord = "Staff";
  in.timeWarning = true;  // warnings are shown only without failures
  in.failedVend = 1;
  in.failedEmp = 3;
  in.failedExp = 4;
  in.failedTime = 5;
  in.failedItem = 6;
  in.failedGL = 7;
  in.failedProj = 8;
  in.failedCust = 9;
  in.projectsAdded = true;
  EXPECT_EQ(BuildSummaryMessage(in),
            "Quickbooks data synced with Kalvor. Following data could not be sent..\r\n\r\nStaffs - 3\r\n"
            "Customers - 9\r\nProjects - 8\r\nChart of Accounts - 7\r\nService Items - 6\r\nTime - 5\r\n"
            "Expenses - 4\r\nVendors - 1\r\n" +
                BillableNote("Project"));
}

}  // namespace
}  // namespace brintavel
