// Flattened data: the one serial form of a typed value, written big-endian
// without pointers or padding, and its readers from memory, from counted
// strings and from streams.
//
// Flattened data comes from files, datalogs, strings and the wire and is
// untrusted: every count is checked against the bytes that are there before
// anything is read or allocated.  The type descriptors are the program's own,
// except those of ConvertFlatDataVersion, which are checked first.
//
// Flag bit 0 of the walkers selects the old boolean form: a boolean flattens
// as a 16-bit word (0x8000 true, 0 false) and arrays of booleans as packed
// 16-bit words, each row of the last dimension starting a new word.
#pragma once
#include "engine/datatype.h"

enum : int32 { kFlatOldBooleans = 1 };

// Option-word bit of UnFlattenQXStrConvert_Old that selects the old booleans.
constexpr int32 kFlatOptionOldBooleans = 1 << 22;

// Counts, strings and element areas of this many bytes or more are checked
// against a stream's remaining length before anything is allocated.
constexpr int32 kFlatStreamCheckBytes = 0x100000;

// ---- Sizes -------------------------------------------------------------------
// The flat size of the datum at data, or with no data the size that the type
// alone fixes.  A size that needs 31 bits or more is reported (DBAssert) and
// gives -1.
QX_EXTERN_C int32 FlatSize(const TypeDescriptor* td, const void* data);
int32 FlatSizeWalk(const TypeDescriptor* td, const void* data, int32 flags);

// The element size class of an array TD's element (or of a TD itself): 1, 2,
// 4, 8 or 16 bytes of numerics moved as one block or swapped in place, -1 for
// packed old booleans, a flat cluster's DataSize when every datum of it
// flattens to exactly its bytes in memory, 0 for everything else.
int32 FlatEltSizeClass(const TypeDescriptor* td, int32 flags);

// ---- Writers -----------------------------------------------------------------
// Writes the flat form (flags 0) into a buffer sized with FlatSize; returns the
// address just past what was written.
QX_EXTERN_C UPtr FlattenData(const TypeDescriptor* td, const void* data, UPtr buffer);
UPtr FlattenDataWalk(UPtr dst, const TypeDescriptor* td, const void* data, int32 flags);
// Resizes the data-zone string to 4 + flat size and writes the flat size as
// its count, the flat form after it.  2, the string unchanged, when the size
// does not fit 31 bits or memory is short; 1 for a null string.
MgErr FlattenToLStr(LStrHandle str, const TypeDescriptor* td, const void* data, int32 flags);
// Resizes the application-zone handle to the flat size (or makes a cleared
// one when it is null) and writes the flat form; null on failure.
UHandle FlattenToNewHandle(UHandle h, const TypeDescriptor* td, const void* data, int32 flags);
QX_EXTERN_C MgErr FlattenInQXStr_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, const void* data,
                                     int32 flags);
QX_EXTERN_C UHandle Flatten_Old(UHandle h, UHandle tdHandle, int32 tdOffset, const void* data);

// ---- Readers from memory -------------------------------------------------------
// Reads the flat form at the source handle's block plus offset, of which
// `available` bytes may be read, into the destination datum (a valid datum of
// the type, or null to measure only).  Returns the bytes consumed: more than
// `available` when the data ran short or was bad (available + 1, or the size
// of a short numeric, which then reads as 0).  Available counts above
// 0x7FFFFFFE are taken as 0x7FFFFFFE.
QX_EXTERN_C int32 UnFlattenData(UHandle src, int32 offset, const TypeDescriptor* td, void* dst,
                                int32 available, int32 flags);
// The same; when the data ran short or was bad the partly read destination is
// emptied (EmptyData), so that it stays a valid datum.
int32 UnFlattenFromMem(UHandle src, int32 offset, const TypeDescriptor* td, void* dst, int32 length,
                       int32 flags);
// Reads from a string's bytes with its count as the length (a null string is
// empty); true when the flat data ran past the count (the destination is then
// emptied).
Bool32 UnFlattenFromString(LStrHandle str, const TypeDescriptor* td, void* dst, int32 flags);
QX_EXTERN_C int32 UnFlatten_Old(UHandle src, int32 offset, UHandle tdHandle, int32 tdOffset, void* dst,
                                int32 length);
QX_EXTERN_C Bool32 UnFlattenQXStr_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, void* dst);
QX_EXTERN_C Bool32 UnFlattenQXStrConvert_Old(LStrHandle str, UHandle tdHandle, int32 tdOffset, void* dst,
                                             int32 options);

// ---- Reader from a stream ------------------------------------------------------
// Reads count bytes into buffer, or skips them when buffer is null; 0 or an
// MgErr (4 at the end of a file).
typedef MgErr (*FlatReadProc)(void* buffer, int32 count, void* context);
// Answers 0 when at least count bytes remain in the stream of the context,
// else moves to its end and answers 4.  The file functions install theirs at
// start-up; until then every check answers 4, so that nothing large is
// allocated for a stream that cannot be measured.  Null restores that default.
typedef MgErr (*FlatCheckAvailProc)(void* context, int32 count);
FlatCheckAvailProc SetFlatCheckAvailProc(FlatCheckAvailProc proc);
MgErr FlatCheckAvail(void* context, int32 count);

// Reads one datum through the read procedure into the destination (a valid
// datum, or null to skip it).  1 for negative counts, overflowing sizes, a bad
// path and views; 2 when memory is short; 4 when a count of 1 MB or more runs
// past the stream's end; any error of the read procedure.  On failure the
// partly read destination is emptied.
MgErr UnFlattenFromStream(const TypeDescriptor* td, void* dst, FlatReadProc read, void* context, int32 flags);

// ---- Format versions -------------------------------------------------------------
// Converts a flattened type (a 1-D I16 array handle: an int32 word count, then
// the big-endian TD's words in host order) and its flattened data between the
// current format and the previous one (toPrevious non-zero).  The destination
// type (an array handle) and data (a string) are resized and filled; either
// may be null.  1 for a malformed or refused type or data, or a source
// already in the asked format; 2 when memory is short.
MgErr ConvertFlatDataVersion(UHandle srcType, UHandle dstType, LStrHandle srcData, LStrHandle dstData,
                             int32 toPrevious);

// ---- Byte order of whole descriptors ---------------------------------------------
// Direction 1 turns a TD in memory order into the word form of a flattened
// type (host-order 16-bit words of the big-endian TD); direction 0 the
// reverse.  oldStrings: string-like TDs have no bound field.  The TD is
// trusted to be as long as its size says.
QX_EXTERN_C void TDByteSwap(TypeDescriptor* td, int32 direction, int32 oldStrings);
// The same for a TD of at most `available` bytes: 0, or 1 (or the automation
// refnum conversion's error) when the TD runs past them; the bytes are then
// partly converted.
MgErr TDByteSwapBounded(void* td, int32 direction, int32 oldStrings, int32 available);
