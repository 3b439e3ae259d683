#pragma once

// The SQL literals the statements are made of, shared by every converter so each value is written one way.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/date_time.h"

namespace brintavel {

// SQL literals of the statement script. Every text literal is formed the same way: the text is first cut to
// the column's width in characters of the original text, then every apostrophe is doubled. Cutting first means
// a cut can never fall between the two apostrophes of a doubled pair, so a literal always ends where it should.

inline constexpr int64_t kKeyBase = 9000000;
// Width 0: no limit.
inline constexpr size_t kNoWidth = 0;

// "''".
inline constexpr std::string_view kEmptyTextLiteral = "''";
// The literal every date column without a source holds: the general text of the zero date-time.
inline constexpr std::string_view kZeroTimeLiteral = "'12:00:00 AM'";

// The first `width` characters (code points) of a text; the whole text for kNoWidth.
std::string_view CutToWidth(std::string_view text, size_t width);

// 9000000 + position, unquoted.
std::string KeyLiteral(int64_t position);
void AppendKeyLiteral(std::string& out, int64_t position);
// The text cut to the width, apostrophes doubled, between apostrophes.
std::string TextLiteral(std::string_view text, size_t width);
// The same literal appended to a statement in the making.
void AppendTextLiteral(std::string& out, std::string_view text, size_t width);
// The active flag: -1 when IsActive is exactly "1" or "true", 0 for any other text and when it is missing.
std::string ActiveFlagLiteral(const std::optional<std::string>& is_active);
bool IsActiveText(std::string_view is_active);
// "mm/dd/yyyy hh:mm:ss" between apostrophes.
std::string FormattedDateLiteral(kv::DateTime value);
// The general date-time text cut to the width, between apostrophes.
std::string GeneralDateLiteral(kv::DateTime value, size_t width);

// Whether a text is a plain decimal number: an optional sign, digits, and optionally "." and digits. Only such a
// text may stand unquoted in a statement.
bool IsPlainDecimal(std::string_view text);

}  // namespace brintavel
