// The run's one index of the response, reused by every converter instead of a parse each.

#include "sync_control/response_index.h"

#include <algorithm>

#include "sync_control/module_state.h"

namespace brintavel {

platform::xml::ElementIndex ResponseIndex(const std::vector<std::string>& names) {
  const ModWizard& m = Module();
  const platform::xml::ElementIndex* run = m.responseIndex.get();
  const bool usable = run != nullptr && run->text().data() == m.sQBXMLResponse.data() &&
                      run->text().size() == m.sQBXMLResponse.size() &&
                      std::all_of(names.begin(), names.end(), [run](const std::string& n) { return run->Holds(n); });
  if (usable) return *run;
  return platform::xml::ElementIndex(m.sQBXMLResponse, names);
}

}  // namespace brintavel
