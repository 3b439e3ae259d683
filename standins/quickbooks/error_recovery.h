#pragma once

// QuickBooks' error-recovery memory: the last message set each application sent with an id, and its answer.

#include <optional>
#include <string>
#include <string_view>

#include "standins/quickbooks/company_file.h"

namespace standins::quickbooks {

// QuickBooks keeps error-recovery state per application, as it named itself to OpenConnection.
struct Application {
  std::string id;
  std::string name;
};

// The element of a company file that keeps an application's last message set sent with newMessageSetID:
//
//   <QBStandinMessageSet><AppID>...</AppID><AppName>...</AppName><MessageSetID>...</MessageSetID>
//     <Response>the response, escaped</Response></QBStandinMessageSet>          (on one line)
//
// It is written in the same replace of the file as the records that message set added, so the two are never on
// disk without each other. Queries pass it over: no query names it.
inline constexpr std::string_view kKeptMessageSetElement = "QBStandinMessageSet";

struct KeptMessageSet {
  const Record* record = nullptr;  // the element in the company file
  std::string messageSetID;
  std::string response;  // empty when nothing was kept with the id
};

// The application's kept message set, or nothing.
std::optional<KeptMessageSet> FindKeptMessageSet(const Company& company, const Application& application);

// The element keeping a response, at column 0.
std::string KeptMessageSetElement(const Application& application, std::string_view messageSetID,
                                  std::string_view response);

// A whole response document whose message set holds nothing but its status.
std::string MessageSetStatusResponse(int messageSetStatusCode);

}  // namespace standins::quickbooks
