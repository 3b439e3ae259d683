// Judging a service answer by the rules of its page, and the table of the download's pages.

#include "common/web_form/page_table.h"

#include "platform/base/text.h"

namespace kv {

bool JudgeAnswer(const PageTable& table, std::string_view page, std::string_view answer, bool flag_before) {
  for (const PageRule& rule : table) {
    if (rule.page != page) continue;
    switch (rule.judge(answer)) {
      case PageVerdict::kGood:
        return true;
      case PageVerdict::kBad:
        return false;
      case PageVerdict::kKeep:
        return flag_before;
    }
  }
  return flag_before;
}

std::string UpperPrefix(std::string_view answer, size_t n) {
  return ToUpperAscii(answer.substr(0, n));
}

bool BeginsWithError(std::string_view answer) {
  return UpperPrefix(answer, 5) == "ERROR";
}

const PageTable& KVRDownloadPageTable() {
  static const PageTable table = {
      {"kalvordownload.asp",
       [](std::string_view answer) {
         // The pending lines begin with a record header; an empty answer means nothing is pending.
         const std::string prefix = UpperPrefix(TrimTrailingLineBreaks(answer), 2);
         const bool lines = prefix.empty() || prefix == "EX" || prefix == "LA" || prefix == "TA";
         return !BeginsWithError(answer) && lines ? PageVerdict::kGood : PageVerdict::kKeep;
       }},
      {"kalvorupdatestatus.asp",
       [](std::string_view answer) {
         if (ToUpperAscii(TrimTrailingLineBreaks(answer)) == "SUCCESS") return PageVerdict::kGood;
         return BeginsWithError(answer) ? PageVerdict::kBad : PageVerdict::kKeep;
       }},
  };
  return table;
}

}  // namespace kv
