// The process: its identifier and its C-library locale.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

int32_t PlatProcessId();
// Sets every locale category of the C library from the environment, except
// the numeric one, which stays "C" so that the C library's number
// formatting and parsing keep "." (the system keeps its own decimal point).
void PlatSetLocaleFromEnvironment();

// Splits a command line: tabs count as spaces; an argument that begins with
// a double quote runs, without it, to the next double quote (or the end),
// any other to the next space.
std::vector<std::string> PlatSplitCommandLine(const char* text);
// The same rule in place: tabs become spaces; with argv, each argument's
// end (its closing quote or the space after it) becomes a NUL and argv[i]
// points at its first character.  Returns the count; a null argv only
// counts (and writes no NUL).
int32_t PlatSplitCommandLineInPlace(char* text, char** argv);
// Starts the program of a command line, split as above; its path may be a
// system path text (qx_drives.h), a host path, or a name looked up on PATH.
// The program runs on its own (it is reaped when it ends).  Returns 33 when
// it started, below 32 otherwise: 0 for an empty line or no memory, 2 for a
// program that is not there or cannot run, 3 for an unmapped drive.
int32_t PlatRunProgram(const char* commandLine, bool minimized);
