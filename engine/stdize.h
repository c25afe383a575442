// Byte-order standardization: stored type descriptors, panel objects, panel
// resources and scraps are big-endian; in memory they are in the processor's
// order.  Direction 0 converts from file order to memory order (after
// reading), direction 1 from memory order to file order (before writing).
// Fields that decide the layout (counts, sizes, kinds) are read after their
// swap in direction 0 and before it in direction 1.
//
// Everything read from a file is bounded by the block or record that holds
// it: a count, size or length that runs past it gives 1, and nothing outside
// is read or written.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"

enum : int32 { kToMemoryOrder = 0, kToFileOrder = 1 };

// The error of an automation refnum conversion when no automation client is present.
constexpr MgErr kAutoClientMissingErr = 3004;

// Converts one descriptor (string TDs in the current form).  The TD is
// trusted to be as long as its size field says; TDs from files go through
// TDStandardizeBounded.
QX_EXTERN_C MgErr TDStandardize(TypeDescriptor* td, int32 direction);
// The walk; oldStrings non-zero: string-like TDs have no bound field.
QX_EXTERN_C MgErr StandardizeTDWalk(TypeDescriptor* td, int32 direction, int32 oldStrings);
// The walk bounded by the bytes available at td (a top-level size of 0xFFFF
// takes them all): 0, 1 when anything runs past them, or the automation
// conversion's error.
MgErr StandardizeTDBounded(void* td, int32 direction, int32 oldStrings, int32 available);

// The automation refnum's conversion: the refnum TD (code 0x70, kind 7), the
// direction and the TD's size.  Until the automation code installs its own,
// it answers kAutoClientMissingErr.  Null restores that default.
typedef MgErr (*AutoRefStandardizeProc)(void* refnumTD, int32 direction, int32 size);
AutoRefStandardizeProc SetAutoRefStandardize(AutoRefStandardizeProc proc);
MgErr AutoRefStandardize(void* refnumTD, int32 direction, int32 size);

// Object-manager ids (they start at a refnum TD's kind word).
// A new cleared application-zone pointer holding a copy of the id: 2 + name
// length + 1 bytes for classes 6 and 10, 4 + TD size for class 8 subclass 2,
// 6 for other class-8 ids; null for class 7, another class, or memory full.
QX_EXTERN_C uChar* CopyOMId(const uChar* omid);
QX_EXTERN_C MgErr SwapRefnumTD(uChar* omid, int32 direction);
// The same bounded by the bytes available at omid.
MgErr SwapRefnumTDBounded(uChar* omid, int32 direction, int32 available);
