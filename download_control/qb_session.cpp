#include "download_control/qb_session.h"

#include <filesystem>
#include <system_error>

#include "common/error.h"
#include "common/file_identity.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/qbxml_text.h"
#include "platform/forms/presenter.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"

namespace tessarine {

bool IsNotRunningError(const std::string& description) {
  return description.compare(0, 28, platform::qb::kNotRunningText) == 0;
}

namespace {

// An empty ticket would let the requests that follow go to whatever QuickBooks has open.
void RequireTicket(const std::string& ticket) {
  if (ticket.empty()) throw kv::Error(platform::qb::kErrQBNotRunning, kNotOpenMessage);
}

}  // namespace

int32_t KVRDowloadctl::ContactQuickBooks() {
  bQBError = false;
  sQBErrorText.clear();
  QBSessionState& s = Module().session;
  const std::string& qb_file_path = Module().params.QBFilePath;
  try {
    s.objRequestProcessor.reset();
    s.objRequestProcessor = platform::qb::CreateRequestProcessor();
    s.objRequestProcessor->OpenConnection(kQBAppID, kQBAppName);
    s.bConnectionOpen = true;
    s.sTicket = s.objRequestProcessor->BeginSession("", platform::qb::kOpenModeDoNotCare);
    if (s.sTicket.empty()) s.QBXMLVersionCode = 0;
    RequireTicket(s.sTicket);
    const std::string current = s.objRequestProcessor->GetCurrentCompanyFileName(s.sTicket);
    if (!kv::SameFile(qb_file_path, current)) {
      bQBError = true;
      sQBErrorText = "Your Current Quickbooks file '" + current +
                     "' does not match with the QB file you are using with Kalvor '" + qb_file_path + "'. " +
                     "\r\nPlease open the correct Quickbooks file and try again.";
      return 0;
    }
    const auto versions = s.objRequestProcessor->QBXMLVersionsForSession(s.sTicket);
    s.QBXMLVersionCode = versions && !versions->empty() ? QBXMLVersionCodeOf(versions->back()) : 0;
    return 1;
  } catch (const kv::Error& e) {
    sQBErrorText = IsNotRunningError(e.description()) ? std::string(kNotOpenMessage) : e.description();
    bQBError = true;
    s.sTicket.clear();
    return 0;
  }
}

void KVRDowloadctl::CheckQuickBooks() {
  ContactQuickBooks();
  if (bQBError) platform::forms::MsgBox(sQBErrorText, platform::forms::vbCritical);
}

void KVRDowloadctl::CheckQBFileExists() {
  sQBErrorText.clear();
  bQBError = false;
  const std::string& path = Module().params.QBFilePath;
  std::error_code ec;
  if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
    bQBError = true;
    sQBErrorText = "Cannot find '" + path + "'";
  }
}

void KVRDowloadctl::SendQBRequest() {
  QBSessionState& s = Module().session;
  {
    qbXMLRPWrapper wrapper;
    sResponseXML = wrapper.QBXMLRPCall(sRequestXML);
    bQBError = wrapper.GetErrorStatus();
    sQBErrorText = wrapper.GetqbXMLMsg();
  }
  if (!bQBError) return;
  if (s.bRPSessionOpen) {
    s.bRPSessionOpen = false;
    try {
      if (s.objRequestProcessor) s.objRequestProcessor->EndSession(s.sTicket);
    } catch (const kv::Error&) {
      // QuickBooks may already have dropped the session that failed.
    }
  }
  if (s.bRPConnectionOpen) {
    s.bRPConnectionOpen = false;
    try {
      if (s.objRequestProcessor) s.objRequestProcessor->CloseConnection();
    } catch (const kv::Error&) {
    }
  }
  // Nothing of the failed request stays open; the next request makes its own processor.
  s.objRequestProcessor.reset();
}

std::string qbXMLRPWrapper::QBXMLRPCall(const std::string& requestXML) {
  bRPError = false;
  sRPErrorText.clear();
  QBSessionState& s = Module().session;
  std::string response;
  try {
    // Replacing the processor releases the one of the check session, which ends its session and connection.
    s.objRequestProcessor = platform::qb::CreateRequestProcessor();
    s.objRequestProcessor->OpenConnection(kQBAppID, kQBAppName);
    s.bRPConnectionOpen = true;
    s.sTicket = s.objRequestProcessor->BeginSession("", platform::qb::kOpenModeDoNotCare);
    RequireTicket(s.sTicket);
    s.bRPSessionOpen = true;
    if (!requestXML.empty()) response = s.objRequestProcessor->ProcessRequest(s.sTicket, requestXML);
    s.objRequestProcessor->EndSession(s.sTicket);
    s.bRPSessionOpen = false;
    s.objRequestProcessor->CloseConnection();
    s.bRPConnectionOpen = false;
    if (!requestXML.empty() && response.empty()) {
      bRPError = true;
      sRPErrorText = "qbXML: no response!";
    }
    s.objRequestProcessor.reset();
  } catch (const kv::Error& e) {
    bRPError = true;
    sRPErrorText = e.description();
  }
  return response;
}

void EndQBSession() {
  QBSessionState& s = Module().session;
  if (s.sTicket.empty() || !s.objRequestProcessor || !s.bConnectionOpen) return;
  try {
    s.objRequestProcessor->EndSession(s.sTicket);
  } catch (const kv::Error&) {
  }
  s.sTicket.clear();
}

void CloseQBConnection() {
  QBSessionState& s = Module().session;
  if (!s.objRequestProcessor || !s.bConnectionOpen) return;
  try {
    s.objRequestProcessor->CloseConnection();
  } catch (const kv::Error&) {
  }
  s.bConnectionOpen = false;
  s.objRequestProcessor.reset();
}

}  // namespace tessarine
