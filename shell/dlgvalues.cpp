// Dialog items by number: their values in the dialog value types, their
// hidden, disabled and greyed states, the key focus and the key slots, the
// dialog events the panel sends to the filter, and ring items.
#include <cstring>
#include <string>

#include "engine/datamgr.h"
#include "engine/exec/rttable.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/printf.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "shell/dialog.h"

namespace {

DlgPanelServices gServices{};

// The root word of the key-slot table (count 55, then slots).
constexpr int32 kRootKeyNavAt = 68, kKeySlots = 55;
constexpr int32 kControllerDisplayAt = 20;
// Object flags of display objects.
enum : uInt32 {
  kFlagHidden = 0x8, kFlagGreyed = 0x80, kFlagDisabled = 0x200, kFlagStringOption = 0x2000,
  kFlagSwitching = 0x10000, kFlagLatching = 0x20000,
};
// Object parts by id: the text of strings and paths, the ring's item list, the Boolean's texts.
enum : int32 { kTextPart = 11, kRingListPart = 12, kBoolTextPart = 22 };
constexpr int32 kRingTextsAt = 44, kBoolTextListAt = 44, kDescriptionAt = 28;
constexpr uInt32 kTextSizesToText = 0x60000, kPartTextResized = 0x80;
// Flags of the owner VI: text entry under way (the focus may not move), and
// dialog events without item numbers.
constexpr uInt32 kVIFocusLocked = 0x80000, kVINoItems = 1u << 26;
constexpr int32 kDataPlain = 0, kDataDefault = 1;
constexpr int32 kAllText = 0x7fffffff;
constexpr int32 kKeyModifierMask = 0x203;

// One user-interface thread: set while a value is being set.
bool gSettingValue = false;

int32 Ext(DialogRef d) { return int32(OHWord(d, kOHExtension)); }
uInt32 ExtWord(DialogRef d, int32 at) { return GetNative32(*d + Ext(d) + at); }
uInt32 Flags(DialogRef d, int32 object) { return OHWord(d, uInt32(object)); }
void SetFlags(DialogRef d, int32 object, uInt32 f) { OHSetWord(d, uInt32(object), f); }
WindowRef Window(DialogRef d) { return WindowRef(ExtWord(d, kHeapExtWindow)); }

UHandle OwnerVI(DialogRef d) {
  UHandle vi = reinterpret_cast<UHandle>(uintptr_t(ExtWord(d, kHeapExtOwner)));
  return vi && *vi ? vi : nullptr;
}
bool VIFlag(DialogRef d, uInt32 bit) {
  UHandle vi = OwnerVI(d);
  return vi && (VIRec(vi)->flags & bit);
}

int32 FindPart(DialogRef d, int32 object, int32 part) {
  return gServices.findPart ? gServices.findPart(d, object, part, 0) : 0;
}
void Inval(DialogRef d, int32 object) {
  if (gServices.inval) gServices.inval(d, object, 0);
}
int32 Size(DialogRef d, int32 object, int32 part) {
  return gServices.size ? gServices.size(d, object, nullptr, part) : 0;
}

const TypeDescriptor* ItemTD(DialogRef d, int32 object) {
  if (!gServices.getType) return nullptr;
  const uInt32 id = gServices.getType(d, object);
  return id ? TypeIDToTD(d, TypeID(id)) : nullptr;
}
bool StringLike(const TypeDescriptor* td) {
  return td && (td->code == kTDString || td->code == 0x3F || td->code == kTDString37);
}

UPtr ValueAddress(DialogRef d, int32 object, int32 mode) {
  const int32 a = gServices.getDataPtr ? gServices.getDataPtr(d, object, 0, mode, nullptr) : 0;
  return reinterpret_cast<UPtr>(uintptr_t(uInt32(a)));
}

LStrHandle HandleAt(const void* at) {
  LStrHandle h;
  std::memcpy(&h, at, sizeof h);
  return h;
}

// The item's string handle resized to the bytes and filled; false when
// memory is short (the string as it was).
bool StoreString(UPtr at, const uChar* bytes, int32 length) {
  LStrHandle h = HandleAt(at);
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + length));
    if (!h) return false;
    std::memcpy(at, &h, sizeof h);
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + length) != kNoErr) {
    return false;
  }
  PutNative32(reinterpret_cast<uChar*>(*h), uInt32(length));
  if (length) std::memcpy(reinterpret_cast<uChar*>(*h) + 4, bytes, size_t(length));
  return true;
}

// The item's display object after the checks of a value call.
int32 ValueItem(DialogRef d, int32 item, int32 type, const TypeDescriptor** valueTD, const TypeDescriptor** itemTD) {
  const int32 object = DlgItemDisplay(d, item);
  if (!object) return 0;
  *valueTD = DlgValueTypeTD(type);
  if (!*valueTD) return 0;
  *itemTD = ItemTD(d, object);
  const bool stringType = type == kDlgLStrValue || type == kDlgCStrValue || type == kDlgPStrValueType;
  if (!*itemTD || (stringType && !StringLike(*itemTD))) {
    DBAssert(__FILE__, __LINE__, "value type does not suit the dialog item");
    return 0;
  }
  return object;
}

// Releases the key focus of the item and, for a dialog with a filter whose
// VI takes no text entry, gives it to item 1 (unless item 1 is the one
// that lets it go).
void MoveFocusAway(DialogRef d, int32 item) {
  if (DlgGetKbdFocus(d) != item) return;
  if (gServices.releaseKeyFocus) gServices.releaseKeyFocus(d);
  if (item != 1 && DlgFilter(d) && !VIFlag(d, kVIFocusLocked)) DlgSetKbdFocus(d, 1, 0, kAllText);
}

int32 GrayState(uInt32 flags) { return (flags & kFlagGreyed) ? 2 : (flags & kFlagDisabled) ? 1 : 0; }

// The key-slot table's offset, or 0 when the root has none that holds 55 slots.
int32 KeyNavTable(DialogRef d) {
  const int32 root = int32(ExtWord(d, kHeapExtRoot));
  if (root <= 0 || OHBlockSize(d, root) < kRootKeyNavAt + 4) return 0;
  const int32 nav = int32(OHWord(d, uInt32(root + kRootKeyNavAt)));
  if (nav <= 0 || !OHIsUsedBlock(d, nav) || OHBlockSize(d, nav) < 4 + 4 * kKeySlots ||
      ObjListCount(d, nav) != kKeySlots)
    return 0;
  return nav;
}

bool SlotInRange(int32 slot) {
  if (slot >= 0 && slot < kKeySlots) return true;
  DBAssert(__FILE__, __LINE__, "key slot outside 0..54");
  return false;
}

// The item that shows the object, 0 when none does.
int32 ItemShowing(DialogRef d, int32 object) {
  const int32 n = object ? DlgItemCount(d) : 0;
  for (int32 i = 1; i <= n; ++i)
    if (DlgItemDisplay(d, i) == object || DItemToDCOId(d, i) == object) return i;
  return 0;
}

// A panel that is a dialog with a filter and a window: its window.
WindowRef DialogWindowOf(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return kWNoWindow;
  const int32 ext = Ext(heap);
  if (ext <= 0 || OHBlockSize(heap, ext) < kHeapExtensionSize) return kWNoWindow;
  if (!ExtWord(heap, kHeapExtDialogFilter)) return kWNoWindow;
  return Window(heap);
}

int32 EventItem(ObjHeap heap, int32 object) {
  if (VIFlag(heap, kVINoItems)) return 0;
  return object ? ItemShowing(heap, object) : -1;
}

// The ring's item texts joined by the separator.
std::string JoinedRingTexts(DialogRef d, int32 ring, const char* separator) {
  std::string out;
  const int32 list = FindPart(d, ring, kRingListPart);
  if (!list || OHBlockSize(d, list) < kRingTextsAt + 4) return out;
  UHandle texts = reinterpret_cast<UHandle>(uintptr_t(OHWord(d, uInt32(list + kRingTextsAt))));
  if (!texts || !*texts) return out;
  const int32 size = DSCheckHandle(texts) == kNoErr ? DSGetHandleSize(texts) : AZGetHandleSize(texts);
  const int32 count = size >= 4 ? int32(GetNative32(*texts)) : 0;
  int32 at = 4;
  for (int32 i = 0; i < count && at < size && at + 1 + (*texts)[at] <= size; ++i) {
    if (i) out += separator;
    out.append(reinterpret_cast<const char*>(*texts + at + 1), (*texts)[at]);
    at += 1 + (*texts)[at];
  }
  return out;
}

// A description read from the resource file is used as a format for one
// text: only "%s" (once) and "%%" may stand in it, so that no conversion
// reads an argument that is not there.
bool SafeRingFormat(const std::string& format) {
  int32 texts = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    const char next = i + 1 < format.size() ? format[i + 1] : 0;
    if (next == 's') ++texts;
    else if (next != '%') return false;
    ++i;
  }
  return texts <= 1;
}

}  // namespace

void DlgSetPanelServices(const DlgPanelServices& services) { gServices = services; }
const DlgPanelServices& DlgServices() { return gServices; }

int32 DlgItemDisplay(DialogRef dialog, int32 item) {
  const int32 entry = DItemToDCOId(dialog, item);
  if (!entry) return 0;
  const int32 cls = OHBlockClass(dialog, entry);
  if ((cls != kClsFPDataController && cls != kClsDataController) || OHBlockSize(dialog, entry) < kControllerDisplayAt + 4)
    return entry;
  // A controller whose display word names no object block shows itself.
  const int32 shown = int32(OHWord(dialog, uInt32(entry + kControllerDisplayAt)));
  return shown > 0 && OHBlockSize(dialog, shown) >= kDescriptionAt + 4 ? shown : entry;
}

int32 DlgDisplayVal(DialogRef dialog, int32 object, const void* value) {
  const WindowRef window = Window(dialog);
  if (!window || !gServices.displayVal) return 0;
  WPortState port;
  WSetup(window, &port);
  const int32 reply = gServices.displayVal(dialog, object, 0, value);
  WRestore(&port);
  return reply;
}

int32 DlgSetCtrlVal(DialogRef dialog, int32 item, int32 type, const void* value) {
  const TypeDescriptor *valueTD = nullptr, *itemTD = nullptr;
  const int32 object = ValueItem(dialog, item, type, &valueTD, &itemTD);
  if (!object) return kDlgValueFailed;
  UPtr at = ValueAddress(dialog, object, kDataPlain);
  if (!at || !value) {
    DBAssert(__FILE__, __LINE__, at ? "no value to set" : "dialog item has no value");
    return kDlgValueFailed;
  }
  gSettingValue = true;
  const WindowRef window = Window(dialog);
  if (DlgGetKbdFocus(dialog) == item && gServices.commitKeyFocus) {
    gServices.commitKeyFocus(dialog);
    at = ValueAddress(dialog, object, kDataPlain);  // the commit may have moved the data
  }
  int32 result = 0;
  if (type == kDlgCStrValue || type == kDlgPStrValueType) {
    const uChar* bytes = static_cast<const uChar*>(value);
    const int32 length = type == kDlgCStrValue ? int32(std::strlen(static_cast<const char*>(value))) : bytes[0];
    if (!at || !StoreString(at, type == kDlgCStrValue ? bytes : bytes + 1, length)) {
      result = kDlgValueFailed;
    } else if (window) {
      result = DlgDisplayVal(dialog, object, at);
      const int32 text = FindPart(dialog, object, kTextPart);
      if (text && (Flags(dialog, text) & kTextSizesToText)) {
        Inval(dialog, object);
        Size(dialog, text, 0);
        Size(dialog, object, kTextPart);
        Inval(dialog, object);
        result |= kDlgValueResized;
      }
    }
  } else if (!at || CopyConvertData(valueTD, itemTD, value, at) != kNoErr) {
    result = kDlgValueFailed;
  } else if (window) {
    result = DlgDisplayVal(dialog, object, at);
  }
  if (window && (result & kDlgValueResized) && WIsVisible(window)) WUpdate(window);
  gSettingValue = false;
  return result;
}

int32 DlgGetCtrlVal(DialogRef dialog, int32 item, int32 type, void* value) {
  const TypeDescriptor *valueTD = nullptr, *itemTD = nullptr;
  const int32 object = ValueItem(dialog, item, type, &valueTD, &itemTD);
  if (!object) return kDlgValueFailed;
  const UPtr at = ValueAddress(dialog, object, kDataPlain);
  if (!at || !value) {
    DBAssert(__FILE__, __LINE__, at ? "no place for the value" : "dialog item has no value");
    return kDlgValueFailed;
  }
  if (type != kDlgLStrValue && type != kDlgCStrValue && type != kDlgPStrValueType)
    return CopyConvertData(itemTD, valueTD, at, value);
  const LStrHandle h = HandleAt(at);
  const int32 length = h && *h ? int32(GetNative32(reinterpret_cast<uChar*>(*h))) : 0;
  const uChar* bytes = length ? reinterpret_cast<uChar*>(*h) + 4 : nullptr;
  if (type == kDlgPStrValueType) {
    uChar* p = static_cast<uChar*>(value);
    p[0] = uChar(length > 255 ? 255 : length);
    if (p[0]) std::memcpy(p + 1, bytes, p[0]);
  } else if (type == kDlgCStrValue) {
    char* c = static_cast<char*>(value);
    if (length) std::memcpy(c, bytes, size_t(length));
    c[length] = 0;
  } else {
    // The bytes are copied out before the caller's handle may move.
    const std::string copy(reinterpret_cast<const char*>(bytes ? bytes : reinterpret_cast<const uChar*>("")),
                           size_t(length));
    if (!StoreString(static_cast<UPtr>(value), reinterpret_cast<const uChar*>(copy.data()), length))
      return kMemFullErr;
  }
  return kNoErr;
}

void DlgSetBoolText(DialogRef dialog, int32 item, ConstPStr text) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object || !text) return;
  const int32 part = FindPart(dialog, object, kBoolTextPart);
  if (!part || OHBlockSize(dialog, part) < kBoolTextListAt + 4) return;
  UHandle list = reinterpret_cast<UHandle>(uintptr_t(OHWord(dialog, uInt32(part + kBoolTextListAt))));
  const int32 size = list && AZIsHandle(list) ? AZGetHandleSize(list) : 0;
  if (size >= 5 && GetNative32(*list) > 0 && (*list)[4] == text[0] && 5 + text[0] <= size &&
      std::memcmp(*list + 5, text + 1, text[0]) == 0)
    return;
  // Four copies of the text, one per state of the Boolean.
  UHandle fresh = AZNewHandle(4 + 4 * (1 + text[0]));
  if (!fresh) return;
  PutNative32(*fresh, 4);
  for (int32 i = 0; i < 4; ++i) std::memcpy(*fresh + 4 + i * (1 + text[0]), text, size_t(1 + text[0]));
  OHSetWord(dialog, uInt32(part + kBoolTextListAt), uInt32(uintptr_t(fresh)));
  if (list && AZIsHandle(list)) AZDisposeHandle(list);
  const int32 changed = gServices.setPartText ? gServices.setPartText(dialog, part, text + 1, text[0], 0, 0) : 0;
  if (changed & kPartTextResized) Size(dialog, object, kBoolTextPart);
  Inval(dialog, part);
}

void DlgHideControl(DialogRef dialog, int32 item) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object) return;
  MoveFocusAway(dialog, item);
  SetFlags(dialog, object, Flags(dialog, object) | kFlagHidden);
  Inval(dialog, object);
}

void DlgShowControl(DialogRef dialog, int32 item) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object) return;
  SetFlags(dialog, object, Flags(dialog, object) & ~kFlagHidden);
  if (gServices.rebindTransferEntry) gServices.rebindTransferEntry(dialog, DItemToDCOId(dialog, item));
  const WindowRef window = Window(dialog);
  if (window && WIsVisible(window)) Inval(dialog, object);
}

int32 DlgGrayControl(DialogRef dialog, int32 item, int32 state) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object) return 0;
  const uInt32 flags = Flags(dialog, object);
  const int32 current = GrayState(flags);
  if (state < 0 || state > 2 || state == current) return current;
  uInt32 next = flags & ~(kFlagGreyed | kFlagDisabled);
  if (state >= 1) next |= kFlagDisabled;
  if (state == 2) next |= kFlagGreyed;
  SetFlags(dialog, object, next);
  MoveFocusAway(dialog, item);
  if (current == 2 || state == 2) Inval(dialog, object);
  return current;
}

void DlgSetStringItemFlag(DialogRef dialog, int32 item, int32 on) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object) return;
  if (!StringLike(ItemTD(dialog, object))) {
    DBAssert(__FILE__, __LINE__, "string display option on an item that is no string");
    return;
  }
  const uInt32 flags = Flags(dialog, object);
  SetFlags(dialog, object, on ? flags | kFlagStringOption : flags & ~kFlagStringOption);
  Inval(dialog, object);
}

int32 DlgSetKbdFocus(DialogRef dialog, int32 item, int32 start, int32 end) {
  const int32 object = DlgItemDisplay(dialog, item);
  if (!object) return 0;
  if (VIFlag(dialog, kVIFocusLocked)) {
    DBAssert(__FILE__, __LINE__, "key focus moved during text entry");
    return 0;
  }
  if (DlgGetKbdFocus(dialog) == item) return 0;
  const WindowRef window = Window(dialog);
  // Another panel's window that is active gives up its focus first.
  const WindowRef active = WGetActiveWindow();
  if (active && active != window && gServices.releaseKeyFocus) {
    ObjHeap other = reinterpret_cast<ObjHeap>(uintptr_t(WGetRefCon(active)));
    for (ObjHeap h = OHFirstHeap(); h; h = OHNextHeap(h))
      if (h == other && OHWord(h, kOHKind) == kPanelHeapKind) {
        gServices.releaseKeyFocus(h);
        break;
      }
  }
  if (window) WSetActiveWindow(window);
  if (gServices.releaseKeyFocus) gServices.releaseKeyFocus(dialog);
  return gServices.setKeyFocus ? gServices.setKeyFocus(dialog, item - 1, object, start, end) : 0;
}

int32 DlgKeyNavItem(DialogRef dialog, int32 slot, int32* object) {
  if (object) *object = 0;
  if (!DlgIsLiveDialog(dialog) || !SlotInRange(slot)) return 0;
  const int32 nav = KeyNavTable(dialog);
  const int32 bound = nav ? ObjListGet(dialog, nav, slot) : 0;
  if (object) *object = bound;
  return ItemShowing(dialog, bound);
}

// The slot holds the item's display object: the key travels down the frame
// path to it, which a data controller has none of.
void DlgSetKeyNavItem(DialogRef dialog, int32 item, int32 slot) {
  const int32 entry = DlgItemDisplay(dialog, item);
  if (!entry || !SlotInRange(slot)) return;
  const int32 nav = KeyNavTable(dialog);
  if (!nav) {
    DBAssert(__FILE__, __LINE__, "dialog has no key slots");
    return;
  }
  const int32 old = ObjListGet(dialog, nav, slot);
  if (old == entry) return;
  ObjListSet(dialog, nav, slot, entry);
  // The default frame moves from the old default button to the new one.
  if (slot == 0) {
    if (old && OHIsUsedBlock(dialog, old)) Inval(dialog, old);
    Inval(dialog, entry);
  }
}

void DlgItemChangeToFilter(ObjHeap heap, int32 object, int32 result, int32 action, void* record) {
  const WindowRef window = DialogWindowOf(heap);
  if (!window) return;
  const int32 item = EventItem(heap, object);
  const int32 shown = item > 0 ? DlgItemDisplay(heap, item) : 0;
  const int32 cls = shown ? OHBlockClass(heap, shown) : 0;
  if ((result & kDlgResultCommitted) && cls == kClsBoolean && (Flags(heap, shown) & kFlagLatching)) {
    const bool tracked = (Flags(heap, shown) & kFlagSwitching) && gServices.isBoolTracking &&
                         gServices.isBoolTracking(heap, shown);
    // A latching Boolean springs back to its default once the press is over.
    if (!tracked) {
      if (const UPtr def = ValueAddress(heap, shown, kDataDefault)) DlgSetCtrlVal(heap, item, kDlgBooleanValue, def);
    }
  }
  // A double-click on an entry commits.
  if ((result & 0x10000) && cls == kClsListbox && DlgListDoubleClickIndex(heap, item) != -1)
    result |= kDlgResultCommitted;
  WEventRecord e{};
  e.code = kDlgEvItemChange;
  e.window = window;
  e.where = item;
  e.globalWhere = result;
  e.modifiers = action;
  e.character = int32(uInt32(uintptr_t(record)));
  e.keyCode = object;
  WSendEvent(&e);
}

int32 DlgItemClickToFilter(ObjHeap heap, int32 object, int32 clickCode, void* record) {
  const WindowRef window = DialogWindowOf(heap);
  if (!window) return 0;
  WEventRecord e{};
  e.code = kDlgEvItemClick;
  e.window = window;
  e.where = EventItem(heap, object);
  e.globalWhere = clickCode;
  if (record) {
    std::memcpy(&e.modifiers, record, 4);
    std::memcpy(&e.keyCode, static_cast<const uChar*>(record) + 12, 4);  // the click's sub-event
  }
  e.character = object;
  e.data[0] = int32(uInt32(uintptr_t(record)));
  return WSendEvent(&e);
}

int32 DlgItemKeyToFilter(ObjHeap heap, int32 object, void*, void* block) {
  const WindowRef window = DialogWindowOf(heap);
  if (!window || !block) return 0;
  // The key event lies after the block's three receiver words.
  WEventRecord key;
  uChar* const keyAt = static_cast<uChar*>(block) + 12;
  std::memcpy(&key, keyAt, sizeof key);
  const bool plainReturn = (key.code == weKey || key.code == weKeyRepeat) && key.character == 10 &&
                           !(key.modifiers & kKeyModifierMask);
  if (plainReturn) {
    key.keyCode = 2;
    key.character = 0;
    std::memcpy(keyAt, &key, sizeof key);
  }
  WEventRecord e{};
  e.code = kDlgEvItemKey;
  e.window = window;
  e.where = EventItem(heap, object);
  e.globalWhere = key.code;
  e.modifiers = object;
  e.character = int32(uInt32(uintptr_t(keyAt)));
  const int32 answer = WSendEvent(&e);
  std::memcpy(&key, keyAt, sizeof key);
  if (plainReturn && key.keyCode == 2) {
    key.keyCode = 27;
    key.character = 10;
    std::memcpy(keyAt, &key, sizeof key);
  }
  return answer;
}

int32 DlgSendItemHelp(DialogRef dialog, int32 word) {
  if (!DlgIsLiveDialog(dialog)) return 0;
  const WindowRef window = DialogWindowOf(dialog);
  if (!window) return 0;
  WEventRecord e{};
  e.code = kDlgEvItemHelp;
  e.window = window;
  e.where = DlgGetKbdFocus(dialog);
  e.globalWhere = word;
  return WSendEvent(&e);
}

MgErr DlgSetRingHelpText(DialogRef dialog, int32 item, const char* separator) {
  const int32 ring = DlgItemDisplay(dialog, item);
  if (!ring || !separator) return kArgErr;
  if (OHBlockSize(dialog, ring) < kDescriptionAt + 4) return kArgErr;
  UHandle description = reinterpret_cast<UHandle>(uintptr_t(OHWord(dialog, uInt32(ring + kDescriptionAt))));
  std::string format;
  if (description && AZIsHandle(description) && AZGetHandleSize(description) >= 4) {
    const int32 n = int32(GetNative32(*description));
    if (n > 0 && n <= AZGetHandleSize(description) - 4) format.assign(reinterpret_cast<char*>(*description + 4), size_t(n));
  }
  if (!SafeRingFormat(format)) {
    DBAssert(__FILE__, __LINE__, "item description is no format for one text");
    return kArgErr;
  }
  const std::string joined = JoinedRingTexts(dialog, ring, separator);
  LStrHandle text = reinterpret_cast<LStrHandle>(AZNewHClr(4));
  if (!text) return kMemFullErr;
  if (LStrAppendPrintf(text, format.c_str(), joined.c_str()) != kNoErr) {
    AZDisposeHandle(reinterpret_cast<UHandle>(text));
    return kMemFullErr;
  }
  OHSetWord(dialog, uInt32(ring + kDescriptionAt), uInt32(uintptr_t(text)));
  if (description && AZIsHandle(description)) AZDisposeHandle(description);
  return kNoErr;
}

MgErr DlgRingInsertItem(DialogRef dialog, int32 item, ConstPStr text, const void* record, int32 index,
                        Bool32 disabled) {
  const int32 ring = DlgItemDisplay(dialog, item);
  if (!ring) return kArgErr;
  return gServices.ringInsertItem ? gServices.ringInsertItem(dialog, ring, text, record, index, disabled) : kArgErr;
}

MgErr DlgRingRemoveItem(DialogRef dialog, int32 item, int32 index) {
  const int32 ring = DlgItemDisplay(dialog, item);
  if (!ring) return kArgErr;
  return gServices.ringRemoveItem ? gServices.ringRemoveItem(dialog, ring, index) : kArgErr;
}

MgErr DlgRingClear(DialogRef dialog, int32 item) {
  const int32 ring = DlgItemDisplay(dialog, item);
  if (!ring) return kArgErr;
  return gServices.ringSetItemText ? gServices.ringSetItemText(dialog, ring) : kArgErr;
}

MgErr QXRTRegisterDialogItems() {
  static const QXRTEntry kEntries[] = {
      QX_RT_ENTRY(913, DlgInsertListItem),        QX_RT_ENTRY(914, DlgReplaceList),
      QX_RT_ENTRY(915, DlgGetListItemGlyph),      QX_RT_ENTRY(917, DlgGetDoubleClickListItem),
      QX_RT_ENTRY(919, DlgEnableListItem),        QX_RT_ENTRY(920, DlgGetSelectedListItem),
      QX_RT_ENTRY(921, DlgSetSelectedListItem),   QX_RT_ENTRY(922, DlgFindListItem),
      QX_RT_ENTRY(923, DlgDeleteList),            QX_RT_ENTRY(924, DlgDeleteListItem),
      QX_RT_ENTRY(925, DlgReplaceListItem),       QX_RT_ENTRY(926, DlgSetCtrlVal),
      QX_RT_ENTRY(927, DlgGetCtrlVal),            QX_RT_ENTRY(929, DlgSetBoolText),
      QX_RT_ENTRY(930, DlgHideControl),           QX_RT_ENTRY(931, DlgShowControl),
      QX_RT_ENTRY(932, DlgGrayControl),           QX_RT_ENTRY(935, DlgSetKbdFocus),
  };
  return QXRTRegister(kEntries, int32(sizeof kEntries / sizeof kEntries[0]));
}
