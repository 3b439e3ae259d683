#pragma once

// frmResults: the dialog that closes a download run. The summary of the run at the top; on demand, the grid of
// the records the service did not accept, with a details panel that pages through them one row at a time.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "platform/base/date_time.h"
#include "platform/forms/control.h"
#include "platform/forms/form.h"
#include "platform/forms/list_view.h"

namespace tessarine {

class frmResults : public platform::forms::Form {
 public:
  frmResults();

  // Report view with the seven columns; the headers use the site's own words.
  void CreateGrid();
  // One row for a record that was not posted: the record's values by its type ("TA", "LA", or an expense)
  // and the reason.
  void FillGrid(const std::string& mErr, const std::string& mTRNType);
  // Row nRecCounter (1-based) into the boxes of the details panel.
  void FillDetails(int32_t nRecCounter);

  // The summary, then the grid of records not posted, one line per row with every cell whole.
  void DescribeForm(std::ostream& out) const override;

  platform::forms::Label Label1;
  platform::forms::Label Label2;
  platform::forms::Label Label3;
  platform::forms::Label lblTotal;
  platform::forms::Label lblSuccess;
  platform::forms::Label lblFailure;
  platform::forms::CommandButton OKButton;
  platform::forms::CommandButton cmdDetails;
  platform::forms::Frame Frame1;
  platform::forms::ListView ListView1;
  platform::forms::CommandButton cmdLeft;
  platform::forms::CommandButton cmdRight;
  platform::forms::Label lblCounter;
  platform::forms::Label lblEmp;
  platform::forms::TextBox txtEmp;
  platform::forms::Label lblCust;
  platform::forms::TextBox txtCust;
  platform::forms::Label lblSI;
  platform::forms::TextBox txtService;
  platform::forms::Label lblDate;
  platform::forms::TextBox txtType;  // beside the date label: shows the date
  platform::forms::Label lblType;
  platform::forms::TextBox txtDate;  // beside the type label: shows the type word
  platform::forms::Label lblHours;
  platform::forms::TextBox txtHrs;
  platform::forms::Label lblReason;
  platform::forms::TextBox txtReason;

  // The row shown in the details panel; empty until the panel is first opened.
  std::optional<int32_t> varCurrentRow;
  bool bDetailsShown = false;

  static constexpr int kCollapsedHeight = 1770;
  static constexpr int kExpandedHeight = 6315;

 private:
  void Form_Load();
  void cmdDetails_Click();
  void cmdLeft_Click();
  void cmdRight_Click();
  void ShowCounter();
};

// A date as the grid shows it ("M/D/YYYY"); "" for the zero date, which marks a date that could not be read.
std::string GridDateText(const kv::DateTime& date);

}  // namespace tessarine
