// The control object: page parameters, the safety declaration and the sales-tax lookup.

#include <gtest/gtest.h>

#include <thread>

#include "platform/activex/object_safety.h"
#include "platform/activex/user_control.h"
#include "platform/base/error.h"
#include "sync_control/brintavel_ctl.h"
#include "tests/support/scripted_presenter_scope.h"

namespace brintavel {
namespace {

using platform::activex::PropertyBag;

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetModule(); }
  void TearDown() override { ResetModule(); }

  void Site(PropertyBag bag) { host_.Site(std::move(bag), 9600, 7200); }
  // A page with no parameters at all; a disengaged optional moved in here makes GCC 12 warn at -O1 of the bag's
  // uninitialised members (-Wmaybe-uninitialized), so the host gets it directly.
  void SiteWithoutParameters() { host_.Site(std::nullopt, 9600, 7200); }

  kvtest::ScriptedUi ui_;
  BrintavelCtl ctl_;
  platform::activex::ControlHost host_{ctl_};
};

TEST_F(ControlTest, ParametersAreReadAndTheServiceUrlGetsItsSlash) {
  Site(PropertyBag{{"ResetKalvor", "true"},
                   {"KVSecureServerURL", "https://kalvor.example/app"},
                   {"SiteCode", " AC01 "},
                   {"SiteKey", "k"},
                   {"PLClientVersion", "4.1"},
                   {"CustLexicon", "Client"},
                   {"EmpLexicon", "Staff"},
                   {"ProjLexicon", "Job"},
                   {"KalvorUser", "pat o'neil"},
                   {"QBFilePath", "/data/Acme.QBW"}});
  EXPECT_TRUE(ctl_.ResetKalvor);
  EXPECT_EQ(ctl_.KVSecureServerURL, "https://kalvor.example/app/");
  EXPECT_EQ(ctl_.SiteCode, " AC01 ");  // texts are stored as given
  EXPECT_EQ(ctl_.KalvorUser, "pat o'neil");
  EXPECT_EQ(ctl_.Label2.Caption(), "Staffs");
  EXPECT_EQ(ctl_.Label3.Caption(), "Clients:Jobs");

  ctl_.KVSecureServerURL.clear();
  PropertyBag again{{"KVSecureServerURL", "https://kalvor.example/app/"}};
  ctl_.ReadProperties(again);
  EXPECT_EQ(ctl_.KVSecureServerURL, "https://kalvor.example/app/");
  PropertyBag blanks{{"KVSecureServerURL", "   "}};
  ctl_.ReadProperties(blanks);
  EXPECT_EQ(ctl_.KVSecureServerURL, "   ");
  // Without lexicons the captions are the bare endings; the wizard's defaults come later and do not change them.
  EXPECT_EQ(ctl_.Label2.Caption(), "s");
  EXPECT_EQ(ctl_.Label3.Caption(), "s:s");
}

TEST_F(ControlTest, LastSyncDatesDefaultToTheStartOf2000AndKeepGivenDates) {
  Site(PropertyBag{{"CustomerLastSyncDate", "3/4/2021 1:02:03 PM"},
                   {"EmployeeLastSyncDate", "   "},
                   {"GLAccountsLastSyncDate", "01/01/2000 01:01:01 AM"},
                   {"TasksLastSyncDate", "12/31/1998"}});
  const ModWizard& m = Module();
  const kv::DateTime fallback = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
  EXPECT_EQ(m.CustomerLastSyncDate, kv::DateTime::FromParts(2021, 3, 4, 13, 2, 3));
  EXPECT_EQ(m.EmployeeLastSyncDate, fallback);
  EXPECT_EQ(m.GLAccountsLastSyncDate, fallback);
  EXPECT_EQ(m.TasksLastSyncDate, kv::DateTime::FromParts(1998, 12, 31));
  EXPECT_EQ(m.ClassLastSyncDate, fallback);
  EXPECT_EQ(m.VendorsLastSyncDate, fallback);
  EXPECT_EQ(m.TimeLastSyncDate, fallback);
  EXPECT_EQ(m.ExpenseLastSyncDate, fallback);
}

// The service's pages write last-sync dates in more forms than one; the page must still show the wizard.
TEST_F(ControlTest, LastSyncDatesInTheOtherFormsOfThePlatformsConversion) {
  Site(PropertyBag{{"CustomerLastSyncDate", "2006-05-02 16:40:12"},
                   {"EmployeeLastSyncDate", "05/02/06"},
                   {"GLAccountsLastSyncDate", "May 2, 2006"},
                   {"TasksLastSyncDate", "2 May 2006 4:40 PM"},
                   {"ClassLastSyncDate", "5-2-2006"},
                   {"VendorsLastSyncDate", "5.2.2006 16:40:12"}});
  const ModWizard& m = Module();
  const kv::DateTime may2 = kv::DateTime::FromParts(2006, 5, 2);
  EXPECT_EQ(m.CustomerLastSyncDate, kv::DateTime::FromParts(2006, 5, 2, 16, 40, 12));
  EXPECT_EQ(m.EmployeeLastSyncDate, may2);
  EXPECT_EQ(m.GLAccountsLastSyncDate, may2);
  EXPECT_EQ(m.TasksLastSyncDate, kv::DateTime::FromParts(2006, 5, 2, 16, 40, 0));
  EXPECT_EQ(m.ClassLastSyncDate, may2);
  EXPECT_EQ(m.VendorsLastSyncDate, kv::DateTime::FromParts(2006, 5, 2, 16, 40, 12));
}

TEST_F(ControlTest, ReadingResetsTheListFailureCountersButNotTimeAndExpenses) {
  ctl_.lngFailedCustCnt = ctl_.lngFailedEmpCnt = ctl_.lngFailedProjCnt = ctl_.lngFailedItemCnt = 1;
  ctl_.lngFailedGLCnt = ctl_.lngFailedClassCnt = ctl_.lngFailedVendCnt = 1;
  ctl_.lngFailedTimeCnt = 4;
  ctl_.lngFailedExpCnt = 5;
  Site(PropertyBag{{"SiteCode", "A"}});
  EXPECT_EQ(ctl_.lngFailedCustCnt + ctl_.lngFailedEmpCnt + ctl_.lngFailedProjCnt + ctl_.lngFailedItemCnt +
                ctl_.lngFailedGLCnt + ctl_.lngFailedClassCnt + ctl_.lngFailedVendCnt,
            0);
  EXPECT_EQ(ctl_.lngFailedTimeCnt, 4);
  EXPECT_EQ(ctl_.lngFailedExpCnt, 5);
}

TEST_F(ControlTest, AValueThatDoesNotConvertStopsTheReadingAtItsKey) {
  EXPECT_THROW(
      Site(PropertyBag{{"SiteCode", "A"}, {"CustomerLastSyncDate", "yesterday"}, {"TimeLastSyncDate", "1/1/2020"}}),
      kv::Error);
  EXPECT_EQ(ctl_.SiteCode, "A");
  EXPECT_TRUE(Module().TimeLastSyncDate.IsZero());

  BrintavelCtl other;
  PropertyBag bad_flag{{"ResetKalvor", "maybe"}, {"SiteCode", "B"}};
  EXPECT_THROW(other.ReadProperties(bad_flag), kv::Error);
  EXPECT_EQ(other.SiteCode, "");
}

TEST_F(ControlTest, WithoutParametersNothingIsRead) {
  SiteWithoutParameters();
  EXPECT_EQ(ctl_.Label2.Caption(), "Employees");
  EXPECT_TRUE(Module().CustomerLastSyncDate.IsZero());
}

TEST_F(ControlTest, PageStorageAndTheNoOpMethod) {
  ctl_.kvUtilitySet = kvurSystemError;
  ctl_.KVLastUploadDate = kv::DateTime::FromParts(2020, 5, 6);
  EXPECT_EQ(ctl_.UpdateDataForKVRequirement(), kvurSuccess);
  EXPECT_EQ(ctl_.kvUtilitySet, kvurSystemError);
  EXPECT_EQ(ctl_.KVLastUploadDate, kv::DateTime::FromParts(2020, 5, 6));
}

TEST_F(ControlTest, ModuleStateIsSharedOnAThreadAndSeparateAcrossThreads) {
  Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kCA2_0;
  BrintavelCtl second;  // a second control on the same page
  PropertyBag bag{{"TimeLastSyncDate", "5/6/2021"}};
  second.ReadProperties(bag);
  EXPECT_EQ(Module().TimeLastSyncDate, kv::DateTime::FromParts(2021, 5, 6));

  auto other_version = kv::qb::QBXMLVersion{-1};
  bool other_date_zero = false;
  std::thread([&] {
    other_version = Module().lngQBXMLVersion;
    other_date_zero = Module().TimeLastSyncDate.IsZero();
    Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kUS2_0;
  }).join();
  EXPECT_EQ(other_version, kv::qb::QBXMLVersion::kUS1_0);
  EXPECT_TRUE(other_date_zero);
  EXPECT_EQ(Module().lngQBXMLVersion, kv::qb::QBXMLVersion::kCA2_0);
}

TEST_F(ControlTest, ReplaceSingleQuotesDoublesEveryApostropheAtAnyLength) {
  EXPECT_EQ(ctl_.ReplaceSingleQuotes("O'Brien's"), "O''Brien''s");
  EXPECT_EQ(ctl_.ReplaceSingleQuotes(""), "");
  const std::string long_text = std::string(40000, 'a') + "'";
  EXPECT_EQ(ctl_.ReplaceSingleQuotes(long_text), std::string(40000, 'a') + "''");
}

// ---- Safety declaration

platform::com::HRESULT Get(BrintavelCtl& ctl, const platform::com::Guid& iid, uint32_t& supported, uint32_t& enabled) {
  return platform::activex::CallForHResult([&] { ctl.GetInterfaceSafetyOptions(iid, supported, enabled); });
}

platform::com::HRESULT Set(BrintavelCtl& ctl, const platform::com::Guid& iid, uint32_t mask, uint32_t options) {
  return platform::activex::CallForHResult([&] { ctl.SetInterfaceSafetyOptions(iid, mask, options); });
}

TEST_F(ControlTest, SafetyOptionsPerInterface) {
  using namespace platform::com;
  uint32_t supported = 0, enabled = 77;
  EXPECT_EQ(Get(ctl_, IID_IDispatch, supported, enabled), S_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 1u);
  EXPECT_EQ(Get(ctl_, IID_IPersistPropertyBag, supported, enabled), S_OK);
  EXPECT_EQ(enabled, 2u);
  EXPECT_EQ(Get(ctl_, IID_IPersistStorage, supported, enabled), S_OK);
  EXPECT_EQ(Get(ctl_, IID_IPersistStream, supported, enabled), S_OK);

  const Guid persist_stream_init{0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
  supported = 0;
  enabled = 77;
  EXPECT_EQ(Get(ctl_, persist_stream_init, supported, enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 77u);
  supported = 0;
  EXPECT_EQ(Get(ctl_, Guid{}, supported, enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 3u);
}

TEST_F(ControlTest, SafetyIsSetOnlyForTheOptionOfEachInterface) {
  using namespace platform::com;
  EXPECT_EQ(Set(ctl_, IID_IDispatch, 1, 1), S_OK);
  EXPECT_EQ(Set(ctl_, IID_IDispatch, 3, 3), E_FAIL);
  EXPECT_EQ(Set(ctl_, IID_IDispatch, 0, 0), E_FAIL);
  EXPECT_EQ(Set(ctl_, IID_IPersistStream, 2, 2), S_OK);
  EXPECT_EQ(Set(ctl_, IID_IPersistStream, 1, 3), E_FAIL);
  EXPECT_EQ(Set(ctl_, IID_IPersistPropertyBag, 3, 2), S_OK);
  EXPECT_EQ(Set(ctl_, Guid{}, 1, 1), E_NOINTERFACE);
}

// ---- Sales-tax lookup

TEST_F(ControlTest, SalesTaxLookupFirstMatchingNameDecidesExactly) {
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable("Tax"));  // nothing loaded yet
  Module().sQBXMLResponse =
      "<QBXML><QBXMLMsgsRs><SalesTaxCodeQueryRs>"
      "<SalesTaxCodeRet><Name>Tax</Name><IsTaxable>true</IsTaxable></SalesTaxCodeRet>"
      "<SalesTaxCodeRet><Name>Tax</Name><IsTaxable>false</IsTaxable></SalesTaxCodeRet>"
      "<SalesTaxCodeRet><Name>Non</Name><IsTaxable>True</IsTaxable></SalesTaxCodeRet>"
      "<SalesTaxCodeRet><IsTaxable>true</IsTaxable></SalesTaxCodeRet>"
      "</SalesTaxCodeQueryRs></QBXMLMsgsRs></QBXML>";
  ctl_.LoadSalesTaxCodes();
  EXPECT_TRUE(ctl_.IsSalesTaxCodeTaxable("Tax"));
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable("tax"));
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable("Non"));  // "True" is not the qbXML true
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable(""));

  // A response that does not parse keeps the list; one without codes empties it.
  Module().sQBXMLResponse = "<QBXML><unclosed>";
  ctl_.LoadSalesTaxCodes();
  EXPECT_TRUE(ctl_.IsSalesTaxCodeTaxable("Tax"));
  Module().sQBXMLResponse = "<QBXML/>";
  ctl_.LoadSalesTaxCodes();
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable("Tax"));
  // Codes read before the text breaks off are not taken either.
  Module().sQBXMLResponse =
      "<QBXML><SalesTaxCodeRet><Name>Other</Name><IsTaxable>true</IsTaxable></SalesTaxCodeRet><Broken></QBXML>";
  ctl_.LoadSalesTaxCodes();
  EXPECT_FALSE(ctl_.IsSalesTaxCodeTaxable("Other"));
}

}  // namespace
}  // namespace brintavel
