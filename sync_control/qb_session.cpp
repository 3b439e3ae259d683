// The control's QuickBooks session: connect, send the query, end, close, through the shared session core.

#include "common/qb_session.h"
#include "platform/base/error.h"
#include "sync_control/brintavel_ctl.h"

namespace brintavel {
namespace {

void ClearError(ModWizard& m) {
  m.bSyncError = false;
  m.sSyncErrorText.clear();
}

void SetError(ModWizard& m, std::string text) {
  m.sSyncErrorText = std::move(text);
  m.bSyncError = true;
}

std::string ErrorText(const std::exception& e) {
  if (auto* error = dynamic_cast<const kv::Error*>(&e)) return error->description();
  return e.what();
}

}  // namespace

int32_t BrintavelCtl::ContactQuickBooks() {
  ModWizard& m = Module();
  ClearError(m);
  // Whatever an earlier run left open is ended first: a forgotten session keeps the company file locked.
  kv::qb::EndSessionQuietly(m.qb);
  kv::qb::CloseConnectionQuietly(m.qb);
  m.qb = {};

  try {
    const kv::qb::ContactResult contact = kv::qb::OpenCheckedSession(m.qb, QBFilePath, kv::qb::kSyncContact);
    switch (contact.check) {
      case kv::qb::SessionCheck::kNoSession:
        // Without a session there is nothing to check or query; the run must not go on as if there were.
        m.lngQBXMLVersion = kv::qb::QBXMLVersion::kUS1_0;
        SetError(m, kv::qb::kFileNotOpenMessage);
        return 0;
      case kv::qb::SessionCheck::kOtherFile:
        SetError(m, kv::qb::WrongCompanyFileMessage(contact.currentFile, QBFilePath));
        return 0;
      case kv::qb::SessionCheck::kOpen:
        m.lngQBXMLVersion = contact.versionCode;
        return 1;
    }
    return 0;
  } catch (const std::exception& e) {
    SetError(m, kv::qb::ContactFailureText(ErrorText(e)));
    // A session begun before the failure is ended here: its ticket is forgotten below.
    if (!m.qb.sTicket.empty() && m.qb.objRequestProcessor) {
      try {
        m.qb.objRequestProcessor->EndSession(m.qb.sTicket);
      } catch (const std::exception&) {
      }
    }
    m.qb.sTicket.clear();
    return 0;
  }
}

void ProcessQBRequest() {
  ModWizard& m = Module();
  ClearError(m);
  // Released, not just emptied, so the last answer does not stay beside the next one while it arrives.
  std::string().swap(m.sQBXMLResponse);
  try {
    if (!m.qb.objRequestProcessor) throw kv::Error(kv::kErrObjectRequired, "Object required");
    m.sQBXMLResponse = m.qb.objRequestProcessor->ProcessRequest(m.qb.sTicket, m.sQBXMLRequest);
    if (!m.sQBXMLRequest.empty() && m.sQBXMLResponse.empty()) SetError(m, "qbXML: no response!");
  } catch (const std::exception& e) {
    m.sQBXMLResponse.clear();
    SetError(m, ErrorText(e));
  }
}

void EndQBSession() {
  ModWizard& m = Module();
  ClearError(m);
  try {
    if (!m.qb.sTicket.empty() && m.qb.bConnectionOpen && m.qb.objRequestProcessor) {
      m.qb.objRequestProcessor->EndSession(m.qb.sTicket);
    }
  } catch (const std::exception& e) {
    SetError(m, ErrorText(e));
  }
}

void CloseQBConnection() {
  ModWizard& m = Module();
  ClearError(m);
  try {
    if (m.qb.bConnectionOpen && m.qb.objRequestProcessor) {
      m.qb.objRequestProcessor->CloseConnection();
      m.qb.bConnectionOpen = false;
    }
  } catch (const std::exception& e) {
    SetError(m, ErrorText(e));
  }
}

}  // namespace brintavel
