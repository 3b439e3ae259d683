#pragma once

// The processor time the hypervisor takes from this machine's processors (the steal column of /proc/stat). On a
// shared host a spell of it slows one side of a pair only, so a pair that lost much of the machine is run again.

#include <string>

namespace kvbench {

// The machine's processor time so far, in clock ticks, all processors together.
struct ProcessorTimes {
  double stolen = 0;
  double total = 0;  // every state, the stolen time among them
};

// From the text of /proc/stat; zeros when it has no "cpu " line.
ProcessorTimes ParseProcessorTimes(const std::string& proc_stat);
ProcessorTimes ReadProcessorTimes();

// The share of the machine's processor time between the two readings that the hypervisor took, 0 to 1.
double StolenShare(const ProcessorTimes& before, const ProcessorTimes& after);

}  // namespace kvbench
