#pragma once

// The library's module state (module modWizard): one copy per host thread, shared by every BrintavelCtl on that
// thread and by every routine of the library, the converters included. Nothing here is locked: all of it is
// touched only from the thread that owns it.

#include <cstdint>
#include <memory>
#include <string>

#include "common/qb_session.h"
#include "platform/base/date_time.h"

namespace platform::xml {
class ElementIndex;
}

namespace brintavel {

class FrmKVUpload;

// Sync mode of the current run, read by the result messages.
inline constexpr int32_t kSyncModeNone = 0;
inline constexpr int32_t kSyncModeUpload = 1;
inline constexpr int32_t kSyncModeDownload = 2;

struct ModWizard {
  // qbXML version of the session (the sync reads 1.0, 1.1, 2.0, CA1.0, CA1.1, CA2.0 or UK2.0); selects the
  // request's document header.
  kv::qb::QBXMLVersion lngQBXMLVersion = kv::qb::QBXMLVersion::kUS1_0;
  int32_t lngSyncMode = kSyncModeNone;
  // The last service answer that was not a success, or the error text of a failed upload.
  std::string sServerMessage;

  // Records converted in this run, per list. A counter that was never set reads as 0.
  int64_t varClassCount = 0;
  int64_t varEmployeeCount = 0;
  int64_t varCustomerCount = 0;
  int64_t varProjectCount = 0;
  int64_t varGLAccountCount = 0;
  int64_t varTaskCount = 0;
  int64_t varVendorCount = 0;
  int64_t varTimeCount = 0;
  int64_t varExpenseCount = 0;  // one pass of the expense converter
  int64_t varExpenseTotal = 0;  // checks pass plus bills pass

  // The service's success answer ended in "T" (tasks added) or "P" (projects added).
  bool varTasksAdded = false;
  bool varProjectsAdded = false;

  // Set by the QuickBooks routines, the company-file check and a converter whose response does not parse;
  // every routine that sets it clears it on entry.
  bool bSyncError = false;
  std::string sSyncErrorText;

  // The QuickBooks session.
  kv::qb::Session qb;

  // The lists ticked for this run; payment terms and sales reps are queried but never converted.
  bool bSyncCustomers = false;
  bool bSyncEmployees = false;
  bool bSyncVendors = false;
  bool bSyncPaymentTerms = false;
  bool bSyncGLAccounts = false;
  bool bSyncTasks = false;
  bool bSyncClasses = false;
  bool bSyncSalesReps = false;
  bool bSyncTime = false;
  bool bSyncExpense = false;

  std::string sQBXMLRequest;
  std::string sQBXMLResponse;
  // sQBXMLResponse read once for the converters of a run: whether it parses and where their records stand. Held
  // by the dispatcher while the converters run.
  std::shared_ptr<const platform::xml::ElementIndex> responseIndex;

  // Records created or modified at or after these are sent; customers and jobs share CustomerLastSyncDate.
  kv::DateTime CustomerLastSyncDate;
  kv::DateTime VendorsLastSyncDate;
  kv::DateTime EmployeeLastSyncDate;
  kv::DateTime GLAccountsLastSyncDate;
  kv::DateTime TasksLastSyncDate;
  kv::DateTime ClassLastSyncDate;
  kv::DateTime TimeLastSyncDate;
  kv::DateTime ExpenseLastSyncDate;

  // The web-request form of the uploads: loaded for a run, never shown. Empty until first used.
  std::shared_ptr<FrmKVUpload> frmKVUpload;
};

// The calling thread's copy.
ModWizard& Module();
// Starts the calling thread over with a fresh copy (tests; a host that unloads the library).
void ResetModule();

}  // namespace brintavel
