#include "shell/descdialog.h"

#include <cstring>

#include "engine/exec/menutexts.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "shell/progmenu.h"
#include "shell/progmenu_internal.h"

namespace {

// Item 1 confirms, item 2 and the cancel event cancel; a committed change of
// the text is noted.
int32 Filter(const WEventRecord* e, DialogRef d, int32) {
  if (e->code == kDlgEvCancel) {
    DlgQuit(d, 0);
    return 1;
  }
  if (e->code != kDlgEvItemChange || !(e->globalWhere & kDlgResultCommitted)) return 0;
  switch (e->where) {
    case kDescItemOK: DlgQuit(d, 1); return 1;
    case kDescItemCancel: DlgQuit(d, 0); return 1;
    case kDescItemText: DBPrintf(" string value changed "); return 0;
    default: return 0;
  }
}

int32 Length(UHandle h) { return h && *h && AZGetHandleSize(h) >= 4 ? int32(GetNative32(*h)) : 0; }

// The item's text in a new application-zone handle (a count, then the
// bytes); null when memory is short.
UHandle ReadText(DialogRef d) {
  UHandle read = nullptr;
  if (DlgGetCtrlVal(d, kDescItemText, kDlgLStrValue, &read) != kNoErr) {
    if (read) DSDisposeHandle(read);
    return nullptr;
  }
  const int32 n = read && *read ? int32(GetNative32(*read)) : 0;
  UHandle text = AZNewHandle(4 + n);
  if (text) {
    PutNative32(*text, uInt32(n));
    if (n) std::memcpy(*text + 4, *read + 4, size_t(n));
  }
  if (read) DSDisposeHandle(read);
  return text;
}

}  // namespace

DialogRef DescriptionDialogLoad(ConstPStr label, UHandle description, Bool32 readOnly, Bool32 hint) {
  DialogRef d = DlgLoad(RunTimeRsrcFile(), kDescriptionDialogId, nullptr, kAlertWindowKind, &Filter, 0);
  if (!d) {
    DBAssert(__FILE__, __LINE__, "can't load the description dialog");
    return nullptr;
  }
  if (readOnly) {
    DlgHideControl(d, kDescItemCancel);
    if (ProgMenuHooksInUse().setIndicator) ProgMenuHooksInUse().setIndicator(d, DItemToDCOId(d, kDescItemText));
  }
  Str255 format, title;
  ShellListText(kDescriptionTextsListId, 1, format);
  PPrintfp(title, format, label ? label : reinterpret_cast<ConstPStr>(""));
  DlgSetCtrlVal(d, kDescItemTitle, kDlgPStrValueType, title);
  DlgSetStringItemFlag(d, kDescItemTitle, 1);
  if (description && *description && AZGetHandleSize(description) >= 4) {
    DlgSetCtrlVal(d, kDescItemText, kDlgLStrValue, &description);
  } else {
    const uChar empty[1] = {0};
    DlgSetCtrlVal(d, kDescItemText, kDlgPStrValueType, empty);
  }
  DlgMove(d, kDlgDefaultPos, kDlgDefaultPos);
  if (!hint) DlgSetKbdFocus(d, kDescItemText, 0, 0x7FFFFFFF);
  return d;
}

int32 DescriptionDialogRun(DialogRef d, Bool32 editable, UHandle* description) {
  if (!d || !description) return 0;
  const int32 confirmed = DlgBoxLoop(d);
  int32 changed = 0;
  if (confirmed && editable) {
    if (UHandle text = ReadText(d)) {
      const UHandle old = *description;
      const bool replace = old ? LStrCmp(reinterpret_cast<const LStr*>(*old), reinterpret_cast<const LStr*>(*text)) != 0
                               : Length(text) > 0;
      if (replace) {
        if (old) AZDisposeHandle(old);
        *description = text;
        changed = 1;
      } else {
        AZDisposeHandle(text);
      }
      if (*description && Length(*description) == 0) {
        AZDisposeHandle(*description);
        *description = nullptr;
        DBPrintf(" empty string no label saved ");
      }
    }
  }
  DlgUnload(d);
  return changed;
}

int32 EditDescriptionDialog(ConstPStr label, UHandle* description, Bool32 readOnly, Bool32 hint) {
  if (!description) return 0;
  const DialogRef d = DescriptionDialogLoad(label, *description, readOnly, hint);
  return d ? DescriptionDialogRun(d, readOnly ? 0 : 1, description) : 0;
}
