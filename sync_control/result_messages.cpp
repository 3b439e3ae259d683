// The texts of the sync's result codes and sync modes.

#include "sync_control/result_messages.h"

#include "common/utility_result.h"
#include "sync_control/module_state.h"

namespace brintavel {

std::string GetSyncModeName(int32_t mode) {
  switch (mode) {
    case kSyncModeNone:
      return "None";
    case kSyncModeUpload:
      return "Upload";
    case kSyncModeDownload:
      return "Download";
    default:
      return "";
  }
}

std::string GetResultMessage(int32_t result) {
  const std::string& server = Module().sServerMessage;
  switch (result) {
    case kvurSuccess:
      return GetSyncModeName(Module().lngSyncMode) + " Completed.";
    case kvurAspFailed:
      // Two answers the service is known to give get advice instead of the raw text.
      if (server == "Invalid site code or site key. Kindly try again.") {
        return "Could not connect to the Staffmere. Your account has not been setup or has expired. Go to Maintain | "
               "Staffmere | Setup; to setup or renew your account.";
      }
      if (server == "Action cancelled") {
        return "Could not connect to the Staffmere. Please check if you have an internet connection and it is "
               "properly setup.";
      }
      return "The following error occured while executing ASP.\r\n\r\n" + server;
    case kvurNoDataToUpload:
      return "There are no employees in this database with web access.";
    case kvurProcessInterrupted:
      return "Sync process cancelled on user request.";
    case kvurSystemError:
      // Error number 0 in the upload's own error text means the transport never reached the service.
      if (server.starts_with("Number : 0")) {
        return "Could not connect to the Staffmere. Please check if you are connected to internet.";
      }
      return "The following system error occured while processing.\r\n\r\n" + server;
    case kvurUnknownError:
      return "An unknown error has occured. Kindly contact the system administrator.";
    default:
      return "";
  }
}

}  // namespace brintavel
