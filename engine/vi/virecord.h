// The record of one loaded VI: its header resource 'QXIN', 452 bytes, that
// serves both as the stored header and as the in-memory record.  In the file
// the numeric fields are big-endian; on load SwapVIHeader turns them into the
// processor's order and the memory-only fields are cleared.  Every field is a
// 32-bit word, a 16-bit word or bytes at a fixed offset: compiled code and
// the stored files rely on the offsets below.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"

// The resource type of the header and its stored size.
constexpr ResType kVIHeaderRsrcType = FourCC("QXIN");
constexpr int32 kVIHeaderSize = 452;

struct VIRecord {
  uInt32 flags;            // 0: kVIFlag* (swapped)
  UHandle next;            // 4: the next VIRecord of the loaded-VI list
  UHandle panelHeap;       // 8: the front-panel object heap, when loaded
  uInt32 mem12;            // 12: cleared at load
  UHandle codeHandle;      // 16: file: non-zero when the VI has code; memory: the locked code
  UHandle dataSpace;       // 20: the VI's first data space
  UHandle connTypeMap;     // 24: the connector type map
  UHandle dsTypeMap;       // 28: file: non-zero when there are data-space types; memory: the DataSpaceTD
  UHandle strings;         // 32: the VI's strings
  Path path;               // 36: the VI file's path
  uInt32 rsrcID;           // 40: the id of all the VI's resources (swapped)
  uInt32 stored44;         // 44: swapped, not changed at load
  UHandle icon;            // 48: the VI's icon image
  uInt32 flags2;           // 52: kVIFlags2* (swapped)
  uInt32 modFlags;         // 56: modification flags (swapped), cleared at load
  uInt16 reservations;     // 60: reservation count, cleared at load
  uInt16 mem62;            // 62: cleared at load
  UHandle callers;         // 64: int32 count, then the VIRecord handles of the callers
  UHandle subVIs;          // 68: the same for the VIs this one calls
  uInt32 mem72;            // 72: cleared at load
  UHandle logRecord;       // 76: the datalog binding record (DatalogBindingRec), kind 2 only
  UHandle logState;        // 80: a cleared 18-byte handle, kind 2 only
  uInt16 stored84;         // 84: swapped, not changed at load
  uInt16 windowOptions;    // 86: panel window options (swapped)
  int16 priority;          // 88: 0 to 4, 5 subroutine (swapped)
  int16 viKind;            // 90: kVIKind* (swapped)
  UHandle printInfo;       // 92: the print record of the VI's file
  uInt32 version;          // 96: the version that saved the VI (swapped)
  uInt32 stored100;        // 100: not changed at load
  int32 typeHeapIndex;     // 104: memory: the VI's position in the type heap's VI list
  RsrcFileRef rsrcFile;    // 108: the open resource file while the resources are read
  uInt32 mem112;           // 112: cleared at load
  uInt32 connTypeWord;     // 116: cleared at load
  uInt32 mem120;           // 120: cleared at load
  uChar name[256];         // 124: the VI's name, a Pascal string
  uInt32 stored380;        // 380: not changed at load
  uInt32 modDate;          // 384: modification date of the VI's file
  Path helpPath;           // 388: the help file path
  UHandle helpTag;         // 392: the help tag
  uInt32 stored396;        // 396: not changed at load
  uInt32 marks;            // 400: kVIMark* (swapped)
  int32 execSystem;        // 404: execution system, -1 for a subroutine VI (swapped)
  uInt32 stored408;        // 408: not changed at load
  uInt32 eState;           // 412: execution state in the low 4 bits (swapped)
  uInt32 stored416;        // 416: not changed at load
  UHandle viRefList;       // 420: the VI server's references open on the VI (a generic list), cleared at load
  uInt32 rtMenuWord;       // 424: the run-time menu word (swapped, not changed at load)
  Path rtMenuPath;         // 428: the run-time menu file path
  uInt32 mem432;           // 432: cleared at load
  UHandle logBinding;      // 436: a cleared 8-byte handle, kind 2 only; the linker's proxy-caller list
  UHandle title;           // 440: the window title, or 0
  UHandle connPane;        // 444: the connector pane, or 0
  uInt32 curVIRef;         // 448: the VI server's reference a property or method runs through, cleared at load
};
static_assert(sizeof(VIRecord) == kVIHeaderSize, "VI header size");
static_assert(offsetof(VIRecord, flags) == 0 && offsetof(VIRecord, next) == 4 &&
              offsetof(VIRecord, panelHeap) == 8 && offsetof(VIRecord, mem12) == 12 &&
              offsetof(VIRecord, codeHandle) == 16 && offsetof(VIRecord, dataSpace) == 20 &&
              offsetof(VIRecord, connTypeMap) == 24 && offsetof(VIRecord, dsTypeMap) == 28 &&
              offsetof(VIRecord, strings) == 32 && offsetof(VIRecord, path) == 36 &&
              offsetof(VIRecord, rsrcID) == 40 && offsetof(VIRecord, stored44) == 44 &&
              offsetof(VIRecord, icon) == 48 && offsetof(VIRecord, flags2) == 52 &&
              offsetof(VIRecord, modFlags) == 56 && offsetof(VIRecord, reservations) == 60 &&
              offsetof(VIRecord, mem62) == 62 && offsetof(VIRecord, callers) == 64 &&
              offsetof(VIRecord, subVIs) == 68 && offsetof(VIRecord, mem72) == 72 &&
              offsetof(VIRecord, logRecord) == 76 && offsetof(VIRecord, logState) == 80 &&
              offsetof(VIRecord, stored84) == 84 && offsetof(VIRecord, windowOptions) == 86 &&
              offsetof(VIRecord, priority) == 88 && offsetof(VIRecord, viKind) == 90 &&
              offsetof(VIRecord, printInfo) == 92 && offsetof(VIRecord, version) == 96 &&
              offsetof(VIRecord, stored100) == 100 && offsetof(VIRecord, typeHeapIndex) == 104 &&
              offsetof(VIRecord, rsrcFile) == 108 && offsetof(VIRecord, mem112) == 112 &&
              offsetof(VIRecord, connTypeWord) == 116 && offsetof(VIRecord, mem120) == 120 &&
              offsetof(VIRecord, name) == 124 && offsetof(VIRecord, stored380) == 380 &&
              offsetof(VIRecord, modDate) == 384 && offsetof(VIRecord, helpPath) == 388 &&
              offsetof(VIRecord, helpTag) == 392 && offsetof(VIRecord, stored396) == 396 &&
              offsetof(VIRecord, marks) == 400 && offsetof(VIRecord, execSystem) == 404 &&
              offsetof(VIRecord, stored408) == 408 && offsetof(VIRecord, eState) == 412 &&
              offsetof(VIRecord, stored416) == 416 && offsetof(VIRecord, viRefList) == 420 &&
              offsetof(VIRecord, rtMenuWord) == 424 && offsetof(VIRecord, rtMenuPath) == 428 &&
              offsetof(VIRecord, mem432) == 432 && offsetof(VIRecord, logBinding) == 436 &&
              offsetof(VIRecord, title) == 440 && offsetof(VIRecord, connPane) == 444 &&
              offsetof(VIRecord, curVIRef) == 448,
              "VI header offsets");

// The record of a VI record handle.
inline VIRecord* VIRec(UHandle vi) { return reinterpret_cast<VIRecord*>(*vi); }

// ---- flags --------------------------------------------------------------------------
enum : uInt32 {
  kVIFlagNotExecutable = 0x1,       // the VI itself is not executable
  kVIFlagNotExecutable2 = 0x2,
  kVIFlagSubVIMissing = 0x4,        // a subVI or type is missing or inconsistent
  kVIFlagSubVINotExec = 0x8,        // a subVI is not executable (set by linking)
  kVIFlagSubVIRunning = 0x10,       // a subVI is already running
  kVIFlagSubVIState = 0x18,         // the two subVI-state bits, cleared at load
  kVIFlagReentrant = 0x20,          // cleared at load, set again by the linker
  kVIFlagClearedAtLoad80 = 0x80,
  kVIFlagOpenPanel = 0x400,         // open the front panel when loaded
  kVIFlagRoot = 0x2000,             // the root VI
  kVIFlagsSetAtLoad = 0x2200,
  kVIFlagRunWhenOpened = 0x4000,
  kVIFlagBad = 0x10000,             // cannot run; cleared at load when the VI has no code
  kVIFlagSubroutine = 0x20000,      // subroutine priority
  kVIFlagPanelBinding = 0x40000,    // set after load when flags2 has kVIFlags2LogAtCompletion
  kVIFlagExtSubMissing = 0x400000,  // an external subroutine is missing or inconsistent
  kVIFlagsNotRunnable = 0x41001F,   // any of these: the VI is bad
  kVIFlagLoading = 0x2000000,       // set while the VI loads (and during a later panel fix-up)
  kVIFlagsClearedAtLoad = 0x80 | 0x4000000 | 0x8000000 | 0x20000000 | 0x40000000,
};

// ---- flags2 -------------------------------------------------------------------------
enum : uInt32 {
  kVIFlags2LogAtCompletion = 0x20,
  kVIFlags2ToolBar40 = 0x40,         // shown by the tool bar
  kVIFlags2ToolBar80 = 0x80,
  kVIFlags2NewVI = 0x200,            // what a new VI starts with
  kVIFlags2RunContinuously = 0x400,
  kVIFlags2RetrievalMode = 0x800,    // datalog retrieval mode
  kVIFlags2Runnable = 0x2000,        // set after load when kVIFlagPanelBinding is set and the VI runnable
  kVIFlags2PrintAtCompletion = 0x8000,
  kVIFlags2CodeNotEntered = 0x200000,  // no code, or the data-space header size was corrected
  kVIFlags2SetAtLoad = 0x800000,
  kVIFlags2ClearedAtLoad = 0x84DC0,
  kVIFlags2ClearedAtLoad2 = 0x20000000,
};

// ---- marks --------------------------------------------------------------------------
enum : uInt32 {
  kVIMarkCleared1 = 0x1,          // cleared at load
  kVIMarkFromLibrary = 0x2,       // loaded from a VI library member
  kVIMarkPanel4 = 0x4,            // read when the panel opens
  kVIMarkPanel8 = 0x8,
  kVIMarkSystemVI = 0x8,          // a system VI (the same bit)
  kVIMarkCleared40 = 0x40,        // cleared at load
  kVIMarkPanelByRefs = 0x400,     // the front panel was loaded by VI-server references
  kVIMarkOperatedByRef = 0x800,   // a property or method runs through a reference
  kVIMarksClearedAtLoad = 0xC10,
  kVIMarkReadOnly = 0x2000,       // the VI's file is read-only
};

// ---- eState and kinds ---------------------------------------------------------------
enum : uInt32 { kVIStateMask = 0xF, kVIStateBroken = 0, kVIStateIdle = 1 };
enum : int16 {
  kVIKindDialog = 0, kVIKindDatalog = 2, kVIKindRoot = 3, kVIKindControl = 6,
  kVIKindProxyCaller = 8, kVIKindProxyCallee = 9,
};
constexpr int16 kVIPrioritySubroutine = 5;

// ---- versions -----------------------------------------------------------------------
// The run-time's own version (the first word of its 'vers' resources).
constexpr uInt32 kRunTimeVersion = 0x05018003;
// From this version on a kind-2 VI stores its record type and control map.
constexpr uInt32 kVersionStoresLogTypes = 0x04502027;
// Data spaces of older VIs have no panel data controllers.
constexpr uInt32 kVersionPanelDataControllers = 0x05008007;
// The two boundaries are compared unsigned, the run-time check signed.
inline bool VIVersionAtLeast(uInt32 version, uInt32 boundary) { return version >= boundary; }
inline bool VIVersionAboveRunTime(uInt32 version, uInt32 runTime = kRunTimeVersion) {
  return int32(version) > int32(runTime);
}

// Swaps the stored fields of a header in place between file and memory
// order, in the loader's order; the swap is its own inverse.
void SwapVIHeader(void* header);

// A stored header made into a record: a shorter one is extended with zero
// bytes, a longer one cut to 452, then its fields are swapped to memory
// order.  2 when the handle cannot be resized (nothing swapped).
MgErr VIHeaderFromStored(UHandle header);

// The datalog binding record 'DLDR': 7 words.  In memory word 0 is the log
// file path, word 2 the record type descriptor, word 3 a cleared handle of
// that type's data size, word 6 the control-position map.  Word 2 holds the
// record type itself, {time stamp, panel data}, in every VI: the loader
// takes it out of the cluster that 'FPTD' stores around it.
constexpr ResType kDatalogBindingRsrcType = FourCC("DLDR");
struct DatalogBindingRec {
  Path logPath;
  uInt32 word1;
  UHandle recordTD;
  UHandle recordData;
  uInt32 word4;
  uInt32 word5;  // left as stored
  UHandle controlMap;
};
static_assert(sizeof(DatalogBindingRec) == 28 && offsetof(DatalogBindingRec, recordTD) == 8 &&
              offsetof(DatalogBindingRec, recordData) == 12 && offsetof(DatalogBindingRec, word5) == 20 &&
              offsetof(DatalogBindingRec, controlMap) == 24,
              "datalog binding record");
// Swaps words 0 to 4 and 6 of a stored record of `size` bytes; 1 when the
// record is shorter than 28 bytes (nothing swapped).
MgErr SwapDatalogBinding(void* rec, int32 size);
