// Reading the stolen share of the machine's processor time.

#include "bench/stolen_time.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace kvbench {

ProcessorTimes ParseProcessorTimes(const std::string& proc_stat) {
  ProcessorTimes times;
  const size_t line = proc_stat.rfind("cpu ", 0) == 0 ? 0 : proc_stat.find("\ncpu ");
  if (line == std::string::npos) return times;
  std::istringstream fields(proc_stat.substr(proc_stat.find("cpu ", line) + 4));
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
  std::ifstream in("/proc/stat");
  return ParseProcessorTimes(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

double StolenShare(const ProcessorTimes& before, const ProcessorTimes& after) {
  const double total = after.total - before.total;
  return total > 0 ? (after.stolen - before.stolen) / total : 0;
}

}  // namespace kvbench
