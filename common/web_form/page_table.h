#pragma once

// How a web-request form judges the answer of a service page. Each deliverable's copy of the form carries its
// own page table; the judging procedure is the same for all.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// What a page rule decides about an answer: good, bad, or nothing (the flag keeps the caller's value).
enum class PageVerdict { kGood, kBad, kKeep };

struct PageRule {
  std::string page;  // file name of the service page, compared exactly, letter case included
  std::function<PageVerdict(std::string_view answer)> judge;  // answer: the trimmed body text
};

using PageTable = std::vector<PageRule>;

// The judgement flag after applying the rule of page to the answer; a page outside the table, or a rule that
// decides nothing, leaves flag_before.
bool JudgeAnswer(const PageTable& table, std::string_view page, std::string_view answer, bool flag_before);

// Pieces the rules are made of.
// The first n characters of the answer, upper-cased (fewer when the answer is shorter).
std::string UpperPrefix(std::string_view answer, size_t n);
// Whether the answer begins with "ERROR" in any letter case.
bool BeginsWithError(std::string_view answer);

// The download control's table: "kalvordownload.asp" and "kalvorupdatestatus.asp".
const PageTable& KVRDownloadPageTable();

}  // namespace kv
