#pragma once

// The class QuickBooks creates and calls when one of the agent's menu items is picked. It reads the site
// values back from the agent's own subscription, takes the picked item's tag out of the event text and runs
// the item's action.

#include <string>
#include <string_view>
#include <vector>

#include "platform/qb/event_callback.h"

namespace corvalink {

class QBMenuListener final : public platform::qb::IQBEventCallback {
 public:
  // Class_Initialize: loads the host form when it is not loaded, and hides it.
  QBMenuListener();
  // Class_Terminate: hides and unloads the host form.
  ~QBMenuListener() override;
  QBMenuListener(const QBMenuListener&) = delete;
  QBMenuListener& operator=(const QBMenuListener&) = delete;

  // Failures (QuickBooks, a tag that is not a number, an action's error) raise kv::Error to the caller and stop
  // the dispatch of further tag lines.
  void inform(const std::string& eventXML) override;
};

// The tag lines of an event text, in line order: the text is split at LF only (a CR stays at the end of its
// line) and a tag line begins exactly with "<EventTag>". An event text without LF has none.
std::vector<std::string> EventTagLines(std::string_view eventXML);
// The tag text of a tag line: the line without its first 10 and its last 11 characters. A line shorter than
// 21 characters raises kv::Error 5.
std::string TagTextOf(std::string_view tagLine);
// A tag text as a signed 32-bit number: blanks around it allowed, a fraction rounded half to even; anything
// else raises kv::Error 13 (type mismatch), a value outside the range 6 (overflow).
long TagNumber(std::string_view text);

}  // namespace corvalink
