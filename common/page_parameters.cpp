// Reading the page parameters both controls share, key by key in page order.

#include "common/page_parameters.h"

#include "platform/base/text.h"

namespace kv {

void ReadSiteParameters(const platform::activex::PropertyBag& bag, SiteParameters& out) {
  ReadSiteConnection(bag, out);
  ReadSiteWordsAndFile(bag, out);
}

void ReadSiteConnection(const platform::activex::PropertyBag& bag, SiteParameters& out) {
  out.ResetKalvor = bag.ReadFlag("ResetKalvor");
  out.KVSecureServerURL = bag.ReadText("KVSecureServerURL");
  out.SiteCode = bag.ReadText("SiteCode");
  out.SiteKey = bag.ReadText("SiteKey");
  out.PLClientVersion = bag.ReadText("PLClientVersion");
}

void ReadSiteWordsAndFile(const platform::activex::PropertyBag& bag, SiteParameters& out) {
  out.CustLexicon = bag.ReadText("CustLexicon");
  out.EmpLexicon = bag.ReadText("EmpLexicon");
  out.ProjLexicon = bag.ReadText("ProjLexicon");
  out.SILexicon = bag.ReadText("SILexicon");
  out.SubProjLexicon = bag.ReadText("SubProjLexicon");
  out.KalvorUser = bag.ReadText("KalvorUser");
  out.QBFilePath = bag.ReadText("QBFilePath");
}

void EndWithSlash(std::string& url) {
  if (!TrimBlanks(url).empty() && url.back() != '/') url += '/';
}

}  // namespace kv
