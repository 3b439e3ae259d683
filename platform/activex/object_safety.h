#pragma once

// IObjectSafety, the declaration a scriptable control makes to its host, apart from the control type because
// only some controls offer it.

#include <cstdint>
#include <functional>

#include "platform/com/guid.h"

namespace platform::activex {

inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1;
inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 2;

// The safety declaration a scriptable control offers its host. A failure is thrown as a kv::Error whose number
// is the HRESULT (platform::com::E_NOINTERFACE, E_FAIL). The null Guid stands for a missing interface id.
class IObjectSafety {
 public:
  virtual ~IObjectSafety() = default;
  virtual void GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported_options,
                                         uint32_t& enabled_options) = 0;
  virtual void SetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t options_set_mask,
                                         uint32_t enabled_options) = 0;
};

// The option a control that is safe for scripting and for initialisation declares for an interface:
// INTERFACESAFE_FOR_UNTRUSTED_CALLER for IDispatch, INTERFACESAFE_FOR_UNTRUSTED_DATA for the persistence
// interfaces, 0 for any other (and for the null Guid). Compared on the registry text, as hosts hand over ids in
// any form.
uint32_t SafetyOptionFor(const platform::com::Guid& riid);

// Runs a call as a COM caller sees it: S_OK, or the HRESULT of the kv::Error it threw (E_FAIL for an error
// number that is no HRESULT).
platform::com::HRESULT CallForHResult(const std::function<void()>& call);

}  // namespace platform::activex
