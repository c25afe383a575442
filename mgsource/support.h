// The support manager: shared constants made at start-up, random numbers,
// the text of packed version numbers and shortcut files inside paths.
#pragma once
#include "extcode.h"
#include "path.h"

// Start-up, after the thread manager: sets the C library's locale from the
// environment (numbers keep "."), notes the process number, prepares the
// extended-precision tables, reads the AM and PM designators, makes the
// shared constants (2 when one can't be allocated), sets the default decimal
// point and seeds the random generator.  Shut-down destroys the generator's
// mutex.
MgErr SupportInit();
void SupportShutdown();

// The shared constants, written once by SupportInit and only read after.
struct SupportConstants {
  LStrHandle cr;     // 13
  LStrHandle lf;     // 10
  LStrHandle crlf;   // 13 10
  LStrHandle tab;    // 9
  LStrHandle empty;  // no characters
  Path emptyPath;
  Path notAPath;
  float32 sglPosInf;  // 7F800000
  float32 sglNegInf;  // FF800000
  float64 dblPosInf;  // 7FF0000000000000
  float64 dblNegInf;  // FFF0000000000000
  float64 dblNaN;     // every bit set
};
const SupportConstants& SupportConsts();
// The process identifier modulo 10000.
int32 SupportProcessNumber();

// Stores the next number of the Wichmann-Hill generator: at least 0 and
// below 1.  Any thread may call it.
QX_EXTERN_C void RandomGen(float64* x);
// The generator's three seeds (tests).
void RandomSetSeeds(int32 s1, int32 s2, int32 s3);
void RandomGetSeeds(int32* s1, int32* s2, int32* s3);

// Writes the text of a packed version number (major tens and units digits,
// minor, fix, stage 0x20 d / 0x40 a / 0x60 b / 0x80 release, two-digit
// build) into a Pascal string, e.g. "2.1.3b12" or "2.1".
QX_EXTERN_C void VersToPStr(uInt32 version, PStr text);

// A shortcut is a file whose name ends in ".lnk" (any case) that is a
// symbolic link.  When path (a C string of at most 260 characters in a
// buffer of at least 261 bytes) names one, it is replaced by the system text
// of the link's target and the result is true; otherwise the path stays as
// it was.  A target of 260 characters or more is not copied.
QX_EXTERN_C Bool32 FResolveShortcut(CStr path);
// Tries every leading part of path that ends before a "\" as a shortcut,
// from the left, putting a resolved part's target (without a trailing "\")
// in its place, then the whole path.  The new path is copied back only when
// it is shorter than 260 characters; true when it was changed.
Bool32 FResolveShortcutsInPath(CStr path);
