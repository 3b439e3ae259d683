// The module state's thread-local slot, so that each host thread starts with its own and tests with a fresh one.

#include "sync_control/module_state.h"

#include "platform/forms/event_loop.h"
#include "sync_control/upload_form.h"

namespace brintavel {
namespace {

std::unique_ptr<ModWizard>& Slot() {
  // The state holds a form whose browser and timer are bound to the thread's event loop: made first, the loop
  // is destroyed last when the thread ends.
  platform::forms::EventLoop::Current();
  thread_local std::unique_ptr<ModWizard> state;
  return state;
}

}  // namespace

ModWizard& Module() {
  auto& slot = Slot();
  if (!slot) slot = std::make_unique<ModWizard>();
  return *slot;
}

void ResetModule() {
  Slot() = std::make_unique<ModWizard>();
}

}  // namespace brintavel
