// What the object system asks of the shell (the dialog filter, the panel's
// cached bounds, string import, the VI Info dialog, tracked and standard
// menus, the tool bar's text entry and the window's parts), reached through
// hooks that start-up fills; each has the default its caller can live with.
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"
#include "panel/oinit.h"
#include "panel/transact.h"

namespace {

PanelShellHooks gHooks{};

// The root's key-binding slots as the dialog builder writes them.
int32 RootKeyNavItem(ObjHeap heap, int32 slot, int32* object) {
  if (object) *object = 0;
  if (!heap || !*heap || slot < 0 || slot >= kKeyNavSlots) return 0;
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const int32 root = ext > 0 ? int32(GetNative32(*heap + ext + kHeapExtRoot)) : 0;
  if (!root || OHBlockSize(heap, root) < kRootKeyNav + 4) return 0;
  const int32 nav = int32(OHWord(heap, uInt32(root + kRootKeyNav)));
  // Only a table of the builder's 55 slots, read before the list is trusted.
  if (nav <= 0 || !OHIsUsedBlock(heap, nav) || OHBlockSize(heap, nav) < 4 + 4 * kKeyNavSlots ||
      int32(OHWord(heap, uInt32(nav))) != kKeyNavSlots)
    return 0;
  const int32 bound = ObjListGet(heap, nav, slot);
  if (object) *object = bound;
  return bound ? slot + 1 : 0;
}

}  // namespace

PanelShellHooks SetPanelShellHooks(const PanelShellHooks& hooks) {
  const PanelShellHooks former = gHooks;
  gHooks = hooks;
  return former;
}

const PanelShellHooks& PanelShell() { return gHooks; }

void PanelInvalBounds(ObjHeap heap) {
  if (gHooks.panelInvalBounds) gHooks.panelInvalBounds(heap);
}

void TipStripSetTarget(ObjHeap heap, int32 object, int32 part) {
  if (gHooks.tipStripSetTarget) gHooks.tipStripSetTarget(heap, object, part);
}

void StatePnlSetTextEntry(ObjHeap heap, int32 on) {
  if (gHooks.statePnlSetTextEntry) return gHooks.statePnlSetTextEntry(heap, on);
  if (!heap || !*heap) return;
  const uInt32 flags = OHWord(heap, kOHFlags);
  OHSetWord(heap, kOHFlags, on ? flags | kHeapFlagTextEntry : flags & ~kHeapFlagTextEntry);
}

int32 DlgGetKeyNavItem(ObjHeap heap, int32 slot, int32* object) {
  if (gHooks.dlgGetKeyNavItem) return gHooks.dlgGetKeyNavItem(heap, slot, object);
  return RootKeyNavItem(heap, slot, object);
}

void DlgSendItemChange(ObjHeap heap, int32 object, int32 result, int32 action, void* record) {
  if (gHooks.dlgSendItemChange) gHooks.dlgSendItemChange(heap, object, result, action, record);
}

int32 DlgSendItemClick(ObjHeap heap, int32 object, int32 clickCode, ActionParams* record) {
  return gHooks.dlgSendItemClick ? gHooks.dlgSendItemClick(heap, object, clickCode, record) : 0;
}

int32 DlgSendItemKey(ObjHeap heap, int32 object, void* frames, void* block) {
  return gHooks.dlgSendItemKey ? gHooks.dlgSendItemKey(heap, object, frames, block) : 0;
}
