#include "panel/selabel.h"

#include "mgsource/debug.h"
#include "panel/zktag.h"

namespace {
constexpr int16 kPartSelLabel = 11;
}  // namespace

int32 SelLabelItemCount(ObjHeap heap, int32 owner, int32 label) {
  if (owner && !label) label = FindPart(heap, owner, kPartSelLabel, 0);
  if (!heap || !*heap || !owner || !label) {
    DBAssert("selabel", 280, "SelLabelItemCount: no owner or label");
    return 0;
  }
  // A Tag's names are the installed tag list.
  if (ObjClass(heap, owner) != kClsTag) return 0;
  const UHandle list = TagListHandle();
  return list ? TagListItem(heap, owner, list, nullptr, nullptr, -1) : 0;
}
