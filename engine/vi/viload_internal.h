// Shared by the loader's files.
#pragma once
#include "engine/vi/dataspace.h"
#include "engine/vi/viload.h"

// The action sent to a loaded panel's root object after every load, and
// the one sent after a load that substituted a font, with its result bit
// for running out of memory.
constexpr int32 kPanelActionLoaded = 55;
constexpr int32 kPanelActionFontChanged = 21;
constexpr int32 kActionResultNoMemory = 0x10;
// Heap flags of a panel heap.
enum : uInt32 {
  kHeapFlagFontSubstituted = 0x40000000,
  kHeapFlagStoredFixup = 0x2000000,
  kHeapFlagLoading = 0x10000,
  kHeapFlagCleared = 0x4000000,
  kHeapFlagLinked = 0x8000000,
};
// The broadcast's answer when an object's load failed.
constexpr uInt32 kBroadcastAborted = 0x80000000u;

namespace viload {
// The size of a handle of either zone; 0 for null or foreign.
int32 HandleSize(UHandle h);
// A resource read and detached from its file; null when missing.
UHandle GetDetached(RsrcFileRef file, ResType type, int32 id);
// Converts a detached stored descriptor to memory order and checks it
// against its handle's size; false when it runs past or is malformed.
bool StandardizeStoredTD(UHandle h);
// The record type of a VI's log out of its stored 'FPTD' resource, a cluster
// whose first element is the record type: standardizes the resource to
// memory order and copies that element alone into a new handle.  Null when
// the resource is not such a cluster, runs past its bytes, or memory is
// short; the resource stays the caller's.
UHandle LogRecordTypeFromStored(UHandle stored);
// Sends the action to the panel's root object inside a pushed transaction
// frame (with onlyWithAttrRec, only when the root takes property calls): the
// result bits, 0 when not sent.
int32 SendRootAction(ObjHeap panel, int32 action, bool onlyWithAttrRec);
// Closes the VI's resource file and forgets it (and the loading globals
// when they name it).
void CloseVIRsrcFile(UHandle vi);
// Removes the link entry of that name and class when the item is its owner.
void UnlinkIfOwned(ConstPStr name, uInt32 classCode, const void* owner);
// Makes the own entry of a link-information resource carry the name (case
// ignored when it does already): 0, or 2 when memory is short.
MgErr OwnLinkInfoName(UHandle linkInfo, ConstPStr name);
// The one-button alert of an entry of "_loadWarnings", formatted with up to
// two Pascal strings.
void WarningAlert(int32 entry, ConstPStr a, ConstPStr b);
// The code of a VI in executable memory: made from its stored bytes (0, 1
// for bad bytes, 2 when memory is short), entered and patched, disposed
// (false for a handle that is not such code).
MgErr MakeCode(const void* bytes, int32 size, UHandle* code);
bool DisposeCode(UHandle code);
}  // namespace viload
