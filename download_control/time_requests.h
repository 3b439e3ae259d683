#pragma once

// The TimeTrackingAddRq of one downloaded time ("TA") or leave ("LA") record.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/date_time.h"

namespace tessarine {

// The record being posted, kept for the results grid. Texts are kept as the service sent them, leave
// records included; they are escaped only where a request is written.
struct CurrentTimeRecord {
  kv::DateTime dtActivityDate;
  std::string sEmployeeName;
  std::string sCustomerJob;
  std::string sServiceItem;
  double dblHours = 0;
  std::string sClassName;
  std::string sPayrollItem;
  std::string sNotes;
  bool bBillable = false;
  int32_t lngWholeHours = 0;
  int32_t lngMinutes = 0;
};

// Fields of a data line: 0 activity date, 1 employee, 2 customer:job, 3 service item, 4 hours, 5 class,
// 6 payroll item, 7 notes, 8 billable.
inline constexpr size_t kTimeDataFields = 9;

// Clears the record and fills it from the data line, texts first so that a record whose date or hours do not
// convert still shows its employee in the grid, then returns the TimeTrackingAddRq element. Throws kv::Error
// with a reason for a short line or a value that does not convert.
std::string BuildTimeTrackingAddRq(std::string_view data, int32_t request_id, CurrentTimeRecord& record);
// The same for a leave record: no customer, service item or notes; billable follows the flag alone.
std::string BuildLeaveTrackingAddRq(std::string_view data, int32_t request_id, CurrentTimeRecord& record);

}  // namespace tessarine
