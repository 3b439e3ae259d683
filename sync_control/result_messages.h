#pragma once

// The texts of the sync's result codes and sync modes, apart from the wizard so tests can check them alone.

#include <cstdint>
#include <string>

namespace brintavel {

// The text shown in the critical box after a run stopped on a failed or cancelled transfer, chosen by the
// result code and the module's last server message and sync mode. Unknown codes give an empty text.
std::string GetResultMessage(int32_t result);
// "None", "Upload", "Download"; any other mode the empty text.
std::string GetSyncModeName(int32_t mode);

}  // namespace brintavel
