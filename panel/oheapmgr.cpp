// The class records of the object system, the class-id table and the
// message dispatch.
//
// The records are built once, before main runs (and on first use should a
// static initialiser ask earlier), from the class list and the slot table
// below.  A slot holds the class's own method where one is built, NullMethod
// where the class ignores the message or its own method is not built yet,
// and ErrorMethod everywhere else: in the slots of messages the class does
// not take and in every slot that nothing sends (slot 78, the clamp target,
// among them).  Methods of later parts join their slots once, at start-up
// (ObjJoinSlot); the table never changes after that.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/exec/rttable.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/counted_strings.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/draw/printlayout.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "panel/editmsg.h"
#include "panel/popup.h"
#include "panel/strimport.h"
#include "panel/dataxfer.h"
#include "panel/attrcall.h"
#include "panel/blink.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "panel/zktag.h"
#include "panel/objload.h"
#include "panel/ohelp.h"
#include "panel/fpexec.h"
#include "panel/oinit.h"
#include "panel/oinsert.h"
#include "panel/ctrlops.h"
#include "panel/objdraw.h"
#include "panel/ocopy.h"
#include "panel/oinval.h"
#include "panel/ooffset.h"
#include "panel/operate.h"
#include "panel/panel_internal.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"

namespace {

// Reports name this source.
const char kSourceFile[] = "oheapmgr";

struct ClassDesc {
  int16 id;
  const char* name;
  int16 super;
  int32 size;
  uInt32 catA, catB;
};

// The 71 classes, in groups; a row of id 0 closes a group (its own copy of
// the filler record).
constexpr ClassDesc kGroupEnd = {0, nullptr, -1, 8, 0, 0};
constexpr ClassDesc kClasses[] = {
    {1, "LInfo", -1, 4, kCatOBDP, kCatOBDP},
    {2, "LName", -1, 4, kCatOBDP, kCatOBDP},
    {5, "PrVIPartList", -1, 64, kCatOBDP, kCatOBDP},
    kGroupEnd,
    {6, "GenericObject", -1, 2, kCatOBDP, kCatGNRC},
    {7, "List", -1, 8, kCatOBDP, kCatLIST},
    {8, "DataObject", -1, 2, kCatOBDP, kCatGNRC},
    {9, "Cosmetic", -1, 36, kCatOBDP, kCatCOSM},
    {10, "Label", 9, 40, kCatOBDP, kCatCOSM},
    {11, "MultiCosmetic", 9, 44, kCatOBDP, kCatCOSM},
    {12, "BigMultiCosmetic", 9, 60, kCatOBDP, kCatCOSM},
    {13, "MultiLabel", 10, 48, kCatOBDP, kCatCOSM},
    {14, "BigMultiLabel", 13, 68, kCatOBDP, kCatCOSM},
    {17, "DataController", -1, 20, kCatQXCT, kCatDCO},
    {18, "FrontPanelDataController", 17, 36, kCatQXCT, kCatDCO},
    kGroupEnd,
    {76, "Front Panel", 83, 76, kCatQXCT, kCatFPSC},
    {77, "DataDisplayObject", 172, 40, kCatQXCT, kCatDDO},
    {79, "Boolean", 77, 40, kCatQXCT, kCatDDO},
    {80, "Numeric", 77, 52, kCatQXCT, kCatDDO},
    {81, "String", 77, 40, kCatQXCT, kCatDDO},
    {82, "Array", 77, 60, kCatQXCT, kCatDDO},
    {83, "Cluster", 77, 48, kCatQXCT, kCatDDO},
    {85, "RefNum", 77, 44, kCatQXCT, kCatDDO},
    {86, "Color Box", 80, 56, kCatQXCT, kCatDDO},
    {87, "Ring", 80, 68, kCatQXCT, kCatDDO},
    {88, "Slide", 80, 60, kCatQXCT, kCatDDO},
    {89, "Knob", 88, 68, kCatQXCT, kCatDDO},
    {91, "Path", 77, 40, kCatQXCT, kCatDDO},
    {92, "Table", 77, 76, kCatQXCT, kCatDDO},
    {94, "Graph/Chart", 77, 100, kCatQXCT, kCatDDO},
    {95, "Picture", 77, 44, kCatQXCT, kCatDDO},
    {97, "UserItem", 77, 40, kCatQXCT, kCatDDO},
    {100, "Type Definition", 77, 52, kCatQXCT, kCatDDO},
    {101, "Color Ramp", 80, 68, kCatQXCT, kCatDDO},
    {104, "Annex", -1, 36, kCatOBDP, kCatCOSM},
    {105, "Listbox", 77, 60, kCatQXCT, kCatDDO},
    kGroupEnd,
    {124, "CrossList", 7, 8, kCatOBDP, kCatLIST},
    {126, "ObjHeapHdrExtension", -1, 132, kCatOBDP, kCatGNRC},
    {127, "Connector Pane", -1, 32, kCatOBDP, kCatGNRC},
    {130, "InstrumentTypeRecord", -1, 12, kCatOBDP, kCatGNRC},
    {131, "TypeDescriptor", -1, 2, kCatOBDP, kCatGNRC},
    {132, "EditSelRec", -1, 4, kCatBKUP, kCatBKUP},
    {133, "Backup Heap Extension", -1, 4, kCatBKUP, kCatBKUP},
    {134, "Transaction Table", -1, 4, kCatBKUP, kCatBKUP},
    {135, "TextSelRec", -1, 4, kCatBKUP, kCatBKUP},
    {136, "Object Info Table", -1, 4, kCatBKUP, kCatBKUP},
    {137, "Recipe Backup", -1, 4, kCatBKUP, kCatBKUP},
    {138, "Recipe", -1, 4, kCatBKUP, kCatBKUP},
    {139, "Data Backup", -1, 4, kCatBKUP, kCatBKUP},
    kGroupEnd,
    {143, "Scale", 172, 52, kCatQXCT, kCatDDO},
    {148, "Tag", 81, 52, kCatQXCT, kCatDDO},
    {149, "SelLabel", 10, 48, kCatOBDP, kCatCOSM},
    kGroupEnd,
    {152, "ILRoot", -1, 24, kCatOBDP, kCatOBDP},
    {153, "ILChunk", -1, 52, kCatOBDP, kCatOBDP},
    {154, "ILVar", -1, 32, kCatOBDP, kCatOBDP},
    {155, "ILLocalVar", 154, 32, kCatOBDP, kCatOBDP},
    {156, "ILDSVar", 154, 32, kCatOBDP, kCatOBDP},
    {157, "ILSpecialVar", 154, 36, kCatOBDP, kCatOBDP},
    {158, "ILConstInt", 154, 36, kCatOBDP, kCatOBDP},
    {159, "ILConstFloat", 154, 48, kCatOBDP, kCatOBDP},
    {160, "ILConstComplex", 154, 64, kCatOBDP, kCatOBDP},
    {161, "ILDataSize", 154, 36, kCatOBDP, kCatOBDP},
    {162, "ILComponentOffset", 154, 40, kCatOBDP, kCatOBDP},
    {163, "ILArrayOffset", 154, 36, kCatOBDP, kCatOBDP},
    {164, "ILLabel", -1, 24, kCatOBDP, kCatOBDP},
    {165, "ILProc", -1, 28, kCatOBDP, kCatOBDP},
    {166, "WizardData", -1, 44, kCatOBDP, kCatCOSM},
    kGroupEnd,
    {171, "OleVariant", 77, 40, kCatQXCT, kCatDDO},
    {172, "GrouperObject", -1, 28, kCatQXCT, kCatDDO},
    {175, "Container", 77, 56, kCatOBDP, kCatDDO},
    {177, "SubVIFromSel Backup", -1, 4, kCatBKUP, kCatBKUP},
    {178, "SelList Backup", -1, 4, kCatBKUP, kCatBKUP},
    kGroupEnd,
};
constexpr int32 kRecordCount = sizeof kClasses / sizeof kClasses[0];
constexpr int32 CountClasses() {
  int32 n = 0;
  for (const ClassDesc& d : kClasses) n += d.id != 0;
  return n;
}
static_assert(CountClasses() == 71, "the classes present");

// The slots in use: the classes with a method of their own there and those
// that hold NullMethod (ranges of class ids, present classes only).
struct SlotRule {
  int32 slot;
  const char* own;
  const char* null;
};
const SlotRule kSlotRules[] = {
    {1, "6-127,131,143-149,166-175", "1-5,152-165"},
    {4, "5", "152-165"},
    {5, "5,9-105,143-149,166-175", "6-8,124,131,152-165"},
    {6, "", "5"},
    {7, "5,9-14,18-101,105,127,143-149,171-175", "6-8,17,104,124,152-166"},
    {8, "9-14,18-101,105,127,143-149,171-175", "6-8,17,124"},
    {11, "76-101,105,148,171,175", "104,126,127,152-166"},
    {12, "9-14,18-101,105,143-149,166,171,175", "6-8,17,104,124-127,131,172"},
    {13, "9-14,76-101,105,148,149,171,175", "6-8,17,18,104,124-131,143,166,172"},
    {16, "17-101,105,148,171,175", "9-14,104,149,166"},
    {18, "9-14,18-101,105,143-149,171-175", "17,104,166"},
    {19, "9-14,76-101,105,143-149,171,175", "17,18,104,166"},
    {21, "9-14,18-101,105,143-149,171-175", "104,166"},
    {22, "7,9-14,18,77-101,105,124,143-149,171-175", "17,76,104,166"},
    {23, "9-14,18-105,143-149,171-175", "17"},
    {25, "9-14,77-101,105,143-149,171-175", "17,18,76"},
    {26, "9-14,18-101,105,143-149,171-175", "17,104,166"},
    {27, "9-17,77-105,127,143-149,166-175", "6-8,18,76,124"},
    {29, "9-14,18-105,127,143-149,166-175", "17"},
    {30, "9-14,18,77-101,105,127,143-149,171-175", "17,76,104,166"},
    {35, "17,18,77-101,105,148,171,175", "76,166"},
    {38, "18-101,105,148,171,175", "17"},
    {39, "10-14,18,76,79-83,86-101,105,148,149", "9,77,85,104,166,171,175"},
    {41, "18,77-101,105,143,148,171-175", "17,76,126,127,152-165"},
    {43, "17,18,77-101,105,148,171-175", "76,166"},
    {44, "9-14,18,77-101,105,143-149,171,175", "17,76,104,166,172"},
    {48, "77-81,86-101,105,148", "76,82-85,152-165,171,175"},
    {55, "18,76,80,82-89,92,94,100,101,105,143", "9-14,77,79,81,91,95,97,104,148,149,166-175"},
    {73, "18-101,105,143,148,171-175", "9-14,104,149,166"},
    {76, "175", "1-172"},
};

// True when the id lies in one of the comma-separated ranges.
bool InRanges(const char* ranges, int32 id) {
  for (const char* p = ranges; *p;) {
    char* end;
    long lo = std::strtol(p, &end, 10);
    long hi = lo;
    if (*end == '-') hi = std::strtol(end + 1, &end, 10);
    if (id >= lo && id <= hi) return true;
    p = *end == ',' ? end + 1 : end;
  }
  return false;
}

ObjMethodAddr Addr(int32 (*m)(ObjHeap, int32)) { return reinterpret_cast<ObjMethodAddr>(m); }

const SlotRule* RuleOf(int32 slot) {
  for (const SlotRule& r : kSlotRules)
    if (r.slot == slot) return &r;
  return nullptr;
}

bool OwnSlot(int32 id, int32 slot) {
  const SlotRule* rule = RuleOf(slot);
  return rule && InRanges(rule->own, id);
}

// The method of the class's own that this part of the object system builds
// for the slot; null where none is built.
ObjMethodAddr BuiltMethod(int32 id, int32 slot) {
  // The print layout's part list draws, records and lays out its parts.
  if (id == kPartListClass) {
    if (slot == kPartListMsgPicture) return reinterpret_cast<ObjMethodAddr>(&PrPartListPicture);
    if (slot == kPartListMsgDraw) return reinterpret_cast<ObjMethodAddr>(&PrPartListDraw);
    if (slot == kPartListMsgLayout) return reinterpret_cast<ObjMethodAddr>(&PrPartListLayout);
  }
  switch (slot) {
    case kMsgOSwap: return reinterpret_cast<ObjMethodAddr>(ObjSwapForClass(id));
    case kMsgOInit: return OInitMethodFor(id);
    case kMsgOClick: return OClickMethodFor(id);
    case kMsgOSize: return OSizeMethodFor(id);
    case kMsgODoit: return ODoitMethodFor(id);
    case kMsgOLoad: return OLoadMethodFor(id);
    case kMsgODispose: return ODisposeMethodFor(id);
    case kMsgOSelect: return OSelectMethodFor(id);
    case kMsgOFrameSel: return FrameSelMethodFor(id);
    case kMsgOPopup: return OPopupMethodFor(id);
    case kMsgOMarkInRect: return OMarkInRectMethodFor(id);
    case kMsgOInval: return OInvalMethodFor(id);
    case kMsgOGetRect: return OGetRectMethodFor(id);
    case kMsgOOffset: return OOffsetMethodFor(id);
    case kMsgOInsert: return OInsertMethodFor(id);
    case kMsgOCopy: return OCopyMethodFor(id);
    case kMsgOGetType: case kMsgOGetDataPtr: case kMsgODataSpace: return DataMethodFor(slot, id);
    case kMsgOAllocate: return reinterpret_cast<ObjMethodAddr>(OAllocateMethodFor(id));
    case kMsgOBlink: return OBlinkMethodFor(id);
    case kMsgOHelp: return OHelpMethodFor(id);
    case kMsgODisplayVal: return ODisplayValMethodFor(id);
    case kMsgODraw: return ODrawMethodFor(id);
    case kMsgOSetIndicator: return OSetIndicatorMethodFor(id);
    case kMsgOCtrlOp: return OCtrlOpMethodFor(id);
    case kMsgOColorChange: return OColorChangeMethodFor(id);
    default: return nullptr;
  }
}

// What a class holds in a slot.
ObjMethodAddr SlotMethod(int32 id, int32 slot) {
  const SlotRule* rule = RuleOf(slot);
  if (rule && InRanges(rule->own, id)) {
    if (ObjMethodAddr m = BuiltMethod(id, slot)) return m;
    return Addr(&NullMethod);  // its own method is not built yet
  }
  return rule && InRanges(rule->null, id) ? Addr(&NullMethod) : Addr(&ErrorMethod);
}

void SetPStr(uChar* field, const char* s) {
  size_t n = std::strlen(s);
  field[0] = uChar(n);
  std::memcpy(field + 1, s, n);
}

void FillBadProc(ObjClassRecord* r) {
  std::memset(r, 0, sizeof *r);
  SetPStr(r->name, "BadProc");
  r->superId = -1;
  r->instanceSize = 8;
  r->methods[0] = Addr(&ErrorMethod);
}

ObjClassRecord gRecords[kRecordCount];
bool gBuilt = false;
bool gSlotsClosed = false;

}  // namespace

// Read by the dispatcher (panel/osend.S).
QX_EXTERN_C {
const ObjClassRecord* QXObjClassIdTable[kClassIdCount];
ObjClassRecord QXObjBadProcSpare;
}

namespace {

void BuildTable() {
  if (gBuilt) return;
  gBuilt = true;
  FillBadProc(&QXObjBadProcSpare);
  for (int32 i = 0; i < kClassIdCount; ++i) QXObjClassIdTable[i] = &QXObjBadProcSpare;
  for (int32 i = 0; i < kRecordCount; ++i) {
    const ClassDesc& d = kClasses[i];
    ObjClassRecord& r = gRecords[i];
    FillBadProc(&r);
    if (d.id == 0) continue;
    std::memset(r.name, 0, sizeof r.name);
    SetPStr(r.name, d.name);
    r.superId = d.super;
    r.instanceSize = d.size;
    r.methodCount = kObjMethodCount;
    r.categoryA = d.catA;
    r.categoryB = d.catB;
    for (int32 s = 0; s < kObjSlots; ++s) r.methods[s] = SlotMethod(d.id, s);
    QXObjClassIdTable[d.id] = &r;
  }
  for (ObjClassRecord& r : gRecords)
    if (r.superId >= 0) std::memcpy(r.superName, QXObjClassIdTable[r.superId]->name, sizeof r.superName);
}

// The table is whole before any message can be sent.
const bool gBuiltAtStart = (BuildTable(), true);

}  // namespace

const ObjClassRecord* const* ClassIdTable() {
  BuildTable();
  return QXObjClassIdTable;
}

const ObjClassRecord* ClassRecord(int32 cls) {
  BuildTable();
  return cls >= 0 && cls < kClassIdCount ? QXObjClassIdTable[cls] : &QXObjBadProcSpare;
}

MgErr ObjJoinSlot(int32 slot, ObjMethodAddr (*methodFor)(int32 cls)) {
  BuildTable();
  if (gSlotsClosed || !methodFor || !RuleOf(slot)) {
    DBAssert(kSourceFile, __LINE__, "ObjJoinSlot: refused");
    return kArgErr;
  }
  for (int32 id = 0; id < kClassIdCount; ++id) {
    ObjClassRecord* r = const_cast<ObjClassRecord*>(QXObjClassIdTable[id]);
    if (!r->methodCount || !OwnSlot(id, slot) || BuiltMethod(id, slot)) continue;
    if (ObjMethodAddr m = methodFor(id)) r->methods[slot] = m;
  }
  return kNoErr;
}

void ObjCloseSlots() { gSlotsClosed = true; }

ObjMethodAddr OFindMethod(ObjHeap heap, int32 offset, ObjMessage message) {
  return OFindClassMethod(OHBlockClass(heap, offset), message);
}

ObjMethodAddr OFindClassMethod(int32 cls, ObjMessage message) {
  const ObjClassRecord* r = ClassRecord(cls);
  uInt32 slot = uInt32(message);
  if (slot >= uInt32(r->methodCount)) slot = uInt32(r->methodCount);
  return r->methods[slot];
}

namespace {
ObjUnknownClassProc gBadClassHook = nullptr;
}  // namespace

void SetBadClassHook(ObjUnknownClassProc proc) {
  if (gBadClassHook) DBAssert(kSourceFile, __LINE__, "an unknown-class hook is installed already");
  gBadClassHook = proc;
}

void ClearBadClassHook() {
  if (!gBadClassHook) DBAssert(kSourceFile, __LINE__, "no unknown-class hook is installed");
  gBadClassHook = nullptr;
}

int32 ErrorMethod(ObjHeap heap, int32 offset) {
  uInt32 kind = heap && *heap ? OHWord(heap, kOHKind) : 0;
  uChar className[256] = {0};
  if (heap && *heap) GetObjClassName(heap, offset, className);
  uChar viName[256] = {2, '?', '?'};
  if (kind == kPanelHeapKind) {
    UHandle vi = PanelHeapOwner(heap);
    if (vi && *vi) std::memcpy(viName, VIRec(vi)->name, sizeof viName);
  }
  char line[700];
  SPrintf(line, "ErrorMethod: \"%p\" in \"%p\" %4c+%lx", className, viName, kind, offset);
  DBPrintf("%s", line);
  if (gBadClassHook) return gBadClassHook(heap, offset);
  DBAssert(kSourceFile, __LINE__, "message to a class without a method for it");
  return 0;
}

int32 NullMethod(ObjHeap, int32) { return 0; }

int32 ObjIsA(ObjHeap heap, int32 offset, int32 cls) {
  if (!heap || !*heap || !offset) return 0;
  return ClassIsKindOf(OHBlockClass(heap, offset), cls) ? 1 : 0;
}

namespace {

constexpr int32 kPrintableNamesList = 11120;
constexpr int32 kGraphKindField = 98;  // Graph/Chart: unsigned 16-bit kind
constexpr int32 kObjTypeWord = 9;      // a display object's TypeID

// The type descriptor of a display object of a front-panel heap; null when
// it has none.
const TypeDescriptor* ObjectTD(ObjHeap heap, int32 offset) {
  if (OHWord(heap, kOHKind) != kPanelHeapKind || OHBlockSize(heap, offset) < 4 * (kObjTypeWord + 1)) return nullptr;
  const TypeID id = TypeID(ObjWord(heap, offset, kObjTypeWord));
  return id ? TypeIDGetTD(heap, id, 0) : nullptr;
}

// The string list that names objects of this class by their type or kind;
// 0 for the general rule.
int32 KindNameList(ObjHeap heap, int32 offset, int32 cls) {
  switch (cls) {
    case kClsRefNum: {
      const TypeDescriptor* td = ObjectTD(heap, offset);
      if (!td || td->code != kTDRefnum || td->size < 6) return 0;
      switch (int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4))) {
        case 0: case 2: return 3408;
        case 1: return 3402;
        case 3: return 3405;
        case 4: return 3406;
        case 5: return 3407;
        case 6: return 3409;
        case 7: return 3410;
        case 10: return 3411;
        default: return 0;
      }
    }
    case kClsRing: {
      const TypeDescriptor* td = ObjectTD(heap, offset);
      return td && td->code >= 21 && td->code <= 23 ? 3023 : 0;
    }
    case kClsTable: return 3301;
    case kClsGraphChart: {
      const uInt32 kind =
          OHBlockSize(heap, offset) >= kGraphKindField + 2 ? GetNative16(*heap + offset + kGraphKindField) : 0;
      if (kind == 0 || kind >= 107) return 3500;
      if (kind <= 2) return 3504;
      if (kind <= 4) return 3510;
      if (kind <= 103) return 3501;
      return 3509;
    }
    default: return 0;
  }
}

}  // namespace

void GetObjClassName(ObjHeap heap, int32 offset, PStr name) {
  if (!name) return;
  name[0] = 0;
  if (!heap || !*heap || !offset) return;
  const int32 cls = OHBlockClass(heap, offset);
  if (const int32 list = KindNameList(heap, offset, cls)) {
    if (RGetIndString(RunTimeRsrcFile(), name, list, 1) != kNoErr) name[0] = 0;
    return;
  }
  if (cls >= 0 && cls < kClassIdCount && RGetIndString(RunTimeRsrcFile(), name, kPrintableNamesList, cls) == kNoErr)
    return;
  const uChar* own = ClassRecord(cls)->name;
  std::memcpy(name, own, size_t(own[0]) + 1);
}

MgErr QXRTRegisterPanel() {
  // The list names both indexes after the first of the names they serve.
  static const QXRTEntry kEntries[] = {
      {151, "DbgPrintfv", reinterpret_cast<QXRTRoutine>(&NullMethod)},
      {1550, "DbgPrintfv", reinterpret_cast<QXRTRoutine>(&NullMethod)},
      {853, "IsBoolTracking", reinterpret_cast<QXRTRoutine>(&IsBoolTracking)},
      {1568, "InstallTagList", reinterpret_cast<QXRTRoutine>(&InstallTagList)},
      {1609, "IsValidTag", reinterpret_cast<QXRTRoutine>(&IsValidTag)},
      {1610, "StringInTagList", reinterpret_cast<QXRTRoutine>(&StringInTagList)},
      {668, "IdChk", reinterpret_cast<QXRTRoutine>(&IdChk)},
      {943, "IdChk", reinterpret_cast<QXRTRoutine>(&IdChk)},
      // The shared empty routine stands at every index that does nothing.
      {206, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      {446, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      {779, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      {1553, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      {1671, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      {1672, "StopStep", reinterpret_cast<QXRTRoutine>(&StopStep)},
      // Values between diagrams and panels.
      QX_RT_ENTRY(776, WriteDCOTransferData),
      QX_RT_ENTRY(1037, Write2DStripChartHistoryData),
      QX_RT_ENTRY(1446, WriteVectStripChartHistoryData),
      QX_RT_ENTRY(1600, AttributeNodeTransfer),
      QX_RT_ENTRY(1038, DoDDOAttrCall),
      QX_RT_ENTRY(1627, InitDisposeDCOOpDataFlags),
      QX_RT_ENTRY(1628, SetDCOOpDataFlags),
      QX_RT_ENTRY(1629, ReadDCOTransferData),
      QX_RT_ENTRY(1630, LatchedBoolTxDataHasBeenRead),
      QX_RT_ENTRY(1631, InitDisposeProtectedStripChartRec),
      QX_RT_ENTRY(1664, InitQETable),
      QX_RT_ENTRY(1665, QueueUpdate),
      QX_RT_ENTRY(1700, WriteFlatTransferData),
      QX_RT_ENTRY(1701, WriteFlatHandleTransferData),
      QX_RT_ENTRY(1702, ReadFlatTransferData),
      QX_RT_ENTRY(1703, ReadFlatHandleTransferData),
      // The range check of a panel object's value.
      QX_RT_ENTRY(846, ChkRange),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}

int32 FindPart(ObjHeap heap, int32 object, int32 partId, int32 order) {
  // The visits only read.
  int32 found = 0;
  if (partId == 0) {
    // The last unkeyed part of any role but 66.
    ForEachPartReading(heap, object, [&](int32 part) {
      if (ObjInt16(heap, part, kObjPartKey) == 0 && ObjInt16(heap, part, kObjPartId) != kPartIdNotFoundByZero)
        found = part;
    });
    return found;
  }
  if (order == kPartOrderHighest) {
    int32 best = 0;
    ForEachPartReading(heap, object, [&](int32 part) {
      const int32 o = ObjInt16(heap, part, kObjPartOrder);
      if (ObjInt16(heap, part, kObjPartId) == partId && (!found || o > best)) {
        found = part;
        best = o;
      }
    });
    return found;
  }
  ForEachPartReading(heap, object, [&](int32 part) {
    if (!found && ObjInt16(heap, part, kObjPartId) == partId && ObjInt16(heap, part, kObjPartOrder) == order)
      found = part;
  });
  return found;
}

void* NewPairTable(int32 count) {
  if (count <= 0 || count > 0x7FFFFFFF / 8) return nullptr;
  return AZNewPClr(count * 8);
}
