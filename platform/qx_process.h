// The process: its identifier and its C-library locale.
#pragma once
#include <cstdint>

int32_t PlatProcessId();
// Sets every locale category of the C library from the environment, except
// the numeric one, which stays "C" so that the C library's number
// formatting and parsing keep "." (the system keeps its own decimal point).
void PlatSetLocaleFromEnvironment();
