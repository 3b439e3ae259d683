#include "hosts/kvpage/page_params.h"

#include <gtest/gtest.h>

#include "common/error.h"
#include "tests/support/service/service_standin.h"

namespace kvpage {
namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

TEST(PageParams, ParamsOfEachObjectWithAnyQuotingAndReferences) {
  const auto objects = ParseObjects(R"(<!DOCTYPE html><html><body>
    <!-- <object classid="clsid:commented"><param name="X" value="1"></object> -->
    <OBJECT ID=Other CLASSID='clsid:0000'><PARAM NAME=A VALUE=1></OBJECT>
    <param name="Outside" value="ignored">
    <object classid="clsid:5105AB9B-325B-4FA2-9B1F-982A3193B989" width=640>
      <param name="SiteCode" value="AC&amp;01">
      <param name='KalvorUser' value='Pat &quot;P&quot; O&#39;Neil &#x263A;'>
      <param name="Empty" value="">
      <param name="NoValue">
    </object></body></html>)");
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].params, (Params{{"A", "1"}}));
  EXPECT_EQ(
      objects[1].params,
      (Params{{"SiteCode", "AC&01"}, {"KalvorUser", "Pat \"P\" O'Neil \xE2\x98\xBA"}, {"Empty", ""}, {"NoValue", ""}}));
  EXPECT_EQ(&PickObject(objects, "5105ab9b-325b-4fa2-9b1f-982a3193b989"), &objects[1]);
  EXPECT_EQ(&PickObject(objects, "FFFFFFFF-0000-0000-0000-000000000000"), &objects[0]);
}

TEST(PageParams, APageWithoutObjectOrFileIsAnError) {
  EXPECT_THROW(PickObject(ParseObjects("<html><p>nothing</p></html>"), "x"), kv::Error);
  EXPECT_THROW(ReadPage("/nonexistent/page.html"), kv::Error);
  // A broken reference stays as written; an unterminated tag ends the text.
  const auto objects = ParseObjects("<object><param name=\"a\" value=\"&bogus; & &#;\"><param name=\"b");
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].params.at(0).second, "&bogus; & &#;");
}

TEST(PageParams, ParamsBelongToTheirNearestObjectAndScriptsHoldNone) {
  const auto objects = ParseObjects(
      "<html><head><script>var s = '<object classid=\"clsid:script\"><param name=\"S\" value=\"1\">';</script>"
      "</head><body><object classid='clsid:outer'><param name='A' value='1'>"
      "<object classid='clsid:inner'><param name='B' value='2'></object><param name='C' value='3'></object>");
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].classid, "clsid:outer");
  EXPECT_EQ(objects[0].params, (Params{{"A", "1"}, {"C", "3"}}));
  EXPECT_EQ(objects[1].classid, "clsid:inner");
  EXPECT_EQ(objects[1].params, (Params{{"B", "2"}}));
}

TEST(PageParams, ServicePageIsFetchedFromItsAddress) {
  kv::test::ServiceStandinProcess service;
  service.WriteFile("page-params.txt", "KalvorUser=pat\nQBFilePath=/data/Acme.QBW\n");
  const auto objects = ParseObjects(ReadPage(service.BaseUrl() + "BrintavelCall.asp?sitecode=AC01&siteid=K9"));
  const PageObject& object = PickObject(objects, "5105AB9B-325B-4FA2-9B1F-982A3193B989");
  EXPECT_EQ(object.params, (Params{{"KVSecureServerURL", service.BaseUrl()},
                                   {"SiteCode", "AC01"},
                                   {"SiteKey", "K9"},
                                   {"KalvorUser", "pat"},
                                   {"QBFilePath", "/data/Acme.QBW"}}));
  EXPECT_THROW(ReadPage("http://127.0.0.1:1/BrintavelCall.asp"), kv::Error);
}

}  // namespace
}  // namespace kvpage
