// The agent's module state and its configuration from the environment.

#include "menu_agent/main_mod.h"

#include <cstdlib>

#include "platform/forms/presenter.h"

#ifndef CORVALINK_DEFAULT_SERVER_URL
#define CORVALINK_DEFAULT_SERVER_URL "http://www.kalvor.example/"
#endif
#ifndef CORVALINK_DEFAULT_PORTAL_URL
#define CORVALINK_DEFAULT_PORTAL_URL "http://www.staffmere.example/"
#endif
#ifndef CORVALINK_DEFAULT_PUBLIC_ADDRESS
#define CORVALINK_DEFAULT_PUBLIC_ADDRESS "www.kalvor.example"
#endif
#ifndef CORVALINK_DEFAULT_QUICKBOOKS_URL
#define CORVALINK_DEFAULT_QUICKBOOKS_URL "http://quickbooks.intuit.com/"
#endif
#ifndef CORVALINK_DEFAULT_SUPPORT_EMAIL
#define CORVALINK_DEFAULT_SUPPORT_EMAIL "support@kalvor.example"
#endif
#ifndef CORVALINK_DEFAULT_SUPPORT_PHONE
#define CORVALINK_DEFAULT_SUPPORT_PHONE "1-800-555-0142"
#endif

namespace corvalink {
namespace {

thread_local MainModState t_main_mod;

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

}  // namespace

MainModState& MainMod() {
  return t_main_mod;
}

void ResetMainMod() {
  t_main_mod = MainModState{};
}

std::string AsBaseUrl(std::string_view url) {
  std::string base(url);
  if (base.empty() || base.back() != '/') base += '/';
  return base;
}

Configuration CurrentConfiguration() {
  Configuration config;
  config.serverUrl = AsBaseUrl(FromEnvironment("CORVALINK_SERVER_URL", CORVALINK_DEFAULT_SERVER_URL));
  config.portalUrl = AsBaseUrl(FromEnvironment("CORVALINK_PORTAL_URL", CORVALINK_DEFAULT_PORTAL_URL));
  config.publicAddress = FromEnvironment("CORVALINK_PUBLIC_ADDRESS", CORVALINK_DEFAULT_PUBLIC_ADDRESS);
  config.quickBooksUrl = FromEnvironment("CORVALINK_QUICKBOOKS_URL", CORVALINK_DEFAULT_QUICKBOOKS_URL);
  config.supportEmail = FromEnvironment("CORVALINK_SUPPORT_EMAIL", CORVALINK_DEFAULT_SUPPORT_EMAIL);
  config.supportPhone = FromEnvironment("CORVALINK_SUPPORT_PHONE", CORVALINK_DEFAULT_SUPPORT_PHONE);
  return config;
}

int AgentMsgBox(std::string_view prompt, int buttons) {
  return platform::forms::MsgBox(prompt, buttons, kProgramTitle);
}

}  // namespace corvalink
