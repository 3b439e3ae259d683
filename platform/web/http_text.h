#pragma once

// Text handling of the browser control, apart from the transfer so that it can be checked on its own.

#include <string>
#include <string_view>
#include <vector>

namespace platform::web {

// The answer's bytes as UTF-8 text. A charset of the Latin-1 family named in the content type, or bytes that are
// not valid UTF-8, make the whole text read as Latin-1; a leading UTF-8 byte-order mark is dropped.
std::string DecodeBodyBytes(std::string_view bytes, std::string_view content_type);

bool IsValidUtf8(std::string_view text);
std::string Latin1ToUtf8(std::string_view bytes);

// Whether an answer is an HTML page: by its content type, or by sniffing the start of an untyped answer.
bool IsHtmlAnswer(std::string_view content_type, std::string_view body);

// The text of an HTML page's body (UTF-8 in, UTF-8 out): tags dropped, entities decoded, <br> as CR LF and a CR LF
// between blocks; script, style and head content left out; white space kept as written.
std::string HtmlBodyText(std::string_view utf8_html);

// Header lines from the caller's header string, split at CR and LF; "Name:value" becomes "Name: value";
// blank lines and lines without a name are dropped.
std::vector<std::string> NormalizeHeaderLines(std::string_view headers);

// The standard reason phrase of an HTTP status ("" when unknown).
std::string_view ReasonPhrase(int status);

// Body texts of the browser's error page.
std::string TransportErrorPage(std::string_view reason);
std::string HttpErrorPage(int status, std::string_view reason, std::string_view body_text);

}  // namespace platform::web
