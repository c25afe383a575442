// The class records of the object system, the class-id table and the
// message dispatch.
//
// The records are built once, on first use, from the class list and the slot
// table below, and never change afterwards.  A slot holds the class's own
// method where one exists, NullMethod where the class ignores the message,
// ErrorMethod everywhere else.
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/panel_internal.h"

namespace {

struct ClassDesc {
  int16 id;
  const char* name;
  int16 super;
  int32 size;
  uInt32 catA, catB;
};

// The 71 classes.
const ClassDesc kClasses[] = {
    {1, "LInfo", -1, 4, kCatOBDP, kCatOBDP},
    {2, "LName", -1, 4, kCatOBDP, kCatOBDP},
    {5, "PrVIPartList", -1, 64, kCatOBDP, kCatOBDP},
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
    {143, "Scale", 172, 52, kCatQXCT, kCatDDO},
    {148, "Tag", 81, 52, kCatQXCT, kCatDDO},
    {149, "SelLabel", 10, 48, kCatOBDP, kCatCOSM},
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
    {171, "OleVariant", 77, 40, kCatQXCT, kCatDDO},
    {172, "GrouperObject", -1, 28, kCatQXCT, kCatDDO},
    {175, "Container", 77, 56, kCatOBDP, kCatDDO},
    {177, "SubVIFromSel Backup", -1, 4, kCatBKUP, kCatBKUP},
    {178, "SelList Backup", -1, 4, kCatBKUP, kCatBKUP},
};
constexpr int32 kClassCount = sizeof kClasses / sizeof kClasses[0];
static_assert(kClassCount == 71, "the classes present");

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

template <typename... Extra>
int32 ErrorMethodWith(ObjHeap heap, int32 offset, Extra...) {
  return ErrorMethod(heap, offset);
}
template <typename... Extra>
int32 NullMethodWith(ObjHeap, int32, Extra...) {
  return 0;
}

ObjMethodAddr Addr(int32 (*m)(ObjHeap, int32)) { return reinterpret_cast<ObjMethodAddr>(m); }
ObjMethodAddr Addr(int32 (*m)(ObjHeap, int32, int32)) { return reinterpret_cast<ObjMethodAddr>(m); }

// What a class holds in a slot.
ObjMethodAddr SlotMethod(int32 id, int32 slot) {
  const SlotRule* rule = nullptr;
  for (const SlotRule& r : kSlotRules)
    if (r.slot == slot) rule = &r;
  bool own = rule && InRanges(rule->own, id);
  bool null = rule && InRanges(rule->null, id);
  switch (slot) {
    case kMsgOSwap:
      if (own) {
        if (ObjSwapProc p = ObjSwapForClass(id)) return Addr(p);
        return Addr(&NullMethodWith<int32>);  // nothing of its own to convert
      }
      return null ? Addr(&NullMethodWith<int32>) : Addr(&ErrorMethodWith<int32>);
    case kMsgOAllocate:
      if (own) return Addr(OAllocateMethodFor(id));
      break;
    case kMsgOInit:
      if (ObjMethodAddr m = own ? OInitMethodFor(id) : nullptr) return m;
      return reinterpret_cast<ObjMethodAddr>(null ? &NullMethodWith<Point, int32> : &ErrorMethodWith<Point, int32>);
    case kMsgOLoad:
      if (ObjMethodAddr m = own ? OLoadMethodFor(id) : nullptr) return m;
      break;
    case kMsgODispose:
      if (ObjMethodAddr m = own ? ODisposeMethodFor(id) : nullptr) return m;
      break;
    case kMsgODoit:
      if (own) return ODoitMethodFor(id);
      break;
    case kMsgOSelect:
      if (ObjMethodAddr m = own ? OSelectMethodFor(id) : nullptr) return m;
      break;
    case 35:
    case 41:
    case 73:
      if (ObjMethodAddr m = own ? DataMethodFor(slot, id) : nullptr) return m;
      return DataDefaultMethod(slot, null);
    default:
      break;
  }
  // The other methods join their slots with the parts of the object system
  // that define them.
  return null ? Addr(&NullMethod) : Addr(&ErrorMethod);
}

void SetPStr(uChar* field, const char* s) {
  size_t n = std::strlen(s);
  field[0] = uChar(n);
  std::memcpy(field + 1, s, n);
}

struct Table {
  ObjClassRecord records[kClassCount];
  ObjClassRecord badProc;
  const ObjClassRecord* byId[kClassIdCount];
};

const Table& BuildTable() {
  static Table* table = [] {
    static Table t;
    std::memset(&t, 0, sizeof t);
    SetPStr(t.badProc.name, "BadProc");
    t.badProc.superId = -1;
    t.badProc.instanceSize = 8;
    t.badProc.methodCount = 0;
    t.badProc.methods[0] = Addr(&ErrorMethod);
    for (int32 i = 0; i < kClassIdCount; ++i) t.byId[i] = &t.badProc;
    for (int32 i = 0; i < kClassCount; ++i) {
      const ClassDesc& d = kClasses[i];
      ObjClassRecord& r = t.records[i];
      SetPStr(r.name, d.name);
      r.superId = d.super;
      r.instanceSize = d.size;
      r.methodCount = kObjMethodCount;
      r.categoryA = d.catA;
      r.categoryB = d.catB;
      for (int32 s = 0; s < kObjSlots; ++s) r.methods[s] = SlotMethod(d.id, s);
      t.byId[d.id] = &r;
    }
    for (int32 i = 0; i < kClassCount; ++i) {
      ObjClassRecord& r = t.records[i];
      if (r.superId >= 0) std::memcpy(r.superName, t.byId[r.superId]->name, sizeof r.superName);
    }
    return &t;
  }();
  return *table;
}

}  // namespace

const ObjClassRecord* const* ClassIdTable() { return BuildTable().byId; }

const ObjClassRecord* ClassRecord(int32 cls) {
  const Table& t = BuildTable();
  return cls >= 0 && cls < kClassIdCount ? t.byId[cls] : &t.badProc;
}

ObjMethodAddr OFindMethod(ObjHeap heap, int32 offset, int32 message) {
  const ObjClassRecord* r = ClassRecord(OHBlockClass(heap, offset));
  uInt32 slot = uInt32(message);
  if (slot >= uInt32(r->methodCount)) slot = uInt32(r->methodCount);
  return r->methods[slot];
}

MgErr OSwap(ObjHeap heap, int32 offset, int32 direction) {
  return OSendMessage<MgErr>(kMsgOSwap, heap, offset, direction);
}

int32 OAllocate(ObjHeap heap, int32 offset) { return OSendMessage<int32>(kMsgOAllocate, heap, offset); }

namespace {
ObjUnknownClassProc gBadClassHook = nullptr;
}  // namespace

void SetBadClassHook(ObjUnknownClassProc proc) {
  if (gBadClassHook) DBAssert(__FILE__, __LINE__, "an unknown-class hook is installed already");
  gBadClassHook = proc;
}

void ClearBadClassHook() {
  if (!gBadClassHook) DBAssert(__FILE__, __LINE__, "no unknown-class hook is installed");
  gBadClassHook = nullptr;
}

int32 ErrorMethod(ObjHeap heap, int32 offset) {
  uInt32 kind = heap && *heap ? OHWord(heap, kOHKind) : 0;
  const ObjClassRecord* r = heap && *heap ? ClassRecord(OHBlockClass(heap, offset)) : ClassRecord(-1);
  uChar viName[256] = {2, '?', '?'};
  if (kind == kPanelHeapKind) {
    UHandle vi = PanelHeapOwner(heap);
    if (vi && *vi) std::memcpy(viName, VIRec(vi)->name, sizeof viName);
  }
  char line[700];
  SPrintf(line, "ErrorMethod: \"%p\" in \"%p\" %4c+%lx", r->name, viName, kind, offset);
  DBPrintf("%s", line);
  if (gBadClassHook) return gBadClassHook(heap, offset);
  DBAssert(__FILE__, __LINE__, "message to a class without a method for it");
  return 0;
}

int32 NullMethod(ObjHeap, int32) { return 0; }

int32 FindPart(ObjHeap heap, int32 object, int32 partId, int32 order) {
  int32 found = 0;
  ForEachPart(heap, object, [&](int32 part) {
    if (!found && ObjInt16(heap, part, kObjPartId) == partId && ObjInt16(heap, part, kObjPartOrder) == order)
      found = part;
  });
  return found;
}

void* NewPairTable(int32 count) {
  if (count <= 0 || count > 0x7FFFFFFF / 8) return nullptr;
  return AZNewPClr(count * 8);
}
