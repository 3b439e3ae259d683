// The download control's QuickBooks session: its ContactQuickBooks over the shared core, the company-file
// check on disk, and the sending of one request over a connection and session of its own.

#include "download_control/qb_session.h"

#include <filesystem>
#include <system_error>

#include "common/qb_session.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"

namespace tessarine {

namespace {

// An empty ticket would let the requests that follow go to whatever QuickBooks has open.
void RequireTicket(const std::string& ticket) {
  if (ticket.empty()) throw kv::Error(platform::qb::kErrQBNotRunning, kv::qb::kFileNotOpenMessage);
}

}  // namespace

int32_t KVRDowloadctl::ContactQuickBooks() {
  bQBError = false;
  sQBErrorText.clear();
  QBSessionState& s = Module().session;
  const std::string& qb_file_path = Module().params.QBFilePath;
  try {
    const kv::qb::ContactResult contact = kv::qb::OpenCheckedSession(s, qb_file_path, kv::qb::kDownloadContact);
    if (contact.check == kv::qb::SessionCheck::kNoSession) s.QBXMLVersionCode = kv::qb::QBXMLVersion::kUS1_0;
    RequireTicket(s.sTicket);
    if (contact.check == kv::qb::SessionCheck::kOtherFile) {
      bQBError = true;
      sQBErrorText = kv::qb::WrongCompanyFileMessage(contact.currentFile, qb_file_path);
      return 0;
    }
    s.QBXMLVersionCode = contact.versionCode;
    return 1;
  } catch (const kv::Error& e) {
    sQBErrorText = kv::qb::ContactFailureText(e.description());
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

KVRDowloadctl::QBRequestResult KVRDowloadctl::SendQBRequest(const std::string& request) {
  QBSessionState& s = Module().session;
  QBRequestResult result;
  {
    qbXMLRPWrapper wrapper;
    result.response = wrapper.QBXMLRPCall(request);
    result.error = wrapper.GetErrorStatus();
    result.error_text = wrapper.GetqbXMLMsg();
    result.reached = wrapper.Reached();
  }
  if (!result.error) return result;
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
  return result;
}

std::string qbXMLRPWrapper::QBXMLRPCall(const std::string& requestXML) {
  bRPError = false;
  bReached = false;
  sRPErrorText.clear();
  QBSessionState& s = Module().session;
  std::string response;
  try {
    // Replacing the processor releases the one of the check session, which ends its session and connection.
    s.objRequestProcessor = platform::qb::CreateRequestProcessor();
    s.objRequestProcessor->OpenConnection(kv::qb::kAppID, kv::qb::kAppName);
    s.bRPConnectionOpen = true;
    s.sTicket = s.objRequestProcessor->BeginSession("", platform::qb::kOpenModeDoNotCare);
    RequireTicket(s.sTicket);
    s.bRPSessionOpen = true;
    if (!requestXML.empty()) {
      bReached = true;
      response = s.objRequestProcessor->ProcessRequest(s.sTicket, requestXML);
    }
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
  kv::qb::EndSessionQuietly(Module().session);
}

void CloseQBConnection() {
  kv::qb::CloseConnectionQuietly(Module().session);
}

}  // namespace tessarine
