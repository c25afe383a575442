// Drive letters and network shares of the system's path texts, mapped onto
// host folders.
//
// The file manager names files with texts like "C:\dir\file.txt" or
// "\\server\share\file".  Here "C:\" is the host root "/"; other letters and
// shares map to host folders set with PlatDriveMap and PlatShareMap or read
// once from the environment variable QUENLIX_DRIVES, a list such as
// "D=/data;E=/media/cd:removable;\\srv\pub=/srv/pub" (the kind suffix is one
// of ":fixed", ":removable", ":cdrom", ":remote", ":ram"; letters are fixed
// and shares remote by default).
//
// Resolving a text to a host path looks every component up exactly first and
// then without regard to case in its folder; "." and ".." are resolved
// lexically and never climb above the drive's root.
#pragma once
#include <cstdint>
#include <string>

enum PlatDriveKind : int32_t {
  kPlatDriveNone = 0,  // no such drive
  kPlatDriveFixed = 1,
  kPlatDriveRemovable = 2,
  kPlatDriveRemote = 3,
  kPlatDriveCDROM = 4,
  kPlatDriveRAM = 5,
};

// Maps a drive letter (A-Z, either case) to a host folder; a null or empty
// folder removes the mapping.  Returns 0, or 87 for a bad letter or kind.
int32_t PlatDriveMap(char letter, const char* hostFolder, int32_t kind);
// Maps a share "\\server\share" (compared without case) to a host folder; a
// null or empty folder removes it.  Returns 0, or 87 for a malformed name.
int32_t PlatShareMap(const char* share, const char* hostFolder);
// Forgets every mapping and reads QUENLIX_DRIVES again (tests).
void PlatDrivesReset();

// Bit n set for each mapped drive letter 'A' + n.
uint32_t PlatDriveMask();
// The kind of a drive letter, kPlatDriveNone when it is not mapped.
int32_t PlatDriveKindOf(char letter);
// The kind of a volume root text "X:\" or "\\server\share\" (the trailing
// backslash is optional).
int32_t PlatVolumeKind(const char* rootText);
// The host folder of a volume root text; false when it is not mapped.
bool PlatVolumeHostRoot(const char* rootText, std::string* hostRoot);

// The drive letter of the host's current folder (upper case); 'C' when the
// current folder lies under no drive but the root.
char PlatCurrentDrive();

// Turns an absolute host path into the system's text: the volume whose host
// folder is the longest leading part of it, then the rest with "\"
// separators.  False when the host path is not absolute.
bool PlatHostToSysText(const char* hostPath, std::string* text);

// Resolves "X:\a\b" or "\\server\share\a" to a host path.  Returns 0 or a
// host error: 3 for an unmapped volume or a text without one, 123 for a
// component holding "/" or longer than 255 bytes.  A component that matches
// nothing keeps the name as given, so that the path can be created.  *isRoot
// tells whether the text names the volume's root itself (may be null).
int32_t PlatResolveSysText(const char* text, std::string* hostPath, bool* isRoot);
