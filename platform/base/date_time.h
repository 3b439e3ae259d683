#pragma once

// The platform's date type and its regional texts, at the bottom because every floor reads or writes dates.

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// A date and time of day to the second. The zero value is 30 December 1899, 00:00:00, the epoch every
// date of the system counts from; values are seconds from it, so dates before 1900 and after 9999 stay exact.
// The calendar parts (Year, Month, Day and the texts) are read for the years -32767 to 32767; every date the
// system makes lies in 100 to 9999.
class DateTime {
 public:
  constexpr DateTime() = default;
  static constexpr DateTime FromSeconds(int64_t seconds) { return DateTime(seconds); }
  // Throws a type-mismatch Error for an impossible date or time.
  static DateTime FromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
  static bool IsValidDate(int year, int month, int day);
  // The local time of this machine, to the second.
  static DateTime Now();

  constexpr int64_t seconds() const { return seconds_; }
  constexpr bool IsZero() const { return seconds_ == 0; }
  int64_t Days() const;          // whole days since the zero date (floor)
  int32_t SecondsOfDay() const;  // 0 .. 86399
  int Year() const;
  int Month() const;
  int Day() const;
  int Hour() const { return SecondsOfDay() / 3600; }
  int Minute() const { return SecondsOfDay() / 60 % 60; }
  int Second() const { return SecondsOfDay() % 60; }
  DateTime DatePart() const { return DateTime(Days() * 86400); }
  DateTime AddSeconds(int64_t s) const { return DateTime(seconds_ + s); }
  DateTime AddDays(int64_t d) const { return DateTime(seconds_ + d * 86400); }

  friend constexpr auto operator<=>(const DateTime&, const DateTime&) = default;

 private:
  constexpr explicit DateTime(int64_t seconds) : seconds_(seconds) {}
  int64_t seconds_ = 0;
};

// The regional model. The system always uses the United States settings, whatever the machine's locale:
// month first, "/" and ":" as separators, "." as the decimal sign and no thousands separator.

// General date-time text: "M/D/YYYY h:mm:ss AM"; the zero date gives the time alone, midnight the date alone.
std::string GeneralDateText(DateTime dt);
// "mm/dd/yyyy hh:mm:ss", zero-padded, 24-hour.
std::string FixedDateTimeText(DateTime dt);
// "yyyy-mm-dd".
std::string IsoDateText(DateTime dt);

// Reads the forms the platform's date conversion reads under these settings:
//   month first: "M/D/Y", "M-D-Y" or "M.D.Y", the year of four digits or of two (00-29 are 2000-2029, 30-99
//     are 1930-1999);
//   year first: "YYYY-M-D" (also with "/" or "."), its time after a blank or a "T";
//   a month name in English, whole or cut to three letters: "May 2, 2006", "May 2 2006", "2 May 2006",
//     "02-May-2006";
// each with an optional time after blanks, "h:mm", "h:mm:ss" or "h AM", with or without AM/PM; or a time alone.
// The day must exist in its month. Anything else (a day-first date, a month without a year, a word that is no
// month) throws a type-mismatch Error.
DateTime ParseDateTime(std::string_view text);
bool TryParseDateTime(std::string_view text, DateTime& out);

// A double as the platform's default conversion writes it: up to 15 significant digits, no trailing zeros,
// "." as the decimal sign, no exponent for everyday magnitudes.
std::string NumberText(double value);
// Reads a plain decimal number ("-12.5", "3", ".5"); throws a type-mismatch Error otherwise.
double ParseNumber(std::string_view text);
bool TryParseNumber(std::string_view text, double& out);

}  // namespace kv
