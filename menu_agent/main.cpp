#include "menu_agent/setup_run.h"

int main(int argc, char** argv) {
  return corvalink::ProgramMain(argc, argv);
}
