// The counted string forms: Pascal strings (PStr), long strings (LStr),
// lists of Pascal strings (CPStr), lists of counted blocks, line ends and
// wildcard patterns.
//
// Comparisons return a negative, zero or positive number; "case ignored"
// lowers both characters with ToLower when they differ.  Counts and lengths
// read from handles are checked against the handle's size: a list or string
// that runs past its handle is reported with DBAssert and left unchanged.
#pragma once
#include "extcode.h"
#include "extsupport.h"

// Pascal strings.
QX_EXTERN_C PStr PStrCpy(PStr dst, ConstPStr src);
QX_EXTERN_C int32 PStrCat(PStr dst, ConstPStr src);  // at most 255 kept; the new length
// Copies min(n, length + 1) bytes and sets the length to that count - 1.
QX_EXTERN_C PStr PStrNCpy(PStr dst, ConstPStr src, int32 n);
QX_EXTERN_C int32 PStrCmp(ConstPStr a, ConstPStr b);
QX_EXTERN_C int32 PStrCaseCmp(ConstPStr a, ConstPStr b);
QX_EXTERN_C Bool32 PStrEqual(ConstPStr a, ConstPStr b);
QX_EXTERN_C Bool32 PStrCaseEqual(ConstPStr a, ConstPStr b);
// The same on pointers to strings, for sorting arrays of string pointers.
QX_EXTERN_C int32 PPStrCmp(const ConstPStr* a, const ConstPStr* b);
QX_EXTERN_C int32 PPStrCaseCmp(const ConstPStr* a, const ConstPStr* b);

// Conversions; each returns the length.
QX_EXTERN_C int32 PToCStr(ConstPStr p, CStr c);
QX_EXTERN_C int32 CToPStr(ConstCStr c, PStr p);       // at most 255 kept
QX_EXTERN_C int32 LToPStr(const LStr* l, PStr p);     // at most 255 kept
QX_EXTERN_C int32 PToLStr(ConstPStr p, LStr* l);
QX_EXTERN_C int32 LToCStr(const LStr* l, CStr c);     // bytes, then a NUL
// Converts into one static buffer shared by all callers (user-interface
// thread only) and returns it.
QX_EXTERN_C PStr TempCToPStr(ConstCStr c);

// Long strings: over the shorter count, then the difference of the counts.
// A negative count reads as 0.
QX_EXTERN_C int32 LStrCmp(const LStr* a, const LStr* b);
QX_EXTERN_C int32 LStrCaseCmp(const LStr* a, const LStr* b);
// Appends l's bytes to h, growing h only when needed; 2 when out of memory
// (h unchanged).  The Fit variant then cuts h to 4 + count.
QX_EXTERN_C MgErr LStrHAppend(LStrHandle h, LStrHandle l);
QX_EXTERN_C MgErr LStrHAppendFit(LStrHandle h, LStrHandle l);

// The first difference of two byte blocks (unsigned bytes); 0 when equal.
QX_EXTERN_C int32 BlockCmp(const void* a, const void* b, int32 n);

// Lists of Pascal strings in a handle: a count, then the strings back to
// back; size 4 + each length + 1.  Indexes are clamped to the strings there.
QX_EXTERN_C int32 CPStrSize(CPStrHandle h);
QX_EXTERN_C int32 CPStrCmp(CPStrHandle a, CPStrHandle b);
QX_EXTERN_C Bool32 CPStrEqual(CPStrHandle a, CPStrHandle b);
QX_EXTERN_C PStr CPStrIndex(CPStrHandle h, int32 i);  // null for a list without strings
QX_EXTERN_C MgErr CPStrInsert(CPStrHandle h, ConstPStr s, int32 i);  // before string i
QX_EXTERN_C MgErr CPStrRemove(CPStrHandle h, int32 i);
// Replaces string i; in a list without strings, s becomes its only string.
QX_EXTERN_C MgErr CPStrReplace(CPStrHandle h, ConstPStr s, int32 i);
QX_EXTERN_C MgErr CPStrSetEmpty(CPStrHandle h);  // one empty string, size 5

// Lists of counted blocks: a count, then blocks of a 32-bit length and that
// many bytes padded to a multiple of 4.
// Converts a list read from a file from big-endian in place.  The whole list
// is checked first; a list that does not end exactly at the handle's end is
// reported and left unchanged (1).
QX_EXTERN_C MgErr LStrListSwap(UHandle h);
// The address of block i (its length word), i pinned to the blocks there.
QX_EXTERN_C LStrPtr LStrListIndex(UHandle list, int32 i);

// Line ends of a long string from offset on.  A pair of two different
// line-end characters (CR LF or LF CR) counts as one line end.  The handle
// is of the application zone when applicationZone is set, else of the data
// zone.  ToNative writes CR LF for every line end and grows the handle by the
// number of single CR or LF; FromNative writes one LF and shrinks it.
QX_EXTERN_C MgErr StrHConvertToNative(LStrHandle h, int32 offset, Bool32 applicationZone);
QX_EXTERN_C MgErr StrHConvertFromNative(LStrHandle h, int32 offset, Bool32 applicationZone);

// Wildcard patterns: "*" any run of characters, "**" one that may pass the
// stop character, "?" one character, and the escape character before a
// character that must match exactly.
typedef int32 (*StrCompareProc)(ConstCStr a, ConstCStr b, int32 n);
enum : int32 { kPatternEscape = 96 };  // the backquote
// True when name matches pattern.  compare defaults (null) to StrNCaseCmp,
// escape (0) to the backquote; stop, when not 0, is a character that "?" and
// a single "*" never match.
QX_EXTERN_C Bool32 StrMatchPattern(const uChar* pattern, const uChar* name, int32 patternLength,
                                   int32 nameLength, StrCompareProc compare, int32 escape, int32 stop);
// Moves *index to the next "*", "?" or escape character at or after it;
// false (and *index at the end) when none remains.
QX_EXTERN_C Bool32 FindMatchCh(const uChar* pattern, int32* index, int32 length, int32 escape);
QX_EXTERN_C Bool32 FFindMatchCh(const uChar* pattern, int32* index, int32 length);
