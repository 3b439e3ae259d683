#pragma once

// The QuickBooks event callback interface a menu subscriber implements.

#include "platform/com/event_callback.h"

namespace platform::qb {

// The QuickBooks event callback interface: QuickBooks creates the subscriber's COM object and calls
// inform(eventXML) for every pick of one of its menu items. The object lives in the subscriber's own process;
// platform/com carries the call there.
using IQBEventCallback = platform::com::IEventCallback;

}  // namespace platform::qb
