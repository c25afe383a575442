// The variant data type of diagrams (type code 0x84, kind 1: a 16-byte
// variant held in the data) and the conversions between typed data and
// variants, between wide strings and the system's strings and paths, the
// argument variants of automation calls, the clean-up of variants in a data
// space, and the error cluster of a result code.
#pragma once
#include "engine/datatype.h"
#include "engine/exec/callchain.h"
#include "mgsource/extcode.h"
#include "platform/qx_comvar.h"

// The variant's procedures for the data manager (empty value, clearing,
// copying).
void OleInstallVariantProcs();

// The type a descriptor's data takes in a variant when no other is asked
// for: type codes 1 to 0x1E as their base type (bit 0x10 cleared); arrays
// as their element's type with the array bit (an element of type error
// makes the array type error); clusters as arrays of variants; automation
// refnums as dispatch interfaces; variants as variants; error for anything
// that does not convert.
uInt16 OleNaturalVarType(const TypeDescriptor* td);
// Bytes of by-reference storage of a base type (arrays 4), 0 for a type
// without a size.
int32 OleByRefSize(uInt16 vt);

// Copies the 16-byte variant at src into the one at dst: 0; 1 when either
// is null or the copy fails; 2 when memory is short.
QX_EXTERN_C MgErr CopyOleVariant(void* unused, const void* src, void* dst);
// The data (of the type at offset in the type handle) as a variant in out:
// the type asked for by the hint (a variant hint: its type word; a numeric
// hint: its value as I32), else the data's natural type.  Results of the
// layer (type mismatch, out of memory, invalid argument), 1 for null data.
QX_EXTERN_C int32 ConvertToOLEVariant(const void* data, UHandle type, int32 offset, const void* hintData,
                                      UHandle hintType, int32 hintOffset, PlatVariant* out);
// The variant into the (initialised) data of the type at offset in the type
// handle.  A failure leaves the data empty.
QX_EXTERN_C int32 ConvertToQXData(const PlatVariant* variant, void* data, UHandle type, int32 offset);
// The same with the type descriptor itself.
int32 OleVariantToData(const PlatVariant* variant, void* data, const TypeDescriptor* td);
int32 OleDataToVariant(const void* data, const TypeDescriptor* td, uInt16 wanted, PlatVariant* out);
// Fills an error cluster with the code and its text: a server's exception
// keeps the text in the cluster's source, the client's codes 3000-3004 get
// their texts, other codes the layer's text or "Unknown System Error".
QX_EXTERN_C MgErr SetOLEVariantErrorIOClust(ErrorIOCluster* cluster, Bool32 status, int32 code, DataSpace ds);
// Registers, with the running VI's hierarchy, the clearing of every variant
// in the data space when the hierarchy ends.
QX_EXTERN_C MgErr SetUpOLEVariantCleanUp(DataSpace ds);
// The clean-up itself: 0, or 2 when a variant could not be cleared.
int32 OleVariantCleanupDataSpace(void* ds);
// An empty variant (or a by-reference variant of an empty one) becomes a
// missing optional parameter: type error with the not-found result.
QX_EXTERN_C void ProcessEmptyOptVariantParam(PlatVariant* v);
// A new zeroed variant block (a data-zone pointer, freed with
// DSDisposePtr): without data of type vt alone (an output placeholder),
// else the data converted to vt.  2 when the block cannot be made, 1 when
// the conversion fails.
QX_EXTERN_C MgErr NewArgVariant(const void* data, UHandle type, int32 offset, int32 vt, PlatVariant** block);
// Gives back what a variant made by NewArgVariant holds (by-reference
// storage included); the block itself stays.
QX_EXTERN_C void FreeArgVariant(PlatVariant* v);

// Text kinds of the string conversions.
enum : int32 {
  kOleTextLStr = 0x30,    // a string handle
  kOleTextPath = 0x32,    // a path
  kOleTextCStr = 0x34,    // a zero-terminated string
  kOleTextPStr = 0x35,    // a counted string (length byte first)
  kOleTextCStrOut = 0x60  // a zero-terminated string (target only)
};
// A new wide string of the text, or null (no text, an unknown kind, or
// memory short).  For kOleTextLStr and kOleTextPath text is the address of
// the handle.
PlatBstr OleBstrFromText(int32 kind, const void* text);
// The string's text (length characters, or up to its terminating zero for
// 0) into the target of the kind, cut to maximum bytes (0: no limit but
// the target's own; counted strings hold 255 at most): a string handle's
// address (made or resized), a path's address, or a buffer.  0, 1 for a
// bad kind or target, 2 when memory is short.
MgErr OleTextFromBstr(const uInt16* s, int32 length, int32 kind, void* target, int32 maximum);
