#pragma once

// Whether the record scanner reads a text as libxml2's tree of it does: every answer a converter asks of a record
// (the text of each path of names, the element children and their own answers, where the index places the record)
// is asked of both.

#include <string>
#include <string_view>
#include <vector>

namespace kv::test_support::xml {

// One line per answer that differs, naming the record, the question and both answers; empty when they agree.
// A text that does not parse must fail alike in the index and in a load.
std::vector<std::string> RecordDisagreements(std::string_view text, const std::vector<std::string>& names);

}  // namespace kv::test_support::xml
