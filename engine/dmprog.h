// The data manager: when a front panel's data space is set up or rebuilt,
// the panel's objects compile small programs of 32-byte instructions that
// allocate, initialise, copy or convert their data, and the interpreter runs
// them.  Programs are keyed per object (the object's heap offset plus 0 to
// 4) and call each other; a controller's main program runs as soon as it is
// closed.
//
// One pass at a time, on the user-interface thread; the pass state is global.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/objheap.h"

// One instruction: the kind, three operands, and for the unit conversions
// (kinds 16 and 17) the scale and the offset.
struct DMInstr {
  int32 kind;
  int32 a, b, c;
  float64 scale;
  float64 offset;
};
static_assert(sizeof(DMInstr) == 32 && offsetof(DMInstr, a) == 4 && offsetof(DMInstr, b) == 8 &&
              offsetof(DMInstr, c) == 12 && offsetof(DMInstr, scale) == 16 && offsetof(DMInstr, offset) == 24,
              "data-manager instruction");

enum : int32 {
  kDMNop = 0, kDMPrint = 1, kDMSetSBase = 2, kDMCopy = 3, kDMCall = 4, kDMStep = 5, kDMCopyBytes = 6,
  kDMCopyDims = 7, kDMResize = 8, kDMLoop = 9, kDMLoopEnd = 10, kDMConvert = 11, kDMParseText = 12,
  kDMEnd = 13, kDMInit = 14, kDMSetFromOffset = 15, kDMUnitInPlace = 16, kDMUnitInto = 17,
  kDMSetDBase = 18, kDMClearS = 19, kDMStepD = 20, kDMResizeHandle = 21, kDMSetBoth = 22,
  kDMStoreWord = 24, kDMScaleRange = 25, kDMPointerValue = 26, kDMTrace = 27, kDMNewHandle = 28,
};

// Keys of an object's programs: its heap offset plus one of these.
enum : int32 { kDMKeySetUp = 0, kDMKeyOperate = 1, kDMKeyDefault = 2, kDMKeyElements = 3, kDMKeyConvert = 4 };

// Modes of DMBeginProc.
enum : int32 { kDMOpen = 0, kDMEmpty = 1, kDMCopyProc = 2, kDMInitProc = 3 };

// An entry of the program table of a pass.
struct DMProcEntry {
  int32 key;
  UHandle program;
};
static_assert(sizeof(DMProcEntry) == 8, "program table entry");
// The program table of a pass: an application-zone handle of DMProcEntry.
typedef UHandle DMProcTable;

// The pending table: where newly copied objects take their data from.
struct DMPendingHeader {
  int32 capacity;
  int32 count;
  UHandle vi;
};
struct DMPendingEntry {
  ObjHeap heap;
  int32 object;
  ObjHeap srcHeap;
  int32 srcObject;
  uInt32 flags;
};
static_assert(sizeof(DMPendingHeader) == 12 && sizeof(DMPendingEntry) == 20 &&
              offsetof(DMPendingEntry, srcObject) == 12 && offsetof(DMPendingEntry, flags) == 16,
              "pending table layout");
enum : uInt32 {
  kDMPendInit = 0x2,          // initialise the object's data
  kDMPendNotFound = 0x4,      // DMFindDataProc found no entry
  kDMPendNoSource = 0x8,      // an entry without data source: not found
  kDMPendUnload = 0x80000000, // the source heap was loaded for this; unloaded with the table
};
constexpr int32 kDMPendingGrowth = 64;

// The VI flag that leaves a VI's panel out of DataMgrRunForHeap.
constexpr uInt32 kVIFlagNoDataMgr = 0x1000;

// The unit conversion of instructions 16 and 17: the value at src of numeric
// code (bit 0x10, a unit, is ignored; complex values convert both parts),
// multiplied by scale and then offset added, written back in place (mode 0)
// or into dst (mode 1).  A code that is no number is reported and nothing is
// written.
QX_EXTERN_C void DMUnitConvertValue(const void* src, int32 mode, void* dst, int32 code, float64 scale,
                                    float64 offset);

// ---- Passes -------------------------------------------------------------------------
// Runs a pass on the VI's panel heap from its root (unless the VI has
// kVIFlagNoDataMgr), then disposes the VI's pending table.  The pass's error.
QX_EXTERN_C MgErr DataMgrRunForHeap(UHandle vi);
// A pass from the object's data controller (or panel root): the objects build
// their programs, which run as each controller's main program closes.
QX_EXTERN_C MgErr DataMgrRun(ObjHeap heap, int32 object);
// True while a pass runs; the error of the pass so far.
Bool32 DMPassRunning();
MgErr DMPassError();
void DMSetPassError(MgErr err);

// ---- Pending sources ----------------------------------------------------------------
QX_EXTERN_C MgErr AddDDODataProc(ObjHeap heap, int32 object, ObjHeap srcHeap, int32 srcObject, uInt32 flags);
// Searches from the last entry; found: the outputs are set and the entry's
// flags without bit 31 are returned in *flags; not found: *flags gets
// kDMPendNotFound.  Returns whether an entry was found.
QX_EXTERN_C Bool32 DMFindDataProc(ObjHeap heap, int32 object, ObjHeap* srcHeap, int32* srcObject,
                                  int32* reserved, uInt32* flags);
QX_EXTERN_C void DMDisposePending();
// The pending table (null when none); for tests and the panel procedures.
UHandle DMPendingTable();

// ---- Building programs ----------------------------------------------------------------
QX_EXTERN_C void DMBeginProc(int32 key, int32 mode, int32 arg);
QX_EXTERN_C void DMBeginMainProc(int32 key, int32 mode, int32 arg);
QX_EXTERN_C void DMBuildInstr(int32 kind, int32 a, int32 b, int32 c);
QX_EXTERN_C void DMBuildConvInstr(int32 kind, int32 a, float64 scale, float64 offset);
// Whether a program is registered under the key.
Bool32 DMHasProc(int32 key);

// ---- Running --------------------------------------------------------------------------
QX_EXTERN_C MgErr DMRunProgram(const DMInstr* program, UPtr s, UPtr d);

// ---- What the panel layers do for the data manager, filled at start-up --------------
struct DataMgrHooks {
  // Message 73 to the object: non-zero when it built programs its owner calls.
  int32 (*oDataSpace)(ObjHeap heap, int32 object, int32 arg) = nullptr;
  // The category ('DCO ', 'DDO ', ...) of a class id; 0 for none.
  uInt32 (*classCategory)(int32 cls) = nullptr;
  // Kind 12: the number typed into the object's text, into dst; 0 or an error.
  MgErr (*parseTypedText)(ObjHeap heap, int32 object, void* dst) = nullptr;
  // Kind 25: after the range record was copied into the scale's data: set
  // the scale's increment entry and recompute it.
  MgErr (*scaleRangeSet)(ObjHeap heap, int32 scale) = nullptr;
  // Kind 26: the value of a pointer position (a Point word) on a knob or slide.
  MgErr (*pointerValue)(ObjHeap heap, int32 object, int32 point, void* dst) = nullptr;
};
// Null members keep their defaults (nothing sent, no category, nothing
// parsed or recomputed); returns the former set.
DataMgrHooks SetDataMgrHooks(const DataMgrHooks& hooks);
const DataMgrHooks& GetDataMgrHooks();
// The bytes of a scale's range record that kind 25 copies: ten words and a
// 16-bit word.
constexpr int32 kScaleRangeBytes = 42;
