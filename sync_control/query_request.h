#pragma once

// The run's qbXML query and the record elements its answer is read for.

#include <string>
#include <vector>

#include "sync_control/module_state.h"

namespace brintavel {

// The run's one qbXML query: one message per ticked list (four for items, two for expenses), each asking for
// every record, active or not, under the document header that the session's version code needs.
std::string BuildQueryRequestText(const ModWizard& state);
// The record elements of the answers that the converters of the ticked lists read, the sales-tax codes among them.
std::vector<std::string> ConvertedRecordElements(const ModWizard& state);

}  // namespace brintavel
