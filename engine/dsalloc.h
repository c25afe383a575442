// Data-space allocation: a VI's data space is one data-zone handle laid out
// by one cluster descriptor, the DataSpaceTD (a data-zone handle of its own:
// int16 size, code 0x50, int16 entry count, the entries' descriptors back to
// back).  The 528-byte header block comes first; an allocation pass appends
// entries for the front panel, each aligned by explicit padding entries, since
// descriptors are laid out packed (the alignment limit is 1 throughout).
//
// One pass at a time, on the thread that loads and edits VIs, never while the
// VI runs: AllocBeginPass, CreateDSEntry / AllocDSBlock (directly or through
// the panel classes' OAllocate methods), AllocEndPass.
#pragma once
#include "engine/datatype.h"
#include "engine/vi/dataspace.h"
#include "mgsource/objheap.h"

// The header of a data space (no entry starts below it).
inline DataSpaceHeader* DSHdr(UHandle ds) { return reinterpret_cast<DataSpaceHeader*>(*ds); }

// The descriptor of a padding or untyped block entry.
struct __attribute__((packed)) PadBlockTD {
  uInt16 size;  // 8
  uChar code;   // kTDBlock
  uChar flags;
  int32 count;
};
static_assert(sizeof(PadBlockTD) == 8, "padding block descriptor");
inline PadBlockTD MakePadBlockTD(int32 count) { return PadBlockTD{8, kTDBlock, 0, count}; }

// Entry flags in a copied descriptor's flags byte.
enum : uChar {
  kDSEntryStored = 0x20,  // the value belongs to the VI's stored default data
  kDSEntryPrivate = 0x10, // chart histories and the copies inside a control's record
};

// Error flags of a pass.
enum : int16 {
  kDSAllocMemErr = 2,  // a handle could not grow or data could not be initialised
  kDSAllocTDErr = 4,   // a descriptor for a panel class could not be built
};

// The state of the pass under way, in this order.
struct DSAllocState {
  int32 active;
  UHandle dataSpace;
  UHandle typeDesc;     // the DataSpaceTD
  int32 dataAllocated;  // size of the data handle
  int32 tdAllocated;    // size of the descriptor handle
  int32 endOfData;      // offset of the next entry
  int32 tdUsed;         // used size of the descriptor
  int32 lastTDOffset;   // descriptor offset of the last entry
  UHandle dataSpaceCopy;
  UHandle typeDescCopy;
  int16 entryCount;
  int16 alignLimit;     // 1
  int16 errorFlags;     // kDSAllocMemErr | kDSAllocTDErr
  int32 kept[2];        // survive the clearing of the state
};
// The state of the pass under way (inactive between passes).
const DSAllocState* DSAllocCurrentState();

QX_EXTERN_C void AllocBeginPass(UHandle vi);
QX_EXTERN_C void AllocEndPass();
// Appends an entry for the descriptor (aligned first, see the .cpp) and
// returns its data offset; its descriptor offset goes to *tdOffset.
QX_EXTERN_C int32 CreateDSEntry(const TypeDescriptor* td, int32* tdOffset, Bool32 stored);
QX_EXTERN_C int32 CreateDSEntry_Old(UHandle tdHandle, int32 offset, int32* tdOffset, Bool32 stored);
// Appends an untyped block of count bytes aligned to the lowest set bit of
// align (1 to 8); returns its data offset.
QX_EXTERN_C int32 AllocDSBlock(int32 count, int32 unused, Bool32 stored, int32 align);
// One pass for an object of a front-panel heap: 0, or 2 when any error flag
// was set; 1 for a heap without owner.
QX_EXTERN_C MgErr AllocObjDataSpace(ObjHeap heap, int32 object);

// For the panel classes inside a pass: the error flags, setting one, the end
// of data, and setting flag bits on an entry's descriptor and on its cluster
// and union elements, recursively.
int16 DSAllocErrorFlags();
void DSAllocSetError(int16 flag);
int32 DSAllocEndOfData();
void DSAllocMarkEntryTD(int32 tdOffset, uChar bits);

// The panel services that the engine reaches through hooks filled at start-up
// by the object system (before MemInit).  Without them no object is
// allocated, and start-up makes no pair table and no transaction stack.
struct EnginePanelHooks {
  int32 (*oAllocate)(ObjHeap heap, int32 object);  // sends message 55
  void* (*newPairTable)(int32 count);
  void (*initTransactionStack)();
  // The root object ("Front Panel") of a new panel heap: its offset, 0 when
  // it cannot be made.  Without the object system a new panel has no root.
  int32 (*newPanelRoot)(ObjHeap heap);
  MgErr (*commitKeyFocus)(ObjHeap heap);      // the pending entry of the key focus
  void (*transferAllControls)(ObjHeap heap);  // controls take their data
  void* (*newUpdateQueue)(int32 room);        // a data space's update queue
  void (*disposeUpdateQueue)(void* queue);
  void (*clearPanelClipboard)();
};
void SetEnginePanelHooks(const EnginePanelHooks* hooks);
const EnginePanelHooks* GetEnginePanelHooks();

// Called by AllocObjDataSpace when the data block moved during a pass: the
// data space's dispose procedure and, when its procedure slot 10 is set, the
// preparation of its controllers run again.  Installed with the code
// procedures of a data space; until then nothing is called.
typedef void (*DSMovedProc)(UHandle dataSpace);
void SetDataSpaceMovedProc(DSMovedProc proc);

// ---- Descriptors of the panel classes -----------------------------------------------
// Each is a new application-zone handle holding the descriptor at offset 0,
// which the caller disposes; null when it cannot be built.
QX_EXTERN_C UHandle FPDCODataTD(const TypeDescriptor* controlTD);
QX_EXTERN_C UHandle NumRangeTD(const TypeDescriptor* td);
QX_EXTERN_C UHandle ArrayCtlDataTD(const TypeDescriptor* elemTD, int32 nDims);
QX_EXTERN_C UHandle TableCtlDataTD(const TypeDescriptor* arrayTD);
UHandle RingItemsTD();
UHandle ListboxCtlDataTD();
UHandle ScaleCtlDataTD();
UHandle GraphStateTD();
UHandle GraphImageTD();
// Data sizes the layouts fix.
constexpr int32 kFPDCOFlagsDataSize = 12;  // the "udf" cluster
constexpr int32 kTableStateDataSize = 60;
constexpr int32 kFPDCODataFixedTDSize = 58;

// ---- Default data -------------------------------------------------------------------
// A new data space of the VI's DataSpaceTD with the stored entries' values
// read from the default data (flattened, in the flat readers' format: flags
// 0, or kFlatOldBooleans for the previous format), null when the data is
// short or bad or memory is short.
QX_EXTERN_C UHandle InflateDataSpace(UHandle vi, UHandle defaultData, int32 formatFlags);
// The stored entries of the VI's first data space, flattened into a new
// application-zone handle; null when memory is full.
QX_EXTERN_C UHandle DeflateDataSpace(UHandle vi);

// ---- Start-up -----------------------------------------------------------------------
// The engine's start-up blocks, made by AZPAllocInit (installed with
// MemSetDataSpaceInitHook, run by MemInit).
struct AZPAllocBlocks {
  UPtr linkerTable;   // 3004 bytes, cleared
  UPtr linkerNames;   // 160 bytes, cleared
  UPtr block4000a;
  UPtr block4000b;
  UPtr block268;
  UHandle emptyHandle;
  const void* rtTable;  // the address of QXRTTable
  void* pairTable;      // 179 pair entries, one per object class id
  int32 runs;           // times AZPAllocInit ran
};
constexpr int32 kPairTableEntries = 179;
QX_EXTERN_C void AZPAllocInit();
const AZPAllocBlocks* AZPBlocks();
