// The embedded-object container control.
#include "controls/container.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/objload.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/datamsg.h"
#include "panel/fptransfer.h"
#include "panel/objdraw.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/ocopy.h"
#include "panel/oinval.h"
#include "panel/ooffset.h"
#include "panel/operate.h"
#include "panel/strimport.h"

namespace {

const char kSource[] = "container";
constexpr ResType kObjRsrcType = FourCC("STRG");
constexpr MgErr kMissing = 15;
constexpr int32 kReplyStop = 0x10000010;
constexpr int32 kReplySized = 0x80, kReplyTextChanged = 0x40, kReplyFail = 0x10, kReplyPassOn = 0x800;
constexpr int32 kSizeReply = 0x30080;
// Select codes: the value is published; string export and import; font
// changes.
enum : int32 { kSelPublish = 55, kSelExport = 52, kSelImport = 53, kSelFontA = 21, kSelFontB = 32 };
// Keys of the do-it: focus back to the panel window; focus moves.
enum : int32 { kKeyToWindow = 2, kKeyLeave = 34, kKeyNext = 38, kKeyPrevious = 39, kKeyFocusA = 42, kKeyFocusB = 43 };
// The click context word that a kind-6 click sets (the closing flag): the
// word after the recorded owner's pair.
constexpr int32 kClickClosingWord = 2;

ContainerEmbHooks gHooks{};

using ctrl::BoundsOf;
using ctrl::Has;

bool IsContainer(ObjHeap heap, int32 c) {
  return heap && *heap && c > 0 && OHIsUsedBlock(heap, c) && Has(heap, c, kContainerSize) &&
         ObjClass(heap, c) == kClsContainerId;
}
UHandle HandleWord(ObjHeap heap, int32 c, int32 word) {
  return reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, c, word))));
}
void SetHandleWord(ObjHeap heap, int32 c, int32 word, UHandle h) {
  ObjSetWord(heap, c, word, int32(uInt32(uintptr_t(h))));
}
UHandle Record(ObjHeap heap, int32 c) { return IsContainer(heap, c) ? HandleWord(heap, c, kContainerRecordWord) : nullptr; }
uInt32 Flags(ObjHeap heap, int32 c) { return ctrl::Flags(heap, c); }
void ClearFlags(ObjHeap heap, int32 o, uInt32 bits) {
  if (ctrl::IsObj(heap, o)) ctrl::SetFlags(heap, o, ctrl::Flags(heap, o) & ~bits);
}

// The services, each answering 15 when start-up gave none.
MgErr Load(UHandle saved, UHandle* rec, WindowRef w, const ContainerAmbient* a, const Rect* b, int32* f) {
  return gHooks.loadFromResource ? gHooks.loadFromResource(saved, rec, w, a, b, f) : kMissing;
}
MgErr Save(UHandle rec, UHandle* saved) { return gHooks.saveObject ? gHooks.saveObject(rec, saved) : kMissing; }
MgErr Destroy(UHandle rec) { return gHooks.destroy ? gHooks.destroy(rec) : kMissing; }
MgErr Activate(UHandle rec, int32 on) { return gHooks.activate ? gHooks.activate(rec, on) : kMissing; }
MgErr GetFlags(UHandle rec, int32* f) { return gHooks.getFlags ? gHooks.getFlags(rec, f) : kMissing; }
MgErr SetWindow(UHandle rec, WindowRef w) { return gHooks.setWindow ? gHooks.setWindow(rec, w) : kMissing; }
MgErr SetBounds(UHandle rec, const Rect* r) { return gHooks.setBounds ? gHooks.setBounds(rec, r) : kMissing; }
MgErr GetBounds(UHandle rec, Rect* r) { return gHooks.getBounds ? gHooks.getBounds(rec, r) : kMissing; }
MgErr Focus(WindowRef w, UHandle rec, int32 on, int32 back) {
  return gHooks.focus ? gHooks.focus(w, rec, on, back) : kMissing;
}
MgErr Picture(UHandle rec, int32* image) { return gHooks.getPicture ? gHooks.getPicture(rec, image) : kMissing; }
MgErr AmbientFore(UHandle rec, DColor c) { return gHooks.ambientForeground ? gHooks.ambientForeground(rec, c) : kMissing; }
MgErr AmbientBack(UHandle rec, DColor c) { return gHooks.ambientBackground ? gHooks.ambientBackground(rec, c) : kMissing; }
MgErr AmbientName(UHandle rec, TRecord t) { return gHooks.ambientDisplayName ? gHooks.ambientDisplayName(rec, t) : kMissing; }
MgErr AmbientFont(UHandle rec, TRecord t) { return gHooks.ambientFont ? gHooks.ambientFont(rec, t) : kMissing; }
MgErr RecordSwap(UHandle rec) { return gHooks.recordSwap ? gHooks.recordSwap(rec) : kMissing; }
MgErr DetachWindow(UHandle rec) { return gHooks.detachWindow ? gHooks.detachWindow(rec) : kMissing; }
bool HasObject(UHandle rec) { return rec && gHooks.hasObject && gHooks.hasObject(rec); }
MgErr DisposeRecord(UHandle rec) {
  if (gHooks.disposeRecord) return gHooks.disposeRecord(rec);
  return rec && AZIsHandle(rec) ? AZDisposeHandle(rec) : kNoErr;
}
MgErr DupRecord(UHandle rec, UHandle* copy) { return gHooks.dupRecord ? gHooks.dupRecord(rec, copy) : kMissing; }

bool LiveObject(ObjHeap heap, int32 c) { return HasObject(Record(heap, c)); }

UHandle OwnerVI(ObjHeap heap) {
  UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? vi : nullptr;
}
bool Running(ObjHeap heap) {
  UHandle vi = OwnerVI(heap);
  return vi && (VIRec(vi)->flags2 & kContainerRunMode);
}
int32 VIKind(ObjHeap heap) {
  UHandle vi = OwnerVI(heap);
  return vi ? VIRec(vi)->viKind : -1;
}
WindowRef PanelWindow(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= kHeapExtensionSize ? WindowRef(OHWord(heap, uInt32(ext + kHeapExtWindow)))
                                                                : 0;
}

// The cell area; 0 for none.
int32 CellArea(ObjHeap heap, int32 c) { return ctrl::PartOf(heap, c, kContainerCellArea, 0); }
// The object's bounds: the cell area's rectangle, or the container's own
// inset by 3.
Rect ObjectBounds(ObjHeap heap, int32 c) {
  const int32 cell = CellArea(heap, c);
  return cell ? BoundsOf(heap, cell) : ctrl::Inset(BoundsOf(heap, c), 3);
}
// The text record of the caption, else the label; null for none.
TRecord NameRecord(ObjHeap heap, int32 c, int32 partId = 0) {
  for (int32 id : {kContainerCaption, kContainerLabel}) {
    if (partId && id != partId) continue;
    const int32 part = ctrl::PartOf(heap, c, id, 0);
    if (part && Has(heap, part, kObjText + 4))
      if (TRecord r = TCheckedRecord(uInt32(ObjWord(heap, part, kObjText / 4)))) return r;
  }
  return nullptr;
}

int16 Pin16(int32 v) { return int16(std::clamp<int32>(v, -32768, 32767)); }

// The cell area sized to the object's bounds, top left kept, and the
// container around it.
void SizeToObject(ObjHeap heap, int32 c, UHandle rec) {
  Rect ob{};
  if (GetBounds(rec, &ob) != kNoErr) return;
  const Rect cell = ObjectBounds(heap, c);
  const Rect r{cell.top, cell.left, Pin16(cell.top + (ob.bottom - ob.top)), Pin16(cell.left + (ob.right - ob.left))};
  OSize(heap, c, &r, kContainerCellArea);
}

// The name of a type: a typedef's own (after its 32-bit word), else the
// descriptor's name; null for none or one that does not fit its descriptor.
ConstPStr TypedefName(const TypeDescriptor* td) {
  if (!td) return nullptr;
  const uChar* p = reinterpret_cast<const uChar*>(td);
  const int32 size = GetNative16(p);
  if (td->code == kTDTypedef) return size >= 9 && 9 + p[8] <= size ? p + 8 : nullptr;
  return TDNamePtr(td);
}

// The load alert: 1 for "Continue", 0 for "Abort".
bool AskContinue(ObjHeap heap, int32 c, MgErr err) {
  uChar fmt[256] = {0}, abort[256] = {0}, cont[256] = {0};
  const RsrcFileRef file = RunTimeRsrcFile();
  auto item = [&](uChar* out, int32 index, const char* fallback) {
    if (RGetIndString(file, out, kContainerLoadErrorList, index) != kNoErr || !out[0]) {
      out[0] = uChar(std::strlen(fallback));
      std::memcpy(out + 1, fallback, out[0]);
    }
  };
  item(fmt, 1, "Error %ld occurred loading the embedded control \"%p\".");
  item(abort, 2, "Abort");
  item(cont, 3, "Continue");
  const uChar kNone[1] = {0};
  ConstPStr name = TypedefName(TypeIDToTD(heap, DDOTypeID(heap, c)));
  uChar message[256] = {0};
  PPrintfp(message, fmt, long(err), name ? name : kNone);
  if (!gHooks.twoButtonAlert) return true;
  return gHooks.twoButtonAlert(53, message, cont, abort, 1, -32768, -32768) == 1;
}

}  // namespace

ContainerEmbHooks SetContainerEmbHooks(const ContainerEmbHooks& hooks) {
  const ContainerEmbHooks old = gHooks;
  gHooks = hooks;
  return old;
}

// ---- Conversion, creation, insertion -----------------------------------------------------

MgErr ContainerOSwapMethod(ObjHeap heap, int32 c, int32 direction) {
  if (!heap || !*heap || c <= 0 || !Has(heap, c, 4 * (kContainerImageWord + 1))) return kArgErr;
  for (int32 w = kContainerRecordWord; w <= kContainerImageWord; ++w) {
    uChar* at = *heap + c + 4 * w;
    PutNative32(at, __builtin_bswap32(GetNative32(at)));
  }
  ObjSwapProc ddo = ObjSwapForClass(kClsDataDisplayObject);
  return ddo ? ddo(heap, c, direction) : kNoErr;
}

int32 ContainerOInitMethod(ObjHeap, int32) {
  DBAssert(kSource, __LINE__, "containers are only loaded");
  return 0;
}

int32 ContainerOInsertMethod(ObjHeap, int32, int32, int32) {
  DBAssert(kSource, __LINE__, "containers take no children");
  return 0;
}

// ---- Ambient information ------------------------------------------------------------------

void ContainerAmbientInfo(ObjHeap heap, int32 c, ContainerAmbient* info) {
  if (!info) return;
  *info = ContainerAmbient{};
  const DColor panel = ctrl::PanelBackground(heap);
  const int32 cell = IsContainer(heap, c) ? CellArea(heap, c) : 0;
  const DColor fore = cell ? ctrl::PartFore(heap, cell) : kTransparentColor;
  const DColor back = cell ? ctrl::PartBack(heap, cell) : kTransparentColor;
  info->foreground = fore == kTransparentColor ? panel : fore;
  info->background = back == kTransparentColor ? panel : back;
  info->textRecord = IsContainer(heap, c) ? NameRecord(heap, c) : nullptr;
  info->text = info->textRecord ? TGetText(info->textRecord) : nullptr;
  info->reserved = 0;
}

bool ContainerPanelDraws(ObjHeap heap, int32 c) {
  UHandle rec = Record(heap, c);
  if (!rec || Running(heap)) return true;
  int32 flags = 0;
  return GetFlags(rec, &flags) != kNoErr || !(flags & 1);
}

MgErr ContainerAdoptWindow(ObjHeap heap, int32 c) {
  UHandle rec = Record(heap, c);
  if (!rec || (Flags(heap, c) & kContainerHidden)) return kNoErr;
  return SetWindow(rec, PanelWindow(heap));
}

int32 ContainerAfterAction(ObjHeap heap, int32 c, int32 reply, int32 partId, int32) {
  UHandle rec = Record(heap, c);
  if (!HasObject(rec)) return reply;
  if (reply & kReplySized) {
    const Rect r = ObjectBounds(heap, c);
    const MgErr err = SetBounds(rec, &r);
    if (err && err != kContainerBadRecord) reply |= kReplyFail;
  }
  if ((reply & kReplyTextChanged) && (partId == kContainerCaption || partId == kContainerLabel)) {
    AmbientName(rec, NameRecord(heap, c, partId));
    ContainerAdoptWindow(heap, c);
  }
  return reply;
}

// ---- Load and dispose ---------------------------------------------------------------------

int32 ContainerOLoadMethod(ObjHeap heap, int32 c) {
  if (!IsContainer(heap, c)) return kArgErr;
  const bool hasRecord = ObjWord(heap, c, kContainerRecordWord) != 0;
  const bool hasSaved = ObjWord(heap, c, kContainerSavedWord) != 0;
  int32 imageRef = ObjWord(heap, c, kContainerImageWord);
  // Nothing stored names a live handle: the words hold only what this load makes.
  ObjSetWord(heap, c, kContainerRecordWord, 0);
  ObjSetWord(heap, c, kContainerSavedWord, 0);
  ObjSetWord(heap, c, kContainerImageWord, 0);
  if (MgErr err = OLoadDescription(heap, c)) return err;
  UHandle rec = nullptr, saved = nullptr;
  if (hasRecord) {
    if (MgErr err = RGetObjRsrc(kObjRsrcType, &rec)) return err;
    SetHandleWord(heap, c, kContainerRecordWord, rec);
    RecordSwap(rec);
    DetachWindow(rec);
  }
  MgErr err = kNoErr;
  if (hasSaved) {
    if (MgErr e = RGetObjRsrc(kObjRsrcType, &saved)) return e;
    const int32 size = AZGetHandleSize(saved);
    if (size >= 4) PutNative32(*saved, GetBE32(*saved));
    SetHandleWord(heap, c, kContainerSavedWord, saved);
    if (rec) {
      const Rect bounds = ObjectBounds(heap, c);
      // A count beyond its handle is a failed load, not a read past it.
      const int32 count = size >= 4 ? int32(GetNative32(*saved)) : -1;
      int32 loadFlags = 0;
      if (count < 0 || count > size - 4) {
        err = kArgErr;
      } else {
        ContainerAmbient ambient;
        ContainerAmbientInfo(heap, c, &ambient);
        err = Load(saved, &rec, PanelWindow(heap), &ambient, &bounds, &loadFlags);
      }
      if (err == kContainerBadRecord) err = kNoErr;
      else if (err && !HasObject(rec)) {
        if (AskContinue(heap, c, err)) err = kNoErr;
        else SetVILoaderAbort(1);
      } else if (!err) {
        if (loadFlags & 1) ctrl::SetFlags(heap, c, Flags(heap, c) | kContainerSizeToObject);
        Activate(rec, 1);
      }
      if (err) return err;
    }
  }
  if (imageRef) {
    UHandle vi = OwnerVI(heap);
    const Rect bounds = BoundsOf(heap, c);
    if (MgErr e = FPLoadObjImage(ObjLoadFile(), &imageRef, &bounds, vi ? VIRec(vi)->version : 0)) return e;
    ObjSetWord(heap, c, kContainerImageWord, imageRef);
  }
  return kNoErr;
}

MgErr ContainerRelease(ObjHeap heap, int32 c) {
  if (!IsContainer(heap, c)) return kArgErr;
  MgErr err = kNoErr;
  if (UHandle rec = Record(heap, c)) {
    const MgErr d = Destroy(rec);
    if (d != kContainerBadRecord && d != kMissing) err |= d;
    err |= DisposeRecord(rec);
    ObjSetWord(heap, c, kContainerRecordWord, 0);
  }
  if (UHandle saved = HandleWord(heap, c, kContainerSavedWord)) {
    if (AZIsHandle(saved)) err |= AZDisposeHandle(saved);
    ObjSetWord(heap, c, kContainerSavedWord, 0);
  }
  const int32 image = ObjWord(heap, c, kContainerImageWord);
  if (image && FPObjImageHeld(image)) err |= FPSetObjImage(image);
  ObjSetWord(heap, c, kContainerImageWord, 0);
  return err;
}

int32 ContainerODisposeMethod(ObjHeap heap, int32 c) {
  const MgErr err = IsContainer(heap, c) ? ContainerRelease(heap, c) : kNoErr;
  return err | OUnloadDescription(heap, c);
}

// ---- Drawing ----------------------------------------------------------------------------------

int32 ContainerODrawMethod(ObjHeap heap, int32 c, const void* data, int32 pass, int32 mode) {
  if (!IsContainer(heap, c)) return 0;
  UHandle rec = Record(heap, c);
  if (!ContainerPanelDraws(heap, c)) {
    SetWindow(rec, 0);
    return 0;
  }
  const Rect bounds = BoundsOf(heap, c);
  if (WNeedsDraw(&bounds)) {
    const bool live = HasObject(rec);
    const int32 image = ObjWord(heap, c, kContainerImageWord);
    const int32 list = ObjWord(heap, c, kObjPartList / 4);
    const int32 n = list > 0 && OHIsUsedBlock(heap, list) ? ObjListCount(heap, list) : 0;
    bool pictured = false;
    for (int32 i = n - 1; i >= 0; --i) {
      if (4 + int64(4) * (i + 1) > OHBlockSize(heap, list)) continue;
      const int32 part = ObjListGet(heap, list, i);
      if (part == c || !ctrl::IsObj(heap, part) || ctrl::Hidden(heap, part)) continue;
      const bool cell = ctrl::PartIdOf(heap, part) == kContainerCellArea;
      if (!cell || !live) ODraw(heap, part, nullptr, int32(0), int32(kDrawModeNormal));
      if (!cell) continue;
      const bool picture = VIKind(heap) == kVIKindRoot || gPanelImagingMode == kPanelDrawClipboard ||
                           gPanelImagingMode == kPanelDrawPrint;
      int32 pict = 0;
      bool own = false;
      if (live && picture) own = Picture(rec, &pict) == kNoErr && pict;
      else if (!live && image > 0 && (image & kObjImageHeld)) pict = image & 0xFFFF;
      if (pict) {
        const Rect r = BoundsOf(heap, part);
        IDraw(pict, nullptr, &r, 0, 0xFFFFFF, gImageColours.bwFore, gImageColours.bwBack);
        pictured = true;
      }
      if (own) IRelease(pict);
    }
    if (live && !pictured) SetWindow(rec, PanelWindow(heap));
  }
  return DDOODrawMethod(heap, c, data, pass, mode);
}

// ---- Operating ---------------------------------------------------------------------------------

int32 ContainerOClickMethod(ObjHeap heap, int32 c, TransactionState* click, TransactionFrame* frame,
                            ActionParams* p) {
  const int32 generic = DDOOClickMethod(heap, c, click, frame, p);
  if (!generic || !IsContainer(heap, c) || !click || !p) return generic;
  const bool running = Running(heap);
  if (!running && (Flags(heap, c) & kContainerNoClick)) {
    WMarkMsgHandled();
    return kClickAbsorbed;
  }
  if (p->partId != kContainerCellArea) return generic;
  const int32 kind = click->mode;
  if (kind == kClickDropTest && generic == kClickAbsorbed && running) {
    WMarkMsgHandled();
    return CursorOf(p)->cursor == 1 ? kClickCursorAnswer : kClickAbsorbed;
  }
  if (!LiveObject(heap, c)) return generic;
  if (kind & 1) {
    if (kind != kClickLabelCursor) {
      Point at;
      std::memcpy(&at, &click->point, sizeof at);
      CursorOf(p)->rect = Rect{at.v, at.h, Pin16(at.v + 1), Pin16(at.h + 1)};
    }
    return kClickCursorAnswer;
  }
  if (kind == kClickPress) {
    RecordOf(p)->owner = c;
    RecordOf(p)->flags = 0;
    FPReleaseKeyFocus(heap);
    return kClickOperate;
  }
  WMarkMsgHandled();
  if (kind == kClickLabelPress) {
    reinterpret_cast<int32*>(RecordOf(p))[kClickClosingWord] = 1;
    return kClickAbsorbed;
  }
  return generic;
}

int32 ContainerODoitMethod(ObjHeap heap, int32 c, TransactionFrame* frame, int32 action, ActionParams* p) {
  int32 reply = DDOODoitMethod(heap, c, frame, action, p);
  if (!IsContainer(heap, c) || !p) return reply;
  UHandle rec = Record(heap, c);
  const bool holds = frame && frame->object == c;
  if (HasObject(rec) && action == kActOperate && holds) {
    const WindowRef window = PanelWindow(heap);
    if (reply & kReplyPassOn) Focus(window, rec, 0, 0);
    if (p->eventCode == kSubPress) {
      FPKeyFocusUpdate(heap, c, 1, nullptr);
    } else if (p->eventCode == kSubKeyDown || p->eventCode == kSubKeyRepeat) {
      const int32 key = p->keyCode;
      if (key == kKeyToWindow || key == kKeyLeave) {
        Focus(window, rec, 0, 0);
      } else if (key == kKeyNext || key == kKeyPrevious || key == kKeyFocusA || key == kKeyFocusB) {
        if (ContainerPanelDraws(heap, c) && Focus(window, rec, 1, key == kKeyPrevious) == kNoErr)
          StatePnlSetTextEntry(heap, 1);
        else
          reply |= kReplyPassOn;
      } else {
        SetKeyContainerFlag();
      }
    }
  }
  return ContainerAfterAction(heap, c, reply, p->partId, p->partOrder);
}

int32 ContainerOOffsetMethod(ObjHeap heap, int32 c, Point by) {
  const int32 err = DDOOOffsetMethod(heap, c, by);
  if (err || !IsContainer(heap, c)) return err;
  UHandle rec = Record(heap, c);
  if (HasObject(rec)) {
    const Rect r = ObjectBounds(heap, c);
    SetBounds(rec, &r);
  }
  return 0;
}

int32 ContainerOCopyMethod(ObjHeap src, int32 c, ObjHeap dst, int32 offset, int32 flags) {
  if (!IsContainer(src, c) || OHBlockMarkWord(src, c)) return 0;
  if (const int32 err = DDOOCopyMethod(src, c, dst, offset, flags)) return err;
  const int32 copy = int32(OHBlockMarkWord(src, c));
  if (!IsContainer(dst, copy)) return 0;
  // The copy holds nothing of the source's until its own are made.
  ObjSetWord(dst, copy, kContainerRecordWord, 0);
  ObjSetWord(dst, copy, kContainerSavedWord, 0);
  UHandle rec = Record(src, c);
  if (rec && HasObject(rec)) {
    Point by;
    std::memcpy(&by, &offset, sizeof by);
    Rect bounds = ObjectBounds(src, c);
    bounds = Rect{Pin16(bounds.top + by.v), Pin16(bounds.left + by.h), Pin16(bounds.bottom + by.v),
                  Pin16(bounds.right + by.h)};
    const WindowRef window = VIKind(dst) == kVIKindRoot ? 0 : PanelWindow(dst);
    UHandle saved = HandleWord(src, c, kContainerSavedWord);
    bool ok = true;
    if (saved && (!AZIsHandle(saved) || AZHandToHand(&saved) != kNoErr)) ok = false, saved = nullptr;
    UHandle newRec = nullptr;
    if (ok && DupRecord(rec, &newRec) != kNoErr) ok = false;
    if (ok) {
      SetHandleWord(dst, copy, kContainerRecordWord, newRec);
      if (Save(rec, &saved) != kNoErr) ok = false;
      SetHandleWord(dst, copy, kContainerSavedWord, saved);
    }
    if (ok) {
      ContainerAmbient ambient;
      ContainerAmbientInfo(dst, copy, &ambient);
      int32 loadFlags = 0;
      MgErr err = Load(saved, &newRec, window, &ambient, &bounds, &loadFlags);
      if (!err && (loadFlags & 1)) SizeToObject(dst, copy, newRec);
      if (!err) Activate(newRec, 1);
      else if (err != kContainerBadRecord) Destroy(newRec);
    } else if (saved && !HandleWord(dst, copy, kContainerSavedWord)) {
      AZDisposeHandle(saved);
    }
  } else if (rec && AZIsHandle(rec)) {
    // A record without an object: the copy gets its own.
    UHandle newRec = rec;
    if (AZHandToHand(&newRec) == kNoErr) SetHandleWord(dst, copy, kContainerRecordWord, newRec);
    UHandle saved = HandleWord(src, c, kContainerSavedWord);
    if (saved && AZIsHandle(saved) && AZHandToHand(&saved) == kNoErr) SetHandleWord(dst, copy, kContainerSavedWord, saved);
  }
  const int32 image = ObjWord(dst, copy, kContainerImageWord);
  if (image && FPCheckImageRef(image) != kNoErr) ObjSetWord(dst, copy, kContainerImageWord, 0);
  return 0;
}

int32 ContainerOSelectMethod(ObjHeap heap, int32 c, int32 code, EditMsgRecord* rec) {
  if (!IsContainer(heap, c)) return 0;
  UHandle r = Record(heap, c);
  if (code == kSelPublish) {
    if (HasObject(r)) {
      const int32 refnum = gHooks.updateDispatch ? gHooks.updateDispatch(r) : 0;
      const int32 owner = ObjWord(heap, c, kObjOwner / 4);
      UHandle ds = nullptr;
      const int32 at = OGetDataPtr(heap, c, 0, kDataPtrOperate, &ds);
      if (ds && at >= 0 && int64(at) + 4 <= DSGetHandleSize(ds)) PutNative32(*ds + at, uInt32(refnum));
      if (Running(heap) && owner) FPUpdateTransferSlot(heap, owner);
      ClearFlags(heap, c, kContainerUnpublished);
      if (owner) ClearFlags(heap, owner, kContainerUnpublished);
      ContainerAmbient a;
      ContainerAmbientInfo(heap, c, &a);
      AmbientFore(r, a.foreground);
      AmbientBack(r, a.background);
      AmbientName(r, a.textRecord);
      AmbientFont(r, NameRecord(heap, c, kContainerLabel));
      if (Flags(heap, c) & kContainerSizeToObject) SizeToObject(heap, c, r);
    }
    ClearFlags(heap, c, kContainerSizeToObject);
  }
  // The strings of messages 52 and 53: the object's own text step reads the
  // whole object by its class's order, its label included (the generic
  // handler would read it a second time).  The request's part words lie
  // where the edit record's do.
  if (code == kSelExport || code == kSelImport) {
    const int32 reply = VIStrImportObjText(heap, c, code, rec);
    if (reply & kReplyStop) return reply;
    return ContainerAfterAction(heap, c, reply, rec ? rec->hitPartId : 0, rec ? rec->hitPartOrder : 0);
  }
  // The generic handler reads its record: a code sent without one gets a blank one.
  EditMsgRecord blank{};
  int32 reply = DDOOSelectMethod(heap, c, code, rec ? rec : &blank);
  if ((code == kSelFontA || code == kSelFontB) && rec && HasObject(r)) {
    const int32 id = rec->hitPartId;
    if (id == kContainerCaption || id == kContainerLabel) AmbientFont(r, NameRecord(heap, c, id));
  }
  if (reply & kReplyStop) return reply;
  return ContainerAfterAction(heap, c, reply, rec ? rec->hitPartId : 0, rec ? rec->hitPartOrder : 0);
}

int32 ContainerOColorChangeMethod(ObjHeap heap, int32 c, int32 partId, int32 partOrder, DColor fore, DColor back,
                                  int32 flags) {
  if (!IsContainer(heap, c) || partId != kContainerCellArea) return 0;
  // The cell area keeps the colours it is given: they are the object's
  // ambient colours from then on.
  ColorChangePartById(heap, c, partId, partOrder, fore, back, flags);
  UHandle rec = Record(heap, c);
  if (!HasObject(rec)) return 0;
  const DColor panel = ctrl::PanelBackground(heap);
  if (back == kTransparentColor) back = panel;
  bool sent = false;
  if (flags & kColorFore) AmbientFore(rec, fore == kTransparentColor ? panel : fore), sent = true;
  if (flags & kColorBack) AmbientBack(rec, back), sent = true;
  if (sent) ContainerAdoptWindow(heap, c);
  return 0;
}

int32 ContainerOModeChangeMethod(ObjHeap heap, int32 c, int32) {
  UHandle rec = Record(heap, c);
  int32 flags = 0;
  if (rec && GetFlags(rec, &flags) == kNoErr && (flags & 1)) OInval(heap, c, kInvalAll);
  return 0;
}

int32 ContainerOPopupMethod(ObjHeap heap, int32 c, PopupMsgRecord* rec) {
  int32 reply = 0;
  if (IsContainer(heap, c) && Running(heap)) {
    reply = DDOOPopupMethod(heap, c, rec);
    if (!reply && rec) ++rec->level;
  }
  WMarkMsgHandled();
  return reply;
}

// ---- The size property ------------------------------------------------------------------------

namespace {

// The table: a cluster of two U32, in memory order.
const std::vector<uChar>& SizeTable() {
  static const std::vector<uChar> t = [] {
    std::vector<uChar> b{0, 0, kTDCluster, 0, 2, 0};
    for (int i = 0; i < 2; ++i) b.insert(b.end(), {4, 0, kTDU32, 0});
    const uInt16 n = uInt16(b.size());
    std::memcpy(b.data(), &n, 2);
    return b;
  }();
  return t;
}

}  // namespace

int32 ContainerAttr(ObjHeap heap, int32 c, AttrCallRec* rec) {
  if (!IsContainer(heap, c) || !rec || !rec->value) return 0;
  const int32 index = rec->selector;
  if (index < 0 || index >= kContainerAttrCount) {
    DBPrintf("bad index in container attr %ld", long(index));
    return 0;
  }
  uInt32* value = static_cast<uInt32*>(rec->value);
  const Rect b = BoundsOf(heap, c);
  const int32 width = b.right - b.left, height = b.bottom - b.top;
  if (rec->read) {
    if (index == 0) value[0] = uInt32(width), value[1] = uInt32(height);
    else value[0] = uInt32(index == 1 ? width : height);
    return 0;
  }
  auto pin = [](uInt32 v) { return int32(std::min<uInt32>(v, kContainerMaxSize)); };
  const int32 w = index == 2 ? width : pin(value[0]);
  const int32 h = index == 0 ? pin(value[1]) : index == 2 ? pin(value[0]) : height;
  if (w == width && h == height) return 0;
  OInval(heap, c, kInvalAll);
  // Half of each change on either side, so the size is exactly the one asked.
  const int32 left = b.left - (w - width) / 2, top = b.top - (h - height) / 2;
  const Rect r{Pin16(top), Pin16(left), Pin16(top + h), Pin16(left + w)};
  const int32 err = OSize(heap, c, &r, 0);
  UHandle object = Record(heap, c);
  if (HasObject(object)) {
    const Rect ob = ObjectBounds(heap, c);
    SetBounds(object, &ob);
  }
  OInval(heap, c, kInvalAll);
  return err | kSizeReply;
}

int32 ContainerOCtrlOpMethod(ObjHeap heap, int32 c, AttrCallRec* rec, int32 op) {
  int32 reply = DDOOCtrlOpMethod(heap, c, rec, op);
  if (!op || !rec || rec->selector < 0) return reply;
  if (rec->selector < kContainerAttrCount) {
    if (op != 1) DBAssert(kSource, __LINE__, "container property: operation other than 1");
    else reply |= ContainerAttr(heap, c, rec);
    rec->selector = -1;
  } else {
    rec->selector -= kContainerAttrCount;
  }
  return reply;
}

// ---- Start-up ---------------------------------------------------------------------------------

namespace {
template <auto M>
ObjMethodAddr ContainerOnly(int32 cls) {
  return cls == kClsContainerId ? reinterpret_cast<ObjMethodAddr>(M) : ObjMethodAddr(nullptr);
}
}  // namespace

void ControlsJoinContainerSlots() {
  SetAttrTable(kContainerAttrTable, reinterpret_cast<const TypeDescriptor*>(SizeTable().data()), &ContainerAttr);
  ObjJoinSlot(kMsgOSwap, &ContainerOnly<&ContainerOSwapMethod>);
  ObjJoinSlot(kMsgOInit, &ContainerOnly<&ContainerOInitMethod>);
  ObjJoinSlot(kMsgOClick, &ContainerOnly<&ContainerOClickMethod>);
  ObjJoinSlot(kMsgODoit, &ContainerOnly<&ContainerODoitMethod>);
  ObjJoinSlot(kMsgOCtrlOp, &ContainerOnly<&ContainerOCtrlOpMethod>);
  ObjJoinSlot(kMsgOLoad, &ContainerOnly<&ContainerOLoadMethod>);
  ObjJoinSlot(kMsgODispose, &ContainerOnly<&ContainerODisposeMethod>);
  ObjJoinSlot(kMsgOInsert, &ContainerOnly<&ContainerOInsertMethod>);
  ObjJoinSlot(kMsgODraw, &ContainerOnly<&ContainerODrawMethod>);
  ObjJoinSlot(kMsgOColorChange, &ContainerOnly<&ContainerOColorChangeMethod>);
  ObjJoinSlot(kMsgOOffset, &ContainerOnly<&ContainerOOffsetMethod>);
  ObjJoinSlot(kMsgOCopy, &ContainerOnly<&ContainerOCopyMethod>);
  ObjJoinSlot(kMsgOPopup, &ContainerOnly<&ContainerOPopupMethod>);
  ObjJoinSlot(kMsgOModeChange, &ContainerOnly<&ContainerOModeChangeMethod>);
  // Heap conversion reaches the class's converter directly.
  SetObjSwapProc(kClsContainerId, &ContainerOSwapMethod);
}
