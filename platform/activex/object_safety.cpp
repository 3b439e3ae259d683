// The safety option each interface gets and the HRESULT a failed safety call returns.

#include "platform/activex/object_safety.h"

#include <limits>
#include <string>

#include "platform/base/error.h"

namespace platform::activex {

uint32_t SafetyOptionFor(const platform::com::Guid& riid) {
  using platform::com::GuidToString;
  const std::string id = GuidToString(riid);
  if (id.empty()) return 0;
  if (id == GuidToString(platform::com::IID_IDispatch)) return INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  if (id == GuidToString(platform::com::IID_IPersistStorage) || id == GuidToString(platform::com::IID_IPersistStream) ||
      id == GuidToString(platform::com::IID_IPersistPropertyBag)) {
    return INTERFACESAFE_FOR_UNTRUSTED_DATA;
  }
  return 0;
}

platform::com::HRESULT CallForHResult(const std::function<void()>& call) {
  try {
    call();
    return platform::com::S_OK;
  } catch (const kv::Error& e) {
    // HRESULT failures are negative 32-bit values; they may arrive as their unsigned spelling too.
    int64_t n = e.number();
    if (n > std::numeric_limits<int32_t>::max() && n <= std::numeric_limits<uint32_t>::max()) {
      n -= int64_t{1} << 32;
    }
    if (n < 0 && n >= std::numeric_limits<int32_t>::min()) return static_cast<platform::com::HRESULT>(n);
    return platform::com::E_FAIL;
  }
}

}  // namespace platform::activex
