#pragma once

// Whether an index parsed in pieces answers as the index of the whole text does.

#include <string>
#include <vector>

namespace kv::test_support::xml {

// One line per answer that differs between the index of the whole text and one cut into up to `parts` pieces as
// short as the text allows: whether it parses and why not, the count and the places of every name, whether the
// places were kept, the prolog. Empty when they agree.
std::vector<std::string> CutDisagreements(const std::string& text, const std::vector<std::string>& names, size_t parts);

}  // namespace kv::test_support::xml
