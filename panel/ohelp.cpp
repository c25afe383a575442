#include "panel/ohelp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/wport.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {

constexpr int16 kLabelPart = 16, kCaptionPart = 82;
constexpr int32 kFitSteps = 10;
constexpr int32 kLabelGap = 8, kFrameMargin = 4;
constexpr int32 kDrawIntoPicture = 4;
constexpr int32 kEmphasisFont = 3;  // the standard fonts' bold application font
constexpr int32 kClsContainerClass = 175;  // Container

const char kSourceFile[] = "ohelp";
HelpImageTaker gTaker = nullptr;
std::string* gDefaultDescription = nullptr;  // read once from the run-time file

int16 Pin16(int64_t v) { return int16(std::clamp<int64_t>(v, -32768, 32767)); }

bool HasWord(ObjHeap heap, int32 object, int32 byte) {
  return object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= byte + 4;
}

// The bytes of a description handle (a native count, then the bytes); the
// count is trusted only as far as the handle reaches.
std::string LStrText(UHandle h) {
  if (!h || !AZIsHandle(h)) return std::string();
  const int32 size = AZGetHandleSize(h);
  if (size < 4) return std::string();
  const int64_t count = std::clamp<int64_t>(int32(GetNative32(*h)), 0, size - 4);
  return std::string(reinterpret_cast<const char*>(*h) + 4, size_t(count));
}

// The object's own description: a Type Definition keeps it in its control.
std::string DescriptionOf(ObjHeap heap, int32 object) {
  int32 holder = object;
  if (ObjClass(heap, object) == kClsTypeDefinition) holder = FindPart(heap, object, kPartIdTypeDefControl, 0);
  if (!HasWord(heap, holder, kObjDescription)) return std::string();
  return LStrText(reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(holder + kObjDescription)))));
}

const std::string& DefaultDescription() {
  if (!gDefaultDescription) {
    gDefaultDescription = new std::string;
    UHandle h = nullptr;
    if (RGetString(RunTimeRsrcFile(), kHelpNoDescriptionStrId, &h) == kNoErr && h && *h) {
      const int32 size = AZGetHandleSize(h);
      if (size > 0) gDefaultDescription->assign(reinterpret_cast<const char*>(*h) + 1, std::min<int32>((*h)[0], size - 1));
    }
  }
  return *gDefaultDescription;
}

std::string ListEntry(int32 list, int32 index) {
  Str255 s;
  s[0] = 0;
  if (RGetIndString(RunTimeRsrcFile(), s, list, index) != kNoErr) return std::string();
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

// The object's place in the panel's key-navigation table, -1 when none.
int32 KeyNavPlace(ObjHeap heap, int32 object) {
  if (OHWord(heap, kOHKind) != kPanelHeapKind) return -1;
  for (int32 slot = 0; slot < kKeyNavSlots; ++slot) {
    int32 bound = 0;
    if (DlgGetKeyNavItem(heap, slot, &bound) && bound == object) return slot;
  }
  return -1;
}

// The caption, else the label, of the object whose label counts, when its
// text is not blank; 0 for none.
int32 LabelOf(ObjHeap heap, int32 object) {
  int32 owner = object;
  if (HasWord(heap, object, kObjPartId) && ObjInt16(heap, object, kObjPartId) == kPartIdTypeDefControl)
    owner = ObjWord(heap, object, kObjOwner / 4);
  if (!HasWord(heap, owner, kObjPartList)) return 0;
  int32 label = FindPart(heap, owner, kCaptionPart, 0);
  if (!label) label = FindPart(heap, owner, kLabelPart, 0);
  if (!HasWord(heap, label, kObjText)) return 0;
  const TRecord text = TCheckedRecord(OHWord(heap, uInt32(label + kObjText)));
  return text && !TIsBlank(text) ? label : 0;
}

Rect BoundsOf(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}

// The panel's key-focus text put back with drawing clipped to nothing in
// the panel's window: the label drawn into the picture changed nothing there.
void RestashWithoutDrawing(ObjHeap heap) {
  const WindowRef window = viinst::PanelWindow(heap);
  if (!window) {
    HeapStashText(heap, 0);
    return;
  }
  WPortState port{};
  WSetup(window, &port);
  const Rect none{0, 0, 0, 0};
  Rect saved{0, 0, 0, 0};
  WSetClipRect(&none, &saved);
  HeapStashText(heap, 0);
  WRestoreClip(&saved);
  WRestore(&port);
}

void Hand(int32 picture) {
  if (gTaker) gTaker(picture);
  else IRelease(picture);
}

int32 FrontPanelOHelpMethod(ObjHeap, int32) { return 1; }

int32 GraphOHelpMethod(ObjHeap heap, int32 object, int32 part) { return DDOOHelpMethod(heap, object, part); }

// The controller answers for its data display object.
int32 FPDCOOHelpMethod(ObjHeap heap, int32 dco, int32 part) {
  if (!HasWord(heap, dco, kDCODisplay)) return 0;
  const int32 ddo = ObjWord(heap, dco, kDCODisplay / 4);
  if (ddo <= 0 || !OHIsUsedBlock(heap, ddo)) return 0;
  return OSendMessage<int32>(kMsgOHelp, heap, ddo, part);
}

}  // namespace

void SetHelpImageTaker(HelpImageTaker taker) { gTaker = taker; }
HelpImageTaker HelpImageTakerInUse() { return gTaker; }

void HelpForgetDefaultDescription() {
  delete gDefaultDescription;
  gDefaultDescription = nullptr;
}

TRecord HelpStyledText(const Rect* rect, const uChar* text, int32 length) {
  static const char kOn[] = "<B>", kOff[] = "</B>";
  std::string plain;
  std::vector<std::pair<int32, int32>> emphasised;  // [start, end) of the plain text
  bool on = false;
  int32 start = 0;
  for (int32 i = 0; text && i < length;) {
    const char* at = reinterpret_cast<const char*>(text) + i;
    if (length - i >= 3 && std::memcmp(at, kOn, 3) == 0) {
      if (!on) start = int32(plain.size());
      on = true;
      i += 3;
    } else if (length - i >= 4 && std::memcmp(at, kOff, 4) == 0) {
      if (on && int32(plain.size()) > start) emphasised.push_back({start, int32(plain.size())});
      on = false;
      i += 4;
    } else {
      plain.push_back(*at);
      ++i;
    }
  }
  if (on && int32(plain.size()) > start) emphasised.push_back({start, int32(plain.size())});
  const Rect none{0, 0, 0, 0};
  TRecord r = TNew(rect ? rect : &none, kTRKindWordWrap, reinterpret_cast<const uChar*>(plain.data()),
                   int32(plain.size()), kAppFont, kBlackColor, kTransparentColor);
  if (!r) return nullptr;
  const int32 bold = TStandardFont(kEmphasisFont);
  if (bold >= 0) {
    for (const auto& [from, to] : emphasised) {
      TSelectText(r, from, to);
      if (TSetFontInRange(r, bold, kFontMaskAll) != kNoErr) {
        TDispose(r);
        return nullptr;
      }
    }
  }
  TSelectText(r, 0, 0);
  return r;
}

int32 HelpTextHeight(TRecord record) {
  TValidateLines(record);
  int64_t height = 0;
  for (int32 i = 0; i < TLineCount(record); ++i) height += TLineAt(record, i).height;
  return int32(std::min<int64_t>(height, 0x7FFFFFFF));
}

void HelpBoxSize(int32 w, int32 h, int32 labelWidth, int32* boxH, int32* boxW) {
  const double area = double(std::max(w, 0)) * double(std::max(h, 0)) / 1.62;
  const int64_t height = int64_t(std::max(h, 0)) + int64_t(std::floor(std::sqrt(area)));
  const int64_t pinned = std::min<int64_t>(height, 32767);
  if (boxH) *boxH = int32(pinned);
  if (boxW) *boxW = int32(std::min<int64_t>(std::max<int64_t>(labelWidth, pinned * 13 / 8), 32767));
}

void HelpFitText(TRecord record, int32 h, Rect* rect) {
  Rect r = *rect;
  bool fits = HelpTextHeight(record) <= r.bottom - r.top;
  for (int32 step = 0; step < kFitSteps && !fits; ++step) {
    r.bottom = Pin16(int64_t(r.bottom) + h);
    r.right = Pin16(int64_t(r.right) + int64_t(h) * 13 / 8);
    TSetRect(record, &r);
    fits = HelpTextHeight(record) <= r.bottom - r.top;
  }
  if (!fits) {
    r.bottom = Pin16(int64_t(r.top) + HelpTextHeight(record));
    TSetRect(record, &r);
    DBPrintf("DDOOHelp: Weird description taking too long too fit");
  }
  *rect = r;
}

int32 DDOOHelpMethod(ObjHeap heap, int32 object, int32 /*part*/) {
  if (!heap || !*heap || !HasWord(heap, object, kObjPartList)) return 0;
  std::string text = DescriptionOf(heap, object);
  if (text.empty()) text = DefaultDescription();
  if (text.empty()) return 0;
  const int32 place = KeyNavPlace(heap, object);
  if (place >= 0)
    text = ListEntry(kHelpKeyNavTitleList, 1) + ": " + ListEntry(kHelpKeyNameList, place + 1) + " \n\n" + text;

  const int32 label = LabelOf(heap, object);
  bool wasHidden = false;
  Rect labelRect{0, 0, 0, 0};
  if (label) {
    const uInt32 flags = OHWord(heap, uInt32(label));
    wasHidden = flags & kObjFlagHidden;
    OHSetWord(heap, uInt32(label), flags & ~kObjFlagHidden);
    labelRect = BoundsOf(heap, label);
  }
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), kAppFont, &size);
  int32 boxH = 0, boxW = 0;
  HelpBoxSize(size.h, size.v, labelRect.right - labelRect.left, &boxH, &boxW);
  const int32 top = labelRect.bottom + kLabelGap;
  Rect textRect{Pin16(top), labelRect.left, Pin16(int64_t(top) + boxH), Pin16(int64_t(labelRect.left) + boxW)};

  int32 picture = 0;
  TRecord record = HelpStyledText(&textRect, reinterpret_cast<const uChar*>(text.data()), int32(text.size()));
  if (record) {
    HelpFitText(record, size.v, &textRect);
    Rect frame = textRect;
    DUnionRect(&labelRect, &frame);
    frame = Rect{Pin16(frame.top - kFrameMargin), Pin16(frame.left - kFrameMargin), Pin16(frame.bottom + kFrameMargin),
                 Pin16(frame.right + kFrameMargin)};
    if (ICreatePict(int32(WCurrentPort()), &frame, 0, nullptr, 0, &picture) != kNoErr || !picture) {
      DBPrintf("DDOOHelpMethod: Can't ICreatePict");
      picture = 0;
    } else {
      ImageSaveRecord save{};
      IOpen(picture, &save);
      if (label) ODrawObj(heap, label, 0, 0, kDrawIntoPicture);
      TDraw(record);
      IClose(picture, &save);
    }
    TDispose(record);
  }
  if (label) {
    if (wasHidden) OHSetWord(heap, uInt32(label), OHWord(heap, uInt32(label)) | kObjFlagHidden);
  }
  if (!picture) return 0;
  Hand(picture);
  if (label) RestashWithoutDrawing(heap);
  return 1;
}

UHandle OHelpVIOf(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !HasWord(heap, object, kObjPartList)) return nullptr;
  const ObjClassRecord* record = ClassRecord(ObjClass(heap, object));
  const uInt32 category = record ? record->categoryB : 0;
  if (category == kCatFPSC) return PanelHeapOwner(heap);
  if (category == kCatDCO) {
    if (ObjClass(heap, object) != kClsFPDataController || !HasWord(heap, object, kDCODisplay)) {
      DBAssert(kSourceFile, __LINE__, "OHelpVIOf: a controller of another class");
      return nullptr;
    }
    object = ObjWord(heap, object, kDCODisplay / 4);
    if (!HasWord(heap, object, kObjPartList)) return nullptr;
  } else if (category != kCatDDO) {
    return nullptr;
  }
  // A type definition, or one the object lies in, stands for its own VI.
  for (int32 o = object, depth = 0; o > 0 && depth < 64 && HasWord(heap, o, kObjOwner); ++depth) {
    if (ObjClass(heap, o) == kClsTypeDefinition) return TypeDefGetLink(heap, o);
    o = ObjWord(heap, o, kObjOwner / 4);
  }
  return PanelHeapOwner(heap);
}

Bool32 PanelHasDescription(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const int32 root = viinst::PanelRoot(heap);
  if (!HasWord(heap, root, 4 * kRootObjectListWord)) return 0;
  bool found = false;
  ForEachPart(heap, root, [&](int32 object) {
    if (found || !OHIsUsedBlock(heap, object)) return;
    int32 shown = object;
    if (ObjClass(heap, object) == kClsFPDataController && HasWord(heap, object, kDCODisplay))
      shown = ObjWord(heap, object, kDCODisplay / 4);
    if (HasWord(heap, shown, kObjPartList) && !DescriptionOf(heap, shown).empty()) found = true;
  });
  return found ? 1 : 0;
}

ObjMethodAddr OHelpMethodFor(int32 cls) {
  switch (cls) {
    case kClsFrontPanel: return reinterpret_cast<ObjMethodAddr>(&FrontPanelOHelpMethod);
    case kClsFPDataController: return reinterpret_cast<ObjMethodAddr>(&FPDCOOHelpMethod);
    case kClsGraphChart: return reinterpret_cast<ObjMethodAddr>(&GraphOHelpMethod);
    case kClsDataDisplayObject: case kClsBoolean: case kClsNumeric: case kClsString: case kClsArray:
    case kClsCluster: case kClsRefNum: case kClsColorBox: case kClsRing: case kClsSlide: case kClsKnob:
    case kClsPath: case kClsTable: case kClsPicture: case kClsUserItem: case kClsTypeDefinition:
    case kClsColorRamp: case kClsListbox: case kClsTag: case kClsOleVariant: case kClsContainerClass:
      return reinterpret_cast<ObjMethodAddr>(&DDOOHelpMethod);
    default: return nullptr;
  }
}
