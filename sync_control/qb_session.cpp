#include "common/error.h"
#include "common/file_identity.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"
#include "platform/qb/request_processor.h"
#include "sync_control/brintavel_ctl.h"

namespace brintavel {
namespace {

// Who this application is to QuickBooks; the user grants the company file to this identity.
constexpr const char* kAppId = "731-5096-4482630";
constexpr const char* kAppName = "Pellucent";

constexpr std::string_view kFileNotOpen =
    "Your Quickbooks file is not open, please open your Quickbooks file and try again.";

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

int32_t QBXMLVersionCode(std::string_view version) {
  if (version == "1.0") return 0;
  if (version == "1.1") return 1;
  if (version == "2.0") return 2;
  if (version == "CA1.0") return 6;
  if (version == "CA1.1") return 7;
  if (version == "CA2.0") return 8;
  if (version == "UK2.0") return 11;
  return 0;
}

int32_t BrintavelCtl::ContactQuickBooks() {
  ModWizard& m = Module();
  ClearError(m);
  // Whatever an earlier run left open is ended first: a forgotten session keeps the company file locked.
  if (m.objRequestProcessor) {
    if (!m.sTicket.empty() && m.bConnectionOpen) {
      try {
        m.objRequestProcessor->EndSession(m.sTicket);
      } catch (const std::exception&) {
        // The old session may already be gone with QuickBooks; releasing the processor ends what is left.
      }
    }
    if (m.bConnectionOpen) {
      try {
        m.objRequestProcessor->CloseConnection();
      } catch (const std::exception&) {
      }
    }
  }
  m.sTicket.clear();
  m.bConnectionOpen = false;
  m.objRequestProcessor.reset();

  try {
    m.objRequestProcessor = platform::qb::CreateRequestProcessor();
    m.objRequestProcessor->OpenConnection(kAppId, kAppName);
    m.bConnectionOpen = true;
    m.sTicket = m.objRequestProcessor->BeginSession("", platform::qb::kOpenModeDoNotCare);
    if (m.sTicket.empty()) {
      // Without a session there is nothing to check or query; the run must not go on as if there were.
      m.lngQBXMLVersion = 0;
      SetError(m, std::string(kFileNotOpen));
      return 0;
    }

    const std::string current = m.objRequestProcessor->GetCurrentCompanyFileName(m.sTicket);
    if (!kv::SameFile(current, QBFilePath)) {
      SetError(m, "Your Current Quickbooks file '" + current +
                      "' does not match with the QB file you are using with "
                      "Kalvor '" +
                      QBFilePath + "'. \r\nPlease open the correct Quickbooks file and try again.");
      return 0;
    }

    const auto versions = m.objRequestProcessor->QBXMLVersionsForSession(m.sTicket);
    // Only the newest version counts; no list, or an empty one, means the oldest header.
    m.lngQBXMLVersion = versions && !versions->empty() ? QBXMLVersionCode(versions->back()) : 0;
    return 1;
  } catch (const std::exception& e) {
    const std::string message = ErrorText(e);
    SetError(m, message.starts_with(platform::qb::kNotRunningText) ? std::string(kFileNotOpen) : message);
    // A session begun before the failure is ended here: its ticket is forgotten below.
    if (!m.sTicket.empty() && m.objRequestProcessor) {
      try {
        m.objRequestProcessor->EndSession(m.sTicket);
      } catch (const std::exception&) {
      }
    }
    m.sTicket.clear();
    return 0;
  }
}

void ProcessQBRequest() {
  ModWizard& m = Module();
  ClearError(m);
  // Released, not just emptied, so the last answer does not stay beside the next one while it arrives.
  std::string().swap(m.sQBXMLResponse);
  try {
    if (!m.objRequestProcessor) throw kv::Error(kv::kErrObjectRequired, "Object required");
    m.sQBXMLResponse = m.objRequestProcessor->ProcessRequest(m.sTicket, m.sQBXMLRequest);
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
    if (!m.sTicket.empty() && m.bConnectionOpen && m.objRequestProcessor) m.objRequestProcessor->EndSession(m.sTicket);
  } catch (const std::exception& e) {
    SetError(m, ErrorText(e));
  }
}

void CloseQBConnection() {
  ModWizard& m = Module();
  ClearError(m);
  try {
    if (m.bConnectionOpen && m.objRequestProcessor) {
      m.objRequestProcessor->CloseConnection();
      m.bConnectionOpen = false;
    }
  } catch (const std::exception& e) {
    SetError(m, ErrorText(e));
  }
}

}  // namespace brintavel
