// The results form: captions by mode, the grid's columns and rows, and paging through the details panel.

#include "download_control/results_form.h"

#include <gtest/gtest.h>

#include <sstream>

#include "download_control/module_state.h"
#include "platform/forms/form.h"
#include "platform/forms/list_view.h"

namespace tessarine {
namespace {

class ResultsFormTest : public ::testing::Test {
 protected:
  ResultsFormTest() {
    ResetModule();
    DownloadParameters& p = Module().params;
    p.EmpLexicon = "Staff";
    p.CustLexicon = "Client";
    p.ProjLexicon = "Job";
    p.SILexicon = "Task";
    p.TsOrExpense = true;
  }
  ~ResultsFormTest() override { ResetModule(); }

  void AddTimeRow(const std::string& employee, const std::string& type, const std::string& reason) {
    CurrentTimeRecord& t = Module().currentTimeRecord;
    t = CurrentTimeRecord{};
    t.sEmployeeName = employee;
    t.sCustomerJob = "Acme:Roof";
    t.sServiceItem = "Consulting";
    t.dtActivityDate = kv::DateTime::FromParts(2006, 4, 3);
    t.dblHours = 7.5;
    form.FillGrid(reason, type);
  }

  frmResults form;
};

TEST_F(ResultsFormTest, GridColumnsUseTheSiteWordsInBothModes) {
  Module().params.TsOrExpense = false;
  form.CreateGrid();
  EXPECT_EQ(form.ListView1.View(), platform::forms::lvwReport);
  ASSERT_EQ(form.ListView1.ColumnCount(), 7);
  const char* headers[] = {"Staff", "Client:Job", "Task", "Activity Date", "Entity", "Hours", "Description"};
  const int widths[] = {1500, 1500, 1500, 1200, 800, 800, 2200};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(form.ListView1.Column(i + 1).Text, headers[i]);
    EXPECT_EQ(form.ListView1.Column(i + 1).Width, widths[i]);
  }
}

TEST_F(ResultsFormTest, RowsByTransactionType) {
  form.CreateGrid();
  AddTimeRow("Ann", "TA", "Unknown customer");
  AddTimeRow("Bo", "LA", "No leave left");
  ExpenseRow& e = Module().expenseRow;
  e.sExpensePayee = "Vendor A";
  e.sExpenseMemo = "Trip";
  e.dtExpenseDate = kv::DateTime::FromParts(2006, 5, 2);
  e.dblExpenseAmount = 30.5;
  form.FillGrid("Unknown vendor", "EXP");
  ASSERT_EQ(form.ListView1.ItemCount(), 3);
  const auto& time = form.ListView1.Item(1);
  EXPECT_EQ(time.Text(), "Ann");
  EXPECT_EQ(time.SubItem(1), "Acme:Roof");
  EXPECT_EQ(time.SubItem(2), "Consulting");
  EXPECT_EQ(time.SubItem(3), "4/3/2006");
  EXPECT_EQ(time.SubItem(4), "Time");
  EXPECT_EQ(time.SubItem(5), "7.5");
  EXPECT_EQ(time.SubItem(6), "Unknown customer");
  const auto& leave = form.ListView1.Item(2);
  EXPECT_EQ(leave.SubItem(1), "");
  EXPECT_EQ(leave.SubItem(2), "");
  EXPECT_EQ(leave.SubItem(4), "Leave");
  const auto& expense = form.ListView1.Item(3);
  EXPECT_EQ(expense.Text(), "Vendor A");
  EXPECT_EQ(expense.SubItem(1), "Trip");
  EXPECT_EQ(expense.SubItem(2), "");
  EXPECT_EQ(expense.SubItem(3), "5/2/2006");
  EXPECT_EQ(expense.SubItem(4), "Expense");
  EXPECT_EQ(expense.SubItem(5), "30.5");
  EXPECT_EQ(expense.SubItem(6), "Unknown vendor");
}

TEST_F(ResultsFormTest, LoadCaptionsFollowTheMode) {
  form.Load();
  EXPECT_EQ(form.lblEmp.Caption(), "Employee");
  EXPECT_EQ(form.Label1.Caption(), "Number of Time/Leave transactions selected for Post :");
  EXPECT_EQ(form.Label2.Caption(), "Time/Leave transactions successfully posted");
  EXPECT_EQ(form.Top(), 1000);
  EXPECT_EQ(form.Left(), (platform::forms::Screen().Width - form.Width()) / 2);
  form.Unload();
  Module().params.TsOrExpense = false;
  frmResults expenses;
  expenses.Load();
  EXPECT_EQ(expenses.lblEmp.Caption(), "Vendor");
  EXPECT_EQ(expenses.lblCust.Caption(), "Description");
  EXPECT_EQ(expenses.lblSI.Caption(), "");
  EXPECT_EQ(expenses.lblHours.Caption(), "Amount");
  EXPECT_EQ(expenses.Label1.Caption(), "Number of Expense transactions selected for Post :");
  EXPECT_EQ(expenses.Label2.Caption(), "Expense transactions successfully posted");
  EXPECT_EQ(expenses.Label3.Caption(), "Transactions not posted");
}

TEST_F(ResultsFormTest, DetailsDoNothingWithoutRows) {
  form.CreateGrid();
  form.Load();
  const int height = form.Height();
  form.cmdDetails.Click();
  EXPECT_EQ(form.Height(), height);
  EXPECT_FALSE(form.varCurrentRow.has_value());
}

TEST_F(ResultsFormTest, DetailsTogglesTheHeightAndPagesOneRowAtATime) {
  form.CreateGrid();
  AddTimeRow("Ann", "TA", "r1");
  AddTimeRow("Bo", "TA", "r2");
  form.Load();
  // Right before the panel was ever opened shows row 1.
  form.cmdRight.Click();
  EXPECT_EQ(form.lblCounter.Caption(), "1 of 2");
  EXPECT_EQ(form.txtEmp.Text(), "Ann");
  form.cmdDetails.Click();
  EXPECT_EQ(form.Height(), frmResults::kExpandedHeight);
  EXPECT_EQ(form.txtType.Text(), "4/3/2006");  // the box beside the date label
  EXPECT_EQ(form.txtDate.Text(), "Time");      // the box beside the type label
  EXPECT_EQ(form.txtHrs.Text(), "7.5");
  EXPECT_EQ(form.txtReason.Text(), "r1");
  form.cmdLeft.Click();
  EXPECT_EQ(form.lblCounter.Caption(), "1 of 2");
  form.cmdRight.Click();
  EXPECT_EQ(form.lblCounter.Caption(), "2 of 2");
  EXPECT_EQ(form.txtReason.Text(), "r2");
  form.cmdRight.Click();
  EXPECT_EQ(form.lblCounter.Caption(), "2 of 2");
  form.cmdDetails.Click();
  EXPECT_EQ(form.Height(), frmResults::kCollapsedHeight);
  EXPECT_EQ(form.lblCounter.Caption(), "1 of 2");
  form.OKButton.Click();
  EXPECT_FALSE(form.Loaded());
}

TEST_F(ResultsFormTest, TheTerminalViewShowsTheSummaryAndEveryCellWhole) {
  form.CreateGrid();
  AddTimeRow("Ann", "TA", "A reason long enough that a column of the grid would cut it");
  form.Load();
  form.lblTotal.SetCaption("2");
  form.lblSuccess.SetCaption("1");
  form.lblFailure.SetCaption("1");
  std::ostringstream out;
  form.DescribeForm(out);
  EXPECT_NE(out.str().find("Number of Time/Leave transactions selected for Post : 2\n"), std::string::npos);
  EXPECT_NE(out.str().find("Transactions not posted 1\n"), std::string::npos);
  EXPECT_NE(out.str().find("Ann | Acme:Roof | Consulting | 4/3/2006 | Time | 7.5 | A reason long enough that a "
                           "column of the grid would cut it\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tessarine
