#pragma once

// The bare costs of reading a text with libxml2, which the benchmark measures every reader of the system against.
// Neither keeps anything of the text.

#include <string>
#include <string_view>

namespace platform::xml {

// Parses the text into a tree, with the options the system's loads use, and frees it; false when it is not
// well-formed.
bool ParseTreeOnce(std::string_view text);

// Parses the text once as a stream of events that nothing handles, building no tree and reading the text where it
// lies (no copy of it); false when it is not well-formed. The least any reader of the whole text must do. A string,
// not a view: the parser reads the text in place up to the 0 byte a string keeps after its last character.
bool ParseStreamOnce(const std::string& text);

}  // namespace platform::xml
