#pragma once
// The escaping names the QuickBooks stand-in still reaches through this folder; the escaper itself is
// platform/xml's, the only XML code.

#include "platform/xml/escape.h"

namespace platform::qb {

using platform::xml::AppendEscaped;
using platform::xml::EscapeXmlAttribute;
using platform::xml::EscapeXmlText;

}  // namespace platform::qb
