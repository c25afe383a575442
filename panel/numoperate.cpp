// Owner walks, range-state filters, numeric formats and typed-character
// filtering, ring items and numeric text focus.
#include "panel/numoperate.h"

#include <cstring>

#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/winproc.h"
#include "panel/methsupport.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

constexpr int32 kPartNumText = 10;
constexpr uInt32 kTypeDefNotPlain = 0x20000;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlockOf(heap, object, size);
}
uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)); }

// An owner chain longer than the heap's blocks must loop.
int32 CountBlock(ObjHeap, int32, void* n) {
  ++*static_cast<int32*>(n);
  return 0;
}
int32 ClimbLimit(ObjHeap heap) {
  int32 n = 0;
  OHForEachBlockWith(heap, &CountBlock, &n);
  return n;
}
// The owner of a live object, 0 when it names no live object.
int32 OwnerOf(ObjHeap heap, int32 object) {
  const int32 owner = Live(heap, object, 8) ? ObjWord(heap, object, kPWOwner) : 0;
  return Live(heap, owner, 4) ? owner : 0;
}

// Climbs from the object's owner; stop(owner, step below) answers 1 to end
// the walk with the owner, -1 to end it with none, 0 to go on.
template <typename Stop>
int32 Climb(ObjHeap heap, int32 object, Stop stop) {
  if (!heap || !*heap) return 0;
  const int32 limit = ClimbLimit(heap);
  int32 step = object;
  for (int32 n = 0; n < limit; ++n) {
    const int32 owner = OwnerOf(heap, step);
    if (!owner) return 0;
    const int32 verdict = stop(owner, step);
    if (verdict) return verdict > 0 ? owner : 0;
    step = owner;
  }
  return 0;
}

// The characters a numeric text takes, by format, then by numeric class.
bool CharPasses(int32 c, int32 type, int32 format) {
  if (c == 8 || c == 127) return true;
  const bool radix = format == kNumFmtHex || format == kNumFmtOctal || format == kNumFmtBinary;
  if (!radix && c == NumDefaultDecimalPt()) return true;
  const char* set;
  size_t n;
  static const char kFloat[] = "0123456789Ee+-infINFaArgRG";
  if (format == kNumFmtBinary) {
    set = "01+-", n = 4;
  } else if (format == kNumFmtOctal) {
    set = "01234567+-", n = 10;
  } else if (format == kNumFmtHex) {
    set = "0123456789aAbBcCdDeEfF+-", n = 24;
  } else if (format >= kNumFmtElapsedFirst && format < 300) {
    if (c == ':') return true;
    set = kFloat, n = 22;
  } else if (format >= kNumFmtTimeStampFirst && format <= 1536) {
    return true;
  } else {
    const int32 cls = type >= 1 && type <= 30 ? NumClass(type) : kNumClassSigned;
    set = kFloat;
    n = cls == kNumClassComplex ? 26 : cls == kNumClassFloat ? 22 : cls == kNumClassUnsigned ? 13 : 14;
  }
  return c > 0 && c < 256 && std::memchr(set, c, n) != nullptr;
}

// Every character of the text a paste would insert passes, or is a space.
bool PastePasses(ActionParams* p, int32 type, int32 format) {
  const TRecord from = p->text ? TRecord(p->text) : PanelTextClipboard();
  const UHandle bytes = from ? TGetText(from) : nullptr;
  if (!bytes || !*bytes || DSGetHandleSize(bytes) < 4) return false;
  const int32 n = int32(GetNative32(*bytes));
  if (n < 0 || n > DSGetHandleSize(bytes) - 4) return false;
  for (int32 i = 0; i < n; ++i) {
    const int32 c = (*bytes)[4 + i];
    if (c != ' ' && !CharPasses(c, type, format)) return false;
  }
  return true;
}

}  // namespace

int32 FindOwnerRefNum(ObjHeap heap, int32 object) {
  return Climb(heap, object, [&](int32 owner, int32 step) {
    return ObjClass(heap, owner) == kClsRefNum && Live(heap, owner, 4 * (kPWRefNumContained + 1)) &&
                   ObjWord(heap, owner, kPWRefNumContained) == step
               ? 1
               : 0;
  });
}

int32 IsInOwnerChain(ObjHeap heap, int32 object, int32 start) {
  if (object <= 0) return 0;
  return Climb(heap, start, [&](int32 owner, int32) { return owner == object ? 1 : 0; }) != 0;
}

int32 IsInTypeDef(ObjHeap heap, int32 object) {
  return Climb(heap, object, [&](int32 owner, int32) { return ObjClass(heap, owner) == kClsTypeDefinition; }) != 0;
}

int32 IsInPlainTypeDef(ObjHeap heap, int32 object) {
  return Climb(heap, object, [&](int32 owner, int32 step) {
           const int32 id = ObjInt16(heap, step, kObjPartId);
           const bool through = (ObjIsA(heap, step, kClsDataDisplayObject) || ObjIsA(heap, step, kClsCosmetic)) &&
                                (id == 0 || id == kPartIdTypeDefControl);
           if (!through) return -1;
           if (ObjClass(heap, owner) != kClsTypeDefinition) return 0;
           const bool plain = Live(heap, owner, 4 * (kTypeDefLinkWord + 1)) &&
                              ObjWord(heap, owner, kTypeDefLinkWord) == 0 && !(Flags(heap, owner) & kTypeDefNotPlain);
           return plain ? 1 : -1;
         }) != 0;
}

int32 NumGetFormat(ObjHeap heap, int32 numeric) {
  return Live(heap, numeric, kNumFormatByte + 2) && ObjIsA(heap, numeric, kClsNumeric)
             ? ObjInt16(heap, numeric, kNumFormatByte)
             : 0;
}

int32 NumTextEntryKeyFilter(ActionParams* p, int32 type, int32 format) {
  if (!p || (p->eventCode != 6 && p->eventCode != 7)) return 0;
  if (p->keyCode == vkAscii && p->character == 10) {
    p->keyCode = vkEnter;
  } else if (p->keyCode == vkEnter && (p->modifiers & kWModShift)) {
    p->keyCode = vkAscii;
    p->character = 10;
  }
  switch (p->keyCode) {
    case 1: case 2: case 4: case 5: case 6: case 7: case 9: case 10: case 11: case 30: case 31: case 33: case 34:
      return 1;
    case vkAscii:
      return CharPasses(p->character, type, format);
    case 32:
      return PastePasses(p, type, format);
    default:
      return 0;
  }
}

MgErr FPFocusNumText(ObjHeap heap, int32 object, TransactionFrame* frame) {
  if (!Live(heap, object, 4)) return kArgErr;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (!Live(heap, ext, kHeapExtDialogFilter + 4) || !GetNative32(*heap + ext + kHeapExtDialogFilter)) return kNoErr;
  const UHandle vi = PanelHeapOwner(heap);
  if (vi && *vi && (VIRec(vi)->flags2 & kVIFlags2OwnerMode)) return kNoErr;
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  if (frame && block && frame >= block &&
      frame + 2 <= block + kTransactionStackBytes / int32(sizeof(TransactionFrame))) {
    frame->mode = 2;
    frame->index = 0;
    frame[1].kind = 0;
  }
  const int32 part = FindPart(heap, object, kPartNumText, 0);
  TRecord text = part && !(Flags(heap, part) & kObjFlagHidden) ? PartTextRecord(heap, part) : nullptr;
  if (text) {
    TSelectText(text, 0, 0x7FFFFFFF);
    TActivate(text, 1);
  }
  const MgErr err = FPKeyFocusUpdate(heap, object, text ? 1 : 0, text);
  if (err == kNoErr) OFrameSel(heap, object, heap, 0, 0x10);
  return err;
}
