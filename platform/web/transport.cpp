// Which transport the browsers use: one installed for the process, as platform/qb installs its class factory.
#include "platform/web/transport.h"

namespace platform::web {
namespace {

Transport* g_installed = nullptr;
uint64_t g_generation = 0;

}  // namespace

Transport& InstalledTransport() {
  return g_installed != nullptr ? *g_installed : CurlTransport();
}

uint64_t InstalledTransportGeneration() {
  return g_generation;
}

ScopedTransport::ScopedTransport(Transport& transport) : previous_(g_installed) {
  g_installed = &transport;
  ++g_generation;
}

ScopedTransport::~ScopedTransport() {
  g_installed = previous_;
  ++g_generation;
}

}  // namespace platform::web
