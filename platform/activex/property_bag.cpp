// Reading page parameters by name and converting their texts, with the type-mismatch error a host reports.

#include "platform/activex/property_bag.h"

#include <cmath>
#include <limits>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace platform::activex {

PropertyBag::PropertyBag(std::initializer_list<std::pair<std::string, std::string>> items) {
  for (const auto& [name, value] : items) Add(name, value);
}

void PropertyBag::Add(std::string name, std::string value) {
  items_.push_back({std::move(name), std::move(value)});
}

const std::string* PropertyBag::Find(std::string_view name) const {
  for (const Property& p : items_) {
    if (kv::EqualsIgnoreCase(p.name, name)) return &p.value;
  }
  return nullptr;
}

void PropertyBag::Mismatch(std::string_view name) const {
  failed_key_ = std::string(name);
  throw kv::TypeMismatch();
}

std::string PropertyBag::ReadText(std::string_view name, std::string fallback) const {
  const std::string* text = Find(name);
  return text ? *text : std::move(fallback);
}

// A page that leaves a value empty means "not given": flags, dates and numbers then take their default rather
// than stopping the whole control over a blank attribute.

bool PropertyBag::ReadFlag(std::string_view name, bool fallback) const {
  const std::string* text = Find(name);
  if (!text || kv::TrimBlanks(*text).empty()) return fallback;
  try {
    return FlagFromText(*text);
  } catch (const kv::Error&) {
    Mismatch(name);
  }
}

kv::DateTime PropertyBag::ReadDate(std::string_view name, kv::DateTime fallback) const {
  const std::string* text = Find(name);
  if (!text || kv::TrimBlanks(*text).empty()) return fallback;
  kv::DateTime value;
  if (!kv::TryParseDateTime(kv::TrimBlanks(*text), value)) Mismatch(name);
  return value;
}

int32_t PropertyBag::ReadLong(std::string_view name, int32_t fallback) const {
  const std::string* text = Find(name);
  if (!text || kv::TrimBlanks(*text).empty()) return fallback;
  try {
    return LongFromText(*text);
  } catch (const kv::Error& e) {
    if (e.number() != kv::kErrTypeMismatch) throw;
    Mismatch(name);
  }
}

double PropertyBag::ReadDouble(std::string_view name, double fallback) const {
  const std::string* text = Find(name);
  if (!text || kv::TrimBlanks(*text).empty()) return fallback;
  double value = 0;
  if (!kv::TryParseNumber(kv::TrimBlanks(*text), value)) Mismatch(name);
  return value;
}

bool FlagFromText(std::string_view text) {
  const std::string_view trimmed = kv::TrimBlanks(text);
  if (kv::EqualsIgnoreCase(trimmed, "True")) return true;
  if (kv::EqualsIgnoreCase(trimmed, "False")) return false;
  double number = 0;
  if (!kv::TryParseNumber(trimmed, number)) throw kv::TypeMismatch();
  return number != 0;
}

int32_t LongFromText(std::string_view text) {
  double number = 0;
  if (!kv::TryParseNumber(kv::TrimBlanks(text), number)) throw kv::TypeMismatch();
  // Halves go to the even neighbour, as the platform rounds.
  const double rounded = std::nearbyint(number);
  if (rounded < std::numeric_limits<int32_t>::min() || rounded > std::numeric_limits<int32_t>::max()) {
    throw kv::Error(kv::kErrOverflow, "Overflow");
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace platform::activex
