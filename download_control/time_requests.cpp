// The time and leave add requests, built from one downloaded data line.

#include "download_control/time_requests.h"

#include <vector>

#include "download_control/qbxml_text.h"
#include "platform/base/error.h"
#include "platform/base/text.h"

namespace tessarine {
namespace {

enum class ActivityKind { kTime, kLeave };

std::vector<std::string> SplitDataLine(std::string_view data) {
  std::vector<std::string> fields = kv::Split(data, "|");
  if (fields.size() < kTimeDataFields) {
    throw kv::Error(9, "The record's data line has " + std::to_string(fields.size()) + " field(s) where " +
                           std::to_string(kTimeDataFields) + " are needed: '" + std::string(data) + "'");
  }
  return fields;
}

void FillRecord(const std::vector<std::string>& f, ActivityKind kind, CurrentTimeRecord& r) {
  r.sEmployeeName = f[1];
  if (kind == ActivityKind::kTime) {
    r.sCustomerJob = f[2];
    r.sServiceItem = f[3];
    r.sNotes = f[7];
  }
  r.sClassName = f[5];
  r.sPayrollItem = f[6];
  r.dtActivityDate = ReadServiceDate(f[0]);
  r.dblHours = ReadNumberText(f[4], "hours");
  r.bBillable = ReadFlagText(f[8], "billable flag");
  const Duration d = DurationOf(r.dblHours);
  r.lngWholeHours = d.whole_hours;
  r.lngMinutes = d.minutes;
}

std::string BuildActivity(std::string_view data, int32_t request_id, CurrentTimeRecord& r, ActivityKind kind) {
  r = CurrentTimeRecord{};
  FillRecord(SplitDataLine(data), kind, r);
  const bool time = kind == ActivityKind::kTime;
  std::string rq = "<TimeTrackingAddRq requestID = \"" + std::to_string(request_id) + "\">\r\n";
  rq += "<TimeTrackingAdd>\r\n";
  rq += "<TxnDate>" + QBDateText(r.dtActivityDate) + "</TxnDate>\r\n";
  rq += FullNameElement("EntityRef", EscapeXMLText(r.sEmployeeName));
  if (time && !r.sCustomerJob.empty()) rq += FullNameElement("CustomerRef", EscapeXMLText(r.sCustomerJob));
  // An empty reference names no item and QuickBooks refuses it; time without a service item simply has none.
  if (time && !kv::TrimBlanks(r.sServiceItem).empty()) {
    rq += FullNameElement("ItemServiceRef", EscapeXMLText(r.sServiceItem));
  }
  rq += "<Duration>" + DurationText({r.lngWholeHours, r.lngMinutes}) + "</Duration>";
  if (!kv::TrimBlanks(r.sClassName).empty()) rq += FullNameElement("ClassRef", EscapeXMLText(r.sClassName));
  if (!kv::TrimBlanks(r.sPayrollItem).empty()) {
    rq += FullNameElement("PayrollItemWageRef", EscapeXMLText(r.sPayrollItem));
  }
  if (time) rq += "<Notes>" + EscapeXMLText(r.sNotes) + "</Notes>\r\n";
  // Time without a customer cannot be billed to anyone.
  const bool billable = time ? (!r.sCustomerJob.empty() && r.bBillable) : r.bBillable;
  rq += billable ? "<IsBillable>1</IsBillable>\r\n" : "<IsBillable>0</IsBillable>\r\n";
  rq += "</TimeTrackingAdd>\r\n</TimeTrackingAddRq>\r\n";
  return rq;
}

}  // namespace

std::string BuildTimeTrackingAddRq(std::string_view data, int32_t request_id, CurrentTimeRecord& record) {
  return BuildActivity(data, request_id, record, ActivityKind::kTime);
}

std::string BuildLeaveTrackingAddRq(std::string_view data, int32_t request_id, CurrentTimeRecord& record) {
  return BuildActivity(data, request_id, record, ActivityKind::kLeave);
}

}  // namespace tessarine
