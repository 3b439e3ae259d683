#pragma once

// The addresses of the service pages the download control calls, and how it reads the status page's answer.

#include <string>
#include <string_view>

#include "download_control/module_state.h"

namespace tessarine {

inline constexpr char kDownloadPage[] = "kalvordownload.asp";
inline constexpr char kStatusPage[] = "kalvorupdatestatus.asp";

// kalvordownload.asp with the site, the database type 4 and the two choices of the page, in this key order.
std::string DownloadUrl(const DownloadParameters& params);

// The ids of one report, by the transaction type that filled them.
struct StatusIds {
  std::string time;
  std::string leave;
  std::string expense_items;
  bool Empty() const { return time.empty() && leave.empty() && expense_items.empty(); }
};
// "TA" fills the time ids, "LA" the leave ids, "EXP" the expense item ids; any other type none.
StatusIds IdsOfType(const std::string& ids, const std::string& type);

// kalvorupdatestatus.asp with the ids, the type, the user and the bill-or-check flag; EEIDs always empty.
std::string StatusUrl(const DownloadParameters& params, const StatusIds& ids, const std::string& type,
                      bool bill_or_check);

// What the results grid shows as the reason for an answer that was not "SUCCESS": the third "|"-part of an
// answer of three parts where the service put its reason there, else the whole answer.
std::string FailureReason(std::string_view answer, const std::string& type);

// Whether QuickBooks' answer to an add request says it added the transaction: an add response with status code 0
// or with the transaction it made.
bool QuickBooksTookRecord(std::string_view response);
// Whether it says QuickBooks refused the add: an add response that neither took the record nor holds what it
// made. An answer that cannot be read, or holds no add response, says neither.
bool QuickBooksRefusedRecord(std::string_view response);

// The grid's reason for a record that is in QuickBooks while its status report never reached a verdict of the
// service: the service still has it pending and would hand it out again, so the user must not post it again.
std::string NotToldReason(std::string_view transport_reason);

// The grid's reason for a record an earlier download added to QuickBooks and this one only reported.
std::string EarlierRunReason(std::string_view reason);

}  // namespace tessarine
