// The event text of a menu pick into the menu agent's callback, `inform`, as QuickBooks hands it over after
// the setup run added the menu.
//
// Whatever the text: only the system's own error (kv::Error) leaves inform; every tag line up to the first one
// that cannot be read runs its item's action once, so the pages opened are exactly those of the items picked;
// every address opened is one line; and the pick lock is free again afterwards.

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>

#include "fuzz/fuzz_support.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_actions.h"
#include "menu_agent/menu_listener.h"
#include "menu_agent/menu_subscription.h"
#include "menu_agent/pick_queue.h"
#include "platform/base/error.h"
#include "platform/forms/form.h"
#include "platform/os/file_lock.h"
#include "tests/support/qb/fake_quickbooks.h"

namespace {

using kvfuzz::Require;

// Items whose action opens one page: the page lists, setup, staffing, customizing, help, the portal, and the
// refresh, which opens its page whatever the service answered.
bool OpensAPage(long item) {
  switch (item) {
    case corvalink::kPickGetTimesheets:
    case corvalink::kPickGetExpenses:
    case corvalink::kPickSynchronize:
    case corvalink::kPickSetupEmployee:
    case corvalink::kPickStaffProject:
    case corvalink::kPickCustomize:
    case corvalink::kPickOnlineHelp:
    case corvalink::kPickGoToPortal:
      return true;
    default:
      return false;
  }
}

// The pages the event text asks for, by the tag rules, up to the first tag that cannot be read.
size_t PagesAskedFor(const std::string& event) {
  size_t pages = 0;
  try {
    for (const std::string& line : corvalink::EventTagLines(event)) {
      if (OpensAPage(corvalink::TagNumber(corvalink::TagTextOf(line)))) ++pages;
    }
  } catch (const kv::Error&) {
  }
  return pages;
}

std::vector<std::string> LogLines(const std::filesystem::path& log) {
  std::ifstream in(log, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool PickLockFree() {
  try {
    return platform::os::FileLock::TryAcquire(corvalink::PickLockPath()).Held();
  } catch (const std::system_error&) {
    return true;  // no lock file can be had, so none is held either
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kvfuzz::ScratchDir scratch;
  static const std::filesystem::path log = scratch.Path() / "browser.log";
  static const bool environment = [] {
    setenv("QB_STANDIN_HOME", (scratch.Path() / "qb-state").c_str(), 1);
    setenv("KV_BROWSER_LOG", log.c_str(), 1);
    setenv("CORVALINK_SERVER_URL", std::string(kvfuzz::InProcessService::kBaseUrl).c_str(), 1);
    return true;
  }();
  (void)environment;
  std::ofstream(log, std::ios::trunc).flush();

  const std::string event(kvfuzz::AsText(data, size));
  kvfuzz::AnsweringUser user;
  kvfuzz::InProcessService service;
  platform::qb::fake::FakeQuickBooks qb;
  corvalink::ResetMainMod();
  platform::forms::ResetDefaultInstances();
  // What the setup run left with QuickBooks: the menu, holding the site values.
  corvalink::MainMod().SiteCode = "ACME";
  corvalink::MainMod().SiteID = "K-77";
  Require(corvalink::AddMenu(true), "the menu can be added");
  corvalink::ResetMainMod();

  try {
    corvalink::QBMenuListener listener;
    listener.inform(event);
  } catch (const kv::Error&) {
    // A tag that cannot be read ends the dispatch with the system's error, which QuickBooks is handed.
  } catch (const std::exception& e) {
    kvfuzz::Fail("only the system's own error leaves inform", e.what());
  }
  platform::forms::ResetDefaultInstances();
  corvalink::ResetMainMod();

  const std::vector<std::string> opened = LogLines(log);
  std::ostringstream detail;
  detail << opened.size() << " opened for the event text:\n" << event;
  Require(opened.size() == PagesAskedFor(event), "every page item picked opens its page once", detail.str());
  for (const std::string& url : opened) {
    Require(url.starts_with("http://") || url.starts_with("https://"), "an opened address is a web address", url);
    Require(url.find_first_of("\r ") == std::string::npos, "an opened address is one line without blanks", url);
  }
  Require(PickLockFree(), "the pick lock is free after the pick");
  std::error_code ec;
  Require(std::filesystem::is_empty(corvalink::PickQueuePath(), ec) || ec, "no pick is left in the queue");
  return 0;
}
