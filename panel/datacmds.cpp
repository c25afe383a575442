// The panel's edit commands and the panel clipboard.  Cut, Copy and Clear
// arrive as the root's action 45 (Paste goes to the clipboard's paste), the
// pop-up menu's "Cut Data" and "Copy Data" as commands 124 and 125.  With a
// key focus the text commands carry the focus's selected text into a label
// of the clipboard panel (kind 4) and onto the system clipboard; otherwise
// the selected objects are copied into the clipboard panel (kinds 1, 2, 5;
// with their data, 6 or 7) and a picture of them published.  Text another
// program puts on the system clipboard becomes such a label.
//
// The clipboard's kind names complete contents only: it is set when they
// are, and a fill that fails anywhere leaves the clipboard empty (kind 0).
// The other program's text is read within its handle's size.
#include <cstring>
#include <vector>

#include "engine/dmprog.h"
#include "engine/exec/panelplace.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/textnum.h"
#include "mgsource/walert.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "panel/clipmenu.h"
#include "panel/ctrlops.h"
#include "panel/datamsg.h"
#include "panel/dataxfer.h"
#include "panel/editmsg.h"
#include "panel/fppanel.h"
#include "panel/numoperate.h"
#include "panel/objdraw.h"
#include "panel/oinit.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/transact.h"

namespace {

constexpr char kSource[] = "datacmds.cpp";
constexpr int32 kCmdCut = 4, kCmdCopy = 5, kCmdClear = 7, kCmdCutData = 124, kCmdCopyData = 125;

constexpr int32 kTDCompareMask = 0x7FC0;
constexpr int32 kTransferIntoHeap = 0x1, kTransferData = 0x10, kTransferConnPane = 0x80;
constexpr int32 kPartNumericText = 10, kPartStringText = 11;
constexpr int32 kFontFlagsAll = 0x40;
constexpr int32 kKeySelectAllPaste = vkPaste, kKeyCommit = vkEnter;
constexpr int32 kAllText = 0x7FFFFFFF;

int32 ExtWordOf(ObjHeap heap, int32 at) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}
void SetExtWordOf(ObjHeap heap, int32 at, int32 v) {
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  if (ext > 0) PutNative32(*heap + ext + at, uInt32(v));
}
bool IsObject(ObjHeap heap, int32 o) { return heap && *heap && o > 0 && OHIsUsedBlock(heap, o); }

ObjHeap ClipboardHeap() {
  const UHandle vi = PanelClipboardVI();
  const ObjHeap heap = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  return heap && *heap && ExtWordOf(heap, kHeapExtRoot) ? heap : nullptr;
}

bool IsPanelHeap(ObjHeap heap) { return heap && *heap && OHWord(heap, kOHKind) == kPanelHeapKind; }

UHandle HeapVI(ObjHeap heap) {
  const UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(ExtWordOf(heap, kHeapExtOwner))));
  return vi && *vi ? vi : nullptr;
}

// The first entry of the clipboard root's object list: the label a text
// command or an import placed.
int32 FirstRootObject(ObjHeap clip) {
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  if (!IsObject(clip, root) || OHBlockSize(clip, root) < kRootObjectList + 4) return 0;
  const int32 list = int32(GetNative32(*clip + root + kRootObjectList));
  return list > 0 && OHIsUsedBlock(clip, list) && ObjListCount(clip, list) > 0 ? ObjListGet(clip, list, 0) : 0;
}

// The clipboard's first control: the display of the root's first data
// controller.
int32 FirstControl(ObjHeap clip) {
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  if (!IsObject(clip, root) || OHBlockSize(clip, root) < kRootItemList + 4) return 0;
  const int32 list = int32(GetNative32(*clip + root + kRootItemList));
  if (list <= 0 || !OHIsUsedBlock(clip, list) || ObjListCount(clip, list) <= 0) return 0;
  const int32 dco = ObjListGet(clip, list, 0);
  if (!IsObject(clip, dco) || OHBlockSize(clip, dco) < 4 * (kPWDCODisplay + 1)) return 0;
  const int32 control = ObjWord(clip, dco, kPWDCODisplay);
  return IsObject(clip, control) ? control : 0;
}

// The text of the clipboard's label (its text record), null when the
// clipboard holds none.
TRecord ClipboardText(ObjHeap clip) {
  const int32 label = FPSelectionCount(clip) > 0 ? FPSelectedObject(clip, 0) : 0;
  return IsObject(clip, label) ? PartTextRecord(clip, label) : nullptr;
}

// A copy of a long-string handle's text as the label placing takes it (an
// application-zone handle, a count then the bytes), read within the
// handle's size; null when it is no text or memory runs out.
UHandle LabelTextCopy(UHandle from) {
  const int32 size = from && *from ? DSGetHandleSize(from) : 0;
  const int32 length = size >= 4 ? int32(GetNative32(*from)) : -1;
  if (length < 0 || length > size - 4) return nullptr;
  const UHandle copy = AZNewHandle(4 + length);
  if (!copy) return nullptr;
  PutNative32(*copy, uInt32(length));
  if (length) std::memcpy(*copy + 4, *from + 4, size_t(length));
  return copy;
}

// Whether the label holds a text of the length placed into it: a placing
// whose typing ran out of memory leaves a shorter one.
bool HoldsText(ObjHeap clip, int32 label, int32 length) {
  const TRecord record = IsObject(clip, label) ? PartTextRecord(clip, label) : nullptr;
  const UHandle text = record ? TGetText(record) : nullptr;
  return text && *text && DSGetHandleSize(text) >= 4 && int32(GetNative32(*text)) == length;
}

// The clipboard made empty after a fill that failed: nothing half made
// stays, and the kind is 0.
void AbandonClipboard() {
  if (const UHandle vi = PanelClipboardVI()) ResetClipboardHeap(vi);
  SetPanelClipboardKind(0);
}

// The clipboard root takes over the source panel's background colour.
void TakeOverRootSetting(ObjHeap heap, ObjHeap clip) {
  if (!IsPanelHeap(heap)) return;
  const int32 from = ExtWordOf(heap, kHeapExtRoot), to = ExtWordOf(clip, kHeapExtRoot);
  if (!IsObject(heap, from) || !IsObject(clip, to) || OHBlockSize(heap, from) < kRootPanelColour + 4 ||
      OHBlockSize(clip, to) < kRootPanelColour + 4)
    return;
  PutNative32(*clip + to + kRootPanelColour, GetNative32(*heap + from + kRootPanelColour));
}

void Finish(ObjHeap heap, ObjHeap clip, bool publish) {
  TakeOverRootSetting(heap, clip);
  ClipboardFinishCopy(clip, WindowRef(ExtWordOf(heap, kHeapExtWindow)), publish);
}

int32 TextCommand(ObjHeap heap, ObjHeap clip, int32 command) {
  const Rect r{16, 16, 32, 32};
  const TRecord temp = TNew(&r, 0, nullptr, 0, kAppFont, gDefaultTextColor, kTransparentColor);
  if (!temp) return kReplyFailed;
  const int32 key = command == kCmdCut ? int32(vkCut) : command == kCmdCopy ? int32(vkCopy) : int32(kTKeyDelete);
  int32 reply = FPSendTextOperation(heap, key, temp);
  if (command == kCmdClear || (reply & kReplyFailed)) {
    TDispose(temp);
    return reply;
  }
  ClearPanelClipboard();
  if (TSetClipboard(reinterpret_cast<LStrHandle>(TGetText(temp))) == kMemFullErr) reply |= kReplyFailed;
  const UHandle text = LabelTextCopy(TGetText(temp));
  TDispose(temp);
  // The label is made through the clipboard root's creation action and
  // takes the text (the handle is the placing's to dispose).
  const int32 length = text ? int32(GetNative32(*text)) : 0;
  if (!text || (TRPlaceLabel(clip, text, 0) & kReplyFailed)) reply |= kReplyFailed;
  const int32 label = FirstRootObject(clip);
  if (!(reply & kReplyFailed) && (!HoldsText(clip, label, length) || SelectObject(clip, label)))
    reply |= kReplyFailed;
  if (reply & kReplyFailed) {
    AbandonClipboard();
    return reply;
  }
  SetPanelClipboardKind(kClipKindText);
  Finish(heap, clip, false);
  return reply;
}

// Every selected object is a plain cosmetic or label.
bool OnlyDecorations(ObjHeap heap) {
  for (int32 i = 0, n = FPSelectionCount(heap); i < n; ++i) {
    const int32 o = FPSelectedObject(heap, i);
    const int32 cls = IsObject(heap, o) ? ObjClass(heap, o) : 0;
    if (cls != kClsCosmetic && cls != kClsLabel) return false;
  }
  return true;
}

int32 ObjectCommand(ObjHeap heap, ObjHeap clip, int32 command) {
  ClearPanelClipboard();
  int32 kind = OnlyDecorations(heap) ? kClipKindDecorations : kClipKindObjects;
  int32 flags = kTransferIntoHeap;
  if (command == kCmdCutData || command == kCmdCopyData) flags |= kTransferData;
  const UHandle vi = HeapVI(heap);
  const int32 first = FPSelectedObject(heap, 0);
  if (IsObject(heap, first) && ObjClass(heap, first) == kClsConnectorPane && vi &&
      (VIRec(vi)->viKind == 2 || VIRec(vi)->viKind == 4)) {
    flags |= kTransferConnPane;
    kind = kClipKindConnPane;
  }
  // The selected objects are copied into the clipboard panel by its root's
  // drop action; the transfer record sits in the params at the drop's
  // place.
  ActionParams params{};
  auto* xfer = reinterpret_cast<DataXferRec*>(&params.eventCode);
  DataXferInitObj(heap, ExtWordOf(heap, kHeapExtSelection), flags, xfer);
  int32 reply = TRSendAction(clip, nullptr, kActTextDrop, &params);
  const UHandle clipVI = PanelClipboardVI();
  if (!(reply & kReplyFailed) && DataMgrRunForHeap(clipVI) == kMemFullErr) reply |= kReplyFailed;
  const int32 clipRoot = ExtWordOf(clip, kHeapExtRoot);
  if (!(reply & kReplyFailed) && (flags & kTransferData)) {
    // The clipboard's copy is trimmed and cleaned before the source loses
    // anything: a failure there leaves the source's block where it was.
    EditMsgRecord rec{};
    reply |= OSelectCode(clip, clipRoot, kEditCopyData, &rec) & kReplyFailed;
    if (!(reply & kReplyFailed) && !(vi && (VIRec(vi)->flags2 & kVIFlags2OwnerMode))) {
      EditMsgRecord clean{};
      reply |= OSelectCode(clip, clipRoot, kEditCleanCopy, &clean) & kReplyFailed;
    }
    if (!(reply & kReplyFailed) && command == kCmdCutData) {
      EditMsgRecord cut{};
      reply = OSelectCode(heap, ExtWordOf(heap, kHeapExtRoot), kEditCutData, &cut);
    }
    kind = IsPanelHeap(clip) ? kClipKindPanelData : kClipKindOtherData;
  }
  if (reply & kReplyFailed) {
    AbandonClipboard();
    return reply;
  }
  SetPanelClipboardKind(kind);
  Finish(heap, clip, true);
  return reply;
}

// Sends a text operation along the path at the transaction stack's top to
// the object it ends at, with the text record and the text selection.
int32 SendTextKey(ObjHeap heap, int32 object, int32 key, TRecord text, int32 start, int32 end) {
  KeyActionBlock block{};
  block.event.code = weKey;
  block.event.window = WindowRef(ExtWordOf(heap, kHeapExtWindow));
  block.event.keyCode = WKeyCode(key);
  block.object = object;
  block.start = start;
  block.end = end;
  reinterpret_cast<ActionParams*>(&block)->text = reinterpret_cast<UHandle>(text);
  const UHandle vi = HeapVI(heap);
  // Inside the panel's own transaction the root is sent the action directly.
  if (vi && (VIRec(vi)->flags & kVIFlagInTransaction))
    return OSendMessage<int32>(kMsgODoit, heap, ExtWordOf(heap, kHeapExtRoot), TRStackTop(), kActKeyOrText, &block);
  return TRSendAction(heap, TRStackTop(), kActKeyOrText, &block);
}

const TypeDescriptor* TypeOfObject(ObjHeap heap, int32 o) {
  const TypeID id = IsObject(heap, o) ? OGetType(heap, o) : 0;
  return id ? TypeIDToTD(heap, id) : nullptr;
}

// Whether the clipboard label's text reads as a number of the numeric's
// type in its format.
bool TextFitsNumeric(ObjHeap heap, int32 numeric, ObjHeap clip) {
  const TypeDescriptor* td = TypeOfObject(heap, numeric);
  const int32 type = td ? td->code & ~0x10 : 0;
  if (type < 1 || type > 30) return false;
  if (!FindPart(heap, numeric, kPartNumericText, 0)) {
    DBAssert(kSource, __LINE__, "a numeric without its text");
    return false;
  }
  const TRecord text = ClipboardText(clip);
  const UHandle bytes = text ? TGetText(text) : nullptr;
  const int32 size = bytes && *bytes ? DSGetHandleSize(bytes) : 0;
  const int32 length = size >= 4 ? int32(GetNative32(*bytes)) : -1;
  if (length < 0 || length > size - 4) return false;
  uChar value[32] = {};
  return TextToNum(*bytes + 4, length, type, value, NumGetFormat(heap, numeric), 0, nullptr) != 0;
}

Bool32 gPasteAsText = 0;

}  // namespace

void ClipboardFinishCopy(ObjHeap clip, WindowRef source, Bool32 publish) {
  const int32 root = ExtWordOf(clip, kHeapExtRoot);
  if (!IsObject(clip, root)) return;
  Rect r{0, 0, 0, 0};
  OGetRect(clip, root, &r, 0);
  const bool empty = r.bottom <= r.top || r.right <= r.left;
  const Point origin{r.top, r.left};
  if (!empty && (origin.v || origin.h)) OOffsetObj(clip, root, Point{int16(-origin.v), int16(-origin.h)});
  if (!empty && publish && source) {
    // A recorded picture of the contents, drawn as the clipboard would be
    // with the source window standing in for the clipboard's own.
    const Rect bounds{0, 0, int16(r.bottom - r.top), int16(r.right - r.left)};
    int32 image = 0;
    if (ICreateMetaFileImage(int32(source), 0, &image, &bounds) == kNoErr && image) {
      const int32 window = ExtWordOf(clip, kHeapExtWindow);
      SetExtWordOf(clip, kHeapExtWindow, int32(source));
      WPortState port{};
      WSetup(source, &port);
      ImageSaveRecord save{};
      IOpen(image, &save);
      const int32 mode = PanelSetImagingMode(kPanelDrawClipboard);
      ODrawPanel(clip);
      PanelSetImagingMode(mode);
      IClose(image, &save);
      WRestore(&port);
      SetExtWordOf(clip, kHeapExtWindow, window);
      ISetClipboard(image);
      IRelease(image);
    }
  }
  PanelInvalBounds(clip);
  if (!empty && (origin.v || origin.h)) OOffsetObj(clip, root, origin);
  if (const WindowRef w = WindowRef(ExtWordOf(clip, kHeapExtWindow)); w && WIsVisible(w)) {
    Rect window, content;
    WGetRect(w, &window);
    if (VIWindow().windowToContent) {
      const int32 ext = int32(OHWord(clip, kOHExtension));
      VIWindow().windowToContent(w, int32(GetNative16(*clip + ext + kHeapExtWindowOptions)), &window, &content);
      std::memcpy(*clip + ext + kHeapExtContentRect, &content, sizeof content);
    }
    WInvalRect(w, nullptr);
  }
}

int32 DoDataOperation(ObjHeap heap, int32 command) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip) {
    WBeep();
    return 0;
  }
  if (!heap || !*heap) return 0;
  if (ExtWordOf(heap, kHeapExtKeyFocus) && (command == kCmdCut || command == kCmdCopy || command == kCmdClear))
    return TextCommand(heap, clip, command);
  if (command != kCmdClear && FPSelectionCount(heap) > 0) return ObjectCommand(heap, clip, command);
  return 0;
}

Bool32 PasteDataEnabled(ObjHeap heap, int32 object) {
  gPasteAsText = 0;
  const ObjHeap clip = ClipboardHeap();
  if (!clip || !IsObject(heap, object) || !ObjClickOperates(heap, object) || ObjClass(heap, object) == kClsContainer)
    return 0;
  switch (PanelClipboardKind()) {
    case kClipKindText:
      if (ObjClass(heap, object) == kClsString || (ObjClass(heap, object) == kClsNumeric && TextFitsNumeric(heap, object, clip))) {
        gPasteAsText = 1;
        return 1;
      }
      return 0;
    case kClipKindPanelData: {
      const TypeDescriptor* to = TypeOfObject(heap, object);
      const TypeDescriptor* from = TypeOfObject(clip, FirstControl(clip));
      return to && from && !(TDCompare(to, from) & kTDCompareMask);
    }
    default: return 0;
  }
}

int32 PasteDataToObject(ObjHeap heap, int32 object) {
  const ObjHeap clip = ClipboardHeap();
  const int32 kind = PanelClipboardKind();
  if (clip && kind == kClipKindText && gPasteAsText) {
    const TRecord text = ClipboardText(clip);
    void* const previous = TRPushFrame();
    if (text && GetObjAttrRec(heap, object, nullptr, nullptr)) {
      // The object's whole text is replaced by the clipboard's and
      // committed, as if typed.
      if (FPKeyFocusUpdate(heap, object, 0, nullptr) == kNoErr) {
        // All of the object's text is selected, so that the paste replaces it.
        for (int32 id : {kPartStringText, kPartNumericText})
          if (const int32 part = FindPart(heap, object, int16(id), 0))
            if (const TRecord own = PartTextRecord(heap, part)) TSelectText(own, 0, kAllText);
        SendTextKey(heap, object, kKeySelectAllPaste, text, 0, kAllText);
        if (GetObjAttrRec(heap, object, nullptr, nullptr)) SendTextKey(heap, object, kKeyCommit, nullptr, 0, 0);
      }
      SetExtWordOf(heap, kHeapExtKeyFocus, 0);
      SetExtWordOf(heap, kHeapExtFocusText, 0);
      StatePnlSetTextEntry(heap, 0);
    }
    TRSetStackTop(previous);
    return 1;
  }
  if (clip && kind == kClipKindPanelData) return PasteControlData(heap, object, clip, FirstControl(clip), 2);
  // A text not enabled as a text paste has nothing to give this object.
  if (kind != kClipKindText) DBAssert(kSource, __LINE__, "PasteDataToObject: nothing to paste of this kind");
  return 0;
}

int32 PasteControlData(ObjHeap heap, int32 object, ObjHeap source, int32 control, int32 dataKind) {
  if (dataKind != 1 && dataKind != 2) {
    DBAssert(kSource, __LINE__, "PasteControlData: a data kind other than 1 and 2");
    return 0;
  }
  if (!IsObject(heap, object) || !IsObject(source, control)) return kReplyFailed;
  // The selection is kept aside while the object is the only one selected.
  std::vector<int32> kept;
  for (int32 i = 0, n = FPSelectionCount(heap); i < n; ++i) kept.push_back(FPSelectedObject(heap, i));
  int32 reply = SelectObject(heap, object);
  if (!reply) {
    EditMsgRecord rec{};
    rec.sourceHeap = source;
    rec.sourceType = OGetType(source, control);
    rec.sourceData = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(source, control, 0, dataKind, nullptr))));
    const int32 root = ExtWordOf(heap, kHeapExtRoot);
    if (!rec.sourceData) {
      reply = kReplyFailed;
    } else {
      reply = OSelectCode(heap, root, kEditPasteData, &rec);
      const void* data = reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, kDataPtrPlain, nullptr))));
      if (!data) {
        reply |= kReplyFailed;
      } else {
        PanelDisplayValues(heap, object, nullptr, data);
        EditMsgRecord font{};
        font.flags = kFontFlagsAll;
        reply |= OSelectCode(heap, root, kEditFont, &font) & (kReplyFailed | kReplyOutOfRange);
      }
    }
  }
  ClearSelectionList(heap);
  for (int32 o : kept) FPSelectObject(heap, o);
  return reply;
}

Bool32 PanelPasteEnabled(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const int32 kind = PanelClipboardKind();
  const UHandle vi = HeapVI(heap);
  if (vi && (VIRec(vi)->flags2 & kVIFlags2OwnerMode)) {
    if (vi == PanelClipboardVI()) return 0;
    return kind == 1 || kind == 2 || (kind >= 4 && kind <= 7);
  }
  return kind == kClipKindText && IsPanelHeap(heap) && ExtWordOf(heap, kHeapExtKeyFocus);
}

int32 PasteFromPanelClipboard(ObjHeap heap) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip || !heap || !*heap || FPSelectionCount(clip) == 0) return 0;
  return PasteTextToFocus(heap, clip, FPSelectedObject(clip, 0), PanelClipboardKind());
}

int32 PasteTextToFocus(ObjHeap heap, ObjHeap clip, int32 object, int32 kind) {
  if (kind != kClipKindText || !ExtWordOf(heap, kHeapExtKeyFocus)) return 0;
  const TRecord text = IsObject(clip, object) ? PartTextRecord(clip, object) : nullptr;
  return text ? FPSendTextOperation(heap, vkPaste, text) : 0;
}

void ImportClipboardText(LStrHandle text) {
  const ObjHeap clip = ClipboardHeap();
  if (!clip) {
    if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
    return;
  }
  ClearPanelClipboard();
  if (const WindowRef w = WindowRef(ExtWordOf(clip, kHeapExtWindow))) WInvalRect(w, nullptr);
  const UHandle copy = LabelTextCopy(reinterpret_cast<UHandle>(text));
  if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
  if (!copy) return;
  const Point at{50, 50};
  int32 where;
  std::memcpy(&where, &at, sizeof where);
  const int32 length = int32(GetNative32(*copy));
  const int32 placed = TRPlaceLabel(clip, copy, where);
  const int32 label = FirstRootObject(clip);
  if ((placed & kReplyFailed) || !HoldsText(clip, label, length) || SelectObject(clip, label)) {
    AbandonClipboard();
    return;
  }
  SetPanelClipboardKind(kClipKindText);
}

void ImportExternalClipboard(int32 kind) {
  if (kind != 1) return;
  LStrHandle text = nullptr;
  if (WGetExternalClipboard(nullptr, &text) == 1) ImportClipboardText(text);
  else if (text) DSDisposeHandle(reinterpret_cast<UHandle>(text));
}

void ShowClipboardWindow() {
  const UHandle vi = PanelClipboardVI();
  const ObjHeap clip = vi && *vi ? VIRec(vi)->panelHeap : nullptr;
  if (!clip || !*clip) {
    DBAssert(kSource, __LINE__, "ShowClipboardWindow: no clipboard");
    return;
  }
  WindowRef w = WindowRef(ExtWordOf(clip, kHeapExtWindow));
  if (!w) {
    const int32 ext = int32(OHWord(clip, kOHExtension));
    const Rect visible{0, 0, 150, 200};
    const Point position{50, 350};
    std::memcpy(*clip + ext + kHeapExtContentRect, &visible, sizeof visible);
    std::memcpy(*clip + ext + kHeapExtContentOrigin, &position, sizeof position);
    if (!(w = FPOpenWindow(vi, clip, 1))) return;
  } else {
    WBringToFront(w);
  }
  WShow(w);
  WInvalRect(w, nullptr);
}
