#pragma once

// Reading an answer's bytes as text, the way a browser picks and applies a character set.

#include <string>
#include <string_view>

namespace platform::web {

// The charset named in a content type ("text/html; charset=UTF-8" gives "utf-8"), or "" when none is named.
std::string CharsetOf(std::string_view content_type);

// The charset an HTML page names for itself in a <meta> element within its first 1024 bytes, or "".
std::string MetaCharsetOf(std::string_view html);

bool IsValidUtf8(std::string_view text);
// Bytes of windows-1252 as UTF-8: 0x80-0x9F are the code page's letters and signs (0x80 the euro sign, 0x92 the
// right single quote); its five unassigned bytes keep their own code points, as browsers map them.
std::string Windows1252ToUtf8(std::string_view bytes);
// Valid UTF-8 sequences as they are, every other byte as windows-1252 on its own: one stray byte changes one
// character, never the rest of the text.
std::string MixedUtf8ToUtf8(std::string_view bytes);

// The bytes as UTF-8 text by the charset's name. Browsers read the labels of ISO-8859-1 and US-ASCII as
// windows-1252 (its superset), so those do too. UTF-8, no charset and a charset not known here read as
// MixedUtf8ToUtf8. A leading UTF-8 byte-order mark is dropped.
std::string DecodeCharset(std::string_view bytes, std::string_view charset);

}  // namespace platform::web
