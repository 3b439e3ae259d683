// GetSystemDateOrder over the regional model, the shared service of that name.

#include "common/date_order.h"

#include "platform/base/date_time.h"

namespace kv {

int32_t GetSystemDateOrder() {
  DateTime probe;
  if (!TryParseDateTime("08/02/1997", probe)) return 1;
  if (probe.Month() == 8) return 1;
  if (probe.Month() == 2) return 2;
  return 1;
}

}  // namespace kv
