#pragma once

namespace halvoric {

// The program: initialises the framework, starts the application and runs
// its event loop until it quits; returns the exit status.
int Main(int argc, char** argv);

// The start-up steps that run inside the framework's initialisation, in order:
// the document type, the application object with its menu bar, the bindings
// of the application's menu items.
void Startup();
void InitFileTypes();
void NewAppInstance();

// Lets go of the program's module state: the document type, then the menu bar.
void ReleaseModuleState();

}  // namespace halvoric
