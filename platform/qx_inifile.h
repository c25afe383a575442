// Profile files: text files of "[section]" headers and "key=value" lines.
//
// Names a file by a host path, or by a system path text ("C:\dir\x.ini",
// "\\server\share\x.ini"; see qx_drives.h).  Section and key names compare
// without regard to case (PlatSameNoCase) and the first match wins.  A value
// is the text after the first "=", with spaces and tabs trimmed at both ends;
// quotes are left alone.  Lines whose first non-blank character is ";" are comments;
// lines outside a section or without "=" are ignored.  LF and CRLF line ends
// both read; any bytes read without harm (a value ends at a NUL byte).  Only
// a regular file is read or written: the open never waits (a pipe or a device
// reads as a missing file and refuses writes).
//
// A write changes the one line it concerns and keeps every other byte of the
// file.  It replaces the target of a symbolic link, not the link, through a
// temporary file in the target's folder renamed over it, so that a reader
// never sees half a file.  Writes of this process are serialised.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum PlatIniResult : int32_t {
  kPlatIniOk = 0,
  kPlatIniAccessDenied = 1,  // the host refused access (EACCES, EPERM, EROFS)
  kPlatIniIOError = 2,       // any other failure of the host
  kPlatIniBadArg = 3,        // a name or text that a profile line can't hold
};

// Copies the value of key in section into buf (at most size - 1 bytes and a
// NUL) and returns the number of bytes copied.  A missing file, section or
// key gives def (null for ""), cut the same way.  *fullLength (may be null)
// gets the length of the whole value, so that a caller whose buffer was too
// small can read again with one of the right size.
int32_t PlatIniRead(const char* file, const char* section, const char* key, const char* def, char* buf,
                    int32_t size, int64_t* fullLength = nullptr);

// Sets key in section to text, or deletes it when text is null.  An existing
// value is replaced in place (the first match; a deletion removes every
// match); a new key goes after the last line of the first matching section;
// a new section goes at the end of the file, which is created when needed
// (a deletion never creates it).  Lines added use the file's own line end.
// Names that are empty, hold a line break, or (key) "=" or a leading "[" or
// ";", or (section) "]", and texts holding a line break give kPlatIniBadArg.
int32_t PlatIniWrite(const char* file, const char* section, const char* key, const char* text);

// The names of the file's sections in file order, each once (a later
// section of a name already listed is left out); a missing file has none.
int32_t PlatIniSections(const char* file, std::vector<std::string>* names);
// Adds an empty section at the end of the file unless one of the name exists.
int32_t PlatIniAddSection(const char* file, const char* section);
// Removes every section of the name with all its lines (nothing for none).
int32_t PlatIniDeleteSection(const char* file, const char* section);

// Test hook: called with the host path of the file about to be replaced; a
// non-zero errno value makes the write fail as that error before anything
// is touched.  Returns the previous hook; null removes it.
typedef int (*PlatIniFailHook)(const char* hostPath);
PlatIniFailHook PlatIniSetFailHook(PlatIniFailHook hook);
