#include "rtlib/objunits.h"

#include <cstring>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/numconv.h"
#include "mgsource/objlist.h"
#include "mgsource/rsrc.h"
#include "engine/vi/rtrsrc.h"
#include "rtlib/objunits_internal.h"
#include "rtlib/units.h"

namespace {

// Objects of these classes stand for their owner.
constexpr int32 kClsOwnerStandIn1 = 15, kClsOwnerStandIn2 = 16;
// A scale (a part 18, 19 or 68 of its control) has its unit label in the
// control's part 71, 72 or 73 of the same order; its values are doubles.
constexpr int32 kClsScaleObject = 143;
struct ScaleLabelPart {
  int16 scale, label;
};
constexpr ScaleLabelPart kScaleLabelParts[] = {{18, 71}, {19, 72}, {68, 73}};

}  // namespace

int32 UnitObjWord(ObjHeap heap, int32 obj, int32 word) { return int32(OHWord(heap, uInt32(obj + 4 * word))); }
int16 UnitPartId(ObjHeap heap, int32 obj) { return int16(GetNative16(*heap + obj + 8)); }
int16 UnitPartOrder(ObjHeap heap, int32 obj) { return int16(GetNative16(*heap + obj + 10)); }

namespace {
int32 Word(ObjHeap heap, int32 obj, int32 word) { return UnitObjWord(heap, obj, word); }
int16 PartIdOf(ObjHeap heap, int32 obj) { return UnitPartId(heap, obj); }
int16 PartOrderOf(ObjHeap heap, int32 obj) { return UnitPartOrder(heap, obj); }
}  // namespace

int32 UnitPartOf(ObjHeap heap, int32 obj, int16 id, int32 order) {
  int32 list = Word(heap, obj, 6);
  for (int32 i = 0; list && i < ObjListCount(heap, list); ++i) {
    int32 part = ObjListGet(heap, list, i);
    if (part && PartIdOf(heap, part) == id && (order < 0 || PartOrderOf(heap, part) == order)) return part;
  }
  return 0;
}

const TypeDescriptor* UnitValueTD(ObjHeap heap, int32 object) {
  TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  if (!td) return nullptr;
  td = SkipTypedefs(td);
  if (td->code == kTDArray) {
    int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
    td = SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(td) + 6 + 4 * dims));
  } else if (td->code == kTDCluster) {
    if (int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) < 1) return nullptr;
    td = SkipTypedefs(ElemTD(td, 0));
  }
  return td;
}

void UnitLongLabelText(Str255 text) {
  if (RGetIndString(RunTimeRsrcFile(), text, kUnitLongLabelListId, 1) == kNoErr && text[0]) return;
  text[0] = uChar(sizeof kUnitLongLabelText - 1);
  std::memcpy(text + 1, kUnitLongLabelText, text[0]);
}

bool UnitLabelText(ObjHeap heap, int32 label, const uChar** begin, const uChar** end, Str255 spare) {
  static const uChar kEmpty[1] = {0};
  *begin = *end = kEmpty;
  const uInt32 word = uInt32(Word(heap, label, kPWLabelText));
  if (!word) return true;
  // The word must name a whole text record of the data zone.
  TRecord record = TCheckedRecord(word);
  if (!record) return false;
  UHandle text = TGetText(record);
  int32 n = int32(GetNative32(*text));
  if (n > kUnitMaxLabelText) {
    UnitLongLabelText(spare);
    const int32 len = spare[0];
    // On failure the label keeps its text; the replacement is still what is parsed.
    if (TReplaceText(record, spare + 1, len) != kNoErr) {
      *begin = spare + 1;
      *end = *begin + len;
      return true;
    }
    text = TGetText(record);
    n = int32(GetNative32(*text));
  }
  *begin = *text + 4;
  *end = *begin + n;
  return true;
}


int32 UnitLabelPart(ObjHeap heap, int32 object) {
  int32 label = 0;
  for (int32 at = object, i = 0; at && i < 64 && !label; ++i) {
    label = UnitPartOf(heap, at, kUnitLabelPartId, -1);
    if (label || PartIdOf(heap, at) == 0) break;
    at = Word(heap, at, kPWOwner);
  }
  if (!label) DBPrintf("%lx, %lx didn't have a unit label", long(uintptr_t(heap)), long(object));
  return label;
}

bool UnitDimsEqual(const TypeDescriptor* td, const ParsedUnit* rec) {
  if (td->code < kTDUnitSGL || td->code > kTDUnitCXT || td->size < 6) return rec->count == 0;
  const uChar* dims = reinterpret_cast<const uChar*>(td) + 4;
  int16 count = int16(GetNative16(dims));
  return count == rec->count && count <= kBaseUnitCount && td->size >= 6 + 4 * count &&
         std::memcmp(dims + 2, rec->pairs, size_t(4 * count)) == 0;
}

int32 GetObjUnits(ObjHeap heap, int32 object, float64* offset, float64* scale, int32* numType, int32* labelFlags) {
  if (!heap || !*heap || !object) return 0;
  int32 cls = OHBlockClass(heap, object);
  if (cls == kClsOwnerStandIn1 || cls == kClsOwnerStandIn2) {
    object = Word(heap, object, kPWOwner);
    if (!object) return 0;
    cls = OHBlockClass(heap, object);
  }
  const TypeDescriptor* td = nullptr;
  int32 label = 0, code = 0;
  bool isScale = cls == kClsScaleObject;
  if (isScale) {
    int16 id = PartIdOf(heap, object);
    int32 owner = Word(heap, object, kPWOwner);
    for (const ScaleLabelPart& p : kScaleLabelParts)
      if (p.scale == id && owner) label = UnitPartOf(heap, owner, p.label, PartOrderOf(heap, object));
    if (!label) return 0;
    code = kTDDBL;
  } else {
    td = UnitValueTD(heap, object);
    if (!td) return 0;
    if (td->code < 1 || td->code > 30) {
      DBAssert(__FILE__, __LINE__, "GetObjUnits: data that is no number");
      return 0;
    }
    if (td->code < kTDUnitSGL || td->code > kTDUnitCXT) return 0;
    code = td->code;
    label = UnitLabelPart(heap, object);
    if (!label) return 0;
  }
  if (UnitsInit() != kNoErr) return 0;
  const uChar* begin;
  const uChar* end;
  Str255 spare;
  if (!UnitLabelText(heap, label, &begin, &end, spare)) return 0;
  ParsedUnit rec;
  std::memset(&rec, 0, sizeof rec);
  rec.scale = 1.0;
  const uChar* cursor = begin;
  if (ParseUnitExprCounted(&cursor, end, &rec, false) != 0) return 0;
  // The parsed dimensions must be the data's.
  if (!isScale && rec.count != 0 && !UnitDimsEqual(td, &rec)) return 0;
  if (offset) *offset = rec.offset;
  if (scale) *scale = rec.scale;
  if (numType) *numType = code;
  if (labelFlags) *labelFlags = Word(heap, label, 0);
  return 1;
}

void UnitConvertValue(const void* value, int32 direction, void* result, int32 type, float64 offset, float64 scale) {
  int32 code = type & ~0x10;
  if (code < kTDI8 || code > kTDCXT || !value || !result) return;
  auto conv = [&](float64 v) { return direction ? (v + offset) * scale : v / scale - offset; };
  if (code >= kTDCSG) {
    float64 z[2];
    ConvertNum(code, value, kTDCDB, z);
    z[0] = conv(z[0]);
    z[1] = conv(z[1]);
    ConvertNum(kTDCDB, z, code, result);
  } else if (code == kTDDBL) {
    float64 v;
    std::memcpy(&v, value, sizeof v);
    v = conv(v);
    std::memcpy(result, &v, sizeof v);
  } else {
    float64 v;
    ConvertNum(code, value, kTDDBL, &v);
    v = conv(v);
    ConvertNum(kTDDBL, &v, code, result);
  }
}

int32 UnitConvertObjValue(ObjHeap heap, int32 object, const void* value, int32 direction, void* result) {
  float64 offset = 0, scale = 1;
  int32 type = 0;
  if (!GetObjUnits(heap, object, &offset, &scale, &type, nullptr)) return 0;
  UnitConvertValue(value, direction, result, type, offset, scale);
  return 1;
}
