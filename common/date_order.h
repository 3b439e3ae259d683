#pragma once

// Which way the system reads a date of digits, month or day first; a shared service of its own because it
// depends on nothing else.

#include <cstdint>

namespace kv {

// 1 when the system reads "08/02/1997" month first, 2 when day first. The regional model is fixed, so 1.
int32_t GetSystemDateOrder();

}  // namespace kv
