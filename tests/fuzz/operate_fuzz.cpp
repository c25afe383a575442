// Booleans, cosmetics, labels, strings, pictures, user items, type
// definitions, groupers, clusters, arrays, refnums, colour boxes, colour
// ramps, paths, numerics, rings, slides and knobs come from stored panels:
// their flags, element words, bounds, image words, part ids, text words,
// item lists and active indexes are whatever the file held, and the frames
// that reach them name any index.
// Presses, moves, releases, keys, Tab, cursor queries, drop tests and
// colour, pop-up and text actions on such a panel read nothing outside a block,
// leave the transaction stack's top where it was, keep the Boolean's value
// 0 or 1, change no more than the numeric control's range state in its range
// word, and leave no handle behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textrec.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

const int32 kClasses[] = {kClsCosmetic,   kClsLabel,   kClsMultiCosmetic,  kClsBigMultiCosmetic,  kClsMultiLabel,
                          kClsBigMultiLabel, kClsSelLabel, kClsDataDisplayObject, kClsPicture, kClsUserItem,
                          kClsTypeDefinition, kClsGrouperObject, kClsString,
                          kClsCluster, kClsArray, kClsRefNum, kClsColorBox, kClsColorRamp, kClsPath,
                          kClsNumeric, kClsRing, kClsSlide, kClsKnob};

void Run(Input& in) {
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::Boolean()}, &vi);
  if (!heap) return;
  if (RegisterVI(vi) != kNoErr) return FuzzDisposePanel(heap, vi);
  const int32 root = FuzzPanelRoot(heap);
  // A Boolean control with its value, and parts of it and of the root.
  const TypeID type = [&] {
    std::vector<uChar> b = tdb::Boolean().Bytes();
    return NewTypeIDForTD(heap, tdb::AsTD(b));
  }();
  const int32 dco =
      vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root);
  const int32 b = vib::NewObject(heap, kClsBoolean, ClassRecord(kClsBoolean)->instanceSize);
  if (!type || !dco || !b) {
    UnregisterVI(vi);
    return FuzzDisposePanel(heap, vi);
  }
  ObjSetWord(heap, b, kPWOwner, dco);
  ObjSetWord(heap, dco, kPWDCOTypeId, int32(type));
  ObjSetWord(heap, b, kPWDDOTypeId, int32(type));
  ObjSetWord(heap, dco, kPWDCODisplay, b);
  const Rect whole{0, 0, 90, 90};
  std::memcpy(*heap + b + kObjBounds, &whole, sizeof whole);
  // An I32 numeric control with its value: parts may be made under it.
  const TypeID i32 = [&] {
    std::vector<uChar> bytes = tdb::I32().Bytes();
    return NewTypeIDForTD(heap, tdb::AsTD(bytes));
  }();
  const int32 ndco =
      vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root);
  const int32 num = vib::NewObject(heap, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize);
  if (!i32 || !ndco || !num) {
    UnregisterVI(vi);
    return FuzzDisposePanel(heap, vi);
  }
  ObjSetWord(heap, num, kPWOwner, ndco);
  ObjSetWord(heap, ndco, kPWDCOTypeId, int32(i32));
  ObjSetWord(heap, num, kPWDDOTypeId, int32(i32));
  ObjSetWord(heap, ndco, kPWDCODisplay, num);
  std::memcpy(*heap + num + kObjBounds, &whole, sizeof whole);
  ObjSetWord(heap, num, 8, int32(in.Word()));  // its range mode and state
  const bool data = AllocObjDataSpace(heap, dco) == kNoErr && AllocObjDataSpace(heap, ndco) == kNoErr;
  if (DSAllocCurrentState()->active) AllocEndPass();
  std::vector<int32> objects{b, num};
  std::vector<TRecord> texts;
  std::vector<UHandle> lists;
  for (int32 k = in.Byte() % 8; k > 0; --k) {
    const int32 cls = kClasses[in.Byte() % (sizeof kClasses / sizeof kClasses[0])];
    const uint8_t who = in.Byte();
    const int32 owner = who & 1 ? (who & 2 ? num : b) : root;
    const int16 id = int16(in.Byte() < 200 ? in.Byte() % 70 : int16(in.Word()));
    const int32 size = 28 + 4 * (in.Byte() % 12);
    const int32 o = vib::NewObject(heap, cls, size, owner, id, int16(in.Byte() % 3));
    if (!o) break;
    objects.push_back(o);
    ObjSetWord(heap, o, 0, int32(in.Word()));
    const Rect r{int16(in.Byte() % 60), int16(in.Byte() % 60), int16(in.Byte() % 90), int16(in.Byte() % 90)};
    std::memcpy(*heap + o + kObjBounds, &r, sizeof r);
    for (int32 word = 6; word * 4 + 4 <= size; ++word) {
      const uint8_t kind = in.Byte() % 4;
      int32 value = int32(in.Word());
      if (word == kPWLabelText && kind == 0) {
        const uChar bytes[] = "text";
        if (TRecord t = TNew(&r, in.Byte() % 5, bytes, in.Byte() % 5, kAppFont, 0, kTransparentColor)) {
          texts.push_back(t);
          value = int32(uintptr_t(t));
        }
      } else if (word == 11 && kind == 0) {
        if (UHandle h = AZNewHClr(4 + in.Byte() % 12)) {
          for (int32 i = 0; i < AZGetHandleSize(h); ++i) (*h)[i] = in.Byte() % 4;
          lists.push_back(h);
          value = int32(uintptr_t(h));
        }
      } else if (kind == 1) {
        value %= 8;
      } else if ((word == 10 || word == 11) && kind == 2) {
        // A container's element, inner object or element list: any object
        // made so far (itself included), or a list of some of them.
        std::vector<int32> some;
        for (int32 x : objects)
          if (in.Byte() & 1) some.push_back(x);
        value = in.Byte() & 1 ? objects[in.Byte() % objects.size()] : vib::NewList(heap, some);
      }
      ObjSetWord(heap, o, word, value);
    }
  }
  // The controller list Tab walks: the controller among parts, or any word.
  std::vector<int32> items{dco};
  for (size_t i = 1; i < objects.size(); ++i) items.push_back(objects[i]);
  ObjSetWord(heap, root, 10, in.Byte() & 1 ? vib::NewList(heap, items) : int32(in.Word() % 4096));
  PutNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtDialogFilter, in.Byte() & 1);
  VIRec(vi)->flags2 = in.Word() & 0x4080000;
  SetEnclosingTypeDef(in.Byte() & 1);
  const uInt32 rangeWord = uInt32(ObjWord(heap, num, 8));
  void* const before = TRStackTop();
  void* const previous = TRPushFrame();
  auto* top = static_cast<TransactionFrame*>(TRStackTop());
  for (int32 op = in.Byte() % 24; op > 0 && in.n && top; --op) {
    const uint8_t pick = in.Byte();
    const int32 o = pick % 8 == 7 ? dco : objects[pick % objects.size()];
    ActionParams p{};
    p.point = Point{int16(in.Byte() % 90), int16(in.Byte() % 90)};
    p.eventCode = in.Byte() % 9;
    p.localPoint = int32(in.Byte() % 90) | int32(in.Byte() % 90) << 16;
    p.modifiers = in.Byte() & 0x402;
    p.character = in.Byte();
    p.keyCode = in.Byte() % 45;
    p.partId = in.Byte() % 70;
    p.arrowDirection = int16(in.Byte() % 5);  // an arrow held from an earlier event
    p.window = in.Byte() & 1 ? 0x40 + in.Byte() % 6 : -2;  // a chosen format
    const uint8_t road = in.Byte();
    if (road % 5 == 4) {
      top[0] = TransactionFrame{root, kCatFPSC, road & 8 ? 1 : 3, int32(int8_t(in.Byte()))};
      top[1] = TransactionFrame{0, road & 16 ? kCatDCO : 0, 0, 0};
      FPNextKeyFocus(heap, top, &p);
    } else if (road & 1) {
      TransactionState s{in.Byte() % 24, 0, 0, nullptr};
      std::memcpy(&s.point, &p.point, sizeof p.point);
      if (s.mode == kClickDropTest) std::memset(&p.eventCode, 0, 28);  // an empty drag record
      OSendMessage<int32>(kMsgOClick, heap, pick % 8 == 6 ? root : o, &s, top, &p);
    } else {
      const int32 to = pick % 8 == 6 ? root : o;
      const uInt32 kind = to == root ? kCatFPSC : to == b ? kCatDDO : to == dco ? kCatDCO : kCatCOSM;
      top[0] = TransactionFrame{to, kind, in.Byte() % 4, int32(int8_t(in.Byte()))};
      const int32 part = int32(in.Byte() % objects.size());
      top[1] = TransactionFrame{in.Byte() & 1 ? objects[size_t(part)] : 0, kCatCOSM, 2, 0};
      top[2] = TransactionFrame{};
      const int32 actions[] = {4, 6, 12, 14, 15, 34, 21, 27, 42, 43, 99, 22};
      const int32 action = actions[in.Byte() % 12];
      // The panel command, drops on the panel and data operations are not
      // the root's own yet.
      if (to == root && action == 12) continue;
      if (action == 12 || action == 34) std::memset(&p.eventCode, 0, 28);
      OSendMessage<int32>(kMsgODoit, heap, to, top, action, &p);
    }
    FUZZ_CHECK(TRStackTop() == top);
    // Range re-checks change only the numeric's range state.
    FUZZ_CHECK((uInt32(ObjWord(heap, num, 8)) & ~0xCu) == (rangeWord & ~0xCu));
    if (data) {
      const UPtr value = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, b, 0, kDataPtrOperate, nullptr))));
      FUZZ_CHECK(value && *value <= 1);
    }
  }
  TRSetStackTop(previous);
  FUZZ_CHECK(TRStackTop() == before);
  SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
  TrackState(0, nullptr, 1);
  SetEnclosingTypeDef(0);
  // The key focus a Boolean or label took, with its saved frames.
  UPtr ext = *heap + int32(OHWord(heap, kOHExtension));
  if (UHandle saved = reinterpret_cast<UHandle>(uintptr_t(GetNative32(ext + kHeapExtSavedFrames))))
    AZDisposeHandle(saved);
  for (int32 at : {kHeapExtKeyFocus, kHeapExtFocusText, kHeapExtSavedFrames}) PutNative32(ext + at, 0);
  THideDropCaret();  // a drop caret a label showed goes before its text
  for (TRecord t : texts) TDispose(t);
  for (UHandle h : lists) AZDisposeHandle(h);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    return FuzzStartPanelManagers() && TRStackBlock() && PanelTextClipboard();
  }();
  if (!init || size > 4096) return 0;
  // What the managers make on first use (fonts, text and data-space
  // tables) stays: the input runs once before the handles are counted
  // around a second run.
  Input first{data, size};
  Run(first);
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  Run(in);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
