// Reading the stolen share of the machine's processor time.

#include "bench/stolen_time.h"

#include <fstream>
#include <sstream>

namespace kvbench {

ProcessorTimes ParseProcessorTimes(const std::string& proc_stat) {
  ProcessorTimes times;
  const std::string text = "\n" + proc_stat;  // so that the first line starts after a newline too
  const size_t line = text.find("\ncpu ");
  if (line == std::string::npos) return times;
  std::istringstream fields(text.substr(line + 5));
  // user nice system idle iowait irq softirq steal; the guest columns after them are counted in user already.
  for (int column = 0; column < 8; ++column) {
    double ticks = 0;
    if (!(fields >> ticks)) break;
    times.total += ticks;
    if (column == 7) times.stolen = ticks;
  }
  return times;
}

ProcessorTimes ReadProcessorTimes() {
  // The machine's line is the first; the rest (a line a processor, the interrupts) is not needed.
  std::ifstream in("/proc/stat");
  std::string first;
  std::getline(in, first);
  return ParseProcessorTimes(first);
}

double StolenShare(const ProcessorTimes& before, const ProcessorTimes& after) {
  const double total = after.total - before.total;
  return total > 0 ? (after.stolen - before.stolen) / total : 0;
}

}  // namespace kvbench
