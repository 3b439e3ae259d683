// The host's life cycle of a control: which property event comes, the first resize, errors, Terminate.

#include "platform/activex/user_control.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/forms/control.h"
#include "platform/forms/timer.h"

namespace platform::activex {
namespace {

class RecordingControl : public UserControl {
 public:
  RecordingControl() : UserControl("RecordingCtl") {}
  void Initialize() override { events.push_back("Initialize"); }
  void InitProperties() override { events.push_back("InitProperties"); }
  void ReadProperties(PropertyBag& bag) override {
    events.push_back("ReadProperties");
    url = bag.ReadText("KVSecureServerURL");
    reset = bag.ReadFlag("ResetKalvor");
    site = bag.ReadText("SiteCode");
  }
  void Resize() override { events.push_back("Resize " + std::to_string(Width()) + "x" + std::to_string(Height())); }
  void Terminate() override { events.push_back("Terminate"); }

  std::vector<std::string> events;
  std::string url;
  bool reset = false;
  std::string site;
  platform::forms::Label lblMessage{this, "lblMessage"};
};

TEST(ControlHostTest, ParametersGiveReadPropertiesThenTheFirstResize) {
  RecordingControl control;
  {
    ControlHost host(control);
    host.Site(PropertyBag{{"KVSecureServerURL", "http://svc/"}, {"ResetKalvor", "True"}}, 9000, 6000);
    host.Resize(100, 200);
  }
  EXPECT_EQ(control.events, (std::vector<std::string>{"Initialize", "ReadProperties", "Resize 9000x6000",
                                                      "Resize 100x200", "Terminate"}));
  EXPECT_EQ(control.url, "http://svc/");
  EXPECT_TRUE(control.reset);
  EXPECT_EQ(control.Controls().size(), 1u) << "the surface holds its child controls";
}

TEST(ControlHostTest, NoParametersGiveInitPropertiesAndAnEmptyBagStillReads) {
  RecordingControl without;
  ControlHost host(without);
  host.Site(std::nullopt, 10, 20);
  host.Teardown();
  host.Teardown();
  EXPECT_EQ(without.events, (std::vector<std::string>{"Initialize", "InitProperties", "Resize 10x20", "Terminate"}));

  RecordingControl empty;
  ControlHost empty_host(empty);
  empty_host.Site(PropertyBag{}, 10, 20);
  EXPECT_EQ(empty.events[1], "ReadProperties");
}

TEST(ControlHostTest, ATypeMismatchStopsTheReadingAndReachesTheHostWithTheKey) {
  RecordingControl control;
  {
    ControlHost host(control);
    try {
      host.Site(PropertyBag{{"KVSecureServerURL", "http://svc/"}, {"ResetKalvor", "maybe"}, {"SiteCode", "S1"}}, 1, 1);
      FAIL() << "no error";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), kv::kErrTypeMismatch);
      EXPECT_EQ(e.description(), "Type mismatch: the parameter ResetKalvor is \"maybe\"");
    }
    EXPECT_EQ(control.url, "http://svc/") << "keys read before the failing one keep their values";
    EXPECT_EQ(control.site, "");
  }
  EXPECT_EQ(control.events, (std::vector<std::string>{"Initialize", "ReadProperties", "Terminate"}));
}

TEST(ControlHostTest, TimersOfTheSurfaceStopAtTerminate) {
  RecordingControl control;
  platform::forms::Timer Timer1(&control, "Timer1");
  Timer1.SetInterval(500);
  ControlHost host(control);
  host.Site(std::nullopt, 1, 1);
  EXPECT_TRUE(Timer1.Running());
  host.Teardown();
  EXPECT_FALSE(Timer1.Running());
  EXPECT_TRUE(Timer1.Enabled());
}

}  // namespace
}  // namespace platform::activex
