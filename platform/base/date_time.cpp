// The date type's calendar arithmetic and the regional reading and writing of date texts.

#include "platform/base/date_time.h"

#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace kv {
namespace {

namespace chr = std::chrono;

constexpr int64_t kSecondsPerDay = 86400;
constexpr chr::sys_days kZeroDate = chr::sys_days{chr::year{1899} / chr::December / 30};

chr::year_month_day CalendarDate(DateTime dt) {
  return chr::year_month_day{kZeroDate + chr::days{dt.Days()}};
}

// A small cursor over the text being parsed.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ == text_.size(); }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  // Skips blanks; true when there was at least one.
  bool SkipBlanks() {
    const size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
    return pos_ != start;
  }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Reads a run of digits of between min and max; a longer run is no match. count is the number read.
  bool Digits(int min_digits, int max_digits, int& out, int& count) {
    count = 0;
    int value = 0;
    while (pos_ < text_.size() && count < max_digits && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
      ++count;
    }
    if (count < min_digits) return false;
    if (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) return false;
    out = value;
    return true;
  }
  bool Number(int min_digits, int max_digits, int& out) {
    int count = 0;
    return Digits(min_digits, max_digits, out, count);
  }
  // A run of ASCII letters, possibly empty.
  std::string_view Letters() {
    const size_t start = pos_;
    while (pos_ < text_.size() && std::isalpha(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  // Case-insensitive "AM" or "PM": 0 none, 1 AM, 2 PM.
  int Meridiem() {
    if (text_.size() - pos_ < 2) return 0;
    const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_])));
    const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(text_[pos_ + 1])));
    if (b != 'M' || (a != 'A' && a != 'P')) return 0;
    pos_ += 2;
    return a == 'A' ? 1 : 2;
  }
  size_t pos() const { return pos_; }
  void Reset(size_t pos) { pos_ = pos; }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// "h:mm[:ss] [AM|PM]" or "h AM|PM" into seconds of the day.
bool ParseTime(Scanner& s, int32_t& seconds_of_day) {
  int h = 0, mi = 0, sec = 0;
  if (!s.Number(1, 2, h)) return false;
  const bool has_minutes = s.Take(':');
  if (has_minutes) {
    if (!s.Number(2, 2, mi)) return false;
    if (s.Take(':') && !s.Number(2, 2, sec)) return false;
  }
  s.SkipBlanks();
  const int meridiem = s.Meridiem();
  if (!has_minutes && meridiem == 0) return false;
  if (mi > 59 || sec > 59 || h > 23) return false;
  if (meridiem == 1) {
    if (h > 12) return false;
    if (h == 12) h = 0;
  } else if (meridiem == 2) {
    if (h < 12) h += 12;  // 12 PM is noon; 13 to 23 PM are kept as they are
  }
  seconds_of_day = h * 3600 + mi * 60 + sec;
  return true;
}

// A year of four digits, or of two read in the platform's window: 00 to 29 are 2000 to 2029, 30 to 99 are 1930
// to 1999.
bool ParseYear(Scanner& s, int& year) {
  int count = 0;
  if (!s.Digits(2, 4, year, count) || count == 3) return false;
  if (count == 2) year += year < 30 ? 2000 : 1900;
  return true;
}

// English month names, whole or as their first three letters; "Sept" too.
int MonthOfName(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kNames = {"january",   "february", "march",    "april",
                                                              "may",       "june",     "july",     "august",
                                                              "september", "october",  "november", "december"};
  const std::string lower = ToLowerAscii(word);
  if (lower == "sept") return 9;
  for (size_t i = 0; i < kNames.size(); ++i) {
    if (lower == kNames[i] || (lower.size() == 3 && kNames[i].starts_with(lower))) return static_cast<int>(i) + 1;
  }
  return 0;
}

struct DateParts {
  int year = 0;
  int month = 0;
  int day = 0;
  bool year_first = false;
};

// "M/D/Y", "M-D-Y", "M.D.Y" (the same separator twice; a two- or four-digit year) or the year first: "Y-M-D",
// "Y/M/D", "Y.M.D" with four digits.
bool ParseNumericDate(Scanner& s, DateParts& date) {
  int first = 0, count = 0;
  if (!s.Digits(1, 4, first, count) || count == 3) return false;
  const char sep = s.Peek();
  if (sep != '/' && sep != '-' && sep != '.') return false;
  s.Take(sep);
  int second = 0;
  if (!s.Number(1, 2, second) || !s.Take(sep)) return false;
  if (count == 4) {
    date.year_first = true;
    date.year = first;
    date.month = second;
    return s.Number(1, 2, date.day);
  }
  date.month = first;
  date.day = second;
  return ParseYear(s, date.year);
}

// Between the words of a date with a month name: blanks, or one "-".
bool TakeGap(Scanner& s) {
  return s.Take('-') || s.SkipBlanks();
}
// Before the year, a comma may come too: "May 2, 2006", "2 May, 2006".
bool TakeGapBeforeYear(Scanner& s) {
  if (s.Take('-')) return true;
  const size_t start = s.pos();
  s.SkipBlanks();
  s.Take(',');
  s.SkipBlanks();
  return s.pos() != start;
}

// "May 2, 2006", "May 2 2006", "2 May 2006", "02-May-2006".
bool ParseNamedDate(Scanner& s, DateParts& date) {
  const std::string_view word = s.Letters();
  if (!word.empty()) {
    date.month = MonthOfName(word);
    if (date.month == 0 || !TakeGap(s) || !s.Number(1, 2, date.day)) return false;
  } else {
    if (!s.Number(1, 2, date.day) || !TakeGap(s)) return false;
    date.month = MonthOfName(s.Letters());
    if (date.month == 0) return false;
  }
  return TakeGapBeforeYear(s) && ParseYear(s, date.year);
}

// A date in any form above, then a time after blanks (or after a "T" when the year came first).
bool ParseDateAndTime(Scanner& s, DateTime& out) {
  DateParts date;
  const size_t start = s.pos();
  if (!ParseNumericDate(s, date)) {
    s.Reset(start);
    date = DateParts{};
    if (!ParseNamedDate(s, date)) return false;
  }
  if (!DateTime::IsValidDate(date.year, date.month, date.day)) return false;
  int32_t tod = 0;
  const bool gap = s.SkipBlanks();
  if (date.year_first && !gap && s.Take('T')) {
    if (!ParseTime(s, tod)) return false;
  } else if (!s.AtEnd()) {
    if (!gap || !ParseTime(s, tod)) return false;
  }
  s.SkipBlanks();
  if (!s.AtEnd()) return false;
  out = DateTime::FromParts(date.year, date.month, date.day).AddSeconds(tod);
  return true;
}

// Appends a number as printf's "%0*lld" writes it: at least `width` characters, zeros after any sign. A sync
// formats a few dates for every record it sends, so this stays clear of printf.
void AppendNumber(std::string& out, long long value, int width = 1) {
  char digits[24];
  const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
  const std::string_view text(digits, static_cast<size_t>(r.ptr - digits));
  const std::string_view magnitude = value < 0 ? text.substr(1) : text;
  if (value < 0) out += '-';
  const int pad = width - static_cast<int>(text.size());
  if (pad > 0) out.append(static_cast<size_t>(pad), '0');
  out += magnitude;
}

}  // namespace

bool DateTime::IsValidDate(int year, int month, int day) {
  // The calendar types keep month and day in a byte each: out-of-range values are turned away before they wrap.
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  return chr::year_month_day{chr::year{year}, chr::month{static_cast<unsigned>(month)},
                             chr::day{static_cast<unsigned>(day)}}
      .ok();
}

DateTime DateTime::FromParts(int year, int month, int day, int hour, int minute, int second) {
  if (!IsValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    throw TypeMismatch();
  }
  const chr::sys_days date{chr::year{year} / month / day};
  const int64_t days = (date - kZeroDate).count();
  return DateTime(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

DateTime DateTime::Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return FromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                   local.tm_sec > 59 ? 59 : local.tm_sec);
}

int64_t DateTime::Days() const {
  return chr::floor<chr::days>(chr::seconds{seconds_}).count();
}

int32_t DateTime::SecondsOfDay() const {
  return static_cast<int32_t>(seconds_ - Days() * kSecondsPerDay);
}
int DateTime::Year() const {
  return static_cast<int>(CalendarDate(*this).year());
}
int DateTime::Month() const {
  return static_cast<int>(static_cast<unsigned>(CalendarDate(*this).month()));
}
int DateTime::Day() const {
  return static_cast<int>(static_cast<unsigned>(CalendarDate(*this).day()));
}

std::string GeneralDateText(DateTime dt) {
  std::string out;
  const chr::year_month_day date = CalendarDate(dt);
  const bool has_date = dt.Days() != 0;
  const bool has_time = dt.SecondsOfDay() != 0;
  if (has_date) {
    AppendNumber(out, static_cast<unsigned>(date.month()));
    out += '/';
    AppendNumber(out, static_cast<unsigned>(date.day()));
    out += '/';
    AppendNumber(out, static_cast<int>(date.year()));
  }
  if (has_time || !has_date) {
    const int h = dt.Hour();
    if (!out.empty()) out += ' ';
    AppendNumber(out, h % 12 == 0 ? 12 : h % 12);
    out += ':';
    AppendNumber(out, dt.Minute(), 2);
    out += ':';
    AppendNumber(out, dt.Second(), 2);
    out += h < 12 ? " AM" : " PM";
  }
  return out;
}

std::string FixedDateTimeText(DateTime dt) {
  const chr::year_month_day date = CalendarDate(dt);
  std::string out;
  out.reserve(19);
  AppendNumber(out, static_cast<unsigned>(date.month()), 2);
  out += '/';
  AppendNumber(out, static_cast<unsigned>(date.day()), 2);
  out += '/';
  AppendNumber(out, static_cast<int>(date.year()), 4);
  out += ' ';
  AppendNumber(out, dt.Hour(), 2);
  out += ':';
  AppendNumber(out, dt.Minute(), 2);
  out += ':';
  AppendNumber(out, dt.Second(), 2);
  return out;
}

std::string IsoDateText(DateTime dt) {
  const chr::year_month_day date = CalendarDate(dt);
  std::string out;
  AppendNumber(out, static_cast<int>(date.year()), 4);
  out += '-';
  AppendNumber(out, static_cast<unsigned>(date.month()), 2);
  out += '-';
  AppendNumber(out, static_cast<unsigned>(date.day()), 2);
  return out;
}

bool TryParseDateTime(std::string_view text, DateTime& out) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  Scanner s(text);
  if (ParseDateAndTime(s, out)) return true;
  s.Reset(0);
  int32_t tod = 0;
  if (ParseTime(s, tod)) {
    s.SkipBlanks();
    if (s.AtEnd()) {
      out = DateTime::FromSeconds(tod);
      return true;
    }
  }
  return false;
}

DateTime ParseDateTime(std::string_view text) {
  DateTime out;
  if (!TryParseDateTime(text, out)) throw TypeMismatch();
  return out;
}

std::string NumberText(double value) {
  if (std::isnan(value) || std::isinf(value)) throw Error(kErrOverflow, "Overflow");
  if (value == 0) return "0";
  // to_chars, unlike printf, never takes the decimal sign from a locale a host may have set.
  char buf[64];
  const auto written = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, written.ptr);
  const auto e = s.find('e');
  if (e == std::string::npos) return s;
  // Exponent form as the platform writes it: "1.5E+15", "1E-05".
  std::string mantissa = s.substr(0, e);
  const char sign = s[e + 1];
  std::string digits = s.substr(e + 2);
  while (digits.size() > 2 && digits.front() == '0') digits.erase(0, 1);
  std::string text = mantissa + "E" + sign;
  if (digits.size() < 2) text += '0';
  return text + digits;
}

bool TryParseNumber(std::string_view text, double& out) {
  text = TrimBlanks(text);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::string_view body = text.substr(i);
  size_t digits = 0;
  size_t dots = 0;
  for (char c : body) {
    if (c == '.') {
      ++dots;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      ++digits;
    } else {
      return false;
    }
  }
  if (digits == 0 || dots > 1) return false;
  double v = 0;
  const auto r = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != body.data() + body.size()) return false;
  out = negative ? -v : v;
  return true;
}

double ParseNumber(std::string_view text) {
  double v = 0;
  if (!TryParseNumber(text, v)) throw TypeMismatch();
  return v;
}

}  // namespace kv
