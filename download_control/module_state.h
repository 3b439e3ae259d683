#pragma once

// Module state of the Tessarine library: one copy per host thread, shared by every control on that thread.
// Tests start from a fresh copy with ResetModule.

#include <cstdint>
#include <memory>
#include <string>

#include "common/page_parameters.h"
#include "common/qb_session.h"
#include "download_control/time_requests.h"
#include "platform/base/date_time.h"

namespace tessarine {

// The page parameters. The shared ones come first here, but KVLastUploadDate is read sixth, after
// PLClientVersion (see KVRDowloadctl::ReadProperties).
struct DownloadParameters : kv::SiteParameters {
  kv::DateTime KVLastUploadDate;
  bool TsOrExpense = false;  // True: time and leave; False: expenses
  bool FullOrPartial = false;
};

// The row values of a failed expense in the results grid.
struct ExpenseRow {
  std::string sExpensePayee;
  kv::DateTime dtExpenseDate;
  std::string sExpenseMemo;
  double dblExpenseAmount = 0;
};

// The QuickBooks conversation: the check session that ContactQuickBooks opens, and the connection and session
// of the request being sent.
struct QBSessionState : kv::qb::Session {
  bool bRPConnectionOpen = false;
  bool bRPSessionOpen = false;
  kv::qb::QBXMLVersion QBXMLVersionCode = kv::qb::QBXMLVersion::kUS1_0;
};

struct TessarineModule {
  DownloadParameters params;
  // Records of the last download by kind.
  int32_t varTARecordCount = 0;
  int32_t varLARecordCount = 0;
  int32_t varEXPRecordCount = 0;
  CurrentTimeRecord currentTimeRecord;
  ExpenseRow expenseRow;
  QBSessionState session;
};

TessarineModule& Module();
void ResetModule();

}  // namespace tessarine
