// The add requests of one record: build, send, and show what went wrong.

#include "download_control/kvr_download_ctl.h"
#include "download_control/message_sets.h"
#include "download_control/module_state.h"
#include "download_control/qbxml_text.h"
#include "download_control/time_requests.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;
using platform::forms::vbOKOnly;

namespace {

// The id goes on the message set only where QuickBooks knows the attribute; older versions refuse the request.
std::string_view RequestMessageSetID(const std::string& message_set_id) {
  return kv::qb::HasErrorRecovery(Module().session.QBXMLVersionCode) ? std::string_view(message_set_id)
                                                                     : std::string_view();
}

}  // namespace

bool KVRDowloadctl::PostTimeActivity(RecordType type, int32_t id, const std::string& data) {
  bQBError = false;
  sRequestXML.clear();
  sResponseXML.clear();
  sMessageSetID = NewMessageSetID();
  BuildQBXMLRequest(type, id, data);
  return SendBuiltRequest();
}

bool KVRDowloadctl::SendBuiltRequest() {
  if (!bQBError) SendJournaledRequest();
  if (bQBError) {
    MsgBox(sQBErrorText, vbOKOnly);
    return false;
  }
  return true;
}

void KVRDowloadctl::BuildQBXMLRequest(RecordType type, int32_t /*id*/, const std::string& data) {
  lngRequestID = 0;
  std::string requests;
  try {
    if (type == RecordType::kTime) {
      ++lngRequestID;
      requests = BuildTimeTrackingAddRq(data, lngRequestID, Module().currentTimeRecord);
    } else if (type == RecordType::kLeave) {
      ++lngRequestID;
      requests = BuildLeaveTrackingAddRq(data, lngRequestID, Module().currentTimeRecord);
    }
  } catch (const kv::Error& e) {
    bQBError = true;
    sQBErrorText = e.description();
    return;
  }
  sRequestBody = kv::qb::QBXMLBody(requests, RequestMessageSetID(sMessageSetID));
  sRequestXML = kv::qb::QBXMLDocumentHeader(Module().session.QBXMLVersionCode) + sRequestBody;
}

bool KVRDowloadctl::PostExpense() {
  bQBError = false;
  sRequestXML.clear();
  sResponseXML.clear();
  sMessageSetID = NewMessageSetID();
  if (currentExpense.bCurExpIsBill) {
    CreateBillAddRq();
  } else {
    CreateCheckAddRq();
  }
  return SendBuiltRequest();
}

void KVRDowloadctl::CreateBillAddRq() {
  lngRequestID = 1;
  try {
    sRequestXML = BuildBillAddRq(currentExpense, Module().session.QBXMLVersionCode, RequestMessageSetID(sMessageSetID));
  } catch (const kv::Error& e) {
    bQBError = true;
    sQBErrorText = e.description();
  }
}

void KVRDowloadctl::CreateCheckAddRq() {
  lngRequestID = 1;
  try {
    sRequestXML =
        BuildCheckAddRq(currentExpense, Module().session.QBXMLVersionCode, RequestMessageSetID(sMessageSetID));
  } catch (const kv::Error& e) {
    bQBError = true;
    sQBErrorText = e.description();
  }
}

}  // namespace tessarine
