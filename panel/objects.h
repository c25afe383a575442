// The front-panel object system: object classes as records of numbered
// method slots, the message dispatch, the leading words of panel objects and
// their part lists, and the start-up blocks of the object system.
//
// An object lives in an object heap and is named by (heap, offset of its
// data); its class id is the word just before its data.  Messages are slot
// numbers; OSendMessage finds the object's class record through the class-id
// table and calls the procedure in that slot with the caller's arguments.
#pragma once
#include <cstddef>

#include "engine/objswap.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/objlist.h"

// ---- Class records -----------------------------------------------------------------
typedef void (*ObjMethodAddr)();  // a method, cast back to its message's signature when sent

constexpr int32 kObjSlots = 79;       // slots 0 to 78
constexpr int32 kObjMethodCount = 78; // of every real class; messages above it reach slot 78
constexpr int32 kClassIdCount = 179;  // ids 0 to 178; 179 and above are external classes

struct ObjClassRecord {
  uChar name[32];       // Pascal string, zero-filled
  uChar superName[32];  // the superclass's name, empty for a root class
  int32 superId;        // -1 for a root class
  int32 instanceSize;
  int32 reserved1;
  int32 methodCount;    // 78; 0 in the filler record "BadProc"
  uInt32 categoryA;     // "OBDP", "QXCT" or "BKUP"
  uInt32 categoryB;     // "GNRC", "LIST", "COSM", "DDO ", "FPSC", "DCO ", "OBDP", "BKUP"
  int32 reserved2[3];
  ObjMethodAddr methods[kObjSlots];
  int32 reserved3;
};
static_assert(sizeof(ObjClassRecord) == 420 && offsetof(ObjClassRecord, superId) == 64 &&
              offsetof(ObjClassRecord, methodCount) == 76 && offsetof(ObjClassRecord, categoryA) == 80 &&
              offsetof(ObjClassRecord, methods) == 100,
              "class record layout");

// The categories.
constexpr uInt32 kCatOBDP = FourCC("OBDP"), kCatQXCT = FourCC("QXCT"),
                 kCatBKUP = FourCC("BKUP"), kCatGNRC = FourCC("GNRC"),
                 kCatLIST = FourCC("LIST"), kCatCOSM = FourCC("COSM"),
                 kCatDDO = FourCC("DDO "), kCatFPSC = FourCC("FPSC"),
                 kCatDCO = FourCC("DCO ");

// The class-id table: the record of every id 0..178 (ids without a class
// name the filler record "BadProc").
const ObjClassRecord* const* ClassIdTable();
// The record of a class id; "BadProc" for ids outside the table.
const ObjClassRecord* ClassRecord(int32 cls);

// The messages sent so far.
enum : int32 { kMsgOSwap = 1, kMsgOAllocate = 55, kMsgOModeChange = 76 };

// The method that a message to the object reaches (slots at or above the
// class's method count reach the slot of that count).
ObjMethodAddr OFindMethod(ObjHeap heap, int32 offset, int32 message);

// The dispatcher: sends the message with the arguments as they are.
template <typename R, typename... Args>
R OSendMessage(int32 message, ObjHeap heap, int32 offset, Args... args) {
  auto method = reinterpret_cast<R (*)(ObjHeap, int32, Args...)>(OFindMethod(heap, offset, message));
  return method(heap, offset, args...);
}

// The sending entry points.
QX_EXTERN_C MgErr OSwap(ObjHeap heap, int32 offset, int32 direction);  // message 1
QX_EXTERN_C int32 OAllocate(ObjHeap heap, int32 offset);              // message 55

// The two defaults: ErrorMethod reports the message (debug line "ErrorMethod:
// ...", then an assertion) and answers 0; NullMethod does nothing and answers 0.
QX_EXTERN_C int32 ErrorMethod(ObjHeap heap, int32 offset);
QX_EXTERN_C int32 NullMethod(ObjHeap heap, int32 offset);
// The unknown-class hook: while installed, ErrorMethod answers what it
// answers for (heap, offset) instead of raising its assertion.  Hooks do not
// nest: installing over one, or clearing none, is an assertion.
typedef int32 (*ObjUnknownClassProc)(ObjHeap heap, int32 offset);
QX_EXTERN_C void SetBadClassHook(ObjUnknownClassProc proc);
QX_EXTERN_C void ClearBadClassHook();

// ---- Object words ------------------------------------------------------------------
// The leading words of every panel object (byte offsets from its data).
enum : int32 {
  kObjFlags = 0,      // word 0
  kObjOwner = 4,      // word 1: the owner object's offset, 0 for the root
  kObjPartId = 8,     // int16: the role among the owner's parts
  kObjPartOrder = 10, // int16: the position among parts of the same id
  kObjPartList = 24,  // word 6: offset of the offset list of the object's parts
  kObjTypeId = 36,    // word 9 of a display object: its TypeID
};
constexpr int16 kPartIdTypeDefControl = 8010;  // the control inside a type definition

inline int32 ObjWord(ObjHeap heap, int32 offset, int32 word) {
  return int32(OHWord(heap, uInt32(offset + 4 * word)));
}
inline void ObjSetWord(ObjHeap heap, int32 offset, int32 word, int32 value) {
  OHSetWord(heap, uInt32(offset + 4 * word), uInt32(value));
}
inline int16 ObjInt16(ObjHeap heap, int32 offset, int32 byte) {
  int16 v;
  __builtin_memcpy(&v, *heap + offset + byte, 2);
  return v;
}
inline int32 ObjClass(ObjHeap heap, int32 offset) { return OHBlockClass(heap, offset); }

// The offset of the object's part with that id and order, 0 when it has none.
QX_EXTERN_C int32 FindPart(ObjHeap heap, int32 object, int32 partId, int32 order);
// Calls visit(part offset) for every entry of the object's part list.
template <typename Visit>
void ForEachPart(ObjHeap heap, int32 object, Visit visit) {
  int32 list = ObjWord(heap, object, kObjPartList / 4);
  if (!list) return;
  for (int32 i = 0; i < ObjListCount(heap, list); ++i) {
    int32 part = ObjListGet(heap, list, i);
    if (part) visit(part);
    list = ObjWord(heap, object, kObjPartList / 4);  // the heap may have grown
  }
}

// ---- Start-up blocks ---------------------------------------------------------------
// A cleared table of count 8-byte entries (application zone), null when count
// is not positive or memory is short.
QX_EXTERN_C void* NewPairTable(int32 count);
// The transaction stack's block: 4000 bytes, cleared, made once at start-up
// (an assertion when memory is short).
constexpr int32 kTransactionStackBytes = 4000;
QX_EXTERN_C void TRInit();
UPtr TRStackBlock();
// A step of a transaction path: the object, its kind ("FPSC" for a panel's
// root), how the step was reached and an ordinal; a kind of 0 ends the path.
struct TransactionFrame {
  int32 object;
  uInt32 kind;
  int32 mode;
  int32 index;
};
static_assert(sizeof(TransactionFrame) == 16, "transaction frame");
// A new path starts below this byte of the block.
constexpr int32 kTransactionPathLimit = 3840;
// Makes room for a new path and answers the previous top: the new top is
// the frame after the end of the path at the current top (the block's start
// when none was pushed).  The caller fills the path and puts the answered top
// back (TRSetStackTop) when its transaction ends.
QX_EXTERN_C void* TRPushFrame();
QX_EXTERN_C void* TRStackTop();
QX_EXTERN_C void TRSetStackTop(void* top);

// ---- Actions -------------------------------------------------------------------------
enum : int32 { kMsgODoit = 8, kMsgOSelect = 29 };
// Sends an object an action (message 8) with the path at frame; the result
// bits go to *result.  The panel's root passes actions 21, 24, 25, 26, 32, 55
// and 60 to each of its top-level objects, last first, ORing their results
// and stopping at one with 0x10000000.
QX_EXTERN_C int32 ODoit(ObjHeap heap, int32 object, void* frame, int32 action, int32* result);
// The selection message (29) with the sender's event record.  The panel's
// root takes a PanelActionRecord: its do-it hands it the actions above, and
// the root sends each of its top-level objects the action with the frame,
// writing the ORed result bits to *result.
struct PanelActionRecord {
  void* frame;
  int32 action;
  int32* result;
};
QX_EXTERN_C int32 OSelect(ObjHeap heap, int32 object, void* eventRecord);
// The do-it and selection methods of a class, for the class table; null
// where the class has none built.
ObjMethodAddr ODoitMethodFor(int32 cls);
ObjMethodAddr OSelectMethodFor(int32 cls);
constexpr int32 kActionStopBit = 0x10000000;

// Nonzero when the object takes property calls (a data display object,
// cosmetic, scale or the root of a front panel); its path from the panel's
// root is then written at the transaction stack's top.  *hidden and *greyed
// (either may be null) receive flag bits 8 and 0x80 of the object and its
// owners.
QX_EXTERN_C int32 GetObjAttrRec(ObjHeap heap, int32 object, int32* hidden, int32* greyed);
// Clears the undo records of a panel heap read from a file.
QX_EXTERN_C void ClearUndoRecords(ObjHeap heap);
// Adds the blinking objects of a loaded front panel (its blink list) to the
// count of blinking objects; BlinkCount answers that count.
QX_EXTERN_C void BlinkAddHeap(ObjHeap panelHeap);
int32 BlinkCount();
void BlinkInit();

// ---- Type definitions and class names -----------------------------------------------
// The class of a type-definition object, its link word (the VI it stands
// for) and the flag bit that marks the link stale.
constexpr int32 kClassTypeDef = 100;
constexpr int32 kTypeDefLinkWord = 11;
constexpr uInt32 kTypeDefLinkStale = 0x100000;
// The id (1..178) of the built-in class whose name equals the string
// exactly; 0 for any other name, "BadProc" among them.
QX_EXTERN_C int32 ClassIdByName(ConstPStr name);
// The VI a type-definition object is linked to, null while the link is stale;
// binding one stores the VI (or none) and clears the stale bit.  An object of
// another class is a failure report and nothing is read or changed.
QX_EXTERN_C UHandle TypeDefGetLink(ObjHeap heap, int32 object);
QX_EXTERN_C void TypeDefSetLink(ObjHeap heap, int32 object, UHandle vi);
// Gives the linker the type-definition binding, object flags and class
// names; called at start-up.
void PanelInstallLinkHooks();

// Registers the object system with the engine: the converters of its
// classes (slot 1) for heap conversion, and the services the engine reaches
// through hooks (the allocation message, the pair table, the transaction
// stack).  Called at start-up before MemInit.
void PanelInstallEngineHooks();
