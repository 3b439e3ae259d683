// The page parameters both controls share: their names, the conversion that stops the reading, the slash.

#include "common/page_parameters.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace kv {
namespace {

TEST(PageParametersTest, EverySharedParameterIsReadByItsPageName) {
  const platform::activex::PropertyBag bag{{"resetkalvor", "true"},  {"KVSecureServerURL", " https://kv.example/app "},
                                           {"SiteCode", "ACME"},     {"SiteKey", "K-1"},
                                           {"PLClientVersion", "7"}, {"CustLexicon", "Client"},
                                           {"EmpLexicon", "Staff"},  {"ProjLexicon", "Job"},
                                           {"SILexicon", "Task"},    {"SubProjLexicon", "Phase"},
                                           {"KalvorUser", "ann"},    {"QBFilePath", "/q/Acme Co.QBW"},
                                           {"Unrelated", "x"}};
  SiteParameters p;
  ReadSiteParameters(bag, p);
  EXPECT_TRUE(p.ResetKalvor);
  EXPECT_EQ(p.KVSecureServerURL, " https://kv.example/app ");  // blanks are each control's own business
  EXPECT_EQ(p.SiteCode, "ACME");
  EXPECT_EQ(p.SiteKey, "K-1");
  EXPECT_EQ(p.PLClientVersion, "7");
  EXPECT_EQ(p.CustLexicon, "Client");
  EXPECT_EQ(p.EmpLexicon, "Staff");
  EXPECT_EQ(p.ProjLexicon, "Job");
  EXPECT_EQ(p.SILexicon, "Task");
  EXPECT_EQ(p.SubProjLexicon, "Phase");
  EXPECT_EQ(p.KalvorUser, "ann");
  EXPECT_EQ(p.QBFilePath, "/q/Acme Co.QBW");
}

TEST(PageParametersTest, AFlagThatDoesNotConvertStopsTheReadingAtItsKey) {
  const platform::activex::PropertyBag bag{{"ResetKalvor", "perhaps"}, {"SiteCode", "ACME"}};
  SiteParameters p;
  EXPECT_THROW(ReadSiteParameters(bag, p), kv::Error);
  EXPECT_EQ(p.SiteCode, "");
}

TEST(PageParametersTest, TheServiceAddressEndsWithASlashUnlessBlank) {
  for (const auto& [given, wanted] : std::initializer_list<std::pair<std::string, std::string>>{
           {"http://h/app", "http://h/app/"}, {"http://h/app/", "http://h/app/"}, {"", ""}, {"   ", "   "}}) {
    std::string url = given;
    EndWithSlash(url);
    EXPECT_EQ(url, wanted) << "'" << given << "'";
  }
}

}  // namespace
}  // namespace kv
