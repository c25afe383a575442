// Generic lists: a growable array of fixed-size elements in one data-zone
// handle: capacity, count and element size (three native i32), then the
// elements; unused elements are zero.  Every operation names the element
// size it expects; a null list or another size is reported and refused
// (insertions answer 1, gets and removals 0 with the output cleared).  The
// "P" forms work on the dereferenced contents and never grow.  No lock: the
// users guard their lists.
#pragma once
#include "mgsource/extcode.h"

QX_EXTERN_C UHandle GLNew(int32 capacity, int32 elementSize);
QX_EXTERN_C void GLDispose(UHandle list);
// Copies the element in at index (pinned to 0..count); a full list grows by
// growth elements first.  0, 1 refused, or the resize error (2 as well for a
// full list that may not grow).
QX_EXTERN_C MgErr GLInsert(UHandle list, const void* element, int32 size, int32 growth, int32 index);
// The same without growing: 2 when the list is full.
QX_EXTERN_C MgErr GLInsertP(UPtr contents, const void* element, int32 size, int32 index);
// Removes the element at index (pinned to 0..count-1), copying it to out when
// out is not null; 1 when one was removed, 0 (out cleared) otherwise.
QX_EXTERN_C int32 GLRemove(UHandle list, void* out, int32 size, int32 index);
QX_EXTERN_C int32 GLRemoveP(UPtr contents, void* out, int32 size, int32 index);
QX_EXTERN_C int32 GLCount(UHandle list, int32 size);
// Copies element index out: 1 when it is in range, else 0 with out cleared.
QX_EXTERN_C int32 GLGet(UHandle list, void* out, int32 size, int32 index);
QX_EXTERN_C int32 GLGetP(UPtr contents, void* out, int32 size, int32 index);
// The index of the last element equal byte for byte to key, -1 when none.
QX_EXTERN_C int32 GLFindP(UPtr contents, const void* key, int32 size);
// Removes the last element equal to key: 1 when one was removed, else 0.
QX_EXTERN_C int32 GLRemoveMatch(UHandle list, const void* key, int32 size);
QX_EXTERN_C int32 GLRemoveMatchP(UPtr contents, const void* key, int32 size);
