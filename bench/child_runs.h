#pragma once

// The measurements, each run in a process of its own (kv-bench child KIND --key value ...) so that its peak
// memory is its own. Each prints its figures as "key=value" lines and exits 0 when it ran to its end.

#include <chrono>
#include <map>
#include <string>

namespace kvbench {

using ChildArgs = std::map<std::string, std::string>;
using Clock = std::chrono::steady_clock;

// Seconds since a moment of the steady clock.
double Since(Clock::time_point start);
// The value of --key; throws std::runtime_error naming the key when the child was started without it.
const std::string& Required(const ChildArgs& args, const std::string& key);

// A sync of the company open in the QuickBooks stand-in to the service at --url, every list ticked (or those of
// --lists, comma-separated: employees customers vendors payterms accounts items classes time expenses).
// --response FILE keeps QuickBooks' answer for the reference; --since DATE gives every list that last-sync date.
int SyncChild(const ChildArgs& args);
// The sync's references: --passes libxml2 parses of --response into a tree, one streaming parse of it (no tree),
// then the requests recorded in --data sent again to --url; each reference is its parses plus the requests.
int SyncReferenceChild(const ChildArgs& args);
// A download of --mode time|expenses from the service at --url into --company, pressing Continue; --trace FILE
// keeps the control's QuickBooks calls for the reference.
int DownloadChild(const ChildArgs& args);
// The download's reference: the calls of --trace through bare processors, then the requests recorded in --data
// sent again to --url.
int DownloadReferenceChild(const ChildArgs& args);

// Dispatches "child KIND --key value ..." (argv from KIND on).
int RunChildCommand(int argc, char** argv);

}  // namespace kvbench
