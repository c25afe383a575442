// Actions sent to panel objects: the do-it message, the do-it methods of
// the classes (operate mode's where built), and the panel root's selection
// method that hands an action to each of its top-level objects.
#include "engine/objswap.h"
#include "mgsource/fourcc.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/operate.h"
#include "panel/strimport.h"

namespace {

// The root's selection: every top-level object, from the last of the panel's
// object list to the first, ORing the results; a result with the stop bit
// ends the walk.
int32 PanelSelect(ObjHeap heap, int32 root, void* record) {
  // Sent as OSelect's event record: the method's type is the message's.
  auto* rec = static_cast<PanelActionRecord*>(record);
  // The string import (53) reads the panel's objects; the export (52) writes nothing.
  if (rec->action == kSelectImportStrings || rec->action == kSelectExportStrings) {
    *rec->result = rec->action == kSelectImportStrings && rec->frame
                       ? PanelImportStrings(heap, root, static_cast<ImportStringsRequest*>(rec->frame))
                       : 0;
    return 0;
  }
  // Moving the selected objects into a new owner (12, a drop of panel
  // objects) is the work of the objects' edit-mode selection methods, which
  // operate mode does not install: nothing moves, and the objects' do-it
  // methods never see the record as a frame.
  if (rec->action == kSelectMoveObjects) {
    *rec->result = 0;
    return 0;
  }
  int32 all = 0;
  const int32 list = ObjWord(heap, root, kRootObjectList / 4);
  for (int32 i = list ? ObjListCount(heap, list) : 0; i-- > 0;) {
    const int32 child = ObjListGet(heap, ObjWord(heap, root, kRootObjectList / 4), i);
    if (!child) continue;
    int32 r = 0;
    ODoit(heap, child, rec->frame, rec->action, &r);
    all |= r;
    if (r & kActionStopBit) break;
  }
  *rec->result = all;
  return 0;
}

// The objects' own do-it: a panel that was loaded (55) or whose fonts were
// replaced (21) asks nothing of the objects built so far.
int32 ObjectDoit(ObjHeap heap, int32 object, void*, int32 action, int32* result) {
  if (action != 55 && action != 21) return ErrorMethod(heap, object);
  *result = 0;
  return 0;
}

}  // namespace

int32 ODoit(ObjHeap heap, int32 object, void* frame, int32 action, int32* result) {
  int32 ignored = 0;
  if (!result) result = &ignored;
  *result = 0;
  return OSendMessage<int32>(kMsgODoit, heap, object, frame, action, result);
}

ObjMethodAddr ODoitMethodFor(int32 cls) {
  if (ObjMethodAddr m = OperateDoitMethodFor(cls)) return m;
  return reinterpret_cast<ObjMethodAddr>(&ObjectDoit);
}

ObjMethodAddr OSelectMethodFor(int32 cls) {
  return cls == kClsFrontPanel ? reinterpret_cast<ObjMethodAddr>(&PanelSelect) : nullptr;
}
