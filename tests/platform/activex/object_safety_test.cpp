// How the safety declaration's operations report a failure to their caller: as the platform's result codes.

#include "platform/activex/object_safety.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace platform::activex {
namespace {

class SafeControl : public IObjectSafety {
 public:
  void GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported, uint32_t& enabled) override {
    supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    if (riid != platform::com::IID_IDispatch) throw kv::Error(platform::com::E_NOINTERFACE, "No such interface");
    enabled = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
  }
  void SetInterfaceSafetyOptions(const platform::com::Guid&, uint32_t, uint32_t) override {
    throw kv::Error(0x80004005LL, "Unspecified error");  // the unsigned spelling of E_FAIL
  }
};

TEST(ObjectSafetyTest, ErrorsReachACallerAsHResults) {
  SafeControl control;
  uint32_t supported = 0;
  uint32_t enabled = 99;
  EXPECT_EQ(CallForHResult([&] { control.GetInterfaceSafetyOptions(platform::com::Guid{}, supported, enabled); }),
            platform::com::E_NOINTERFACE);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 99u);
  EXPECT_EQ(
      CallForHResult([&] { control.GetInterfaceSafetyOptions(platform::com::IID_IDispatch, supported, enabled); }),
      platform::com::S_OK);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(CallForHResult([&] { control.SetInterfaceSafetyOptions(platform::com::IID_IDispatch, 3, 3); }),
            platform::com::E_FAIL);
  EXPECT_EQ(CallForHResult([] { throw kv::Error(13, "Type mismatch"); }), platform::com::E_FAIL);
}

}  // namespace
}  // namespace platform::activex
