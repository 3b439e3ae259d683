#pragma once

// PLKVUtilityResult, the result of every transfer step of either control, apart because both controls and
// their pages share it.

#include <cstdint>

// Status code of one transfer step; the service pages and the controls' callers know these numbers.
enum PLKVUtilityResult : int32_t {
  kvurSuccess = 0,
  kvurAspFailed = 1,
  kvurNoDataToUpload = 2,
  kvurProcessInterrupted = 3,
  kvurSystemError = 4,
  kvurUnknownError = 5,
};
