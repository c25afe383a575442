// The application builder's last step: a copy of the program with a
// resource file and the trailer that finds it appended.
#pragma once
#include <string>

#include "tools/rsrcwriter.h"

namespace qxbuild {

// Adds the key names of the configuration file, the string list
// "ConfigTokenStrings" (STR# 11400), to an application file.
void AddConfigTokenStrings(rsrcw::Writer* writer);

// Adds what the run-time resource file carries for VI libraries: the texts
// of the library tools, "_QLB tools errors" (STR# 14551), and the palette
// images 6001 and 6002 (icon families) that new libraries copy.
void AddLibraryToolResources(rsrcw::Writer* writer);

// Adds the long names and the quantities of the units of measure, "_Units:
// Unit Names" (STR# 320) and "_Units: Quantity Names" (STR# 321), entry N
// for unit number N.
void AddUnitNameStrings(rsrcw::Writer* writer);

// Adds the texts of the VI load alert: its first line ('STR ' 81,
// "_LoadError") and the load errors ("_loadErrors", STR# 14547, 31 entries,
// entry N the text of load error N, empty for the codes without one).
void AddLoadErrorTexts(rsrcw::Writer* writer);

// Adds the texts of the manager errors 1 to 90, "_mgerr descriptions"
// (STR# 10001), from the table the debug reports use.
void AddMgErrTexts(rsrcw::Writer* writer);

// Copies the program file exeHost to outHost (with its permissions), then
// appends resourceFile and the trailer (flags: bit 0 marks a built
// application) whose offset is where resourceFile starts.  On failure
// nothing is left at outHost and *error (may be null) says why.
bool AppendToProgram(const std::string& exeHost, const rsrcw::Bytes& resourceFile, const std::string& outHost,
                     std::string* error = nullptr, uInt32 flags = 1);

}  // namespace qxbuild
