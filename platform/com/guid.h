#pragma once

// The class and interface identity type and its registry text, shared by activation, the registry and IObjectSafety.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::com {

// A class or interface identity. Interface ids travel as values, never as raw addresses.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  bool IsNull() const { return *this == Guid{}; }
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case; "" for the null id.
std::string GuidToString(const Guid& guid);
// Reads the registry form, braces optional, either letter case.
std::optional<Guid> ParseGuid(std::string_view text);

// Well-known interface ids.
inline constexpr Guid IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IID_IPersistStorage{0x0000010A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IID_IPersistStream{0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid IID_IPersistPropertyBag{
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

// Status codes of COM calls.
using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

}  // namespace platform::com
