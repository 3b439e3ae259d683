#pragma once

// The page parameters a control is loaded with and their conversions to text, flag, number and date.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/base/date_time.h"

namespace platform::activex {

// The page parameters a control is loaded with: (name, text) pairs in page order. Names compare without
// regard to letter case; with a name given twice the first one counts.
//
// Reading converts the text to the type asked for:
//   text     unchanged (blanks included);
//   flag     "True"/"False" in any letter case, or a number (non-zero is True);
//   date     the regional model (kv::ParseDateTime);
//   integer  a number, rounded half to even like the platform, error 6 "Overflow" beyond 32 bits;
//   double   a number through the regional model.
// A missing key, and for flags, dates and numbers a text that is empty or only blanks, gives the default.
// Any other text that does not convert throws kv::Error 13 "Type mismatch"; FailedKey() then names the key.
class PropertyBag {
 public:
  struct Property {
    std::string name;
    std::string value;
  };

  PropertyBag() = default;
  PropertyBag(std::initializer_list<std::pair<std::string, std::string>> items);

  void Add(std::string name, std::string value);
  const std::vector<Property>& Items() const { return items_; }
  bool Empty() const { return items_.empty(); }
  // The raw text of a key, or null when the page does not give it.
  const std::string* Find(std::string_view name) const;
  bool Has(std::string_view name) const { return Find(name) != nullptr; }

  std::string ReadText(std::string_view name, std::string fallback = "") const;
  bool ReadFlag(std::string_view name, bool fallback = false) const;
  kv::DateTime ReadDate(std::string_view name, kv::DateTime fallback = {}) const;
  int32_t ReadLong(std::string_view name, int32_t fallback = 0) const;
  double ReadDouble(std::string_view name, double fallback = 0) const;

  // The key whose text did not convert in the last failed read; "" when none failed.
  const std::string& FailedKey() const { return failed_key_; }
  // Whether a control asked for the key (found or not), through this bag or a copy of it: a host sites the control
  // with a copy, and asks the original afterwards which parameters no control reads.
  bool Asked(std::string_view name) const;
  // Every key asked for, in the order of asking, repeats included.
  const std::vector<std::string>& AskedNames() const { return *asked_; }

 private:
  [[noreturn]] void Mismatch(std::string_view name) const;

  std::vector<Property> items_;
  mutable std::string failed_key_;
  std::shared_ptr<std::vector<std::string>> asked_ = std::make_shared<std::vector<std::string>>();
};

// Conversions of a parameter text on their own (throw kv::Error 13 when the text does not convert).
bool FlagFromText(std::string_view text);
int32_t LongFromText(std::string_view text);

}  // namespace platform::activex
