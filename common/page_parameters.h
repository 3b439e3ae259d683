#pragma once

// The parameters that a service page hands to either control, read once for both. Each control keeps what it
// does with them afterwards (the download trims blanks around the service address, the sync does not).

#include <string>

#include "platform/activex/property_bag.h"

namespace kv {

struct SiteParameters {
  bool ResetKalvor = false;
  std::string KVSecureServerURL;  // ends with "/" once read, unless blank
  std::string SiteCode;
  std::string SiteKey;
  std::string PLClientVersion;
  std::string CustLexicon;
  std::string EmpLexicon;
  std::string ProjLexicon;
  std::string SILexicon;
  std::string SubProjLexicon;
  std::string KalvorUser;
  std::string QBFilePath;
};

// Reads them in page order. No error trap: a value that does not convert stops the reading at its key and goes
// to the host, as the platform's property bag does.
void ReadSiteParameters(const platform::activex::PropertyBag& bag, SiteParameters& out);

// The same reading in its two halves, for a control that reads a key of its own between them: the connection
// (ResetKalvor to PLClientVersion), then the site's words, its user and its company file (CustLexicon to
// QBFilePath).
void ReadSiteConnection(const platform::activex::PropertyBag& bag, SiteParameters& out);
void ReadSiteWordsAndFile(const platform::activex::PropertyBag& bag, SiteParameters& out);

// The page names are appended to the service address, so it must end in "/"; a blank one stays as it is.
void EndWithSlash(std::string& url);

}  // namespace kv
