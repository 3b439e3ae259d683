// The control's shell: parameters, start-up, closing view, Cancel outside a run and the safety declaration.

#include "control_fixture.h"
#include "platform/activex/object_safety.h"
#include "platform/base/error.h"
#include "platform/com/guid.h"

namespace tessarine::test {
namespace {

using platform::activex::PropertyBag;

TEST_F(ControlTest, ParametersAreReadAndTheBaseUrlGetsItsSlash) {
  service.WriteFile("pending-time.txt", "");
  PropertyBag bag = Params(true);
  bag.Add("EmpLexicon", "   ");
  bag.Add("CustLexicon", "Client");
  bag.Add("KVLastUploadDate", "");
  PropertyBag no_slash;
  for (const auto& item : bag.Items()) {
    no_slash.Add(item.name,
                 item.name == "KVSecureServerURL" ? item.value.substr(0, item.value.size() - 1) : item.value);
  }
  Site(std::move(no_slash));
  const DownloadParameters& p = Module().params;
  EXPECT_EQ(p.KVSecureServerURL, service.BaseUrl());
  EXPECT_EQ(p.SiteKey, "K&Y 1");
  EXPECT_TRUE(p.TsOrExpense);
  EXPECT_EQ(p.EmpLexicon, "Employee");
  EXPECT_EQ(p.CustLexicon, "Client");
  EXPECT_EQ(p.ProjLexicon, "Project");
  EXPECT_EQ(p.SubProjLexicon, "Sub Project");
  EXPECT_EQ(p.SILexicon, "Service Item");
  EXPECT_EQ(p.KVLastUploadDate, kv::DateTime::FromParts(2000, 1, 1));
  EXPECT_EQ(control->lblGather.Caption(), "0 time/leave activity rows to be downloaded..");
}

TEST_F(ControlTest, ParametersAreReadInThePagesOrderWithTheLastUploadDateSixth) {
  PropertyBag bag = Params(true);
  KVRDowloadctl ctl;
  ctl.ReadProperties(bag);
  EXPECT_EQ(bag.AskedNames(),
            (std::vector<std::string>{"ResetKalvor", "KVSecureServerURL", "SiteCode", "SiteKey", "PLClientVersion",
                                      "KVLastUploadDate", "CustLexicon", "EmpLexicon", "ProjLexicon", "SILexicon",
                                      "SubProjLexicon", "KalvorUser", "QBFilePath", "TsOrExpense", "FullOrPartial"}));
}

TEST_F(ControlTest, ALastUploadDateThatDoesNotConvertStopsTheReadingBeforeTheSitesWords) {
  PropertyBag bag{
      {"SiteCode", "ACME"}, {"KVLastUploadDate", "someday"}, {"CustLexicon", "Client"}, {"QBFilePath", "/qb/Acme.QBW"}};
  KVRDowloadctl ctl;
  EXPECT_THROW(ctl.ReadProperties(bag), kv::Error);
  EXPECT_EQ(bag.FailedKey(), "KVLastUploadDate");
  EXPECT_EQ(Module().params.SiteCode, "ACME");
  EXPECT_EQ(Module().params.CustLexicon, "");
  EXPECT_EQ(Module().params.QBFilePath, "");
}

TEST_F(ControlTest, MissingSiteKeyShowsTheMessageAndOnlyTheClosingView) {
  PropertyBag bag{{"KVSecureServerURL", service.BaseUrl()}, {"SiteCode", "ACME"}, {"SiteKey", "  "}};
  ui.ExpectBox(kMissingConnectionText);
  KVRDowloadctl& c = Site(std::move(bag));
  EXPECT_EQ(ui.Boxes()[0].buttons, platform::forms::vbInformation);
  EXPECT_EQ(ui.Boxes()[0].title, "");
  EXPECT_TRUE(c.Closed());
  EXPECT_FALSE(c.cmdStartDownload.Visible());
  EXPECT_TRUE(c.lblMessage.Visible());
  EXPECT_EQ(c.lblMessage.Caption(), kClosingText);
  EXPECT_EQ(c.lblMessage.Left(), 7200 / 2 - c.lblMessage.Width() / 2);
  EXPECT_EQ(c.lblMessage.Top(), 3600 / 2 - c.lblMessage.Height() / 2);
  EXPECT_EQ(c.framClose.Top(), 170);
  EXPECT_EQ(c.framClose.Left(), 25);
  EXPECT_EQ(c.framClose.Width(), 7200 - 70);
  EXPECT_EQ(c.framClose.Height(), 3600 - 250);
  EXPECT_EQ(service.ReceivedCount(), 0u);
}

TEST_F(ControlTest, AParameterThatDoesNotConvertStopsTheHost) {
  PropertyBag bag = Params(true);
  PropertyBag bad{{"TsOrExpense", "maybe"}};
  for (const auto& item : bag.Items()) bad.Add(item.name, item.value);
  EXPECT_THROW(Site(std::move(bad)), kv::Error);
  EXPECT_EQ(service.ReceivedCount(), 0u);
}

TEST_F(ControlTest, OnlyTheFirstResizeRunsTheStartUp) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& c = Site(Params(true));
  ASSERT_EQ(service.ReceivedCount(), 1u);
  service.WriteFile("pending-time.txt", "");
  host->Resize(9000, 4000);
  host->Resize(7200, 3600);
  EXPECT_EQ(service.ReceivedCount(), 1u);
  EXPECT_EQ(c.lblGather.Caption(), "4 time/leave activity rows to be downloaded..");
  EXPECT_EQ(c.DownloadLines().size(), 13u);
}

TEST_F(ControlTest, CancelOutsideARunChangesNothingVisible) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& c = Site(Params(true));
  EXPECT_TRUE(c.Command1.Click());
  EXPECT_EQ(c.lblGather.Caption(), "4 time/leave activity rows to be downloaded..");
  EXPECT_FALSE(c.lblTransfer2.Visible());
  EXPECT_TRUE(c.cmdStartDownload.Enabled());
  EXPECT_FALSE(c.Closed());
}

TEST_F(ControlTest, TerminateWithNothingOpenIsHarmless) {
  service.WriteFile("pending-time.txt", "");
  Site(Params(true));
  host->Teardown();
  EXPECT_FALSE(Module().session.objRequestProcessor);
}

TEST(ControlSafetyTest, DeclaresItselfSafeForScriptingAndInitialisation) {
  using namespace platform::com;
  using platform::activex::CallForHResult;
  ResetModule();
  KVRDowloadctl c;
  uint32_t supported = 0;
  uint32_t enabled = 0;
  c.GetInterfaceSafetyOptions(IID_IDispatch, supported, enabled);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 1u);
  enabled = 0;
  c.GetInterfaceSafetyOptions(IID_IPersistPropertyBag, supported, enabled);
  EXPECT_EQ(enabled, 2u);
  enabled = 0;
  c.GetInterfaceSafetyOptions(IID_IPersistStream, supported, enabled);
  EXPECT_EQ(enabled, 2u);
  const Guid other = *ParseGuid("{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(CallForHResult([&] { c.GetInterfaceSafetyOptions(other, supported, enabled); }), E_NOINTERFACE);
  EXPECT_EQ(CallForHResult([&] { c.SetInterfaceSafetyOptions(IID_IDispatch, 1, 1); }), S_OK);
  EXPECT_EQ(CallForHResult([&] { c.SetInterfaceSafetyOptions(IID_IDispatch, 3, 3); }), E_FAIL);
  EXPECT_EQ(CallForHResult([&] { c.SetInterfaceSafetyOptions(IID_IPersistStorage, 2, 3); }), S_OK);
  EXPECT_EQ(CallForHResult([&] { c.SetInterfaceSafetyOptions(IID_IPersistStorage, 1, 1); }), E_FAIL);
  EXPECT_EQ(CallForHResult([&] { c.SetInterfaceSafetyOptions(other, 1, 1); }), E_NOINTERFACE);
}

}  // namespace
}  // namespace tessarine::test
