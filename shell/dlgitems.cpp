// A dialog's fields in its panel heap's extension, its items as the root's
// item list, and the value types of item values.
#include <cstring>

#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/objlist.h"
#include "shell/dialog.h"

namespace {

// Root words: the item list (controllers in item order) and the z-order
// list of the panel's top-level objects.
constexpr int32 kRootItemListAt = 40, kRootZOrderAt = 44;
// The word of a controller that names the display object it shows.
constexpr int32 kControllerDisplayAt = 20;

int32 Ext(DialogRef d) { return int32(OHWord(d, kOHExtension)); }
uInt32 ExtWord(DialogRef d, int32 at) { return GetNative32(*d + Ext(d) + at); }

int32 RootList(DialogRef d, int32 at) {
  const int32 root = int32(ExtWord(d, kHeapExtRoot));
  if (root <= 0 || OHBlockSize(d, root) < at + 4) return 0;
  return int32(OHWord(d, uInt32(root + at)));
}

bool IsController(DialogRef d, int32 object) {
  const int32 cls = OHBlockClass(d, object);
  return cls == kClsFPDataController || cls == kClsDataController;
}

// The item whose entry is the object or shows it.
int32 ItemOf(DialogRef d, int32 object) {
  const int32 list = RootList(d, kRootItemListAt);
  const int32 n = list && object ? ObjListCount(d, list) : 0;
  for (int32 i = 0; i < n; ++i) {
    const int32 e = ObjListGet(d, list, i);
    if (e == object) return i + 1;
    if (e && IsController(d, e) && OHBlockSize(d, e) >= kControllerDisplayAt + 4 &&
        int32(OHWord(d, uInt32(e + kControllerDisplayAt))) == object)
      return i + 1;
  }
  return 0;
}

// Static descriptors of the value types that the standard table lacks.
const TypeDescriptor kString37TD{4, kTDString37, 0};

}  // namespace

bool DlgIsLiveDialog(DialogRef dialog) {
  // Found in the list of live heaps before any word of it is read: a freed
  // or foreign handle is never looked into.
  ObjHeap h = OHFirstHeap();
  while (h && h != dialog) h = OHNextHeap(h);
  if (h && OHWord(h, kOHKind) == kPanelHeapKind) {
    const int32 ext = Ext(h);
    if (ext > 0 && OHBlockSize(h, ext) >= kHeapExtensionSize) return true;
  }
  DBAssert(__FILE__, __LINE__, "dialog is no live front-panel heap");
  return false;
}

uInt32 DlgWindow(DialogRef dialog) { return DlgIsLiveDialog(dialog) ? ExtWord(dialog, kHeapExtWindow) : 0; }

DlgFilterProc DlgFilter(DialogRef dialog) {
  return DlgIsLiveDialog(dialog) ? reinterpret_cast<DlgFilterProc>(uintptr_t(ExtWord(dialog, kHeapExtDialogFilter)))
                                 : nullptr;
}

int32 DlgUserData(DialogRef dialog) {
  return DlgIsLiveDialog(dialog) ? int32(ExtWord(dialog, kHeapExtDialogData)) : 0;
}

void DlgSetData(DialogRef dialog, int32 userData) {
  if (DlgIsLiveDialog(dialog)) PutNative32(*dialog + Ext(dialog) + kHeapExtDialogData, uInt32(userData));
}

int32 DlgItemCount(DialogRef dialog) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  const int32 list = RootList(dialog, kRootItemListAt);
  return list ? ObjListCount(dialog, list) : 0;
}

int32 DItemToDCOId(DialogRef dialog, int32 item) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  if (item < 1 || item > DlgItemCount(dialog)) {
    DBAssert(__FILE__, __LINE__, "dialog item out of range");
    return 0;
  }
  return ObjListGet(dialog, RootList(dialog, kRootItemListAt), item - 1);
}

int32 DCOIdToDItem(DialogRef dialog, int32 object) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  const int32 list = RootList(dialog, kRootItemListAt);
  const int32 n = list && object ? ObjListCount(dialog, list) : 0;
  for (int32 i = 0; i < n; ++i)
    if (ObjListGet(dialog, list, i) == object) return i + 1;
  DBAssert(__FILE__, __LINE__, "object is no dialog item");
  return 0;
}

int32 ZPlaneIndexToDItem(DialogRef dialog, int32 index) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  const int32 list = RootList(dialog, kRootZOrderAt);
  if (!list || index < 0 || index >= ObjListCount(dialog, list)) return 0;
  return ItemOf(dialog, ObjListGet(dialog, list, index));
}

int32 DlgObjRefToDItem(DialogRef dialog, const DlgObjRef* ref) {
  if (!ref) {
    DBAssert(__FILE__, __LINE__, "no object reference");
    return 0;
  }
  if (!DlgIsLiveDialog(dialog)) return 0;
  if (ref->mode == 1) return ZPlaneIndexToDItem(dialog, ref->index);
  if (ref->mode == 3) return ref->index >= 0 && ref->index < DlgItemCount(dialog) ? ref->index + 1 : 0;
  return 0;
}

int32 DlgGetKbdFocus(DialogRef dialog) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  return ItemOf(dialog, int32(ExtWord(dialog, kHeapExtKeyFocus)));
}

const TypeDescriptor* DlgValueTypeTD(int32 type) {
  const int32 code = type >= 17 && type <= 30 ? type - 16 : type;
  if (code >= 1 && code <= 14) return StdTDTable[code];
  switch (type) {
    case kDlgBooleanValue: return StdTDTable[kStdTDBoolean];
    case kDlgLStrValue:
    case kDlgCStrValue:
    case kDlgPStrValueType: return StdTDTable[kStdTDString];
    case kDlgString37Value: return &kString37TD;
    default: break;
  }
  DBAssert(__FILE__, __LINE__, "value type outside the dialog's table");
  return nullptr;
}
