#pragma once

// BrintavelCtl, the sync control a service page embeds: a one-page wizard that sends the ticked QuickBooks
// lists to the service.
//
// How a converter plugs in. A converter is a free function in sync_control/converters/ (library
// brintavel_converters), e.g.
//     void GetClassesFromQB(BrintavelCtl& ctl);
// It reads Module().sQBXMLResponse, writes into ctl.objUploadStream, uploads with ctl.UploadNow and reports with
// ctl.SendSyncStatus, and sets ctl.bAbortSync or Module().bSyncError as its template says. The converters
// library fills a ConverterSet (converter_hooks.h) with the converters it has; the host passes that set to the
// control's constructor, and the dispatcher calls each entry that is present in its fixed order. Members the
// page cannot see (bAbortSync, the statement pieces, ...) are public here only so that converters reach them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/page_parameters.h"
#include "common/utility_result.h"
#include "platform/activex/object_safety.h"
#include "platform/activex/user_control.h"
#include "platform/base/date_time.h"
#include "platform/forms/control.h"
#include "platform/forms/control_array.h"
#include "platform/forms/timer.h"
#include "platform/xml/dom.h"
#include "sync_control/converter_hooks.h"
#include "sync_control/module_state.h"
#include "sync_control/statement_stream.h"

namespace brintavel {

// The page parameters every control shares (kv::SiteParameters) are members of the control, by their page names.
class BrintavelCtl : public platform::activex::UserControl,
                     public platform::activex::IObjectSafety,
                     public kv::SiteParameters {
 public:
  explicit BrintavelCtl(ConverterSet converters = {});
  ~BrintavelCtl() override;

  // ---- The page's interface (_BrintavelCtl), in slot order.
  PLKVUtilityResult kvUtilitySet = kvurSuccess;  // storage for the page only
  // The text with every apostrophe doubled, for an SQL text literal.
  std::string ReplaceSingleQuotes(std::string_view strParam) const;
  // Posts the stream's content to the upload page; leaves the stream read to its end.
  PLKVUtilityResult UploadNow(StatementStream& myStream);
  // UploadNow in two halves, so that a converter can go on while the service answers: BeginUpload sends the
  // stream (false: it could not, a system error, the server message says why), UploadAnswered tells whether the
  // answer is in (events run only in a wait or DoEvents), AwaitUpload waits for it and judges it.
  bool BeginUpload(StatementStream& myStream);
  bool UploadAnswered() const;
  PLKVUtilityResult AwaitUpload();
  // 1 when a session is open on the company file the page names, else 0 (bSyncError says why).
  int32_t ContactQuickBooks();
  PLKVUtilityResult UpdateDataForKVRequirement() { return kvurSuccess; }
  kv::DateTime KVLastUploadDate;  // storage for the page only
  std::string nOptions;           // options letter of the list being uploaded
  int32_t lngFailedCustCnt = 0;
  int32_t lngFailedEmpCnt = 0;
  int32_t lngFailedProjCnt = 0;
  int32_t lngFailedItemCnt = 0;
  int32_t lngFailedGLCnt = 0;
  int32_t lngFailedClassCnt = 0;
  int32_t lngFailedVendCnt = 0;
  bool DebugMode = false;
  bool mDisplayTSError = false;
  int32_t lngFailedTimeCnt = 0;
  int32_t lngFailedExpCnt = 0;
  bool mDisplayEXPError = false;

  // ---- What the converters share with the control.
  bool bAbortSync = false;
  // Whether each sales-tax code of the last response that parsed is taxable, by name. Only the answers are
  // kept: a node list would hold that response's whole tree for the rest of the run.
  std::optional<std::unordered_map<std::string, bool>> objSalesTaxCodes;
  int32_t lngBatchCount = 0;
  std::string sStatement;
  std::string sInsertSQL;
  std::string sUpdateSQL;
  std::string sColumnName;
  std::string sColumnValue;
  std::string sColumnList;
  std::string sValueList;
  bool bSendClientVersion = false;
  std::unique_ptr<StatementStream> objUploadStream;
  int32_t lngUploadResult = kvurSuccess;

  // Reports a list as sent to the status page. A Cancel while it waits sets bAbortSync.
  PLKVUtilityResult SendSyncStatus(const std::string& options);
  // Collects the response's SalesTaxCodeRet records once per item run; a response that does not parse keeps
  // the earlier list.
  void LoadSalesTaxCodes();
  bool IsSalesTaxCodeTaxable(const std::string& name) const;

  // ---- The wizard's steps (called by its buttons; public for the host and the tests).
  void SelectSyncLists();
  void BuildQueryRequest();
  void ProcessQueryResponse();
  void ResetWizard();
  void CheckCompanyFileExists();
  // True from Start Sync until the run has ended; buttons that would start or change a run are ignored then.
  bool RunActive() const { return run_active_; }

  // ---- Event handlers.
  void cmdNav_Click(int index);
  void chkDebugMode_Click();
  void cmdSelectAll_Click();
  void Timer1_Timer();
  void ReadProperties(platform::activex::PropertyBag& bag) override;

  // ---- IObjectSafety.
  void GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported_options,
                                 uint32_t& enabled_options) override;
  void SetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t options_set_mask,
                                 uint32_t enabled_options) override;

  const ConverterSet& Converters() const { return converters_; }

  // ---- The page's controls. Containers come before what they hold.
  platform::forms::Label Label1{this, "Label1"};
  platform::forms::Label Label11{this, "Label11"};
  platform::forms::Label Label12{this, "Label12"};
  platform::forms::Label Label2{this, "Label2"};
  platform::forms::CheckBox chkQBEmployee{this, "chkQBEmployee"};
  platform::forms::Label Label3{this, "Label3"};
  platform::forms::CheckBox chkQBCustomers{this, "chkQBCustomers"};
  platform::forms::Label Label4{this, "Label4"};
  platform::forms::CheckBox chkQBVendors{this, "chkQBVendors"};
  platform::forms::Label Label5{this, "Label5"};
  platform::forms::CheckBox chkQBPayTerms{this, "chkQBPayTerms"};
  platform::forms::Label Label6{this, "Label6"};
  platform::forms::CheckBox chkQBCOA{this, "chkQBCOA"};
  platform::forms::Label Label7{this, "Label7"};
  platform::forms::CheckBox chkQBTasks{this, "chkQBTasks"};
  platform::forms::Label Label8{this, "Label8"};
  platform::forms::CheckBox chkQBClasses{this, "chkQBClasses"};
  platform::forms::Label Label9{this, "Label9"};
  platform::forms::CheckBox chkQBTimesheet{this, "chkQBTimesheet"};
  platform::forms::Label Label10{this, "Label10"};
  platform::forms::CheckBox chkQBExpense{this, "chkQBExpense"};
  platform::forms::CommandButton cmdSelectAll{this, "cmdSelectAll"};
  platform::forms::CheckBox chkDebugMode{this, "chkDebugMode"};
  platform::forms::OptionButton optStop{this, "optStop"};
  platform::forms::OptionButton optContinue{this, "optContinue"};
  platform::forms::ControlArray<platform::forms::CommandButton> cmdNav{this, "cmdNav", 4};
  platform::forms::Frame frameComm{this, "frameComm"};
  platform::forms::CheckBox chkContactQB{&frameComm, "chkContactQB"};
  platform::forms::Label lblContacting{&frameComm, "lblContacting"};
  platform::forms::CheckBox chkWaitRes{&frameComm, "chkWaitRes"};
  platform::forms::Label lblWaiting{&frameComm, "lblWaiting"};
  platform::forms::Label lblProcessing{&frameComm, "lblProcessing"};
  platform::forms::CheckBox chkProcessing{&frameComm, "chkProcessing"};
  platform::forms::Label lblTransfer1{&frameComm, "lblTransfer1"};
  platform::forms::Label lblTransfer2{&frameComm, "lblTransfer2"};
  platform::forms::Frame fraProgress{this, "fraProgress"};
  platform::forms::ProgressBar ProgressBar1{&fraProgress, "ProgressBar1"};
  platform::forms::Label lblProcess{&fraProgress, "lblProcess"};
  platform::forms::Timer Timer1{this, "Timer1"};

 private:
  // The Start Sync click, step by step; a step that returns false has ended the run itself.
  void StartSync();
  bool AnyListTicked() const;
  void ResetRunCounters();
  bool HasConnectionSettings() const;
  void DefaultLastSyncDates();
  void DefaultLexicons();
  bool OpenCompanyFile();
  bool QueryTickedLists();
  void ProcessResponse();
  void EndInterruptedRun();
  void ReportRunResult();
  // The company file is missing or QuickBooks would not open it: the run ends and the wizard starts afresh.
  void EndRunWithoutQuickBooks();
  // The query or its processing failed: the run ends with the lists still ticked, so that the user can try again.
  void EndRunKeepingSelection(bool after_processing);
  void EndSyncSession();
  std::string SummaryMessage() const;

  ConverterSet converters_;
  bool run_active_ = false;
};

// Identity of the control's class, as the page's object tag and the host name it.
inline constexpr std::string_view kBrintavelProgId = "Brintavel.BrintavelCtl";
inline constexpr platform::com::Guid kBrintavelClassId{
    0x5105AB9B, 0x325B, 0x4FA2, {0x9B, 0x1F, 0x98, 0x2A, 0x31, 0x93, 0xB9, 0x89}};
inline constexpr platform::com::Guid kBrintavelTypeLibId{
    0xFFE8A7ED, 0x8D3E, 0x40BD, {0x90, 0x5D, 0x74, 0x13, 0x9D, 0xD2, 0x80, 0xA5}};
inline constexpr platform::com::Guid IID__BrintavelCtl{
    0xFA8EF19F, 0x4CDF, 0x44A8, {0x97, 0x8A, 0xDF, 0x81, 0xBA, 0x27, 0xB7, 0x3F}};
inline constexpr platform::com::Guid DIID___BrintavelCtl{
    0xF23E87C3, 0x33EE, 0x4993, {0x95, 0x7D, 0x2C, 0x9C, 0x6E, 0x86, 0xAA, 0xAE}};

// Gives the screen its normal mouse pointer back before a transfer.
void ResetMousePointer();

// The QuickBooks session routines of the module; each reports through Module().bSyncError.
void ProcessQBRequest();
void EndQBSession();
void CloseQBConnection();

}  // namespace brintavel
