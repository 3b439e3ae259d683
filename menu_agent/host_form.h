#pragma once

// The hidden host form kalvorSync: while it is loaded the agent keeps serving QuickBooks, its load sets the
// fixed module values, and it stands in front of QuickBooks while the uninstall question is asked.

#include "platform/forms/form.h"

namespace corvalink {

class kalvorSync : public platform::forms::Form {
 public:
  kalvorSync();
  ~kalvorSync() override;
};

// The thread's host form (its default instance).
kalvorSync& HostForm();
// Whether the host form is loaded now.
bool HostFormLoaded();

}  // namespace corvalink
