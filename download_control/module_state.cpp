// The thread's copy of the library's module state and its reset for tests.

#include "download_control/module_state.h"

namespace tessarine {

namespace {
thread_local std::unique_ptr<TessarineModule> t_module;
}  // namespace

TessarineModule& Module() {
  if (!t_module) t_module = std::make_unique<TessarineModule>();
  return *t_module;
}

void ResetModule() {
  t_module = std::make_unique<TessarineModule>();
}

}  // namespace tessarine
