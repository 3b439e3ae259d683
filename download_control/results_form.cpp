// The results dialog of a run: its summary, the grid of records not posted and the details panel.

#include "download_control/results_form.h"

#include <functional>
#include <vector>

#include "download_control/module_state.h"
#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "platform/forms/terminal_presenter.h"

namespace tessarine {
namespace {

// The form's routines run with errors ignored statement by statement: a step that fails skips its value only.
void Step(const std::function<void()>& statement) {
  try {
    statement();
  } catch (const kv::Error&) {
  }
}

}  // namespace

std::string GridDateText(const kv::DateTime& date) {
  if (date.IsZero()) return "";
  return std::to_string(date.Month()) + "/" + std::to_string(date.Day()) + "/" + std::to_string(date.Year());
}

frmResults::frmResults()
    : Form("frmResults"),
      Label1(this, "Label1"),
      Label2(this, "Label2"),
      Label3(this, "Label3"),
      lblTotal(this, "lblTotal"),
      lblSuccess(this, "lblSuccess"),
      lblFailure(this, "lblFailure"),
      OKButton(this, "OKButton"),
      cmdDetails(this, "cmdDetails"),
      Frame1(this, "Frame1"),
      ListView1(&Frame1, "ListView1"),
      cmdLeft(&Frame1, "cmdLeft"),
      cmdRight(&Frame1, "cmdRight"),
      lblCounter(&Frame1, "lblCounter"),
      lblEmp(&Frame1, "lblEmp"),
      txtEmp(&Frame1, "txtEmp"),
      lblCust(&Frame1, "lblCust"),
      txtCust(&Frame1, "txtCust"),
      lblSI(&Frame1, "lblSI"),
      txtService(&Frame1, "txtService"),
      lblDate(&Frame1, "lblDate"),
      txtType(&Frame1, "txtType"),
      lblType(&Frame1, "lblType"),
      txtDate(&Frame1, "txtDate"),
      lblHours(&Frame1, "lblHours"),
      txtHrs(&Frame1, "txtHrs"),
      lblReason(&Frame1, "lblReason"),
      txtReason(&Frame1, "txtReason") {
  SetCaption("Results");
  Move(0, 0, 7320, kCollapsedHeight);
  Label1.Move(120, 195, 4800, 255);
  Label2.Move(120, 525, 4800, 255);
  Label3.SetCaption("Transactions not posted");
  Label3.Move(120, 870, 4800, 255);
  lblTotal.Move(5000, 195, 600, 255);
  lblSuccess.Move(5000, 525, 600, 255);
  lblFailure.Move(5000, 870, 600, 255);
  OKButton.SetCaption("OK");
  OKButton.Move(5670, 210, 1215, 375);
  OKButton.SetDefault(true);
  OKButton.SetCancel(true);
  cmdDetails.SetCaption("Details");
  cmdDetails.Move(5670, 690, 1215, 375);
  Frame1.Move(0, 1395, 7200, 4530);
  ListView1.Move(120, 120, 6960, 1500);
  cmdLeft.SetCaption("<");
  cmdLeft.Move(120, 1680, 375, 315);
  cmdRight.SetCaption(">");
  cmdRight.Move(6705, 1680, 375, 315);
  lblCounter.Move(3000, 1680, 1200, 255);
  struct Row {
    platform::forms::Label& label;
    const char* caption;
    platform::forms::TextBox& box;
    int top;
  };
  const int panel = 2040;  // the details panel starts below the grid and the paging buttons
  for (const Row& row : {Row{lblEmp, "Employee :", txtEmp, 210}, Row{lblCust, "Customer:Project :", txtCust, 555},
                         Row{lblSI, "Service Item :", txtService, 900}, Row{lblDate, "Date :", txtType, 1245},
                         Row{lblType, "Type of Activity :", txtDate, 1575}, Row{lblHours, "Hours :", txtHrs, 1920},
                         Row{lblReason, "Reason of failure :", txtReason, 2265}}) {
    row.label.SetCaption(row.caption);
    row.label.Move(285, panel + row.top, 1800, 255);
    row.box.Move(2160, panel + row.top, 4845, 285);
    row.box.SetLocked(true);
  }
  txtReason.SetMultiLine(true);
  txtReason.SetHeight(1620);

  OnLoad = [this] { Form_Load(); };
  OKButton.OnClick = [this] { Unload(); };
  cmdDetails.OnClick = [this] { cmdDetails_Click(); };
  cmdLeft.OnClick = [this] { cmdLeft_Click(); };
  cmdRight.OnClick = [this] { cmdRight_Click(); };
}

void frmResults::Form_Load() {
  SetLeft((platform::forms::Screen().Width - Width()) / 2);
  SetTop(1000);
  const bool time = Module().params.TsOrExpense;
  lblEmp.SetCaption(time ? "Employee" : "Vendor");
  lblCust.SetCaption(time ? "Customer:Project" : "Description");
  lblSI.SetCaption(time ? "Service Item" : "");
  lblHours.SetCaption(time ? "Hours" : "Amount");
  Label1.SetCaption(time ? "Number of Time/Leave transactions selected for Post :"
                         : "Number of Expense transactions selected for Post :");
  Label2.SetCaption(time ? "Time/Leave transactions successfully posted" : "Expense transactions successfully posted");
  for (platform::forms::Label* label : {&lblEmp, &lblCust, &lblSI, &lblHours, &Label1, &Label2}) label->Refresh();
}

void frmResults::CreateGrid() {
  const DownloadParameters& p = Module().params;
  Step([&] { ListView1.SetView(platform::forms::lvwReport); });
  Step([&] { ListView1.AddColumn(p.EmpLexicon, 1500); });
  Step([&] { ListView1.AddColumn(p.CustLexicon + ":" + p.ProjLexicon, 1500); });
  Step([&] { ListView1.AddColumn(p.SILexicon, 1500); });
  Step([&] { ListView1.AddColumn("Activity Date", 1200); });
  Step([&] { ListView1.AddColumn("Entity", 800); });
  Step([&] { ListView1.AddColumn("Hours", 800); });
  Step([&] { ListView1.AddColumn("Description", 2200); });
}

void frmResults::FillGrid(const std::string& mErr, const std::string& mTRNType) {
  const TessarineModule& m = Module();
  const CurrentTimeRecord& t = m.currentTimeRecord;
  const ExpenseRow& e = m.expenseRow;
  platform::forms::ListItem* item = nullptr;
  Step([&] { item = &ListView1.AddItem(); });
  if (item == nullptr) return;
  auto set = [item](int index, const std::string& text) { Step([&] { item->SetSubItem(index, text); }); };
  if (mTRNType == "TA" || mTRNType == "LA") {
    const bool time = mTRNType == "TA";
    item->SetText(t.sEmployeeName);
    set(1, time ? t.sCustomerJob : "");
    set(2, time ? t.sServiceItem : "");
    set(3, GridDateText(t.dtActivityDate));
    set(4, time ? "Time" : "Leave");
    set(5, kv::NumberText(t.dblHours));
  } else {
    item->SetText(e.sExpensePayee);
    set(1, e.sExpenseMemo);
    set(2, "");
    set(3, GridDateText(e.dtExpenseDate));
    set(4, "Expense");
    set(5, kv::NumberText(e.dblExpenseAmount));
  }
  set(6, mErr);
}

void frmResults::FillDetails(int32_t nRecCounter) {
  const platform::forms::ListItem* item = nullptr;
  Step([&] { item = &ListView1.Item(nRecCounter); });
  if (item == nullptr) return;
  txtEmp.SetText(item->Text());
  Step([&] { txtCust.SetText(item->SubItem(1)); });
  Step([&] { txtService.SetText(item->SubItem(2)); });
  Step([&] { txtType.SetText(item->SubItem(3)); });
  Step([&] { txtDate.SetText(item->SubItem(4)); });
  Step([&] { txtHrs.SetText(item->SubItem(5)); });
  Step([&] { txtReason.SetText(item->SubItem(6)); });
}

void frmResults::ShowCounter() {
  lblCounter.SetCaption(std::to_string(varCurrentRow.value_or(0)) + " of " + std::to_string(ListView1.ItemCount()));
  lblCounter.Refresh();
}

void frmResults::cmdDetails_Click() {
  if (ListView1.ItemCount() == 0) return;
  SetHeight(bDetailsShown ? kCollapsedHeight : kExpandedHeight);
  bDetailsShown = !bDetailsShown;
  FillDetails(1);
  varCurrentRow = 1;
  ShowCounter();
}

void frmResults::cmdLeft_Click() {
  if (!varCurrentRow || *varCurrentRow <= 1) return;
  --*varCurrentRow;
  ShowCounter();
  FillDetails(*varCurrentRow);
}

void frmResults::cmdRight_Click() {
  // Before the panel was first opened the row counts as 0, so Right shows row 1.
  const int32_t row = varCurrentRow.value_or(0);
  if (row >= ListView1.ItemCount()) return;
  varCurrentRow = row + 1;
  ShowCounter();
  FillDetails(*varCurrentRow);
}

void frmResults::DescribeForm(std::ostream& out) const {
  out << "== " << Caption() << " ==\n";
  out << Label1.Caption() << " " << lblTotal.Caption() << "\n";
  out << Label2.Caption() << " " << lblSuccess.Caption() << "\n";
  out << Label3.Caption() << " " << lblFailure.Caption() << "\n";
  if (ListView1.ItemCount() == 0) return;
  // The reasons are the service's and QuickBooks' own texts: shown as terminal lines, never as raw bytes.
  auto write_row = [&out](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
      out << (i == 0 ? "" : " | ") << platform::forms::TerminalLines(cells[i]);
    }
    out << "\n";
  };
  std::vector<std::string> headers;
  for (int c = 1; c <= ListView1.ColumnCount(); ++c) headers.push_back(ListView1.Column(c).Text);
  write_row(headers);
  for (int r = 1; r <= ListView1.ItemCount(); ++r) {
    const platform::forms::ListItem& item = ListView1.Item(r);
    std::vector<std::string> cells = {item.Text()};
    for (int c = 1; c < ListView1.ColumnCount(); ++c) cells.push_back(item.SubItem(c));
    write_row(cells);
  }
}

}  // namespace tessarine
