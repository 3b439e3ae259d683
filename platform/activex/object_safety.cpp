#include "platform/activex/object_safety.h"

#include <limits>

#include "common/error.h"

namespace platform::activex {

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
