// The configuration file: typed values under named keys in one section of an
// INI file, the list of key names, and the trailer that marks a built
// application.
#pragma once
#include "extcode.h"

struct PathData;  // a Path (path.h) is a PathData**

// Value kinds of CfgGetDefault and CfgWrite, with what value points at:
//   0 colour       uInt32 (0x00RRGGBB, 0x1000000 transparent)
//   1 four ints    int16[4] (a Rect, say)
//   2 string       UHandle holding a Pascal string
//   3 boolean      int32, 0 or 1
//   4 integer      int32
//   5 path         Path
//   6 path list    UHandle of a handle list (sorting.h) of Paths; reading appends
//   7 font         int32 font number of the font manager
//   8 string list  CPStrHandle
//   9 number       float32
// The handles are of the application zone; reading resizes the handle in
// place (a null variable gets a new one).
enum CfgKind : int32 {
  kCfgColor = 0, kCfgFourInts = 1, kCfgString = 2, kCfgBool = 3, kCfgInt = 4,
  kCfgPath = 5, kCfgPathList = 6, kCfgFont = 7, kCfgStringList = 8, kCfgNumber = 9
};

// Chooses the file once at start-up, before the memory manager runs: the
// argument after the last "-pref" that has one (a host path or a system path
// text of at most 260 characters; longer ones are passed over), else the
// program file's name with its three-character extension replaced by
// ".ini", or ".ini" appended when it has none.  Until it is called the
// default is used.
QX_EXTERN_C void CfgChooseFile(int32 argc, const char* const* argv);
// The section that every read and write uses: the application's name, which
// the shell sets at start-up ("Quenlix" until then).  At most 255 characters.
void CfgSetSectionName(const char* name);

// Reads key as the given kind into *value.  Results: 0; 19 for a kind outside
// 0-9; 20 when the key is absent or empty and 21 when its text doesn't read
// as the kind, both leaving *value as it was (a path list keeps the entries
// read before the failure); 22 when memory runs out (also for values of 299
// characters or more before the memory manager runs).  A text of two or more
// characters between matching quotes (double or single) loses them first.
QX_EXTERN_C MgErr CfgGetDefault(int32 kind, ConstPStr key, void* value);
// 1 when key stands in the section, even with an empty value.
QX_EXTERN_C Bool32 CfgKeyPresent(ConstPStr key);
// Writes *value as the given kind under key: 0; 19 for a bad kind; 22 when
// memory runs out; 8 when the host denies access and 6 for other failures of
// the write; 1 for a key or text that a line of the file can't hold.
QX_EXTERN_C MgErr CfgWrite(int32 kind, ConstPStr key, const void* value);
// Deletes key from the section (the kind is not used); results as CfgWrite.
QX_EXTERN_C MgErr CfgRemove(int32 kind, ConstPStr key);
// Reads a path key into a new path (*path is set, its previous value ignored)
// when it names an existing folder, else makes a copy of def when that names
// one.  Otherwise no path is made and the result is the key's error (20 or
// 21), or 7 when the key read but names no folder; 2 when memory runs out.
QX_EXTERN_C MgErr CfgGetPathDefault(ConstPStr key, PathData*** path, PathData** def);

// The font kind goes through the font manager, which installs its procedures
// at start-up.  Without them a font value neither reads nor writes (53).
typedef int32 (*CfgNewFontProc)(ConstPStr name, int32 size, int32 style, int32 weight);
typedef void (*CfgFontInfoProc)(int32 font, PStr name, int32* size, int32* style, int32* weight);
void CfgSetFontProcs(CfgNewFontProc newFont, CfgFontInfoProc fontInfo);

// The key names: the string list "ConfigTokenStrings" (STR# 11400) of the
// application file holds them in this order.  CfgKeyTableName gives entry
// index (1-based; "" for the reserved entries and outside 1-208).
enum : int32 { kCfgKeyCount = 208, kCfgKeyListId = 11400 };
const char* CfgKeyTableName(int32 index);
// The same name as a Pascal string, for CfgGetDefault, CfgWrite and
// CfgRemove: entry index of the key list of the file set below, in a
// buffer of the calling thread (valid until its next call); a failed lookup
// is reported and the buffer given as the lookup left it.  Without a file,
// the compiled-in names (an empty string outside 1-208).
ConstPStr CfgKeyName(int32 index);
// The run-time resource file (a RsrcFileRef) whose key list CfgKeyName
// reads; 0: none.
void CfgSetKeyNameFile(uInt32 file);
extern const char kCfgKeyListName[];  // "ConfigTokenStrings"

// The 20-byte trailer at the end of the program file (its layout: the
// resource-file format, rsrc_format.h) marks a built application.
// Reads the trailer into trailer (20 bytes; what was read): 0 when it was
// read whole and is valid ("APPB", version 3), else 1.
QX_EXTERN_C MgErr ReadAppTrailer(uChar* trailer);
// True when the trailer is valid and its flag bit 0 is set; read once and
// kept for the life of the process.
QX_EXTERN_C Bool32 IsBuiltApp();
