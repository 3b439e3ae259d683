#pragma once

// The run's one index of the QuickBooks response, shared by the converters.

#include <string>
#include <vector>

#include "platform/xml/element_index.h"

namespace brintavel {

// The response of the run, Module().sQBXMLResponse, read once: whether it parses, how many records of each name it
// holds and where they stand. The run's index when the dispatcher made one that covers these names, else one made
// now. It reads the response in place, which nothing changes while a converter runs.
platform::xml::ElementIndex ResponseIndex(const std::vector<std::string>& names);

}  // namespace brintavel
