#include "download_control/module_state.h"

#include "platform/qb/request_processor.h"

namespace tessarine {

QBSessionState::QBSessionState() = default;
QBSessionState::~QBSessionState() = default;
QBSessionState::QBSessionState(QBSessionState&&) noexcept = default;
QBSessionState& QBSessionState::operator=(QBSessionState&&) noexcept = default;

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
