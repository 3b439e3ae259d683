#pragma once

// The one exception type and the run-time error numbers the system raises itself.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kv {

// The one exception type of the system: a failing platform call or a value that does not convert raises it,
// and a routine that runs under an error trap catches it and reads the number and the description.
class Error : public std::runtime_error {
 public:
  Error(int64_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  int64_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }

 private:
  int64_t number_;
  std::string description_;
};

// Run-time error numbers the system's own code raises.
inline constexpr int64_t kErrOverflow = 6;
inline constexpr int64_t kErrOutOfMemory = 7;
inline constexpr int64_t kErrTypeMismatch = 13;
inline constexpr int64_t kErrInvalidArgument = 5;
inline constexpr int64_t kErrObjectRequired = 424;

inline Error TypeMismatch() {
  return Error(kErrTypeMismatch, "Type mismatch");
}

}  // namespace kv
