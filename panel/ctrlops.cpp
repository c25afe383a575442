#include "panel/ctrlops.h"

#include "engine/datamgr.h"
#include "engine/panelrec.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/virecord.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/datageom.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/objload.h"
#include "panel/oinval.h"
#include "panel/operate_internal.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"

using opmeth::Flags;
using opmeth::IsObject;

namespace {

constexpr int16 kPartIncrement = 2, kPartDecrement = 3, kPartSlideArrowA = 6, kPartSlideArrowB = 7;
constexpr int16 kPartOwnControl = 8001, kPartInner = 8010, kPartContent = 28, kPartLabel = 16;
constexpr int32 kElementWord = 10;  // a cluster's element list; an array's element; a refnum's inner object

CtrlOpsShellHooks gHooks;

// Nested sends along part lists from files end: their depth is bounded by
// the heap's blocks.
int32 gDepth = 0;
int32 BlockBound(ObjHeap heap) { return int32((OHWord(heap, kOHEndOffset) + 1) / 16) + 1; }

int32 Send(ObjHeap heap, int32 object, int32 on) {
  if (!IsObject(heap, object) || gDepth >= BlockBound(heap) || gDepth >= 200) return 0;
  if (OFindMethod(heap, object, kMsgOSetIndicator) == reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) return 0;
  ++gDepth;
  const int32 r = OSetIndicator(heap, object, on);
  --gDepth;
  return r;
}

bool Has(ObjHeap heap, int32 o, int32 bytes) { return IsObject(heap, o) && OHBlockSize(heap, o) >= bytes; }

// Every entry of a list word of the object (checked against its block).
template <typename Visit>
void ForEachIn(ObjHeap heap, int32 object, int32 word, Visit visit) {
  if (!Has(heap, object, 4 * (word + 1))) return;
  for (int32 i = 0; i < PanelListCount(heap, ObjWord(heap, object, word)); ++i) {
    const int32 list = ObjWord(heap, object, word);
    if (i >= PanelListCount(heap, list)) break;
    const int32 o = ObjListGet(heap, list, i);
    if (o != object) visit(o);
  }
}

// Invalidates, sizes and invalidates the object again.
void Resize(ObjHeap heap, int32 object) {
  OInval(heap, object, kInvalAll);
  OSize(heap, object, nullptr, 0);
  OInval(heap, object, kInvalAll);
}

// Numerics, colour boxes, rings and ramps: the basic step, and the
// increment and decrement arrows shown for a control, hidden for an
// indicator.
int32 NumericParts(ObjHeap heap, int32 object, int32 on) {
  int32 changed = BasicSetIndicator(heap, object, on);
  changed |= SetPartIdVisible(heap, object, kPartIncrement, on ? 0 : 1);
  changed |= SetPartIdVisible(heap, object, kPartDecrement, on ? 0 : 1);
  return changed != 0;
}

int32 BasicMethod(ObjHeap heap, int32 object, int32 on) { return BasicSetIndicator(heap, object, on); }

int32 ControllerMethod(ObjHeap heap, int32 controller, int32 on) {
  int32 changed = 0;
  if (Has(heap, controller, 4 * (kPWDCODisplay + 1))) changed = Send(heap, ObjWord(heap, controller, kPWDCODisplay), on);
  return (BasicSetIndicator(heap, controller, on) | changed) != 0;
}

int32 GrouperMethod(ObjHeap heap, int32 grouper, int32 on) {
  int32 changed = 0;
  ForEachIn(heap, grouper, kObjPartList / 4, [&](int32 part) { changed |= Send(heap, part, on); });
  if (changed) OSize(heap, grouper, nullptr, 0);
  return changed != 0;
}

int32 ClusterMethod(ObjHeap heap, int32 cluster, int32 on) {
  int32 changed = 0;
  ForEachIn(heap, cluster, kElementWord, [&](int32 element) { changed |= Send(heap, element, on); });
  ClusterFitFrame(heap, cluster, 0);
  return (BasicSetIndicator(heap, cluster, on) | changed) != 0;
}

int32 ArrayMethod(ObjHeap heap, int32 array, int32 on) {
  int32 changed = 0;
  if (Has(heap, array, 4 * (kElementWord + 1))) {
    const int32 element = ObjWord(heap, array, kElementWord);
    changed = element != array ? Send(heap, element, on) : 0;
    if (changed && !ArrayFitFrame(heap, array)) {
      if (const int32 content = FindPart(heap, array, kPartContent, 0)) OInval(heap, content, kInvalAll);
    }
  }
  return (BasicSetIndicator(heap, array, on) | changed) != 0;
}

int32 TextMethod(ObjHeap heap, int32 object, int32 on) {
  const int32 changed = BasicSetIndicator(heap, object, on);
  if (changed) OInval(heap, object, kInvalAll);
  return changed;
}

int32 NumericMethod(ObjHeap heap, int32 object, int32 on) {
  const int32 changed = NumericParts(heap, object, on);
  if (changed) Resize(heap, object);
  return changed;
}

int32 SlideMethod(ObjHeap heap, int32 slide, int32 on) {
  int32 changed = 0;
  if (!(Flags(heap, slide) & kSlideKeepsArrows)) {
    changed |= SetPartIdVisible(heap, slide, kPartSlideArrowA, on ? 0 : 1);
    changed |= SetPartIdVisible(heap, slide, kPartSlideArrowB, on ? 0 : 1);
  }
  changed |= SetIndicatorOnParts(heap, slide, kPartOwnControl, on);
  changed |= NumericParts(heap, slide, on);
  if (changed) Resize(heap, slide);
  return changed != 0;
}

int32 RefNumMethod(ObjHeap heap, int32 refnum, int32 on) {
  int32 changed = 0;
  if (Has(heap, refnum, 4 * (kPWRefNumContained + 1))) {
    const int32 inner = ObjWord(heap, refnum, kPWRefNumContained);
    if (inner != refnum) changed = Send(heap, inner, on);
  }
  RefNumFitFrame(heap, refnum);
  return (BasicSetIndicator(heap, refnum, on) | changed) != 0;
}

int32 TypeDefMethod(ObjHeap heap, int32 typeDef, int32 on) {
  const int32 changed = Send(heap, FindPart(heap, typeDef, kPartInner, 0), on);
  if (changed) OSize(heap, typeDef, nullptr, 0);
  return (BasicSetIndicator(heap, typeDef, on) | changed) != 0;
}

const TypeDescriptor* TypeOfObject(ObjHeap heap, int32 object) {
  const TypeID id = OGetType(heap, object);
  return id ? TypeIDGetTD(heap, id, 0) : nullptr;
}
UPtr DataOf(ObjHeap heap, int32 object, int32 mode) {
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, object, 0, mode, nullptr))));
}

// Whether the two descriptions differ (none and an empty one differ).
bool Differs(UHandle a, UHandle b) {
  if (!a || !b) return a != b;
  return LStrCmp(reinterpret_cast<const LStr*>(*a), reinterpret_cast<const LStr*>(*b)) != 0;
}

}  // namespace

int32 BasicSetIndicator(ObjHeap heap, int32 object, int32 on) {
  if (!IsObject(heap, object)) return 0;
  const uInt32 flags = Flags(heap, object);
  if (on && !(flags & kObjFlagIndicator)) {
    ObjSetWord(heap, object, 0, int32(flags | kObjFlagIndicator));
    return 1;
  }
  if (!on && (flags & kObjFlagIndicator)) {
    ObjSetWord(heap, object, 0, int32(flags & ~kObjFlagIndicator));
    return 1;
  }
  return 0;
}

int32 SetIndicatorOnParts(ObjHeap heap, int32 object, int32 partId, int32 on) {
  int32 changed = 0;
  ForEachPart(heap, object, [&](int32 part) {
    if (part != object && ObjInt16(heap, part, kObjPartId) == partId) changed |= Send(heap, part, on);
  });
  return changed != 0;
}

ObjMethodAddr OSetIndicatorMethodFor(int32 cls) {
  const auto a = [](int32 (*m)(ObjHeap, int32, int32)) { return reinterpret_cast<ObjMethodAddr>(m); };
  switch (cls) {
    case kClsDataController: case kClsDataDisplayObject: case kClsBoolean: case kClsTable: case kClsPicture:
    case kClsUserItem: case kClsListbox: case kClsOleVariant: case kClsContainer:
      return a(&BasicMethod);
    case kClsFPDataController: return a(&ControllerMethod);
    case kClsGrouperObject: return a(&GrouperMethod);
    case kClsCluster: return a(&ClusterMethod);
    case kClsArray: return a(&ArrayMethod);
    case kClsString: case kClsPath: case kClsTag: return a(&TextMethod);
    case kClsNumeric: case kClsColorBox: case kClsRing: case kClsColorRamp: return a(&NumericMethod);
    case kClsSlide: case kClsKnob: return a(&SlideMethod);
    case kClsRefNum: return a(&RefNumMethod);
    case kClsTypeDefinition: return a(&TypeDefMethod);
    default: return nullptr;
  }
}

int32 CtrlMakeDefaultOrReinit(ObjHeap heap, int32 object, int32 makeDefault) {
  if (!IsObject(heap, object)) return 1;
  const TypeDescriptor* td = TypeOfObject(heap, object);
  const UPtr operate = DataOf(heap, object, kDataPtrOperate), byDefault = DataOf(heap, object, kDataPtrDefault);
  if (!td || !operate || !byDefault) {
    ErrDialog(kErrNoDefaultOrOperateData, nullptr);
    return 1;
  }
  if (operate == byDefault) return 0;
  if (makeDefault) {
    // A copy that ran out of memory is no change: nothing is marked, and
    // the memory-full condition stays for the main loop's alert.
    if (CopyData(td, operate, byDefault) != kNoErr) return 1;
    VIDocMod(PanelHeapOwner(heap), nullptr, kDocModDefaultData);
    return 0;
  }
  if (CopyData(td, byDefault, operate) != kNoErr) return 1;
  OInval(heap, object, kInvalValue);
  return 0;
}

int32 CtrlVIGetSetupFlag13(UHandle vi) { return gHooks.viGetSetupFlag13 ? gHooks.viGetSetupFlag13(vi) : 0; }

CtrlOpsShellHooks SetCtrlOpsShellHooks(const CtrlOpsShellHooks& hooks) {
  const CtrlOpsShellHooks old = gHooks;
  if (hooks.descriptionDialog) gHooks.descriptionDialog = hooks.descriptionDialog;
  if (hooks.viGetSetupFlag13) gHooks.viGetSetupFlag13 = hooks.viGetSetupFlag13;
  if (hooks.helpUpdateIfShowing) gHooks.helpUpdateIfShowing = hooks.helpUpdateIfShowing;
  return old;
}

void EditCtrlDescription(ObjHeap heap, int32 object, int32 hint) {
  if (!IsObject(heap, object)) return;
  Str255 label;
  label[0] = 0;
  if (const int32 part = FindPart(heap, object, kPartLabel, 0)) PartTextToPStr(heap, part, label);
  const bool typeDef = ObjClass(heap, object) == kClsTypeDefinition;
  const int32 holder = typeDef ? FindPart(heap, object, kPartInner, 0) : object;
  if (!Has(heap, holder, kObjDescription + 4)) return;
  const UHandle vi = PanelHeapOwner(heap);
  const bool editable = (opmeth::OwnerMode(heap) & kOwnerModeEditable) &&
                        (!gHooks.viGetSetupFlag13 || gHooks.viGetSetupFlag13(vi) == 0);
  if (!gHooks.descriptionDialog) return;
  UHandle old = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, holder, kObjDescription / 4))));
  if (old && AZCheckHandle(old) != kNoErr) old = nullptr;
  UHandle edited = old;
  if (edited && AZHandToHand(&edited) != kNoErr) return;
  const int32 changed = gHooks.descriptionDialog(label, &edited, editable ? 0 : 1, hint ? 1 : 0);
  const bool marks = !(vi && *vi && (VIRec(vi)->flags & kVIFlagNoDocMod));
  if (!changed || !marks || !Differs(edited, old)) {
    if (edited) AZDisposeHandle(edited);
    return;
  }
  VIDocMod(vi, nullptr, kDocModDescription);
  if (old) AZDisposeHandle(old);
  ObjSetWord(heap, holder, kObjDescription / 4, int32(uintptr_t(edited)));
  if (typeDef) ObjSetWord(heap, object, 0, int32(Flags(heap, object) | kTypeDefDescribed));
  if (gHooks.helpUpdateIfShowing) gHooks.helpUpdateIfShowing(heap, object);
}

int32 ObjClickOperates(ObjHeap heap, int32 object) {
  if (!IsObject(heap, object)) return 0;
  if (opmeth::OwnerMode(heap) & kVIFlags2RetrievalMode) return IsOperatePartId(ObjInt16(heap, object, kObjPartId));
  return (Flags(heap, object) & kObjFlagIndicator) ? 0 : 1;
}
