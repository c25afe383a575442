// Actions sent to panel objects: the do-it message, the do-it methods of
// the classes (operate mode's where built), and the selection methods of
// the class table (edit messages; the string import for the classes
// without an edit method of their own).
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "mgsource/fourcc.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/operate.h"
#include "panel/editmsg.h"
#include "panel/strimport.h"

namespace {

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
  // The scale's, the listbox's, the table's and the container's own methods
  // join at start-up from the controls.
  if (cls == kClsScale || cls == kClsListbox || cls == kClsTable || cls == kClsContainer) return nullptr;
  if (ObjMethodAddr m = OperateDoitMethodFor(cls)) return m;
  return reinterpret_cast<ObjMethodAddr>(&ObjectDoit);
}

ObjMethodAddr OSelectMethodFor(int32 cls) {
  if (ObjMethodAddr m = EditSelectMethodFor(cls)) return m;
  return StringImportSelectMethodFor(cls);
}
