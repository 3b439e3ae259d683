// The control's answers to the host's IObjectSafety questions.

#include "platform/base/error.h"
#include "platform/com/guid.h"
#include "sync_control/brintavel_ctl.h"

namespace brintavel {
namespace {

using platform::activex::INTERFACESAFE_FOR_UNTRUSTED_CALLER;
using platform::activex::INTERFACESAFE_FOR_UNTRUSTED_DATA;
using platform::activex::SafetyOptionFor;

[[noreturn]] void Fail(platform::com::HRESULT hr, const char* text) {
  throw kv::Error(hr, text);
}

}  // namespace

void BrintavelCtl::GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported_options,
                                             uint32_t& enabled_options) {
  supported_options = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  const uint32_t option = SafetyOptionFor(riid);
  if (option == 0) Fail(platform::com::E_NOINTERFACE, "No such interface supported");
  enabled_options = option;
}

void BrintavelCtl::SetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t options_set_mask,
                                             uint32_t enabled_options) {
  const uint32_t option = SafetyOptionFor(riid);
  if (option == 0) Fail(platform::com::E_NOINTERFACE, "No such interface supported");
  // Each interface is made safe for its own option only; asking for both or for none is refused.
  if ((options_set_mask & enabled_options) != option) Fail(platform::com::E_FAIL, "Unspecified error");
}

}  // namespace brintavel
