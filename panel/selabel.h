// The names a selection label (a Tag's text part) chooses from.
#pragma once
#include "panel/objects.h"

// The number of names the owner's selection label offers: a null label
// stands for the owner's part 11; a null owner or label is reported (0).
QX_EXTERN_C int32 SelLabelItemCount(ObjHeap heap, int32 owner, int32 label);
