#pragma once

// The bare costs of reading a text with libxml2, which the benchmark measures every reader of the system against.
// Neither keeps anything of the text.

#include <string_view>

namespace platform::xml {

// Parses the text into a tree, with the options the system's loads use, and frees it; false when it is not
// well-formed.
bool ParseTreeOnce(std::string_view text);

// Parses the text once as a stream of events that nothing handles, building no tree; false when it is not
// well-formed. The least any reader of the whole text must do.
bool ParseStreamOnce(std::string_view text);

}  // namespace platform::xml
