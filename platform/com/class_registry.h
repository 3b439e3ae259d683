#pragma once

// The registry of out-of-process server classes, shared by the servers that register and the clients that start them.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"

namespace platform::com {

// One out-of-process server class: its ProgID, its class id (may be null) and the absolute path of the program
// that serves it.
struct ServerRegistration {
  std::string progId;
  Guid clsid;
  std::filesystem::path program;
};

// The class registry file inside StateDirectory(). Each change rewrites the file through a temporary file and a
// rename under an exclusive lock of a side file, so concurrent registrations from several processes never lose
// one another and readers never see half a file. ProgIDs compare without regard to letter case. The folder is
// opened with OpenPrivateFolder: one that another user could change is neither read nor written (kv::Error 70).
std::filesystem::path ClassRegistryPath();

// Adds or replaces the ProgID's entry. A ProgID must be 1-39 letters, digits, periods or underscores, not
// starting with a digit; the program path must be absolute and free of tabs and line breaks. Failures raise
// kv::Error (number 5 for a bad ProgID or path, errno for a file failure).
void RegisterLocalServer(const ServerRegistration& registration);
// Removes the ProgID's entry; false when there was none.
bool UnregisterLocalServer(const std::string& progId);
// The ProgID's entry, or nothing when it is not registered (or the registry does not exist yet).
std::optional<ServerRegistration> FindLocalServer(const std::string& progId);
std::vector<ServerRegistration> ListLocalServers();

}  // namespace platform::com
