// The engine's own hooks between its parts (the linker, the loader, the
// code procedures, the run commands), installed with the program's other
// hooks before anything starts; their start-up steps install them again.
#pragma once

void EngineInstallHooks();
