#pragma once

// The benchmark's table: the figures of each measurement, the ratios to their references and the targets, as
// plain text for the terminal, as the README's performance section, and as key=value lines for scripts.

#include <optional>
#include <string>
#include <vector>

#include "bench/measure.h"

namespace kvbench {

struct MachineInfo {
  long cpus = 0;
  std::string cpu_model;
  double memory_gib = 0;
  std::string load;  // the load averages when the run started
};

MachineInfo ReadMachine();

struct Results {
  MachineInfo machine;
  std::vector<SyncFigures> syncs;
  std::vector<DownloadFigures> downloads;
  std::optional<WaitFigures> wait;
};

// True when every measurement ran and checked out (targets aside).
bool AllRan(const Results& results);
std::string TextReport(const Results& results);
// "## Performance" with the machine, the table and how it was measured.
std::string MarkdownSection(const Results& results);
// Every figure as "key=value", one a line.
std::string KeyValues(const Results& results);

}  // namespace kvbench
