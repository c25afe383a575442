#include "panel/textparts.h"

#include <cstring>
#include <vector>

#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/walert.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "panel/datamsg.h"
#include "panel/osupport.h"
#include "rtlib/chartdata.h"
#include "rtlib/objunits.h"

namespace {

// The text of the part's text record (a count, then the bytes).
LStrHandle TextOf(ObjHeap heap, int32 part) {
  TRecord r = PartTextRecord(heap, part);
  return r ? reinterpret_cast<LStrHandle>(TGetText(r)) : nullptr;
}

UPtr DataOf(ObjHeap heap, int32 object) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
}

}  // namespace

uInt32 MinU32(uInt32 a, uInt32 b) { return a < b ? a : b; }

MgErr SetTextShowingCodes(TRecord text, const LStr* string) {
  const UHandle bytes = text ? TGetText(text) : nullptr;
  if (!bytes || !string) return kArgErr;
  const int32 n = LStrLen(string);
  int32 start = 0, end = 0;
  TGetSelection(text, &start, &end);
  // The expanded form, and where the selection's ends fall in it (an end
  // past the string's end falls at the expanded end).
  int64 total = 0;
  for (int32 i = 0; i < n; ++i) total += ExpandToBackslash(nullptr, string->str[i]);
  if (total > 0x7FFFFFF0) return kMemFullErr;
  std::vector<uChar> expanded(size_t(total) + 1);
  uChar* cursor = expanded.data();
  int32 mappedStart = int32(total), mappedEnd = int32(total);
  for (int32 i = 0; i < n; ++i) {
    const int32 at = int32(cursor - expanded.data());
    if (uInt32(i) == MinU32(uInt32(start), uInt32(n))) mappedStart = at;
    if (uInt32(i) == MinU32(uInt32(end), uInt32(n))) mappedEnd = at;
    ExpandToBackslash(&cursor, string->str[i]);
  }
  if (MgErr err = DSSetHandleSize(bytes, int32(total) + 4)) return err;
  PutNative32(*bytes, uInt32(total));
  if (total) std::memcpy(*bytes + 4, expanded.data(), size_t(total));
  TSelectText(text, mappedStart, mappedEnd);
  TRecalc(text);
  return kNoErr;
}

namespace {

constexpr int32 kReplyFailed = 0x10, kReplyResized = 0x80;
constexpr uInt32 kSizesToText = 0x60000, kNumericSizesToText = 0x40000, kShowsCodes = 0x1000000;

// The keys that leave the part's size alone: the arrows and copy.
bool KeepsSize(int32 key) { return (key >= 4 && key <= 7) || key == 31; }

// Replaces the record's text; 0x10 when it cannot.
int32 ReplaceText(TRecord r, uInt32 flags, const uChar* text, int32 length) {
  MgErr err = kNoErr;
  if (flags & kShowsCodes) {
    // The counted copy the backslash form is made from.
    std::vector<uChar> counted(size_t(length) + 4);
    PutNative32(counted.data(), uInt32(length));
    if (length) std::memcpy(counted.data() + 4, text, size_t(length));
    err = SetTextShowingCodes(r, reinterpret_cast<const LStr*>(counted.data()));
    if (err && err != kMemFullErr) DBAssert(__FILE__, __LINE__, "SetPartText: the text cannot show its codes");
  } else {
    err = TReplaceText(r, text, length);
  }
  return err ? kReplyFailed : 0;
}

}  // namespace

int32 SetPartText(ObjHeap heap, int32 part, const uChar* text, int32 length, int32 keyCode, int32 modifiers) {
  if (!heap || !*heap || part <= 0 || !OHIsUsedBlock(heap, part) || OHBlockSize(heap, part) < 4 * (kPWLabelText + 1))
    return 0;
  if (length > 0 && !text) return 0;
  uInt32 flags = uInt32(ObjWord(heap, part, 0));
  const int32 owner = ObjWord(heap, part, kObjOwner / 4);
  if (owner > 0 && OHIsUsedBlock(heap, owner) && ObjIsA(heap, owner, kClsNumeric)) flags &= ~kNumericSizesToText;
  bool sizes = flags & kSizesToText;
  TRecord r = PartTextRecord(heap, part);
  if (!r) {
    // A part without a record gets one for a new text; a word naming
    // something else is not ours to replace.
    if (ObjWord(heap, part, kPWLabelText) || !text || length < 0) return 0;
    Rect bounds;
    std::memcpy(&bounds, *heap + part + kObjBounds, sizeof bounds);
    r = TNew(&bounds, 0, nullptr, 0, kAppFont, gDefaultTextColor, kTransparentColor);
    if (!r) return kReplyFailed;
    ObjSetWord(heap, part, kPWLabelText, int32(uintptr_t(r)));
  }
  int32 reply = 0;
  if (text && length >= 0) {
    reply = ReplaceText(r, flags, text, length);
  } else if (length < 0) {
    TKey(r, keyCode, text ? *text : 0, modifiers, (flags & kObjFlagHidden) ? 0 : 1);
    if (KeepsSize(keyCode)) sizes = false;
  } else {
    TRecalc(r);
  }
  if (reply & kReplyFailed) return reply;
  if (sizes) {
    OInval(heap, part, kInvalValue);
    OSize(heap, part, nullptr, 0);
    OInval(heap, part, kInvalValue);
    reply |= kReplyResized;
  }
  return reply;
}

void PanelInstallTextPartHooks() {
  SetUnitLabelHooks({.inval = &OInval,
                     .setPartText = &SetPartText,
                     .beep = &WBeep,
                     .getText = &TextOf,
                     .displayData = &DataOf});
  SetChartPanelHooks({.dataPtr = &DataOf, .inval = &OInval});
}
