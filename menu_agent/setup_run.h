#pragma once

// The start of the program: the choice between the one-off setup run and the server start, and the setup run
// itself (QuickBooks version check, sign-in, company-file check and registration, menu subscription).

#include <string>
#include <vector>

namespace corvalink {

// Whether the command line (the arguments after the program path) asks for the setup run: joined with blanks
// and split again at every blank, it must be exactly the one element "a".
bool IsSetupCommandLine(const std::vector<std::string>& args);

enum class SetupOutcome {
  kMenuAdded,     // the run went through and QuickBooks accepted the menu
  kMenuNotAdded,  // the run went through but QuickBooks refused the menu, or an error ended it after its message
  kEnded,         // a check, the user's Cancel or a QuickBooks error ended the program
};

// The setup run. Every message goes through the current presenter; the sign-in dialog is shown modally on it.
SetupOutcome RunSetup();

// The server start: loads the host form and hides it at once; the loaded form keeps the server running.
void StartServer();

// The whole program, as main runs it: registration switches, then the setup run or the server.
int ProgramMain(int argc, char** argv);

}  // namespace corvalink
