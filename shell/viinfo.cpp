#include "shell/viinfo.h"

#include <cstring>

#include "engine/datatype.h"
#include "engine/dsalloc.h"
#include "engine/exec/menutexts.h"
#include "engine/flatten.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "shell/dialog.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"
#include "shell/viwindow.h"

namespace {

constexpr int32 kVIInfoDialogId = 3700;
enum : int32 {
  kItemOK = 1, kItemCancel = 2, kItemDescription = 4, kItemPath = 9, kItemDiskSize = 10, kItemPanel = 13,
  kItemDiagram = 14, kItemCode = 15, kItemData = 16, kItemTotal = 17, kItemName = 18,
};
constexpr uInt32 kFlagsLocked = 0x2000, kFlags2OwnerMode = 0x80000;

Bool32 gMarksHonoured = 0;

int32 SizeOf(UHandle h) { return h && AZIsHandle(h) ? AZGetHandleSize(h) : -1; }

// The flattened size of the VI's default data: its data-space descriptor
// over its data space.
int32 DataSize(UHandle vi) {
  UHandle td = VIRec(vi)->dsTypeMap;
  UHandle ds = VIRec(vi)->dataSpace;
  if (!td || !ds || !*td || !*ds || !AZIsHandle(td)) return -1;
  return FlatSize(reinterpret_cast<const TypeDescriptor*>(*td), *ds);
}

void SetText(DialogRef d, int32 item, ConstPStr text) { DlgSetCtrlVal(d, item, kDlgPStrValueType, text); }

int32 Filter(const WEventRecord* e, DialogRef d, int32) {
  if (e->code == kDlgEvCancel) {
    DlgQuit(d, 0);
    return 1;
  }
  // A committed change of a button: word 2 the item, the change flags in
  // the result word (the modifiers word holds the action).
  if (e->code == kDlgEvItemChange && (e->where == kItemOK || e->where == kItemCancel) &&
      (e->globalWhere & kDlgResultCommitted)) {
    DlgQuit(d, e->where == kItemOK ? 1 : 0);
    return 1;
  }
  return 0;
}

}  // namespace

void SetVIMarksOptionHonoured(Bool32 on) { gMarksHonoured = on; }

int32 VIGetSetupFlag13(UHandle vi) {
  if (!vi || !*vi) return 0;
  if (VIRec(vi)->flags & kFlagsLocked) return 2;
  return gMarksHonoured ? int32((VIRec(vi)->marks >> 13) & 1) : 0;
}

void FormatKBytes(int32 count, int32* total, PStr text) {
  if (count < 0) {
    PPrintf(text, "-");
    return;
  }
  PPrintf(text, "%.1fK", double(count) / 1024.0);
  if (total) *total += count;
}

int32 VIInfoCommand(UHandle vi, int32) {
  int32 record[8] = {0};
  record[4] = 0;
  const auto send = ProgMenuHooksInUse().sendVIAction;
  if (!send) return VIInfoDialog(vi, 0);
  send(vi, kVIInfoAction, record);
  return record[3];
}

int32 VIInfoDialog(UHandle vi, int32 flag) {
  if (!vi || !*vi) return kArgErr;
  ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
  if (panel && *panel && VIWindHooksInUse().commitKeyFocus) VIWindHooksInUse().commitKeyFocus(panel);
  const DialogRef d = VIInfoLoad(vi, flag);
  if (!d) return -1;
  DlgMove(d, kDlgDefaultPos, kDlgDefaultPos);
  const int32 answer = DlgBoxLoop(d);
  DlgUnload(d);
  return answer;
}

DialogRef VIInfoLoad(UHandle vi, int32 flag) {
  ObjHeap panel = reinterpret_cast<ObjHeap>(VIRec(vi)->panelHeap);
  DialogRef d = DlgLoad(RunTimeRsrcFile(), kVIInfoDialogId, nullptr, kAlertWindowKind, &Filter, 0);
  if (!d) {
    DBAssert(__FILE__, __LINE__, "can't load the VI Info dialog");
    return nullptr;
  }
  SetText(d, kItemName, VIRec(vi)->name);
  for (int32 item : {6, 5, 7, 8, 2, 3, 20}) DlgHideControl(d, item);
  const uInt32 e = VIRec(vi)->eState & kVIStateMask;
  const bool hasWindow = panel && *panel && viinst::PanelWindow(panel) != kWNoWindow;
  const bool locked = (VIRec(vi)->flags & kFlagsLocked) || (e & 14) ||
                      (hasWindow && !(VIRec(vi)->flags2 & kFlags2OwnerMode));
  if (locked && ProgMenuHooksInUse().setIndicator)
    ProgMenuHooksInUse().setIndicator(d, DItemToDCOId(d, kItemDescription));
  if (UHandle text = VIRec(vi)->strings; text && *text && AZGetHandleSize(text) >= 4)
    DlgSetCtrlVal(d, kItemDescription, kDlgLStrValue, &text);
  if (flag == 0 && !locked) DlgSetKbdFocus(d, kItemDescription, 0, 0x7FFFFFFF);
  Str255 text;
  int32 size = -1;
  if (Path p = VIRec(vi)->path; p && FIsAPath(p)) {
    LStrHandle t = nullptr;
    if (FPathToAZString(p, &t) == kNoErr && t) {
      DlgSetCtrlVal(d, kItemPath, kDlgLStrValue, &t);
      AZDisposeHandle(reinterpret_cast<UHandle>(t));
    }
    FileInfoRec info{};
    if (FGetInfo(p, &info) == kNoErr) size = info.size;
  } else {
    const int32 entry = VIRec(vi)->viKind == kVIKindControl ? 2 : VIRec(vi)->viKind == 4 ? 3 : 1;
    ShellListText(kVIInfoTextsListId, entry, text);
    SetText(d, kItemPath, text);
  }
  FormatKBytes(size, nullptr, text);
  SetText(d, kItemDiskSize, text);
  for (int32 item : {11, 12}) DlgHideControl(d, item);
  int32 total = 0;
  FormatKBytes(SizeOf(VIRec(vi)->panelHeap), &total, text);
  SetText(d, kItemPanel, text);
  SetText(d, kItemDiagram, reinterpret_cast<ConstPStr>("\x01-"));
  FormatKBytes(SizeOf(VIRec(vi)->codeHandle), &total, text);
  SetText(d, kItemCode, text);
  FormatKBytes(DataSize(vi), &total, text);
  SetText(d, kItemData, text);
  if (total > 0) PPrintf(text, "~%.1fK", double(total) / 1024.0);
  else PPrintf(text, "-");
  SetText(d, kItemTotal, text);
  DlgHideControl(d, 19);
  for (int32 item = kItemDiskSize; item <= kItemName; ++item) DlgSetStringItemFlag(d, item, 1);
  return d;
}
