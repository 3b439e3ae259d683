// The wizard's middle step: which lists are ticked, the one query for them, and each ticked list's converter
// run on the answer in turn (expenses in two passes, checks then bills).

#include "platform/forms/presenter.h"
#include "platform/xml/element_index.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/query_request.h"

namespace brintavel {

void BrintavelCtl::SelectSyncLists() {
  ModWizard& m = Module();
  auto ticked = [](const platform::forms::CheckBox& box) { return box.Value() == platform::forms::vbChecked; };
  m.bSyncCustomers = ticked(chkQBCustomers);
  m.bSyncEmployees = ticked(chkQBEmployee);
  m.bSyncVendors = ticked(chkQBVendors);
  m.bSyncPaymentTerms = ticked(chkQBPayTerms);
  m.bSyncTasks = ticked(chkQBTasks);
  m.bSyncGLAccounts = ticked(chkQBCOA);
  m.bSyncClasses = ticked(chkQBClasses);
  m.bSyncSalesReps = m.bSyncCustomers;
  m.bSyncTime = ticked(chkQBTimesheet);
  m.bSyncExpense = ticked(chkQBExpense);
  BuildQueryRequest();
  ProcessQBRequest();
}

void BrintavelCtl::BuildQueryRequest() {
  Module().sQBXMLRequest = BuildQueryRequestText(Module());
}

void BrintavelCtl::ProcessQueryResponse() {
  ModWizard& m = Module();
  m.bSyncError = false;
  m.sSyncErrorText.clear();
  auto show_error = [&m] { platform::forms::MsgBox(m.sSyncErrorText, platform::forms::vbCritical); };
  // Released however the run ends; nothing after the run reads it.
  struct IndexRelease {
    ModWizard& m;
    ~IndexRelease() { m.responseIndex.reset(); }
  } release{m};
  try {
    objUploadStream = NewStatementStream();
    // One parse of the response for the whole run, however many converters read it.
    const std::vector<std::string> records = ConvertedRecordElements(m);
    if (!records.empty())
      m.responseIndex = std::make_shared<const platform::xml::ElementIndex>(m.sQBXMLResponse, records);

    const struct {
      bool flag;
      const ConverterSet::Converter& converter;
    } steps[] = {
        {m.bSyncEmployees, converters_.GetEmployeesFromQB},   {m.bSyncCustomers, converters_.GetCustomersFromQB},
        {m.bSyncCustomers, converters_.GetProjectsFromQB},    {m.bSyncClasses, converters_.GetClassesFromQB},
        {m.bSyncGLAccounts, converters_.GetGLAccountsFromQB}, {m.bSyncTasks, converters_.GetTasksFromQB},
        {m.bSyncVendors, converters_.GetVendorsFromQB},       {m.bSyncTime, converters_.GetTimeFromQB},
    };
    for (const auto& step : steps) {
      if (!step.flag || !step.converter) continue;
      step.converter(*this);
      if (bAbortSync) return;
      if (m.bSyncError) return show_error();
    }
    if (!m.bSyncExpense) return;

    // Both passes add to one failure counter, reset here once, so that "X" is reported only when neither failed.
    lngFailedExpCnt = 0;
    m.varExpenseTotal = 0;
    if (converters_.GetExpensesFromQB) {
      m.varExpenseCount = 0;
      converters_.GetExpensesFromQB(*this, 1);
      if (bAbortSync) return;
      m.varExpenseTotal = m.varExpenseCount;
      m.varExpenseCount = 0;
      converters_.GetExpensesFromQB(*this, 2);
      if (bAbortSync) return;
      m.varExpenseTotal = m.varExpenseCount + m.varExpenseTotal;
    }
    if (m.varExpenseTotal > 0 && lngFailedExpCnt == 0) lngUploadResult = SendSyncStatus("X");
    fraProgress.SetVisible(false);
    if (m.bSyncError) show_error();
  } catch (const std::exception& e) {
    m.bSyncError = true;
    m.sSyncErrorText = e.what();
    ProgressBar1.SetVisible(false);
    lblProcess.SetVisible(false);
    lblProcess.Refresh();
  }
}

}  // namespace brintavel
