// Opening a VI by name with everything it references, the load progress
// state and its dialog, and reloading parts of a loaded VI from its file.
#include <cstring>

#include "engine/link/loadmethods.h"
#include "engine/vi/archive.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "mgsource/counted_strings.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"

namespace {
// The progress state: installed as the link-search hook while a load by
// name runs.
struct LoadProgress {
  int32 answer = -1;
  void* dlg = nullptr;
  int32 loaded = 0;
  int32 delay = -1;  // ms before the dialog opens by itself; -1 never
  uInt32 start = 0;
  uInt32 lastUpdate = 0;
  uInt32 interval = kLoadProgressInterval;
  int32 lastPhase = -1;
  int64 lastClass = -1;
  bool named = false;
  Str255 name{};      // the item being opened
  Str255 lastItem{};  // the text of the last item loaded
};
LoadProgress gProgress;
// Where the load folder of LoadVIByName is kept.
Path gFolder = nullptr;

void Filter(void* context, int32 item) {
  if (item >= kProgItemIgnore && item <= kProgItemStop) static_cast<LoadProgress*>(context)->answer = item;
}

void SetItem(LoadProgress* s, int32 item, ConstPStr text) {
  if (LoadHooks().dlgSetText) LoadHooks().dlgSetText(s->dlg, item, text);
}
void Gray(LoadProgress* s, int32 item, int32 state) {
  if (LoadHooks().dlgGray) LoadHooks().dlgGray(s->dlg, item, state);
}
void ShowCount(LoadProgress* s) {
  Str255 fmt, text;
  LoadTextOf(kLoadingStringsListId, kLoadStrLoadedCount, fmt);
  PPrintfp(text, fmt, s->loaded);
  SetItem(s, kProgItemCount, text);
}

void OpenDialog(LoadProgress* s) {
  const LoadMethodHooks& h = LoadHooks();
  if (VIFindShell().destroySplashWindow) VIFindShell().destroySplashWindow();
  if (!h.dlgLoad) return;
  s->dlg = h.dlgLoad(kLoadProgressDlgId, kLoadProgressDlgPos, kLoadProgressDlgPos, &Filter, s);
  if (!s->dlg) return;
  if (h.dlgSetTitle) h.dlgSetTitle(s->dlg, s->name);
  if (h.dlgSetStringItemFlag)
    for (int32 item : {kProgItemName, kProgItemSearched, kProgItemPhase, kProgItemCount})
      h.dlgSetStringItemFlag(s->dlg, item, 1);
  Str255 phase;
  LoadTextOf(kLoadPhaseListId, 1, phase);
  SetItem(s, kProgItemPhase, phase);
}

int32 IgnoreTextIndex(uInt32 classCode) {
  if (classCode == kFindTypeControl) return kLoadStrIgnoreControl;
  if (classCode == kLinkClassCodes[kLinkClassSubr]) return kLoadStrIgnoreSubr;
  if (classCode == kLinkClassCodes[kLinkClassLibFunc]) return kLoadStrIgnoreLibrary;
  return kLoadStrIgnoreSubVI;
}

// Step 5: remember the update, run the dialog's events, ask about a stop.
int32 RunDialog(LoadProgress* s, int32 phase, uInt32 now) {
  s->lastPhase = phase;
  s->lastUpdate = now;
  if (s->answer == kFindStop || s->answer == kFindContinue) return s->answer;
  s->answer = -1;
  if (s->dlg && LoadHooks().dlgBoxStep) {
    int32 guard = 1000;
    while (LoadHooks().dlgBoxStep(s->dlg) && guard-- > 0) {
    }
  }
  if (phase == kLinkHookFind && s->answer != kFindStop) s->answer = -1;
  if (phase != kLinkHookFind && phase != kLinkHookSearch) s->answer = -1;
  if (s->answer == kFindStop) {
    Str255 fmt, msg, yes, no;
    LoadTextOf(kLoadingStringsListId, kLoadStrOpenWithout, fmt);
    PPrintfp(msg, fmt, s->name);
    LoadTextOf(kYesNoListId, kYesNoYes, yes);
    LoadTextOf(kYesNoListId, kYesNoNo, no);
    static const uChar kContinue[] = "\x10" "Continue Loading";
    const VIFindShellHooks& shell = VIFindShell();
    const int32 b = shell.threeButtonAlert ? shell.threeButtonAlert(msg, yes, no, kContinue) : 3;
    s->answer = b == 1 ? kFindContinue : b == 2 ? kFindStop : 0;
  }
  return s->answer;
}
}  // namespace

int32 LoadProgressProc(void* state, int32 phase, ConstPStr name, Path path, int32, int32, uInt32 classCode) {
  LoadProgress* s = static_cast<LoadProgress*>(state);
  if (!s) return -1;
  const uInt32 now = MilliSecs();
  if (!name && !path) return RunDialog(s, phase, now);
  if (!s->named) {
    s->named = true;
    if (name) PStrCpy(s->name, name);
    return -1;
  }
  if (!s->dlg && (phase == kLinkHookSearch || (s->delay >= 0 && now - s->start >= uInt32(s->delay))))
    OpenDialog(s);
  Str255 text;
  if (path && FIsAPath(path) && !FIsEmptyPath(path)) PPrintf(text, "%z", path);
  else if (name) PStrCpy(text, name);
  else text[0] = 0;
  if (phase == kLinkHookFind) ++s->loaded;
  if (phase != kLinkHookSearch) {
    PStrCpy(s->lastItem, text);
    if (phase == s->lastPhase && now - s->lastUpdate < s->interval) return RunDialog(s, phase, now);
  }
  if (!s->dlg) return -1;
  if (phase != kLinkHookSearch && phase != s->lastPhase) {
    Str255 phaseText;
    LoadTextOf(kLoadPhaseListId, phase, phaseText);
    SetItem(s, kProgItemPhase, phaseText);
    for (int32 item : {kProgItemSearched, kProgItemIgnore, kProgItemBrowse}) Gray(s, item, 2);
  }
  if (phase != s->lastPhase) Gray(s, kProgItemStop, phase == 3 ? 2 : 0);
  if (phase == kLinkHookFind) {
    SetItem(s, kProgItemName, text);
    ShowCount(s);
  } else if (phase == kLinkHookSearch) {
    SetItem(s, kProgItemSearched, text);
    if (s->lastPhase != kLinkHookSearch) {
      ShowCount(s);
      SetItem(s, kProgItemName, s->lastItem);
      for (int32 item : {kProgItemSearched, kProgItemIgnore, kProgItemBrowse}) Gray(s, item, 0);
    }
    if (int64(classCode) != s->lastClass) {
      Str255 ignore;
      LoadTextOf(kLoadingStringsListId, IgnoreTextIndex(classCode), ignore);
      if (LoadHooks().dlgSetBoolText) LoadHooks().dlgSetBoolText(s->dlg, kProgItemIgnore, ignore);
      s->lastClass = int64(classCode);
    }
  } else {
    DBAssert(__FILE__, __LINE__, "a load progress report of an unknown phase");
  }
  return RunDialog(s, phase, now);
}

int32 LoadProgressAnswer() { return gProgress.answer; }

int32 BeginLoadStatus() {
  if (!SetLinkSearchHook(&LoadProgressProc, &gProgress)) return 0;
  gProgress = LoadProgress{};
  gProgress.start = gProgress.lastUpdate = MilliSecs();
  return 1;
}

void EndLoadStatus(int32 installed) {
  if (!installed) return;
  ClearLinkSearchHook();
  if (gProgress.dlg && LoadHooks().dlgUnload) LoadHooks().dlgUnload(gProgress.dlg);
  gProgress.dlg = nullptr;
}

Path LoadFolderPath() { return gFolder; }

int32 LoadVIByName(ConstPStr name, Path path, UHandle* vi, int32 flags) {
  if (vi) *vi = nullptr;
  if (!name || name[0] == 0 || !vi) return 0;
  // 1. The progress state.
  const int32 installed = BeginLoadStatus();
  if (!installed) {
    const int32 a = LinkHookCallSearch(nullptr, nullptr, 0);
    if (a == kFindStop || a == kFindContinue) return 0;
  }
  // 2. The libraries stay open for the whole load.
  ArchiveHoldLibraries();
  gQXLoadingRsrcFile = 0;
  gQXLoadingPath = nullptr;
  if (gFolder) FDisposePath(gFolder);
  gFolder = nullptr;
  if (FIsAPath(path)) {
    gFolder = path;
    if (FPathToPath(&gFolder) != kNoErr || FDirName(gFolder, gFolder) != kNoErr) {
      if (gFolder && FIsAPath(gFolder)) FDisposePath(gFolder);
      gFolder = nullptr;
    }
  }
  // 3. In the table already, or loaded now.
  int32 entry = 0;
  bool loadedNow = false;
  if (!LookupLinkItem(name, kLinkClassCodes[kLinkClassVI], &entry) || !entry)
    LookupLinkItem(name, kLinkClassCodes[kLinkClassCustomCtl], &entry);
  if (!entry) {
    ResetFoundDirs();
    LoadVIMethod(name, nullptr, kFindTypeAnyVI, path, kLinkClassNoneCode, nullptr, 0);
    ResetFoundDirs();
    if (!LookupLinkItem(name, kLinkClassCodes[kLinkClassVI], &entry) || !entry)
      LookupLinkItem(name, kLinkClassCodes[kLinkClassCustomCtl], &entry);
    loadedNow = entry != 0;
  }
  // 4. The VI, through an alias to its entry.
  UHandle found = nullptr;
  if (entry) {
    if (LE(entry).classFlags & kLinkFlagAlias) entry = int32(LE(entry).owner);
    found = reinterpret_cast<UHandle>(uintptr_t(LE(entry).owner));
    if (found && !loadedNow && (flags & 1)) OpenFrontPanel(found);
  }
  // 5. The end of the load.
  const int32 answer = gProgress.answer;
  EndLoadStatus(installed);
  ArchiveReleaseLibraries();
  // 6. Stopped: the VI loaded now goes again.
  if (answer == kFindStop && loadedNow && found) {
    CloseFPAndUnload(found);
    CloseVI(found, 0, 0, 1);
    found = nullptr;
    PurgeUnusedVIs(0);
  }
  // 7. The priorities.
  if (found && LinkServices().propagatePriority) LinkServices().propagatePriority(found);
  *vi = found;
  return found ? 1 : 0;
}

void CloseLoadFile(UHandle vi, RsrcFileRef file) {
  if (!file) return;
  RCloseFile(file);
  if (vi && *vi && VIRec(vi)->rsrcFile == file) VIRec(vi)->rsrcFile = 0;
  gQXLoadingRsrcFile = 0;
  gQXLoadingPath = nullptr;
}

MgErr ReloadVIPart(UHandle vi, ResType partType, MgErr defaultResult) {
  if (!vi || !*vi) return kArgErr;
  RsrcFileRef file = VIRec(vi)->rsrcFile;
  bool opened = false;
  if (!file) {
    Path where = VIRec(vi)->path;
    if (!FIsAPath(where) || FPathToPath(&where) != kNoErr) return defaultResult;
    Str255 name;
    PStrCpy(name, VIRec(vi)->name);
    const uInt32 type = VIRec(vi)->viKind == kVIKindControl ? kFindTypeControl : kFindTypeVI;
    Bool32 fromLibrary = 0;
    const int32 r = FindAndOpenVIFile(where, name, type, kRsrcReadOnly, &file, &fromLibrary);
    FDisposePath(where);
    if (r != kFindFound && r != kFindInFolder) return defaultResult;
    VIRec(vi)->rsrcFile = file;
    opened = true;
  }
  const RsrcFileRef savedFile = gQXLoadingRsrcFile;
  const Path savedPath = gQXLoadingPath;
  gQXLoadingRsrcFile = file;
  gQXLoadingPath = VIRec(vi)->path;
  int32 status = 0;
  MgErr err = LoadVIHeap(vi, partType, int32(VIRec(vi)->rsrcID), file, kLoadErrFPLinkInfo, &status);
  gQXLoadingRsrcFile = savedFile;
  gQXLoadingPath = savedPath;
  if (opened) {
    RCloseFile(file);
    VIRec(vi)->rsrcFile = 0;
  }
  if (err != kNoErr) return err;
  if (partType != kPanelHeapRsrcType) {
    DBAssert(__FILE__, __LINE__, "a reloaded part other than the front panel");
    return kNoErr;
  }
  return PanelPostLoadFixup(vi);
}
