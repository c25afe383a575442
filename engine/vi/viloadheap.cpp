// Loading a VI's front-panel heap, the fix-up after it, the check of the
// file's modification date, and the loader's alerts.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/link/linkinfo.h"
#include "engine/link/linker.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/archive.h"
#include "engine/vi/objload.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"

const char* const kLoadWarningTexts[kLoadWarningsCount] = {
    ("The \"%p\" VI's log file binding is corrupt and has been cleared.  To restore the VI's log file binding, "
     "open the VI and select the File->Data Logging->Change Log File Binding... menu item."),
    "",
    "The \"%p\" CIN is compiled with an old version of the compiler. Please recompile.",
    "The \"%p\" CIN was built with a newer version of Quenlix and could not be loaded.",
    "There was an error trying to create a temporary file. Please verify that your TEMP variable is ok.",
    "",
    "",
    "Could not get resource named \"%p\".",
    "Could not get resource named \"%p\" from \"%p\".",
    "Top level VI(s) could not be opened.",
    "This is the application template and cannot be run alone.",
    "Cannot load a Subroutine as a CIN.",
};

namespace {
VILoadPanelHooks gHooks = {};

using viinst::ExtWord;
using viinst::SetExtWord;

uInt32 HeapFlags(ObjHeap heap) { return OHWord(heap, kOHFlags); }
void SetHeapFlags(ObjHeap heap, uInt32 set, uInt32 clear) {
  OHSetWord(heap, kOHFlags, (OHWord(heap, kOHFlags) | set) & ~clear);
}

int32 CollectBlock(ObjHeap, int32 offset, void* used) {
  static_cast<std::vector<int32>*>(used)->push_back(offset);
  return 0;
}

// The words of a stored panel heap that name its blocks are checked here,
// once, against the heap itself: binding the data space, closing the
// window, committing the key focus and counting blinking objects later read
// and write through them without a check.  The words that hold things of a
// running program (window, handles, procedures, undo records) mean nothing
// in a file and are cleared; a stored undo record refuses the heap.
bool StoredPanelHeapSound(ObjHeap heap) {
  if (OHWord(heap, kOHKind) != kPanelHeapKind) return false;
  std::vector<int32> used;  // data offsets of the used blocks, ascending
  OHForEachBlockWith(heap, &CollectBlock, &used);
  auto names = [&](uInt32 offset, int32 cls, int32 minSize) {
    return offset <= 0x7FFFFFFF && std::binary_search(used.begin(), used.end(), int32(offset)) &&
           (cls < 0 || OHBlockClass(heap, int32(offset)) == cls) && OHBlockSize(heap, int32(offset)) >= minSize;
  };
  const uInt32 ext = OHWord(heap, kOHExtension);
  if (!names(ext, kClsObjHeapHdrExtension, kHeapExtensionSize)) return false;
  if (!names(ExtWord(heap, kHeapExtRoot), kClsFrontPanel, 4 * (kPanelRootDataSpaceWord + 1))) return false;
  for (auto [at, cls] : {std::pair{kHeapExtSelection, int32(kClsList)}, std::pair{kHeapExtBlinkList, int32(kClsList)},
                         std::pair{kHeapExtKeyFocus, -1}}) {
    const uInt32 w = ExtWord(heap, at);
    if (w && !names(w, cls, 4)) return false;
    // A list's count fits its block.
    if (w && cls == kClsList && GetNative32(*heap + w) > uInt32(OHBlockSize(heap, int32(w)) - 4) / 4) return false;
  }
  // The root's part list: the top-level objects that panel actions visit.
  const int32 root = int32(ExtWord(heap, kHeapExtRoot));
  if (const uInt32 parts = GetNative32(*heap + root + offsetof(PanelObjHeader, partList))) {
    if (!names(parts, kClsList, 4)) return false;
    const uInt32 count = GetNative32(*heap + parts);
    if (count > uInt32(OHBlockSize(heap, int32(parts)) - 4) / 4) return false;
    for (uInt32 i = 0; i < count; ++i)
      if (const uInt32 part = GetNative32(*heap + parts + 4 + 4 * i); part && !names(part, -1, int32(sizeof(PanelObjHeader))))
        return false;
  }
  if (ExtWord(heap, kHeapExtUndo30) || ExtWord(heap, kHeapExtUndo31)) return false;
  for (int32 at : {kHeapExtFocusText, kHeapExtStashedText, kHeapExtConfirm, kHeapExtSavedFrames, kHeapExtWindow,
                   kHeapExtDialogFilter, kHeapExtMenuBar, kHeapExtUndo28})
    SetExtWord(heap, at, 0);
  // The root's word that names the bound data space is set when one is.
  OHSetWord(heap, ExtWord(heap, kHeapExtRoot) + 4 * kPanelRootDataSpaceWord, 0);
  return true;
}
}  // namespace

void SetVILoadPanelHooks(const VILoadPanelHooks* hooks) { gHooks = hooks ? *hooks : VILoadPanelHooks{}; }
const VILoadPanelHooks& VILoadPanel() { return gHooks; }

void viload::WarningAlert(int32 entry, ConstPStr a, ConstPStr b) {
  Str255 fmt, text;
  if (RGetIndString(RunTimeRsrcFile(), fmt, kLoadWarningsListId, entry) != kNoErr) fmt[0] = 0;
  Str255 empty;
  empty[0] = 0;
  PPrintfp(text, fmt, a ? a : empty, b ? b : empty);
  OneButtonAlert(kAlertPStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

void RsrcMissingAlert(Path path, ConstPStr resourceName) {
  Str255 file;
  file[0] = 0;
  if (path && FNamePtr(path, file) == kNoErr && file[0])
    viload::WarningAlert(kWarnRsrcMissingFrom, resourceName, file);
  else
    viload::WarningAlert(kWarnRsrcMissing, resourceName, nullptr);
}

MgErr CheckHeapModDate(UHandle vi, int32) {
  if (!vi || !*vi) return kModDateChangedErr;
  const VIRecord* r = VIRec(vi);
  uInt32 date = 0;
  MgErr e;
  if (r->marks & kVIMarkFromLibrary) {
    FileInfoRec info;
    std::memset(&info, 0, sizeof info);
    e = ArchivePathMemberInfo(r->path, &info);
    date = info.mdate;
  } else {
    Bool32 readOnly = 0;
    e = r->rsrcFile ? RGetModDate(nullptr, r->rsrcFile, &date, &readOnly) : kArgErr;
  }
  if (e != kNoErr) return e;  // the file's own error: the file may be gone, not changed
  return date == VIRec(vi)->modDate ? kNoErr : kModDateChangedErr;
}

MgErr LoadVIHeap(UHandle vi, ResType heapType, int32 rsrcID, RsrcFileRef rsrcFile, int32 errorBase,
                 int32* outLinkStatus) {
  if (outLinkStatus) *outLinkStatus = 0;
  const VILoadPanelHooks& h = gHooks;
  // A subVI's panel may load inside this one's link pass: the hook, which
  // does not nest, is installed by the outermost load only.
  static int32 depth = 0;
  if (depth++ == 0 && h.setBadClassHook) h.setBadClassHook(BadProcLoadMethod);
  // kNone: the heap is a detached handle, not yet in the heap list.
  enum Stage { kNone, kHeap, kLinked, kHeader };
  Stage stage = kNone;
  ObjHeap heap = nullptr;
  UHandle linkInfo = nullptr;
  MgErr err = kNoErr;
  int32 loadError = 0;
  auto done = [&]() {
    if (err != kNoErr || loadError) {
      if (!gQXLoadErrorCode) gQXLoadErrorCode = loadError ? loadError : errorBase + 1;
      if (err == kNoErr) err = kArgErr;
      if (heap) {
        if (stage >= kLinked) {
          SetHeapFlags(heap, kHeapFlagLinked, 0);
          viload::UnlinkIfOwned(VIRec(vi)->name, kLinkClassCodes[kLinkClassPanel], heap);
        }
        if (stage >= kHeader) {
          viinst::FreeHandle(reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, kOHPanelHeaderHandle))));
          OHSetWord(heap, kOHPanelHeaderHandle, 0);
        }
        if (stage >= kHeap) OHDisposeHeap(heap);
        else AZDisposeHandle(heap);
      }
      if (VIRec(vi)->panelHeap == heap) VIRec(vi)->panelHeap = nullptr;
    }
    if (linkInfo) AZDisposeHandle(linkInfo);
    // The font map belongs to this file, which closes after the load: a
    // later file given the same reference must not find it.
    TReleaseFontReferences();
    if (--depth == 0 && h.clearBadClassHook) h.clearBadClassHook();
    return err;
  };

  UHandle stored = nullptr;
  if (RGet(rsrcFile, heapType, rsrcID, &stored) != kNoErr || !stored) {
    loadError = errorBase + 1;
    err = kRsrcNotFoundErr;
    return done();
  }
  if (const MgErr dated = CheckHeapModDate(vi, 2)) {
    RRelease(stored);
    loadError = kLoadErrModDate;
    err = dated;
    return done();
  }
  RDetach(stored);
  heap = stored;
  if (!(linkInfo = viload::GetDetached(rsrcFile, kLinkInfoPanel, rsrcID))) {
    loadError = errorBase;
    err = kRsrcNotFoundErr;
    return done();
  }
  // A stored heap is checked whole before anything of it is converted.
  if (OHByteSwapHeap(heap, OSwapByClass, 0) != kNoErr ||
      (heapType == kPanelHeapRsrcType &&
       (!StoredPanelHeapSound(heap) || (h.checkPanelObjects && h.checkPanelObjects(heap) != kNoErr)))) {
    loadError = errorBase + 1;
    err = kArgErr;
    return done();
  }
  OHLinkHeap(heap);
  stage = kHeap;
  if (AZGetHandleSize(linkInfo) > kLinkInfoNameOffset &&
      kLinkInfoNameOffset + 1 + (*linkInfo)[kLinkInfoNameOffset] <= AZGetHandleSize(linkInfo) &&
      PStrCaseCmp(*linkInfo + kLinkInfoNameOffset, VIRec(vi)->name) != 0) {
    if (RenameLinkInfoItem(linkInfo, VIRec(vi)->name) == kMemFullErr) {
      loadError = kLoadErrMemory;
      err = kMemFullErr;
      return done();
    }
  }

  const MgErr fe = TLoadFontTable(rsrcFile, nullptr, 0);
  if (fe != kNoErr && fe != kRsrcNotFoundErr) {
    err = fe;
    return done();
  }
  SetHeapFlags(heap, (gFontSubstituted ? uInt32(kHeapFlagFontSubstituted) : 0u) | kHeapFlagLoading, kHeapFlagCleared);
  if (heapType == kPanelHeapRsrcType) VIRec(vi)->panelHeap = heap;
  SetExtWord(heap, kHeapExtWindow, 0);
  SetExtWord(heap, kHeapExtOwner, uInt32(uintptr_t(vi)));
  if (h.clearUndoRecords) h.clearUndoRecords(heap);
  UHandle header = AZNewHClr(kPanelHeaderHandleSize);
  if (!header) {
    err = kMemFullErr;
    loadError = kLoadErrMemory;
    return done();
  }
  OHSetWord(heap, kOHPanelHeaderHandle, uInt32(uintptr_t(header)));
  stage = kHeader;

  if (VIRun().updateVIMenuBar) VIRun().updateVIMenuBar(heap);
  MgErr le = kNoErr;
  const int32 st = ReadLinkInfo(heap, linkInfo, VIRec(vi)->path, kLinkInfoPanel, &le);
  if (outLinkStatus) *outLinkStatus = st;
  if (le != kNoErr) {
    err = le;
    loadError = le == kMemFullErr ? kLoadErrMemory : errorBase;
    return done();
  }
  stage = kHeader;
  PutNative32(*header, rsrcFile);
  if (h.clearImageTable) h.clearImageTable(heap);
  ClearObjLoadAbort();
  SetVILoaderAbort(0);

  const int32 answer = OLoadHeapObjects(heap, rsrcFile);
  if (answer != 0) {
    const ObjLoadAbortRecord a = ObjLoadAbort();
    if (VILoaderAbort()) DBPrintf("load aborted by the operator");
    SetVILoaderAbort(0);
    if (uInt32(answer) != kBroadcastAborted || a.heap != heap || a.error == kNoErr || a.fence == 0)
      DBAssert(__FILE__, __LINE__, "the panel's load broadcast ended without an abort record");
    DBPrintf("load aborted during broadcast, h %lx, err %lx, fence %lx", uInt32(uintptr_t(a.heap)), uInt32(a.error),
             uInt32(a.fence));
    err = a.error != kNoErr ? a.error : kArgErr;
    ODisposeAfterAbort(heap);
    ClearObjLoadAbort();
    // The link entries go with the heap's undo below.
    stage = kLinked;
    viinst::FreeHandle(header);
    OHSetWord(heap, kOHPanelHeaderHandle, 0);
    return done();
  }
  if (OHWord(heap, kOHFlags) & kOHMarkPass) OHEndMarkPass(heap);
  if (VIRec(vi)->viKind == kVIKindDatalog && heapType == kPanelHeapRsrcType && h.blinkAddHeap) h.blinkAddHeap(heap);
  PutNative32(*header, 0);
  SetHeapFlags(heap, 0, kHeapFlagLoading);
  return done();
}

MgErr PanelPostLoadFixup(UHandle vi) {
  ObjHeap heap = VIRec(vi)->panelHeap;
  if (!heap) return kNoErr;
  const uInt32 flags = HeapFlags(heap);
  if (!(flags & (kHeapFlagFontSubstituted | kHeapFlagStoredFixup))) return kNoErr;
  const VILoadPanelHooks& h = gHooks;
  const uInt32 savedMod = VIRec(vi)->modFlags;
  const uInt32 savedWord = ExtWord(heap, 4 * 22);
  const bool wasLoading = (VIRec(vi)->flags & kVIFlagLoading) != 0;
  VIRec(vi)->flags |= kVIFlagLoading;
  if (h.emptySelection) h.emptySelection(heap);
  MgErr err = kNoErr;
  if (flags & kHeapFlagFontSubstituted) {
    const int32 result = viload::SendRootAction(heap, kPanelActionFontChanged, false);
    if (result & kActionResultNoMemory) err = kMemFullErr;
    else SetHeapFlags(heap, 0, kHeapFlagFontSubstituted);
  }
  // A flag that comes from the stored heap: reported, and loading goes on.
  if (HeapFlags(heap) & kHeapFlagStoredFixup) DBPrintf("panel heap of \"%p\" has flag 0x2000000", VIRec(vi)->name);
  VIRec(vi)->modFlags = savedMod;
  SetExtWord(heap, 4 * 22, savedWord);
  if (!wasLoading) VIRec(vi)->flags &= ~kVIFlagLoading;
  return err;
}

int32 viload::SendRootAction(ObjHeap panel, int32 action, bool onlyWithAttrRec) {
  const VILoadPanelHooks& h = gHooks;
  const int32 root = viinst::PanelRoot(panel);
  if (!root || !h.trPushFrame || !h.getObjAttrRec || !h.oDoit) return 0;
  void* const previous = h.trPushFrame();
  int32 result = 0;
  // The root's path is written at the new top; the action follows it.
  if (h.getObjAttrRec(panel, root, nullptr, nullptr) || !onlyWithAttrRec)
    h.oDoit(panel, root, h.trStackTop(), action, &result);
  h.trSetStackTop(previous);
  return result;
}

MgErr LoadFPHeap(UHandle vi) {
  if (!vi || !*vi) return kArgErr;
  if (VIRec(vi)->panelHeap) return kNoErr;
  RsrcFileRef file = VIRec(vi)->rsrcFile;
  bool opened = false;
  if (!file) {
    const uInt32 type = VIRec(vi)->viKind == kVIKindControl ? FourCC("QXCC") : kVIHeaderRsrcType;
    MgErr e = gHooks.reopenVIFile ? gHooks.reopenVIFile(vi, type, &file) : kFileNotFoundErr;
    if (e != kNoErr) return e;
    opened = true;
    // The VI's file while its heap loads: the date check reads it there.
    VIRec(vi)->rsrcFile = file;
  }
  int32 st = 0;
  MgErr e = LoadVIHeap(vi, kPanelHeapRsrcType, int32(VIRec(vi)->rsrcID), file, kLoadErrFPLinkInfo, &st);
  if (opened) viload::CloseVIRsrcFile(vi);
  if (e == kNoErr) e = PanelPostLoadFixup(vi);
  return e;
}
