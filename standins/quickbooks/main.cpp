// qb-standin: the QuickBooks stand-in. Keeps which company file is open, answers the request processor and the
// session manager of platform/qb ("serve"), keeps UI-extension subscriptions and delivers menu picks.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "common/file_identity.h"
#include "platform/base/error.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "platform/qb/qb_errors.h"
#include "platform/xml/dom.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/menu.h"
#include "standins/quickbooks/request_handler.h"
#include "standins/quickbooks/serve.h"
#include "standins/quickbooks/state.h"
#include "standins/quickbooks/subscription_service.h"

namespace qb = standins::quickbooks;

namespace {

struct UserError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::filesystem::path RequireOpenCompany() {
  std::optional<std::filesystem::path> open = qb::OpenCompanyFile();
  if (!open) throw UserError("QuickBooks is not running: no company file is open (qb-standin open FILE).");
  return *open;
}

void WritePieces(const std::vector<std::string_view>& pieces) {
  for (std::string_view piece : pieces) std::fwrite(piece.data(), 1, piece.size(), stdout);
  std::fflush(stdout);
}

int CmdOpen(const std::string& file) {
  std::filesystem::path path = std::filesystem::absolute(file).lexically_normal();
  std::shared_ptr<const qb::Company> company = qb::Company::Load(path);
  {
    // A write killed mid-way left its full-size temporary file; no writer runs while the lock is held.
    const platform::os::FileLock lock = qb::LockCompanyFile(path);
    qb::RemoveLeftoverTemporaries(path);
  }
  qb::SetOpenCompanyFile(path);
  std::cout << "QuickBooks has " << path.string() << " open (" << company->records().size() << " records).\n";
  return 0;
}

int CmdStatus() {
  std::optional<std::filesystem::path> open = qb::OpenCompanyFile();
  std::cout << "State directory: " << qb::StateDir().string() << "\n";
  if (!open) {
    std::cout << "QuickBooks is not running (no company file open).\n";
  } else {
    std::cout << "Open company file: " << open->string() << "\n";
    try {
      std::shared_ptr<const qb::Company> company = qb::Company::Load(*open);
      std::string versions;
      for (const std::string& version : company->versions()) versions += (versions.empty() ? "" : " ") + version;
      std::cout << "qbXML versions: " << (versions.empty() ? "(none)" : versions) << "\n";
      std::map<std::string, size_t> counts;
      for (const qb::Record& record : company->records()) ++counts[std::string(record.kind)];
      for (const auto& [kind, count] : counts) std::cout << "  " << kind << ": " << count << "\n";
    } catch (const std::exception& e) {
      std::cout << "The company file cannot be read: " << e.what() << "\n";
    }
  }
  qb::FileSubscriptionStore store;
  std::cout << "Menu subscriptions: " << store.List().size() << "\n";
  return 0;
}

int CmdNew(const std::string& file, const std::string& versions, bool force) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !force) {
    throw UserError(file + " exists already; --force replaces it.");
  }
  qb::WriteFileAtomically(file, qb::EmptyCompanyText(versions));
  std::cout << "Wrote the empty company file " << file << ".\n";
  return 0;
}

int PrintResponse(const std::filesystem::path& company, const std::string& request) {
  qb::RequestResult result = qb::HandleQBXMLRequest(company, request);
  WritePieces(result.response.Pieces());
  return 0;
}

int CmdQuery(const std::string& list, const std::string& active, bool lines, const std::string& file) {
  std::filesystem::path company = file.empty() ? RequireOpenCompany() : std::filesystem::path(file);
  std::string name = list.ends_with("QueryRq") ? list : list + "QueryRq";
  std::string body = "<" + name + " requestID=\"1\">\n";
  if (!active.empty()) body += "<ActiveStatus>" + active + "</ActiveStatus>\n";
  if (lines) body += "<IncludeLineItems>true</IncludeLineItems>\n";
  body += "</" + name + ">\n";
  // Asked in the newest version the company file speaks, as an application would after QBXMLVersionsForSession.
  const std::vector<std::string>& versions = qb::LoadCompanyCached(company)->versions();
  std::string version = versions.empty() ? "1.0" : versions.back();
  return PrintResponse(company, "<?xml version=\"1.0\" ?>\n<?qbxml version=\"" + version +
                                    "\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"stopOnError\">\n" + body +
                                    "</QBXMLMsgsRq>\n</QBXML>\n");
}

int CmdRequest(const std::string& requestFile, const std::string& file) {
  std::filesystem::path company = file.empty() ? RequireOpenCompany() : std::filesystem::path(file);
  std::string request;
  if (requestFile.empty() || requestFile == "-") {
    request.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    request = qb::ReadFile(requestFile);
  }
  qb::RequestResult result = qb::HandleQBXMLRequest(company, request);
  WritePieces(result.response.Pieces());
  return 0;
}

std::string RefName(const platform::xml::Node& record, std::string_view ref) {
  return record.selectSingleNode(std::string(ref) + "/FullName").text();
}

int CmdTxns(bool xml) {
  std::filesystem::path company = RequireOpenCompany();
  std::set<std::string> ids;
  std::filesystem::path journal = qb::StateDir() / "added-transactions";
  if (const std::optional<std::string> text = qb::ReadStateFile(journal)) {
    // Lines name the company file as the request named it; each name is looked up once.
    std::map<std::string, bool> same;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) {
      size_t tab = line.find('\t');
      size_t second = line.find('\t', tab + 1);
      if (tab == std::string::npos || second == std::string::npos) continue;
      const std::string path = line.substr(0, tab);
      auto known = same.find(path);
      if (known == same.end()) known = same.emplace(path, kv::SameFile(path, company.string())).first;
      if (known->second) ids.insert(line.substr(second + 1));
    }
  }
  std::shared_ptr<const qb::Company> loaded = qb::Company::Load(company);
  size_t shown = 0;
  for (const qb::Record& record : loaded->records()) {
    std::optional<std::string_view> id = qb::FieldText(record, "TxnID");
    if (!id || !ids.contains(std::string(*id))) continue;
    ++shown;
    if (xml) {
      std::cout << record.text << "\n";
      continue;
    }
    platform::xml::Document document;
    if (!document.LoadXml(record.text)) continue;  // it parsed as part of the file; alone it always does
    const platform::xml::Node element = document.documentElement();
    auto child = [&](const char* name) { return element.selectSingleNode(name).text(); };
    std::string date = child("TxnDate");
    std::cout << std::string(record.kind.substr(0, record.kind.size() - 3)) << "  " << *id << "  " << date;
    if (record.kind == "TimeTrackingRet") {
      std::cout << "  " << RefName(element, "EntityRef") << "  " << RefName(element, "CustomerRef") << "  "
                << RefName(element, "ItemServiceRef") << "  " << child("Duration");
    } else {
      bool bill = record.kind == "BillRet";
      size_t lines = qb::FieldSpans(record, "ExpenseLineRet").size() + qb::FieldSpans(record, "ItemLineRet").size();
      std::cout << "  " << RefName(element, bill ? "VendorRef" : "PayeeEntityRef");
      if (!bill) std::cout << "  from " << RefName(element, "AccountRef");
      std::cout << "  " << child(bill ? "AmountDue" : "Amount") << "  " << lines << (lines == 1 ? " line" : " lines");
    }
    std::cout << "\n";
  }
  if (shown == 0) std::cout << "No transactions were added to " << company.string() << ".\n";
  return 0;
}

int CmdPick(const std::string& tag, const std::string& subscriber, const std::string& eventFile) {
  std::filesystem::path company = RequireOpenCompany();
  qb::FileSubscriptionStore store;
  platform::qb::UIExtensionSubscriptionRet subscription = qb::SubscriptionForPick(store, tag, subscriber);
  std::string text =
      eventFile.empty() ? qb::MenuEventText(tag, subscription.SubscriberID, company) : qb::ReadFile(eventFile);
  const std::string& progId = subscription.COMCallbackInfo.ProgID;
  if (progId.empty()) throw UserError("The subscription of " + subscription.SubscriberID + " names no ProgID.");
  try {
    platform::com::ActivateAndInform(progId, text);
  } catch (const kv::Error& e) {
    std::fprintf(stderr, "qb-standin: the menu pick failed: inform of %s raised error %lld (0x%08llX): %s\n",
                 progId.c_str(), static_cast<long long>(e.number()),
                 static_cast<unsigned long long>(static_cast<uint32_t>(e.number())), e.description().c_str());
    if (e.number() == platform::com::kErrCantCreateObject && !platform::com::FindLocalServer(progId)) {
      std::fprintf(stderr,
                   "qb-standin: no program is registered for %s; its program registers it with /regserver (for the "
                   "Kalvor menu: corvalink /regserver).\n",
                   progId.c_str());
    }
    return 1;
  }
  std::cout << "Delivered the pick of [" << tag << "] to " << progId << ".\n";
  return 0;
}

int CmdVersion(const std::string& value) {
  if (value.empty()) {
    platform::qb::QBVersion version = qb::LibraryVersion();
    std::cout << version.major << "." << version.minor << "." << version.releaseLevel << "." << version.releaseNumber
              << "\n";
    return 0;
  }
  int parts[4] = {0, 0, 0, 0};
  char dot;
  std::istringstream in(value);
  if (!(in >> parts[0])) throw UserError("The version \"" + value + "\" is not MAJOR[.MINOR[.LEVEL[.NUMBER]]].");
  for (int i = 1; i < 4 && in >> dot; ++i) {
    if (dot != '.' || !(in >> parts[i])) throw UserError("The version \"" + value + "\" is not MAJOR.MINOR.");
  }
  qb::SetLibraryVersion({static_cast<int16_t>(parts[0]), static_cast<int16_t>(parts[1]), static_cast<int16_t>(parts[2]),
                         static_cast<int16_t>(parts[3])});
  std::cout << "The integration library now reports version " << value << ".\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"qb-standin: the QuickBooks stand-in (company file, requests, menu subscriptions, menu picks)"};
  app.require_subcommand(1);
  std::string file, versions = std::string(qb::kDefaultVersions), active, requestFile, companyFile, subscriber,
                    eventFile, tag, versionValue, appName, access;
  bool force = false, lines = false, xml = false;

  CLI::App* open = app.add_subcommand("open", "Make FILE the company file open in QuickBooks");
  open->add_option("FILE", file)->required();
  CLI::App* close = app.add_subcommand("close", "Close the company file (QuickBooks is then not running)");
  CLI::App* status = app.add_subcommand("status", "Show the open company file and the subscriptions");
  CLI::App* create = app.add_subcommand("new", "Write an empty company file");
  create->add_option("FILE", file)->required();
  create->add_option("--versions", versions, "qbXML versions the company's QuickBooks speaks");
  create->add_flag("--force", force, "Replace an existing file");
  CLI::App* serve = app.add_subcommand("serve", "Answer platform/qb's protocol on standard input and output");
  CLI::App* query = app.add_subcommand("query", "Print a list of the open company (Customer, Employee, Check, ...)");
  query->add_option("LIST", file)->required();
  query->add_option("--active", active, "ActiveOnly, InactiveOnly or All");
  query->add_flag("--lines", lines, "Include the lines of checks and bills");
  query->add_option("--company", companyFile, "A company file other than the open one");
  CLI::App* request = app.add_subcommand("request", "Answer a qbXML request from FILE (or standard input)");
  request->add_option("FILE", requestFile);
  request->add_option("--company", companyFile, "A company file other than the open one");
  CLI::App* txns = app.add_subcommand("txns", "List the transactions add requests created in the open company");
  txns->add_flag("--xml", xml, "Print the records themselves");
  CLI::App* menu = app.add_subcommand("menu", "Print the subscribed menus with their event tags");
  CLI::App* pick = app.add_subcommand("pick", "Pick the menu item with event tag N");
  pick->add_option("N", tag)->required();
  pick->add_option("--subscriber", subscriber, "The subscriber whose item it is, when several show the tag");
  pick->add_option("--event-file", eventFile, "Deliver this text instead of the event text QuickBooks builds");
  CLI::App* version = app.add_subcommand("version", "Print or set the integration library's version (GetVersion)");
  version->add_option("VERSION", versionValue, "MAJOR.MINOR[.LEVEL.NUMBER]");
  CLI::App* accessCmd = app.add_subcommand("access", "Allow or deny an application access to company files");
  accessCmd->add_option("APPNAME", appName)->required();
  accessCmd->add_option("DECISION", access)->required()->check(CLI::IsMember({"allow", "deny"}));

  std::vector<std::string> faultLines;
  CLI::App* faultCmd = app.add_subcommand(
      "fault", "Script failures for tests: the next event a LINE names takes it (see state.h for the lines)");
  faultCmd
      ->add_option(
          "LINE", faultLines,
          "\"session refuse\", \"session hold\", \"session ok\", \"add fail [CODE]\", \"add hold\" or \"add ok\"")
      ->required();

  CLI11_PARSE(app, argc, argv);
  try {
    if (*open) return CmdOpen(file);
    if (*close) {
      qb::ClearOpenCompanyFile();
      std::cout << "QuickBooks closed its company file.\n";
      return 0;
    }
    if (*status) return CmdStatus();
    if (*create) return CmdNew(file, versions, force);
    if (*serve) return qb::Serve(STDIN_FILENO, STDOUT_FILENO);
    if (*query) return CmdQuery(file, active, lines, companyFile);
    if (*request) return CmdRequest(requestFile, companyFile);
    if (*txns) return CmdTxns(xml);
    if (*menu) {
      qb::FileSubscriptionStore store;
      std::cout << qb::DescribeMenus(store);
      return 0;
    }
    if (*pick) return CmdPick(tag, subscriber, eventFile);
    if (*version) return CmdVersion(versionValue);
    if (*faultCmd) {
      qb::AddFaults(faultLines);
      std::cout << "QuickBooks has " << faultLines.size() << " more scripted "
                << (faultLines.size() == 1 ? "event" : "events") << ".\n";
      return 0;
    }
    if (*accessCmd) {
      qb::SetAccessDenied(appName, access == "deny");
      std::cout << "QuickBooks " << (access == "deny" ? "denies " : "allows ") << appName << " access.\n";
      return 0;
    }
  } catch (const kv::Error& e) {
    std::fprintf(stderr, "qb-standin: error %lld: %s\n", static_cast<long long>(e.number()), e.description().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qb-standin: %s\n", e.what());
    return 1;
  }
  return 0;
}
