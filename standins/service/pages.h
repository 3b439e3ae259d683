#pragma once

// The normal answers of the service stand-in's pages, apart from the server so tests can call them directly.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "standins/service/data_dir.h"

namespace standins::service {

struct PageRequest {
  std::string page;                                        // last segment of the path, as sent
  std::vector<std::pair<std::string, std::string>> query;  // decoded, in order
  std::string base_url;                                    // the stand-in's own address, ending in "/"
  std::string body;                                        // the posted bytes
};

struct Answer {
  int status = 200;
  std::string body;
  std::string content_type = "text/plain";
};

// The value of a query key, keys compared without regard to letter case; "" when absent.
std::string QueryValue(const PageRequest& request, std::string_view key);

// What the service answers when no scripted answer is given: "SUCCESS" for uploads, the judgement of a status
// report (see JudgeStatusReport; a record it accepts is transferred), the pending lines not yet transferred for
// downloads, the account lines for sign-in, "Success" for the company-file registration, and the pages that embed
// a control; a page bound to a site answers an unknown site or a wrong key with an error (data_dir.h). Any other
// page: 404.
// kAnswerOnly gives the answer the page would give and changes nothing: the request failed before the page ran.
enum class PageWork { kDo, kAnswerOnly };
Answer NormalAnswer(DataDir& data, const PageRequest& request, PageWork work = PageWork::kDo);

// The service's answer to a download's status report, whose body is QuickBooks' answer to the record's add request:
// "SUCCESS" when QuickBooks answered and no answer in it has the severity "Error", else "ERROR|ids|reason" with
// QuickBooks' status message (or why there is none) as the reason.
std::string JudgeStatusReport(std::string_view ids, std::string_view body);

// An answer file's content type: HTML when it looks like a page, else plain text.
std::string ContentTypeOf(std::string_view body);

// The refusal of the sign-in page for an unknown user or a wrong password.
inline constexpr std::string_view kSignInRefused = "ERROR:Invalid username or password. Please try again.";
// The reason of the error answer to a site the service does not know, or a wrong key.
inline constexpr std::string_view kUnknownSite = "The site code or site key is not known to Kalvor.";
// The reason of the error answer to a status report of a record the site never had pending.
inline constexpr std::string_view kNotPending = "The record is not pending at Kalvor for this site.";

}  // namespace standins::service
