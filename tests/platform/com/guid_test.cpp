// The GUID type's text forms and the platform's status codes.

#include "platform/com/guid.h"

#include <gtest/gtest.h>

namespace platform::com {
namespace {

TEST(GuidTest, RegistryFormIsUpperCaseWithBraces) {
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IPersistPropertyBag), "{37D84F60-42CB-11CE-8135-00AA004BB851}");
  EXPECT_EQ(GuidToString(Guid{}), "");
}

TEST(GuidTest, ParsesEitherCaseWithOrWithoutBraces) {
  EXPECT_EQ(ParseGuid("{0000010a-0000-0000-c000-000000000046}"), IID_IPersistStorage);
  EXPECT_EQ(ParseGuid("00000109-0000-0000-C000-000000000046"), IID_IPersistStream);
  EXPECT_EQ(ParseGuid("{00000109-0000-0000-C000-00000000004}"), std::nullopt);
  EXPECT_EQ(ParseGuid("{00000109+0000-0000-C000-000000000046}"), std::nullopt);
  EXPECT_EQ(ParseGuid("{0000010G-0000-0000-C000-000000000046}"), std::nullopt);
}

TEST(GuidTest, StatusCodesHaveTheirPlatformValues) {
  EXPECT_EQ(static_cast<uint32_t>(E_NOINTERFACE), 0x80004002u);
  EXPECT_EQ(static_cast<uint32_t>(E_FAIL), 0x80004005u);
}

}  // namespace
}  // namespace platform::com
