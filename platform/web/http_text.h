#pragma once

// Text handling of the browser control, apart from the transfer so that it can be checked on its own.

#include <string>
#include <string_view>
#include <vector>

namespace platform::web {

// The text with the value of every password parameter of an address in it ("pwd=", "password=", "passwd=" and
// names ending in them, any letter case) replaced by "(hidden)": for every text shown, logged or passed on that
// may hold a request address.
std::string HideSecrets(std::string_view text);

// The answer's bytes as UTF-8 text, by the charset of its content type or, for an HTML page without one, of its
// <meta> element (DecodeCharset).
std::string DecodeBodyBytes(std::string_view bytes, std::string_view content_type);

// Whether an answer is an HTML page: by its content type, or by sniffing the start of an untyped answer.
bool IsHtmlAnswer(std::string_view content_type, std::string_view body);

// The text of an HTML page's body (UTF-8 in, UTF-8 out) as a browser's document text of the body gives it:
// - tags dropped, entities decoded; script, style and head content left out;
// - white space of the source (blanks, tabs, line breaks) collapses to one blank between words, and none is kept
//   at the start or end of the text or of a line: "<body>" CR LF "  SUCCESS" CR LF "</body>" is "SUCCESS";
// - <br> is a CR LF where it stands; the start and end of a block (p, div, li, tr, h1...) separate lines with one
//   CR LF, never at the start or end of the text;
// - inside <pre> and <textarea> the white space stays as written.
std::string HtmlBodyText(std::string_view utf8_html);

// Header lines from the caller's header string, split at CR and LF; "Name:value" becomes "Name: value";
// blank lines and lines without a name are dropped.
std::vector<std::string> NormalizeHeaderLines(std::string_view headers);

// The standard reason phrase of an HTTP status ("" when unknown).
std::string_view ReasonPhrase(int status);

// Body texts of the browser's error page, with password values hidden (HideSecrets).
std::string TransportErrorPage(std::string_view reason);
std::string HttpErrorPage(int status, std::string_view reason, std::string_view body_text);

}  // namespace platform::web
