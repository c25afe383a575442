// VIs made in memory without a file (dialogs, the root VI, new VIs), their
// disposal, and the images of the run-time resource file.
#include <cstring>

#include "engine/panelrec.h"
#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viload_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/path.h"

using namespace viinst;

namespace {

constexpr uInt32 kLinkVI = FourCC("QXIN"), kLinkCustomControl = FourCC("QXCC"), kLinkPanel = FourCC("FPHP");

UHandle gRootVI = nullptr;

// Window options of a new VI by kind: the record's word (and the panel's
// first option word), then the panel's second option word.
struct KindOptions {
  uInt16 first, second;
};
KindOptions OptionsOf(int16 kind) {
  switch (kind) {
    case 0: return {0, 13};
    case 1: return {0, 14};
    case 3: return {3, 60};
    case 5: return {27, 60};
    case 2: case 4: case 6: case 7: return {31, 60};
    default: return {0, 0};
  }
}

bool InList(int16 kind) { return kind == 2 || kind == 4 || kind == 6 || kind == 7 || kind == 8 || kind == 9; }
bool HasLists(int16 kind) { return kind >= 2 && kind <= 9 && kind != 5; }
uInt32 VILinkClass(int16 kind) { return kind == kVIKindControl ? kLinkCustomControl : kLinkVI; }

UHandle NewListHandle() { return AZNewHClr(8); }

// The datalog binding of a new VI of kind 2; false when memory is short
// (what was made is in the record and disposed with it).
bool NewDatalogBinding(VIRecord* r) {
  if (!(r->logBinding = AZNewHClr(8))) return false;
  if (!(r->logState = AZNewHClr(18))) return false;
  if (!(r->logRecord = AZNewHClr(sizeof(DatalogBindingRec)))) return false;
  DatalogBindingRec rec{};
  bool ok = (rec.logPath = FNotAPath(nullptr)) != nullptr;
  const TypeDescriptor* empty = StdTDTable[kStdTDEmptyCluster];
  if (ok) ok = AZPtrToHand(empty, &rec.recordTD, empty->size) == kNoErr;
  if (ok) ok = (rec.recordData = AZNewHClr(0)) != nullptr;
  if (ok) ok = (rec.controlMap = AZNewHClr(0)) != nullptr;
  std::memcpy(*r->logRecord, &rec, sizeof rec);
  return ok;
}

void DisposeDatalogBinding(VIRecord* r) {
  if (UHandle h = r->logRecord) {
    DatalogBindingRec rec;
    std::memcpy(&rec, *h, sizeof rec);
    if (rec.logPath) FDisposePath(rec.logPath);
    // The record buffer's own handles (strings, arrays) go with it.
    if (rec.recordTD && *rec.recordTD && rec.recordData && *rec.recordData) {
      const int32 tdSize = AZGetHandleSize(rec.recordTD);
      const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*rec.recordTD);
      if (tdSize >= 4 && TDCheckBounds(td, tdSize) == kNoErr) {
        const int32 size = DataSize(td);
        if (size > 0 && size <= AZGetHandleSize(rec.recordData)) DisposeData(td, *rec.recordData, *rec.recordData + size);
      }
    }
    FreeHandle(rec.recordTD);
    FreeHandle(rec.recordData);
    FreeHandle(rec.controlMap);
    FreeHandle(h);
    r->logRecord = nullptr;
  }
  if (UHandle h = r->logState) {
    // The record-number text field at byte 0 and the deletion marks at byte 10.
    FreeHandle(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*h))));
    FreeHandle(reinterpret_cast<UHandle>(uintptr_t(GetNative32(*h + 10))));
    FreeHandle(h);
    r->logState = nullptr;
  }
  FreeHandle(r->logBinding);
  r->logBinding = nullptr;
}

int32 IconOf(const VIRecord* r) { return int32(reinterpret_cast<uintptr_t>(r->icon)); }

void ReleaseIcon(VIRecord* r) {
  if (int32 icon = IconOf(r)) IRelease(icon);
  r->icon = nullptr;
}

// A new panel heap owned by the VI, with its header handle and its root
// object; null when memory is short.
ObjHeap NewPanelHeap(UHandle vi) {
  ObjHeap heap = OHNewHeap(kNewPanelHeapSize, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  if (!heap) return nullptr;
  if (!OHWord(heap, kOHExtension)) {
    OHDisposeHeap(heap);
    return nullptr;
  }
  SetExtWord(heap, kHeapExtOwner, uInt32(uintptr_t(vi)));
  UHandle header = AZNewHClr(kPanelHeaderHandleSize);
  if (!header) {
    OHDisposeHeap(heap);
    return nullptr;
  }
  OHSetWord(heap, kOHPanelHeaderHandle, uInt32(uintptr_t(header)));
  if (auto makeRoot = GetEnginePanelHooks()->newPanelRoot) {
    const int32 root = makeRoot(heap);
    if (!root) {
      AZDisposeHandle(header);
      OHDisposeHeap(heap);
      return nullptr;
    }
    SetExtWord(heap, kHeapExtRoot, uInt32(root));
  }
  return heap;
}

void FreePanelHeap(ObjHeap heap) {
  UHandle header = reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, kOHPanelHeaderHandle)));
  if (header) AZDisposeHandle(header);
  OHDisposeHeap(heap);
}

// Undoes a NewVICore that failed before the VI entered the loaded-VI list,
// in the reverse order of making.
void UndoNewVI(UHandle vi, bool linked) {
  VIRecord* r = VIRec(vi);
  if (r->dataSpace) DisposeDataSpace(AsDS(r->dataSpace), 0);
  DSTypeMapChanged();
  FreeHandle(r->dsTypeMap);
  r->dsTypeMap = nullptr;
  if (linked && VILink().unlinkItemByName) {
    VILink().unlinkItemByName(r->name, VILinkClass(r->viKind));
    if (r->panelHeap) VILink().unlinkItemByName(r->name, kLinkPanel);
  }
  DisposeDatalogBinding(VIRec(vi));
  for (UHandle* h : {&VIRec(vi)->strings, &VIRec(vi)->subVIs, &VIRec(vi)->callers}) {
    FreeHandle(*h);
    *h = nullptr;
  }
  ReleaseIcon(VIRec(vi));
  if (ObjHeap heap = VIRec(vi)->panelHeap) FreePanelHeap(heap);
  AZDisposeHandle(vi);
}

}  // namespace

namespace viinst {

void ClosePanelWindow(UHandle vi) {
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return;
  if (WindowRef w = PanelWindow(panel)) {
    SetExtWord(panel, kHeapExtWindow, 0);
    WDestroy(w);
  }
  if (DataSpace ds = PanelDataSpace(panel)) Hdr(ds)->panelOpen = 0;
}

void DisposePanelHeap(UHandle vi, Bool32 unlink) {
  ObjHeap panel = VIRec(vi)->panelHeap;
  if (!panel) return;
  ClosePanelWindow(vi);
  if (VIRun().unloadPanelObjects) VIRun().unloadPanelObjects(panel);
  if (DataSpace ds = PanelDataSpace(panel); ds && *ds && Hdr(ds)->panel == panel) {
    Hdr(ds)->panel = nullptr;
    Hdr(ds)->panelFlag2 = (VIRec(vi)->flags & kVIFlagPanelBinding) ? 1 : 0;
    Hdr(ds)->panelOpen = 0;
  }
  if (unlink && VILink().unlinkItemByName) VILink().unlinkItemByName(VIRec(vi)->name, kLinkPanel);
  VIRec(vi)->panelHeap = nullptr;
  FreePanelHeap(panel);
}

}  // namespace viinst

UHandle NewVICore(int16 kind, ConstPStr name, int32 iconId) {
  if (kind < 0 || kind > kVIKindLast) {
    DBPrintf("NewVICore Failed");
    return nullptr;
  }
  UHandle vi = AZNewHClr(kVIHeaderSize);
  if (!vi) {
    DBPrintf("NewVICore Failed");
    return nullptr;
  }
  if (name) std::memcpy(VIRec(vi)->name, name, size_t(name[0]) + 1);
  VIRec(vi)->viKind = kind;
  VIRec(vi)->priority = 1;
  bool linked = false;
  auto fail = [&]() -> UHandle {
    DBPrintf("NewVICore Failed");
    UndoNewVI(vi, linked);
    return nullptr;
  };

  // The panel heap.
  if (kind != kVIKindProxyCaller && kind != kVIKindProxyCallee) {
    ObjHeap heap = NewPanelHeap(vi);
    if (!heap) return fail();
    VIRec(vi)->panelHeap = heap;
  }
  // The icon.
  if (iconId != -1) VIRec(vi)->icon = reinterpret_cast<UHandle>(uintptr_t(GetDefaultVIIcon(kind)));
  // The window options.
  const KindOptions opt = OptionsOf(kind);
  VIRec(vi)->windowOptions = opt.first;
  if (ObjHeap heap = VIRec(vi)->panelHeap) {
    SetExtHalf(heap, kHeapExtWindowOptions, opt.first);
    SetExtHalf(heap, kHeapExtWindowStyle, opt.second);
    if (VIRun().updateVIMenuBar) VIRun().updateVIMenuBar(heap);
  }

  if (!HasLists(kind)) {
    VIRec(vi)->eState = kVIStateIdle;
  } else {
    if (!(VIRec(vi)->callers = NewListHandle())) return fail();
    if (!(VIRec(vi)->subVIs = NewListHandle())) return fail();
    if (!(VIRec(vi)->strings = AZNewHClr(4))) return fail();
    VIRec(vi)->execSystem = kESysSameAsCaller;
    if (kind == kVIKindDatalog && !NewDatalogBinding(VIRec(vi))) return fail();
    VIRec(vi)->flags2 = kVIFlags2NewVI;
    VIRec(vi)->eState = kVIStateIdle;
    if (auto add = VILink().addLinkEntry) {
      linked = true;
      if (ObjHeap heap = VIRec(vi)->panelHeap) add(heap, VIRec(vi)->name, nullptr, kLinkPanel, nullptr);
      add(vi, VIRec(vi)->name, nullptr, VILinkClass(kind), nullptr);
    }
    if (InList(kind)) {
      if (!name) DBPrintf("NewVICore: name was NULL... You wanted the window opened??");
      InsertLoadedVI(vi);
    }
  }
  const bool inserted = InList(kind);
  auto failAfter = [&]() -> UHandle {
    if (!inserted) return fail();
    DBPrintf("NewVICore Failed");
    DisposeVI(vi, 1);
    return nullptr;
  };

  switch (kind) {
    case 0: case 3: case 5: {
      VIRec(vi)->execSystem = kESysUserInterface;
      if (NewMinimalDataSpace(vi) != kNoErr) return failAfter();
      DataSpace ds = AsDS(VIRec(vi)->dataSpace);
      InitDataSpace(ds);
      if (VICode().runInitProc) VICode().runInitProc(ds);
      if (VICode().initDCOs) VICode().initDCOs(ds);
      break;
    }
    case 1: case 2: case 4: case 6: case 7:
      VIRec(vi)->flags2 |= 0x3000;
      if (ObjHeap heap = VIRec(vi)->panelHeap) SetPanelDataSpace(heap, nullptr);
      VIRec(vi)->modFlags = 0;
      break;
    case 8:
      VIRec(vi)->flags |= kVIFlagReentrant;
      break;
    case 9:
      VIRec(vi)->execSystem = kESysUserInterface;
      if (auto setUp = VIServer().pxCalleeInstallCode)
        if (setUp(vi) != kNoErr) return failAfter();
      break;
  }
  VIRec(vi)->stored84 = (kind == kVIKindGlobal || kind == kVIKindControl) ? 188 : kind == 5 ? 189 : 0;
  if (RegisterVI(vi) != kNoErr) return failAfter();
  return vi;
}

ObjHeap NewDialogVIHeap() {
  UHandle vi = NewVICore(kVIKindDialog, nullptr, 0);
  return vi ? VIRec(vi)->panelHeap : nullptr;
}

void DisposeVI(UHandle vi, Bool32 unlink) {
  if (!vi || !*vi) return;
  const int16 kind = VIRec(vi)->viKind;
  if (WEventPredicate filter = VIShell().filterInstrUserEvents) WPurgeEvents(kWRootWindow, filter, vi);
  ObjHeap panel = VIRec(vi)->panelHeap;
  DisposePanelHeap(vi, unlink);
  if (VIRec(vi)->dataSpace) DisposeDataSpace(AsDS(VIRec(vi)->dataSpace), 1);
  VIRec(vi)->dataSpace = nullptr;
  if (InList(kind)) RemoveLoadedVI(vi);
  if (VIHasTypeRec(vi)) UnregisterVI(vi);

  ReleaseIcon(VIRec(vi));
  if (VIShell().helpClearTarget) VIShell().helpClearTarget(panel, 0);
  for (UHandle* h : {&VIRec(vi)->strings, &VIRec(vi)->connTypeMap, &VIRec(vi)->connPane}) {
    FreeHandle(*h);
    *h = nullptr;
  }
  if (kind != kVIKindProxyCaller && kind != kVIKindProxyCallee && !viload::DisposeCode(VIRec(vi)->codeHandle))
    FreeHandle(VIRec(vi)->codeHandle);
  VIRec(vi)->codeHandle = nullptr;
  DSTypeMapChanged();
  if (kind != kVIKindProxyCaller) FreeHandle(VIRec(vi)->dsTypeMap);
  VIRec(vi)->dsTypeMap = nullptr;
  FreeHandle(VIRec(vi)->printInfo);
  VIRec(vi)->printInfo = nullptr;

  if (unlink) {
    VIRec(vi)->marks |= 0x10;
    if (VILink().unlinkItemByName && (kind == kVIKindDatalog || kind == kVIKindGlobal || kind == 7 ||
                                      kind == kVIKindProxyCaller || kind == kVIKindProxyCallee))
      VILink().unlinkItemByName(VIRec(vi)->name, kLinkVI);
    else if (VILink().unlinkItemByName && kind == kVIKindControl)
      VILink().unlinkItemByName(VIRec(vi)->name, kLinkCustomControl);
  }

  for (UHandle* h : {&VIRec(vi)->callers, &VIRec(vi)->subVIs}) {
    FreeHandle(*h);
    *h = nullptr;
  }
  DisposeDatalogBinding(VIRec(vi));
  for (Path* p : {&VIRec(vi)->path, &VIRec(vi)->helpPath}) {
    if (*p) FDisposePath(*p);
    *p = nullptr;
  }
  FreeHandle(VIRec(vi)->helpTag);
  VIRec(vi)->helpTag = nullptr;
  if (VIServer().disposeVIRefList) VIServer().disposeVIRefList(vi);
  if (VIRec(vi)->rtMenuPath) FDisposePath(VIRec(vi)->rtMenuPath);
  VIRec(vi)->rtMenuPath = nullptr;
  if (VIShell().rtmDisposeVIMenuRef) VIShell().rtmDisposeVIMenuRef(vi);
  FreeHandle(VIRec(vi)->title);
  VIRec(vi)->title = nullptr;
  if (vi == gRootVI) gRootVI = nullptr;
  AZDisposeHandle(vi);
  AZRequestCompact();
}

MgErr InitInstr() {
  Str255 name;
  name[0] = 0;
  RGetIndString(RunTimeRsrcFile(), name, kWindowTitlesListId, kRootVINameEntry);
  UHandle vi = NewVICore(kVIKindRoot, name, 0);
  if (!vi) return kMemFullErr;
  VIRec(vi)->flags |= kVIFlagRoot;
  gRootVI = vi;
  return kNoErr;
}

void ExitInstr() {
  if (UHandle vi = gRootVI) CloseVI(vi, 0, 0, 1);
  gRootVI = nullptr;
}

UHandle RootVI() { return gRootVI; }

int32 GetRTImage(int32 imageId) {
  int32 image = 0;
  if (IGet(RunTimeRsrcFile(), kImageFamily, imageId, &image, 1) != kNoErr) return 0;
  return image;
}

int32 GetDefaultVIIcon(int16 kind) { return GetRTImage(kind == kVIKindRoot ? kRootVIIconId : kDefaultVIIconId); }
