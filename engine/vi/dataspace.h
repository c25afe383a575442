// The data-space header: the first 528 bytes of every data space.
//
// Compiled code addresses these fields by byte offset, and the code emitter
// of tools/ builds its offsets from this same declaration, so every field has
// a fixed place checked below.  Words that belong to compiled code or that no
// engine code names yet are kept as reserved words at their places.
#pragma once
#include "engine/exec/execrec.h"

constexpr uInt32 kDataSpaceSig = FourCC("DATA");
constexpr uInt32 kVIEntranceSig = FourCC("VENT");
constexpr int32 kDataSpaceHeaderSize = 528;

// Procedure slots 5 to 25 of a data space.
constexpr int32 kDSProcFirst = 5;
constexpr int32 kDSProcLast = 25;
constexpr int32 kDSProcCount = kDSProcLast - kDSProcFirst + 1;
// The slots of a data space: procedure addresses, none for an empty slot.
typedef void* DSProcs[kDSProcCount];

// The entrance of a non-reentrant VI: six words, then the VI's own element.
struct VIEntranceRec {
  ThMutex dsRights;       // the data space's mutex (threads on)
  ThMutex dsMessageLock;  // proxy-called data spaces only
  ExecQueue* waitQueue;   // 5 levels; callers waiting for the VI
  QueueElement* owner;    // the caller's element inside the VI now
  int32* lockWord;        // subroutine-priority VIs: a word of its own
  uInt32 signature;       // "VENT"
  QueueElement ownElement;
};
static_assert(sizeof(VIEntranceRec) == 120 && offsetof(VIEntranceRec, signature) == 20 &&
              offsetof(VIEntranceRec, ownElement) == 24,
              "entrance record");

struct DataSpaceHeader {
  uInt32 runWord0;      // 0
  uInt32 runWord1;      // 4
  uInt16 dsFlags;       // 8
  uInt16 marker;        // 10: 0xFFFF after initialisation
  uInt16 word12;        // 12
  uInt16 word14;        // 14
  UHandle owner;        // 16: the owning VI record
  DSProcs procs;        // 20: procedure slots 5..25
  UHandle typeDesc;     // 104
  DataSpace self;       // 108
  UHandle panel;        // 112
  void* rtTable;        // 116: the run-time function table
  int32 size;           // 120
  uInt16 panelFlag1;    // 124
  uInt16 panelFlag2;    // 126
  uInt16 viFlagsCopy;   // 128
  uInt16 flagsBit12;    // 130
  uInt16 reserved132;   // 132
  uInt16 headerFixed;   // 134
  // 136..159: routing of the data space to a run slot.
  int16 effPriority;    // 136: the priority its elements are queued at
  int16 basePriority;   // 138: the VI's own priority
  int32 execSystem;     // 140: -1 when routed by priority alone
  int32 slot;           // 144: the slot chosen for it
  const int32* routingRow;  // 148: the routing table's row of its priority
  int32 busy;           // 152: a caller is inside the VI
  int32 resetCount;     // 156: counts calls and resets
  int32 panelOpen;      // 160
  uInt32 signature;     // 164: "DATA"
  int32 reserved168[5];  // 168..187; the linker may patch the word at 176
  ExecQueue* waitQueue;  // 188: callers waiting on this VI; the entrance's 5-level queue
  VIEntranceRec entrance;  // 192..311
  int32 reserved312;    // 312
  DataSpaceHeader* selfPtr;  // 316
  // 320..359: the run element, the subVI call steps and reset state.
  uInt32* flagRecord;   // 320: the flag record of the run element
  DataSpace linkedDS;   // 324: the linked data space (written by compiled code)
  void* subVIEntry;     // 328: code address for running the VI for a caller
  QueueElement* runElement;  // 332: allocated with the data space
  uInt16 callFlags;     // 336
  uInt16 showPanel;     // 338
  uInt16 openOptions;   // 340
  uInt16 closeOptions;  // 342
  uInt16 completion;    // 344
  uInt16 reclaimMemory;  // 346
  uInt16 suspendPending;  // 348
  uInt16 wholeReset;    // 350
  int32 relocPair[2];   // 352: recorded for relocation, cleared when the block moves
  // A call through a reference: the callee's parameter table while the call
  // is in progress (0 outside one), and a proxy callee's remote call
  // waiting for its reply.
  void* callTable;      // 360
  void* pxCallAsync;    // 364
  int32 reserved368[10];  // 368..407
  uInt16 priority;      // 408: the VI's priority
  uInt16 reserved410;   // 410
  UHandle viPath;       // 412
  int32 qeCount;        // 416: entries of the queue-element table
  QueueElement** qeTable;  // 420: the data space's queue elements by number
  DataSpace nextClone;  // 424
  int32 reserved428;    // 428
  int32 word432;        // 432: cleared after the clumps are reset
  int32 reserved436[9];  // 436..471
  int32 sharedWord;     // 472: clones copy it from the first data space
  int16 transferMode;   // 476: 0 filters the modes of diagram writes to panel controls
  int16 reserved478;    // 478
  int32 hasDataControllers;  // 480: the bound panel has its controller list
  int32 reserved484;    // 484
  int32 dcoCount;       // 488
  int32 dcoTableOffset;  // 492
  int32 reserved496;    // 496
  DataSpace cloneCaller;  // 500
  UHandle updateQueue;  // 504
  int32 reserved508;    // 508
  int32 threadsOn;      // 512
  int32 reserved516[3];  // 516..527
};

static_assert(sizeof(DataSpaceHeader) == kDataSpaceHeaderSize, "data-space header size");
static_assert(offsetof(DataSpaceHeader, dsFlags) == 8 && offsetof(DataSpaceHeader, marker) == 10 &&
              offsetof(DataSpaceHeader, word12) == 12 && offsetof(DataSpaceHeader, word14) == 14 &&
              offsetof(DataSpaceHeader, owner) == 16 && offsetof(DataSpaceHeader, procs) == 20 &&
              offsetof(DataSpaceHeader, typeDesc) == 104 && offsetof(DataSpaceHeader, self) == 108 &&
              offsetof(DataSpaceHeader, panel) == 112 && offsetof(DataSpaceHeader, rtTable) == 116 &&
              offsetof(DataSpaceHeader, size) == 120 && offsetof(DataSpaceHeader, panelFlag1) == 124 &&
              offsetof(DataSpaceHeader, panelFlag2) == 126 && offsetof(DataSpaceHeader, viFlagsCopy) == 128 &&
              offsetof(DataSpaceHeader, flagsBit12) == 130 && offsetof(DataSpaceHeader, headerFixed) == 134,
              "data-space header: identity and procedures");
static_assert(offsetof(DataSpaceHeader, effPriority) == 136 && offsetof(DataSpaceHeader, basePriority) == 138 &&
              offsetof(DataSpaceHeader, execSystem) == 140 && offsetof(DataSpaceHeader, slot) == 144 &&
              offsetof(DataSpaceHeader, routingRow) == 148 && offsetof(DataSpaceHeader, busy) == 152 &&
              offsetof(DataSpaceHeader, resetCount) == 156 && offsetof(DataSpaceHeader, panelOpen) == 160 &&
              offsetof(DataSpaceHeader, signature) == 164 && offsetof(DataSpaceHeader, waitQueue) == 188 &&
              offsetof(DataSpaceHeader, entrance) == 192 && offsetof(DataSpaceHeader, selfPtr) == 316,
              "data-space header: routing and entrance");
static_assert(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement) == 216 &&
              offsetof(DataSpaceHeader, entrance) + sizeof(VIEntranceRec) == 312,
              "the own element's place");
static_assert(offsetof(DataSpaceHeader, flagRecord) == 320 && offsetof(DataSpaceHeader, linkedDS) == 324 &&
              offsetof(DataSpaceHeader, subVIEntry) == 328 && offsetof(DataSpaceHeader, runElement) == 332 &&
              offsetof(DataSpaceHeader, callFlags) == 336 && offsetof(DataSpaceHeader, showPanel) == 338 &&
              offsetof(DataSpaceHeader, openOptions) == 340 && offsetof(DataSpaceHeader, closeOptions) == 342 &&
              offsetof(DataSpaceHeader, completion) == 344 && offsetof(DataSpaceHeader, reclaimMemory) == 346 &&
              offsetof(DataSpaceHeader, suspendPending) == 348 && offsetof(DataSpaceHeader, wholeReset) == 350 &&
              offsetof(DataSpaceHeader, relocPair) == 352,
              "data-space header: run state");
static_assert(offsetof(DataSpaceHeader, callTable) == 360 && offsetof(DataSpaceHeader, pxCallAsync) == 364,
              "data-space header: the call words");
static_assert(offsetof(DataSpaceHeader, priority) == 408 && offsetof(DataSpaceHeader, viPath) == 412 &&
              offsetof(DataSpaceHeader, nextClone) == 424 && offsetof(DataSpaceHeader, word432) == 432 &&
              offsetof(DataSpaceHeader, sharedWord) == 472 && offsetof(DataSpaceHeader, dcoCount) == 488 &&
              offsetof(DataSpaceHeader, dcoTableOffset) == 492 &&
              offsetof(DataSpaceHeader, qeCount) == 416 && offsetof(DataSpaceHeader, qeTable) == 420 &&
              offsetof(DataSpaceHeader, transferMode) == 476 && offsetof(DataSpaceHeader, hasDataControllers) == 480 &&
              offsetof(DataSpaceHeader, cloneCaller) == 500 &&
              offsetof(DataSpaceHeader, updateQueue) == 504 && offsetof(DataSpaceHeader, threadsOn) == 512,
              "data-space header: tail");

// The procedure slot n (5..25) of a header.
inline void*& DSProc(DataSpaceHeader* h, int32 n) { return h->procs[n - kDSProcFirst]; }
