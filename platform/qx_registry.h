// The registry of document types: keys under the classes root, each with a
// default string value, kept in a profile file (qx_inifile.h): QX_REGISTRY_FILE,
// else "registry.ini" in the user's configuration folder
// ($XDG_CONFIG_HOME/quenlix, else ~/.config/quenlix).  A key is the section
// "HKEY_CLASSES_ROOT\<path>"; its default value the line "@" holding the
// text in double quotes, so that blanks at either end survive.
#pragma once
#include <cstdint>
#include <string>

typedef uint32_t PlatRegKey;
constexpr PlatRegKey kPlatRegClassesRoot = 0x80000000u;

// Results: 0, or one of these.
enum : int32_t { kPlatRegOk = 0, kPlatRegBadKey = 6, kPlatRegAccessDenied = 5, kPlatRegIOError = 1011 };

// The file's host path (its folder made when missing); false when there is none.
bool PlatRegistryFile(std::string* hostPath);
// Opens (making when needed) the sub-key of a key; an empty or null sub-key
// opens the key itself again.
int32_t PlatRegCreateKey(PlatRegKey parent, const char* subKey, PlatRegKey* out);
// Sets the default value of the key's sub-key (null or empty: the key's own).
int32_t PlatRegSetValue(PlatRegKey key, const char* subKey, const char* text);
// Reads it: 0 and the text (at most size - 1 bytes and a NUL), 2 when absent.
int32_t PlatRegQueryValue(PlatRegKey key, const char* subKey, char* out, int32_t size);
int32_t PlatRegCloseKey(PlatRegKey key);
