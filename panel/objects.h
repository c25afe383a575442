// The front-panel object system: object classes as records of numbered
// method slots, the message dispatch, the leading words of panel objects and
// their part lists, and the start-up blocks of the object system.
//
// An object lives in an object heap and is named by (heap, offset of its
// data); its class id is the word just before its data.  Messages are slot
// numbers; OSendMessage finds the object's class record through the class-id
// table and jumps to the procedure in that slot, which finds the sender's
// arguments as the sender pushed them.
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
// name a filler record "BadProc", whose method count of 0 sends every
// message to ErrorMethod).  The dispatcher reads it directly.
const ObjClassRecord* const* ClassIdTable();
// The record of a class id; "BadProc" for ids outside the table.
const ObjClassRecord* ClassRecord(int32 cls);

// A message: the number of the slot it is sent to (0 to 78; a number at or
// above a class's method count reaches the slot of that count).
typedef int32 ObjMessage;
enum : ObjMessage {
  kMsgOSwap = 1, kMsgOPrint = 4, kMsgOInit = 5, kMsgOClick = 7, kMsgODoit = 8, kMsgOCtrlOp = 11,
  kMsgOLoad = 12, kMsgODispose = 13, kMsgOInsert = 16, kMsgODraw = 18, kMsgOColorChange = 19,
  kMsgOMarkInRect = 21, kMsgOInval = 22, kMsgOGetRect = 23, kMsgOSize = 25, kMsgOOffset = 26,
  kMsgOCopy = 27, kMsgOSelect = 29, kMsgOFrameSel = 30, kMsgOGetType = 35, kMsgOHelp = 38,
  kMsgODisplayVal = 39, kMsgOGetDataPtr = 41, kMsgOSetIndicator = 43, kMsgOPopup = 44,
  kMsgOBlink = 48, kMsgOAllocate = 55, kMsgODataSpace = 73, kMsgOModeChange = 76,
  kMsgClampSlot = 78,
};

// The method that a message to the object reaches (slots at or above the
// class's method count reach the slot of that count).
ObjMethodAddr OFindMethod(ObjHeap heap, int32 offset, ObjMessage message);
// The method of that class for the message, as OFindMethod finds it for an
// object of the class (a slot past the class's count: its filler entry).
ObjMethodAddr OFindClassMethod(int32 cls, ObjMessage message);
// OFindClassMethod as the dispatcher finds it, reading the class-id table
// directly: for code that runs where messages are sent (the table is built
// before any can be).
QX_EXTERN_C const ObjClassRecord* QXObjClassIdTable[kClassIdCount];
QX_EXTERN_C ObjClassRecord QXObjBadProcSpare;
inline ObjMethodAddr OClassMethodAsSent(int32 cls, ObjMessage message) {
  const ObjClassRecord* r = uInt32(cls) < uInt32(kClassIdCount) ? QXObjClassIdTable[cls] : &QXObjBadProcSpare;
  const uInt32 count = uInt32(r->methodCount);
  return r->methods[uInt32(message) < count ? uInt32(message) : count];
}

// The dispatcher (panel/osend.S): the message number in EAX, the sender's
// arguments on the stack as the sender pushed them; it jumps to the method,
// whose result comes straight back.  A C++ sender calls it through
// OSendMessage<R> below, which pushes its arguments once, as for any call.
QX_EXTERN_C void OSendMessageEntry() __asm__("OSendMessage");
template <typename R, typename... Args>
inline R OSendMessage(ObjMessage message, ObjHeap heap, int32 offset, Args... args) {
  typedef R(__attribute__((regparm(1))) * Send)(ObjMessage, ObjHeap, int32, Args...);
  return reinterpret_cast<Send>(&OSendMessageEntry)(message, heap, offset, args...);
}

// The sending entry points (panel/osend.S unless noted): each hands its
// caller's arguments, unchanged, to the dispatcher with its slot number.
// Those whose further arguments belong to the classes' own methods take
// them as they come.
QX_EXTERN_C MgErr OSwap(ObjHeap heap, int32 offset, int32 direction);
QX_EXTERN_C int32 OPrint(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OClick(ObjHeap heap, int32 offset, void* state, void* frame, void* action);
QX_EXTERN_C int32 OClickObject(ObjHeap heap, int32 offset, void* state, void* frame, void* action);
QX_EXTERN_C int32 OCtrlOp(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OInsert(ObjHeap heap, int32 offset, int32 object, int32 index);
QX_EXTERN_C int32 ODraw(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OColorChange(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OMarkInRect(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OGetRect(ObjHeap heap, int32 offset, Rect* rect, int32 kind);
QX_EXTERN_C int32 OSize(ObjHeap heap, int32 offset, const Rect* rect, int32 partId);
QX_EXTERN_C int32 OOffset(ObjHeap heap, int32 offset, Point by);
QX_EXTERN_C int32 OCopy(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OFrameSel(ObjHeap heap, int32 offset, ObjHeap other, int32 word, int32 flag);
QX_EXTERN_C int32 OHelp(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 oDisplayVal(ObjHeap heap, int32 offset, int32 flags, const void* value);
QX_EXTERN_C int32 OSetIndicator(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OPopup(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OBlink(ObjHeap heap, int32 offset, ...);
QX_EXTERN_C int32 OAllocate(ObjHeap heap, int32 offset);
QX_EXTERN_C int32 OModeChange(ObjHeap heap, int32 offset, ...);

// Methods of later parts of the object system join the table at start-up:
// for each class that takes the message (slot) with a method of its own not
// built here, methodFor(class id) gives the method or null.  Refused
// (kArgErr, an assertion) for a slot of no message in use and once
// ObjCloseSlots has run; start-up closes the table after the panel's hooks
// are installed.
MgErr ObjJoinSlot(int32 slot, ObjMethodAddr (*methodFor)(int32 cls));
void ObjCloseSlots();

// 1 when the object's class is cls or derives from it (an id without a
// class derives from nothing).
QX_EXTERN_C int32 ObjIsA(ObjHeap heap, int32 offset, int32 cls);
// The printable name of the object's class (at most 255 characters): the
// resource file's string list of object names by class id, or the class
// record's name; a few classes take it from a list of their own by their
// type or kind (empty when the list is absent).
QX_EXTERN_C void GetObjClassName(ObjHeap heap, int32 offset, PStr name);
// Enters NullMethod in the run-time function table at the indexes of the
// debug-print stubs; refused once registration is closed.
MgErr QXRTRegisterPanel();

// The two defaults: ErrorMethod reports the message (debug line "ErrorMethod:
// ...") and answers the unknown-class hook's answer, or raises an assertion
// and answers 0 when no hook is installed; NullMethod does nothing and
// answers 0.
QX_EXTERN_C int32 ErrorMethod(ObjHeap heap, int32 offset);
QX_EXTERN_C int32 NullMethod(ObjHeap heap, int32 offset);
// The unknown-class hook: while installed, ErrorMethod answers what it
// answers for (heap, offset) instead of raising its assertion.  Hooks do not
// nest: installing over one, or clearing none, is an assertion.
typedef int32 (*ObjUnknownClassProc)(ObjHeap heap, int32 offset);
QX_EXTERN_C void SetBadClassHook(ObjUnknownClassProc proc);
QX_EXTERN_C void ClearBadClassHook();

// ---- Objects -----------------------------------------------------------------------
// An object: its heap and the offset of its data (0: no object).
struct ObjRef {
  ObjHeap heap;
  int32 offset;
};

// The block header words in front of an object's data (byte offsets from
// the data): the copy-forward word (0, or during a copy pass the offset of
// the object's copy, and in the copy that of its original) and the class id.
enum : int32 { kObjCopyForwardWord = -8, kObjClassWord = -4 };
static_assert(kObjClassWord == int32(offsetof(ObjHeapBlock, cls)) - int32(kOHBlockHeader) &&
                  kObjCopyForwardWord == int32(offsetof(ObjHeapBlock, link)) - int32(kOHBlockHeader),
              "block header words");

// The leading fields of every object that takes part in a panel; the
// class's own fields follow.
struct ObjLeadingFields {
  uInt32 flags;
  int32 owner;       // the object whose part list holds this one, 0 for the root
  int16 partId;      // the role among the owner's parts
  int16 partOrder;   // the position among parts of the same id
  uInt16 partKey;    // a second identifier of the part, 0 for ordinary parts
  int16 field14;
  Rect bounds;       // panel coordinates
  int32 partList;    // offset list of the object's parts, 0 for none
};
enum : int32 {
  kObjFlags = 0,
  kObjOwner = 4,
  kObjPartId = 8,
  kObjPartOrder = 10,
  kObjPartKey = 12,
  kObjBounds = 16,
  kObjPartList = 24,
  kObjTypeId = 36,    // word 9 of a display object: its TypeID
};
static_assert(sizeof(ObjLeadingFields) == 28 && offsetof(ObjLeadingFields, owner) == kObjOwner &&
                  offsetof(ObjLeadingFields, partId) == kObjPartId &&
                  offsetof(ObjLeadingFields, partOrder) == kObjPartOrder &&
                  offsetof(ObjLeadingFields, partKey) == kObjPartKey &&
                  offsetof(ObjLeadingFields, bounds) == kObjBounds &&
                  offsetof(ObjLeadingFields, partList) == kObjPartList,
              "leading fields of an object");
// Flag bits of the leading flags word shared by all classes.
enum : uInt32 {
  kObjFlagIndicator = 1u << 0,
  kObjFlagHidden = 1u << 3,
  kObjFlagTextFocus = 1u << 20,     // a text taking the key focus; a type definition's stale link
  kObjFlagTextModified = 1u << 29,  // the text changed and is not committed yet
};

// A new object's class word (ids below 179, which must have a record), or
// for an external class its entry in the link table (front-panel heaps
// only).  kArgErr, reported, for an id without a record.
QX_EXTERN_C MgErr ObjRegister(ObjHeap heap, int32 offset, int32 cls);
// Clears the class word (or removes an external class's link entry).
QX_EXTERN_C MgErr ObjUnregister(ObjHeap heap, int32 offset, int32 cls);
// Unregisters and frees the object's block (what the object owns must have
// been released by ODispose first); 0.
QX_EXTERN_C int32 DisposeObject(ObjHeap heap, int32 offset);
// The offset of the object's copy in dst, made on the first request of a
// copy pass and remembered in both copy-forward words; 0 when memory runs
// out (dst unchanged).
QX_EXTERN_C int32 ObjCopyForward(ObjHeap src, int32 offset, ObjHeap dst);
// The check of a stored front-panel heap (its blocks already checked and
// converted) before any object loads: every used block holds its class's
// instance, every offset the object system follows names a used block or
// nothing, and the extension words that hold things of a running panel are
// cleared.  kArgErr when the heap fails.
MgErr CheckStoredPanelObjects(ObjHeap heap);
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

// The offset of the object's first part with that id and order, 0 when it
// has none.  Order kPartOrderHighest: the part of that id with the highest
// order (the first of equals).  Id 0: the last part whose key is 0 and
// whose id is not 66.
QX_EXTERN_C int32 FindPart(ObjHeap heap, int32 object, int32 partId, int32 order);
constexpr int32 kPartOrderHighest = 0x7FFFFFFF;
constexpr int16 kPartIdNotFoundByZero = 66;
// The word of the object's part list: a panel's root keeps its top-level
// objects in its object list (word 11), every other object in word 6.
constexpr int32 kRootObjectListWord = 11;
inline int32 PartListWord(ObjHeap heap, int32 object) {
  return OHBlockClass(heap, object) == kClsFrontPanel ? kRootObjectListWord : kObjPartList / 4;
}
// Calls visit(part offset) for every entry of the object's part list that
// names a used block holding at least the part's id, order and key (lists
// come from files).
// The same for a visit that only reads: the list is counted once.
template <typename Visit>
void ForEachPartReading(ObjHeap heap, int32 object, Visit visit) {
  const int32 list = ObjWord(heap, object, PartListWord(heap, object));
  if (!list) return;
  const int32 count = ObjListCountRead(heap, list);
  for (int32 i = 0; i < count; ++i) {
    const int32 part = ObjListGet(heap, list, i);
    if (part && OHUsedBlockHolds(heap, part, kObjBounds)) visit(part);
  }
}
template <typename Visit>
void ForEachPart(ObjHeap heap, int32 object, Visit visit) {
  const int32 word = PartListWord(heap, object);
  int32 list = ObjWord(heap, object, word);
  if (!list) return;
  for (int32 i = 0; i < ObjListCount(heap, list); ++i) {
    int32 part = ObjListGet(heap, list, i);
    if (part && OHIsUsedBlockOf(heap, part, kObjBounds)) visit(part);
    list = ObjWord(heap, object, word);  // the heap may have grown
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
// The block (null before TRInit), read inline: every property call asks
// where its path lies.
extern UPtr gTRStackBlock;
inline UPtr TRStackBlock() { return gTRStackBlock; }
// A step of a transaction path: the object, its kind ("FPSC" for a panel's
// root), how the step was reached and an ordinal; a kind of 0 ends the path.
struct TransactionFrame {
  int32 object;
  uInt32 kind;
  int32 mode;
  int32 index;
};
static_assert(sizeof(TransactionFrame) == 16, "transaction frame");
// The action record that travels down a path with a click or an action (75
// words, on the sender's stack).  Words 3 to 12 are a window event; a
// creation record shares the leading and trailing words.
struct ActionParams {
  Point point;         // the mouse point, or where a menu or palette opens
  int32 partId;        // the hit part
  int32 partOrder;
  int32 eventCode;     // the sub-event: 1 press, 3 move, 6 key down, 7 key repeat...
  int32 window;
  int32 localPoint;
  int32 globalPoint;
  int32 modifiers;
  int32 character;
  int32 keyCode;
  int32 eventData[3];
  int32 focusObject;   // the object that takes the key focus, or whose text is clicked
  int32 selStart;      // the text selection (0 to 0x7FFFFFFF: all of it)
  int32 selEnd;
  UHandle text;        // the text record being edited
  int32 dragObject;    // the object being dragged
  int16 arrowDirection;  // the direction of an arrow being pressed
  int16 half37;
  int32 flags;         // bit 0: keep tracking
  int32 words20[51];
  int32 deferPlace;    // creation: placement deferred
  int32 placeFlag;     // creation: the place flag, the new object and the owner kept for later
  int32 newObject;
  int32 newOwner;
};
enum : int32 { kActionTracking = 1 };
// The record that operate mode's click and do-it messages carry: the hit
// part, the window event, then each class's state (a numeric's step state
// first).
typedef ActionParams OperateRecord;
static_assert(sizeof(void*) != 4 ||
                  (sizeof(ActionParams) == 300 && offsetof(ActionParams, partId) == 4 &&
                   offsetof(ActionParams, eventCode) == 12 && offsetof(ActionParams, modifiers) == 28 &&
                   offsetof(ActionParams, character) == 32 && offsetof(ActionParams, keyCode) == 36 &&
                   offsetof(ActionParams, focusObject) == 52 && offsetof(ActionParams, selStart) == 56 &&
                   offsetof(ActionParams, text) == 64 && offsetof(ActionParams, flags) == 76 &&
                   offsetof(ActionParams, deferPlace) == 284 && offsetof(ActionParams, newOwner) == 296),
              "action record words");
// The creation record: an action record whose words 3 on describe the object
// to make (TRPlaceLabel, TRInsertNewObject, FPNewObjectAt); the trailing
// words 71 to 74 are the action record's.
struct CreationRecord {
  Point point;
  int32 cleared[2];
  uInt32 kind;          // "COSM" or "DDO "
  int32 creatorWord;    // handed to the object creator
  uInt16 flags;         // the template id ("Labl" 128 and 133)
  uInt8 creatorByte;
  uInt8 pad;
  uInt8 className[260];  // a PStr
  int32 deferPlace;
  int32 placeFlag;
  int32 newObject;
  int32 newOwner;
};
static_assert(sizeof(CreationRecord) == 300 && offsetof(CreationRecord, kind) == 12 &&
                  offsetof(CreationRecord, flags) == 20 && offsetof(CreationRecord, className) == 24 &&
                  (sizeof(void*) != 4 || (offsetof(CreationRecord, deferPlace) == offsetof(ActionParams, deferPlace) &&
                                          offsetof(CreationRecord, newOwner) == offsetof(ActionParams, newOwner))),
              "creation record words");
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
// The selection code that moves the selected objects into a new owner.
constexpr int32 kSelectMoveObjects = 12;
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
// What GetObjAttrPath learnt on its way: the path's first object as a used
// block of that usable size and class (top 0 when it kept none), and the
// object the first step reaches in the root's object list when that object
// is a used block holding an object's leading fields at a position found in
// the list (else 0).
struct AttrPathFacts {
  int32 top = 0, topSize = 0, topClass = 0;
  int32 rootChild = 0;
};
// GetObjAttrRec with the stack's top as TRStackTop gives it (read by the
// caller), also giving what it learnt (facts written only when it answers 1).
int32 GetObjAttrPath(ObjHeap heap, int32 object, void* top, int32* hidden, int32* greyed, AttrPathFacts* facts);
// Clears the undo records of a panel heap read from a file.
QX_EXTERN_C void ClearUndoRecords(ObjHeap heap);

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
