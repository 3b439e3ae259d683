// Reading a service page's <object> and <param> tags for kvpage --page, from a file or from the service.

#include "hosts/kvpage/page_params.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"
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
}

TEST(PageParams, TheObjectOfTheControlIsPickedByClassIdOrProgId) {
  const auto objects = ParseObjects(R"(<object classid="progid:Tessarine.KVRDowloadctl"></object>
    <object classid="CLSID:{5105ab9b-325b-4fa2-9b1f-982a3193b989}"></object>
    <object classid="clsid:5105AB9B-325B-4FA2-9B1F-982A3193B98"></object>)");
  ASSERT_EQ(objects.size(), 3u);
  const std::vector<std::string> sync = {"5105AB9B-325B-4FA2-9B1F-982A3193B989", "Brintavel.BrintavelCtl"};
  EXPECT_EQ(&PickObject(objects, sync, "BrintavelCtl"), &objects[1]);
  EXPECT_EQ(&PickObject(objects, {"tessarine.kvrdowloadctl"}, "KVRDowloadctl"), &objects[0]);
  // A class id that only begins like the control's is another class.
  try {
    PickObject({objects[2], objects[0]}, sync, "BrintavelCtl");
    ADD_FAILURE() << "an object of another class was taken";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.description(),
              "The page embeds no BrintavelCtl control; the class ids of its objects: "
              "\"clsid:5105AB9B-325B-4FA2-9B1F-982A3193B98\", \"progid:Tessarine.KVRDowloadctl\"");
  }
  try {
    PickObject(ParseObjects("<object></object><object classid=\"clsid:\x1b[2J\"></object>"), sync, "BrintavelCtl");
    ADD_FAILURE() << "an object without the control's class was taken";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.description(),
              "The page embeds no BrintavelCtl control; the class ids of its objects: none, \"clsid:^[[2J\"");
  }
}

TEST(PageParams, APageWithoutObjectOrFileIsAnError) {
  EXPECT_THROW(PickObject(ParseObjects("<html><p>nothing</p></html>"), {"x"}, "X"), kv::Error);
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
  const PageObject& object = PickObject(objects, {"5105AB9B-325B-4FA2-9B1F-982A3193B989"}, "BrintavelCtl");
  EXPECT_EQ(object.params, (Params{{"KVSecureServerURL", service.BaseUrl()},
                                   {"SiteCode", "AC01"},
                                   {"SiteKey", "K9"},
                                   {"KalvorUser", "pat"},
                                   {"QBFilePath", "/data/Acme.QBW"}}));
  EXPECT_THROW(ReadPage("http://127.0.0.1:1/BrintavelCall.asp"), kv::Error);
}

TEST(PageParams, APageThatCannotBeReadKeepsTheLinesOfTheErrorPage) {
  try {
    ReadPage("http://127.0.0.1:1/BrintavelCall.asp");
    ADD_FAILURE() << "an unreachable page was read";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.description().rfind("The page http://127.0.0.1:1/BrintavelCall.asp could not be read:\n"
                                    "The page cannot be displayed\nFailed to connect to 127.0.0.1 port 1",
                                    0),
              0u)
        << e.description();
    EXPECT_EQ(e.description().find('\r'), std::string::npos);
  }

  // What the service answers with an error status is shown too, but cannot drive the terminal.
  kv::test::ServiceStandinProcess service;
  service.WriteFile("faults/BrintavelCall.asp", "status 500\n");
  service.WriteFile("answers/BrintavelCall.asp", "Broken \x1b[2Jpage\r\nsecond line");
  try {
    ReadPage(service.BaseUrl() + "BrintavelCall.asp");
    ADD_FAILURE() << "a page answered with status 500 was read";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find(":\nThe page cannot be displayed\nHTTP 500"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("Broken ^[[2Jpage\nsecond line"), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find('\x1b'), std::string::npos);
  }
}

}  // namespace
}  // namespace kvpage
