// The per-record status report: QuickBooks' answer with the record's ids goes to the service, whose verdict
// counts the record.

#include "download_control/download_form.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/qbxml_text.h"
#include "download_control/results_form.h"
#include "download_control/service_requests.h"
#include "platform/base/error.h"
#include "platform/forms/form.h"
#include "platform/stream/text_stream.h"

namespace tessarine {

PLKVUtilityResult KVRDowloadctl::UpdateServerStatus(const std::string& ids, RecordType record_type,
                                                    bool bill_or_check) {
  TessarineModule& m = Module();
  // The service's own code names the record where it crosses to the service and the grid.
  const std::string type(RecordTypeCode(record_type));
  const StatusIds status_ids = IdsOfType(ids, type);

  // The service reads the answer as us-ascii bytes.
  platform::stream::Stream stream;
  stream.SetCharset("us-ascii");
  stream.SetType(platform::stream::adTypeText);
  stream.Open();
  stream.WriteText(sResponseXML);

  if (status_ids.Empty()) return kvurSuccess;

  auto& form = platform::forms::DefaultInstance<frmKVDownload>();
  form.Load();
  form.bIsNavigationComplete = false;
  form.bIsInterrupted = false;
  const std::string url = StatusUrl(m.params, status_ids, type, bill_or_check);
  stream.SetPosition(0);
  stream.SetType(platform::stream::adTypeBinary);
  const std::vector<uint8_t> body = stream.Read();

  t2 = static_cast<float>(kv::DateTime::Now().SecondsOfDay());
  if (form.Request(kStatusPage, url, body)) return kvurSuccess;

  std::string reason = FailureReason(form.sReceivedText, type);
  // Without the service's own answer the record stays pending there and would be handed out again; when
  // QuickBooks took it, the user must learn that it is in QuickBooks already.
  const bool verdict = !form.bIsInterrupted && form.WebBrowser1.HasDocument() && !form.WebBrowser1.IsErrorPage();
  if (!verdict && QuickBooksTookRecord(sResponseXML)) reason = NotToldReason(reason);
  if (bFromEarlierRun) reason = EarlierRunReason(reason);
  if (type == "EXP") {
    AddFailedExpenseRow(reason);
  } else if (objResults) {
    objResults->FillGrid(reason, type);
  }
  return kvurAspFailed;
}

void KVRDowloadctl::AddFailedExpenseRow(const std::string& reason) {
  ExpenseRow& row = Module().expenseRow;
  row.sExpensePayee = currentExpense.sCurExpPayee;
  try {
    row.dtExpenseDate = ReadServiceDate(currentExpense.sCurExpDate);
  } catch (const kv::Error&) {
    // The grid shows no date rather than a wrong one; the reason says what failed.
    row.dtExpenseDate = kv::DateTime();
  }
  row.sExpenseMemo = currentExpense.sCurExpMemo;
  row.dblExpenseAmount = currentExpense.dblCurExpTotal;
  if (objResults) objResults->FillGrid(reason, "EXP");
}

}  // namespace tessarine
