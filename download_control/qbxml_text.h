#pragma once

// The small text rules every add request of the download control shares: escaping, and the way dates, amounts,
// durations and flags from the service are read and written.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/date_time.h"

namespace tessarine {

inline constexpr std::string_view kCrLf = "\r\n";

// Whether the text holds "<", ">", "&", "'" or a double quote.
bool HasXMLSpecialChars(std::string_view text);

// The text made safe inside a qbXML element. The service marks line breaks inside its texts with "&#10"
// (sometimes without the closing ";"); that marker reaches QuickBooks as the character reference "&#10;",
// every other "&" as "&amp;", and a CR as "&#13;". A character that XML allows nowhere (a control character other than
// TAB, LF and CR, U+FFFE, U+FFFF) becomes a blank.
std::string EscapeXMLText(std::string_view text);

// "<Tag>" CR LF "<FullName>value</FullName>" CR LF "</Tag>" CR LF; the value is written as given.
std::string FullNameElement(std::string_view tag, std::string_view value);

// A date as the service writes it: month first ("4/3/2006", optionally followed by a time) or "2006-04-03".
// The machine's locale plays no part. Throws kv::Error naming the text when it is not a date.
kv::DateTime ReadServiceDate(std::string_view text);

// "yyyy-mm-dd", the only date form qbXML takes.
std::string QBDateText(kv::DateTime date);

// A Boolean text: "True" or "False" in any letter case, or a number (non-zero is True). Throws kv::Error.
bool ReadFlagText(std::string_view text, std::string_view what);

// A plain decimal number with "." as the decimal sign. Throws kv::Error naming what was read.
double ReadNumberText(std::string_view text, std::string_view what);

// An amount in the format "###0.00": at least one integer digit, two decimals, "." and no thousands
// separator; a half cent is rounded away from zero on the number's shortest decimal form, so 2.675 gives 2.68.
std::string AmountText(double value);

// The qbXML duration of a number of hours: "PT" whole hours "H" minutes "M". The minutes are the fraction
// times 60 rounded half to even, so 7.999 hours give "PT7H60M", which QuickBooks reads as 8 hours.
struct Duration {
  int32_t whole_hours = 0;
  int32_t minutes = 0;
};
Duration DurationOf(double hours);
std::string DurationText(const Duration& duration);

// A Long from text, as the platform's conversion reads it: blanks around, a decimal number rounded half to
// even, within the 32-bit range. Throws kv::Error (type mismatch or overflow).
int32_t ReadLongText(std::string_view text);

}  // namespace tessarine
