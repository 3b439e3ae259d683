// The corvalink program's entry; the command line is read in program.cpp, which the tests link without a main.

#include "menu_agent/setup_run.h"

int main(int argc, char** argv) {
  return corvalink::ProgramMain(argc, argv);
}
