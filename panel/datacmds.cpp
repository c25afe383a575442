// The panel's edit commands on control data (the root's action 45): Cut,
// Copy and Clear go to the data operation, Paste to the panel clipboard.
// Text is what they carry here: the key-focus object's selection is cut or
// copied into a label of the clipboard panel (kind 4) and onto the system
// clipboard, and a paste puts that label's text into the key-focus object.
// Text another program puts on the system clipboard becomes such a label.
// Copies of selected objects into the clipboard are not made here: an object
// command finds nothing to do.
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/walert.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "panel/clipmenu.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

constexpr int32 kCmdCut = 4, kCmdCopy = 5, kCmdClear = 7;
constexpr int32 kClipboardText = 4;
constexpr int32 kReplyFailed = 16;

int32 ExtWordOf(ObjHeap heap, int32 at) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}

ObjHeap ClipboardHeap() {
  const UHandle vi = PanelClipboardVI();
  const ObjHeap heap = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  return heap && *heap && ExtWordOf(heap, kHeapExtRoot) ? heap : nullptr;
}

// The clipboard's contents are moved to start at the origin and its panel
// bounds made stale.
void ClipboardFinishCopy(ObjHeap clip) {
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  Rect r{0, 0, 0, 0};
  OGetRect(clip, root, &r, 0);
  if (r.bottom > r.top && r.right > r.left && (r.top || r.left))
    OOffsetObj(clip, root, Point{int16(-r.top), int16(-r.left)});
  PanelInvalBounds(clip);
}

// The text of the record as a long-string handle the label placing takes
// over; null when memory runs out.
UHandle TextCopy(TRecord text) {
  const UHandle from = TGetText(text);
  const int32 size = from && *from ? DSGetHandleSize(from) : 0;
  const int32 length = size >= 4 ? int32(GetNative32(*from)) : 0;
  if (length < 0 || length > size - 4) return nullptr;
  const UHandle copy = AZNewHandle(4 + length);
  if (!copy) return nullptr;
  PutNative32(*copy, uInt32(length));
  if (length) std::memcpy(*copy + 4, *from + 4, size_t(length));
  return copy;
}

int32 TextCommand(ObjHeap heap, ObjHeap clip, int32 command) {
  const Rect r{16, 16, 32, 32};
  const TRecord temp = TNew(&r, 0, nullptr, 0, kAppFont, gDefaultTextColor, kTransparentColor);
  if (!temp) return kReplyFailed;
  const int32 key = command == kCmdCut ? vkCut : command == kCmdCopy ? vkCopy : kTKeyDelete;
  int32 reply = FPSendTextOperation(heap, key, temp);
  if (command == kCmdClear || (reply & kReplyFailed)) {
    TDispose(temp);
    return reply;
  }
  ClearPanelClipboard();
  SetPanelClipboardKind(kClipboardText);
  const UHandle text = TextCopy(temp);
  if (TSetClipboard(reinterpret_cast<LStrHandle>(TGetText(temp))) == kMemFullErr) reply |= kReplyFailed;
  TDispose(temp);
  // The label is made through the clipboard root's creation action and
  // takes the text (the handle is the placing's to dispose).
  if (!text || (TRPlaceLabel(clip, text, 0) & kReplyFailed)) reply |= kReplyFailed;
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  const int32 list = root && OHBlockSize(clip, root) >= kRootObjectList + 4
                         ? int32(GetNative32(*clip + root + kRootObjectList))
                         : 0;
  const int32 label = list && ObjListCount(clip, list) > 0 ? ObjListGet(clip, list, 0) : 0;
  FPEmptySelection(clip);
  if (label && FPSelectObject(clip, label) == kMemFullErr) reply |= kReplyFailed;
  ClipboardFinishCopy(clip);
  return reply;
}

}  // namespace

int32 DoDataOperation(ObjHeap heap, int32 command) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip) {
    WBeep();
    return 0;
  }
  if (!heap || !*heap) return 0;
  if (ExtWordOf(heap, kHeapExtKeyFocus) && (command == kCmdCut || command == kCmdCopy || command == kCmdClear))
    return TextCommand(heap, clip, command);
  return 0;
}

Bool32 PasteDataEnabled(ObjHeap, int32) { return 0; }

int32 PasteDataToObject(ObjHeap, int32) { return 0; }

int32 PasteTextToFocus(ObjHeap heap, ObjHeap clip, int32 object, int32 kind) {
  if (kind != kClipboardText || !ExtWordOf(heap, kHeapExtKeyFocus)) return 0;
  const TRecord text = PartTextRecord(clip, object);
  return text ? FPSendTextOperation(heap, vkPaste, text) : 0;
}

int32 PasteFromPanelClipboard(ObjHeap heap) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip || !heap || !*heap || FPSelectionCount(clip) == 0) return 0;
  return PasteTextToFocus(heap, clip, FPSelectedObject(clip, 0), PanelClipboardKind());
}

Bool32 PanelPasteEnabled(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const int32 kind = PanelClipboardKind();
  const UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(ExtWordOf(heap, kHeapExtOwner))));
  if (vi && *vi && (VIRec(vi)->flags2 & kVIFlags2OwnerMode)) {
    if (vi == PanelClipboardVI()) return 0;
    return kind == 1 || kind == 2 || (kind >= 4 && kind <= 7);
  }
  return kind == kClipboardText && OHWord(heap, kOHKind) == kPanelHeapKind && ExtWordOf(heap, kHeapExtKeyFocus);
}

void ImportClipboardText(LStrHandle text) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip) {
    if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
    return;
  }
  ClearPanelClipboard();
  if (const WindowRef w = WindowRef(ExtWordOf(clip, kHeapExtWindow))) WInvalRect(w, nullptr);
  // The label placing takes an application-zone copy of the text.
  UHandle copy = nullptr;
  const int32 size = text && *text ? DSGetHandleSize(reinterpret_cast<UHandle>(text)) : 0;
  const int32 length = size >= 4 ? int32((*text)->cnt) : -1;
  if (length >= 0 && length <= size - 4 && (copy = AZNewHandle(4 + length)) != nullptr) {
    PutNative32(*copy, uInt32(length));
    if (length) std::memcpy(*copy + 4, (*text)->str, size_t(length));
  }
  if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
  if (!copy) return;
  const Point at{50, 50};
  int32 where;
  std::memcpy(&where, &at, sizeof where);
  TRPlaceLabel(clip, copy, where);
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  const int32 list = root && OHBlockSize(clip, root) >= kRootObjectList + 4
                         ? int32(GetNative32(*clip + root + kRootObjectList))
                         : 0;
  if (list && ObjListCount(clip, list) > 0) {
    FPEmptySelection(clip);
    FPSelectObject(clip, ObjListGet(clip, list, 0));
    SetPanelClipboardKind(kClipboardText);
  }
}

void ImportExternalClipboard(int32 kind) {
  if (kind != 1) return;
  LStrHandle text = nullptr;
  if (WGetExternalClipboard(nullptr, &text) == 1) ImportClipboardText(text);
  else if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
}
