// The registry: keys under the classes root, each with a default string
// value and named string values, kept in a profile file (qx_inifile.h):
// QX_REGISTRY_FILE, else "registry.ini" in the user's configuration folder
// ($XDG_CONFIG_HOME/quenlix, else ~/.config/quenlix).  A key is the section
// "HKEY_CLASSES_ROOT\<path>"; its default value the line "@", a named value
// the line of its name, each holding the text in double quotes, so that
// blanks at either end survive.  Key names compare without regard to case.
// A key exists when its section does or a key below it exists.
#pragma once
#include <cstdint>
#include <string>

typedef uint32_t PlatRegKey;
constexpr PlatRegKey kPlatRegClassesRoot = 0x80000000u;

// Results: 0, or one of these.
enum : int32_t {
  kPlatRegOk = 0,
  kPlatRegNotFound = 2,
  kPlatRegAccessDenied = 5,
  kPlatRegBadKey = 6,
  kPlatRegMoreData = 234,
  kPlatRegNoMoreItems = 259,
  kPlatRegIOError = 1011,
};

// The file's host path (its folder made when missing); false when there is none.
bool PlatRegistryFile(std::string* hostPath);
// Opens the sub-key of a key: 2 when it does not exist.  An empty or null
// sub-key opens the key itself again.
int32_t PlatRegOpenKey(PlatRegKey parent, const char* subKey, PlatRegKey* out);
// Opens the sub-key, making it when needed.
int32_t PlatRegCreateKey(PlatRegKey parent, const char* subKey, PlatRegKey* out);
// Sets the default value of the key's sub-key (null or empty: the key's
// own), making the sub-key when needed.
int32_t PlatRegSetValue(PlatRegKey key, const char* subKey, const char* text);
// Reads it: 0 and the text (at most size - 1 bytes and a NUL), 2 when absent.
int32_t PlatRegQueryValue(PlatRegKey key, const char* subKey, char* out, int32_t size);
// A named string value of the key itself (a null or empty name: the
// default value; 6 for a name a profile line cannot hold or "@").
int32_t PlatRegSetNamedValue(PlatRegKey key, const char* name, const char* text);
int32_t PlatRegQueryNamedValue(PlatRegKey key, const char* name, char* out, int32_t size);
// The name of the key's sub-key number index (0 first, in the order they
// were made): 259 past the last, 234 when the name and its NUL do not fit
// size bytes.
int32_t PlatRegEnumKey(PlatRegKey key, uint32_t index, char* name, int32_t size);
// Removes the key's sub-key with its values: 2 when it does not exist, 5
// while it has sub-keys of its own, 6 for an empty or null name.
int32_t PlatRegDeleteKey(PlatRegKey parent, const char* subKey);
int32_t PlatRegCloseKey(PlatRegKey key);
