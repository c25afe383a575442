// Inserting a new object described by a creation record into an owner.
#pragma once
#include "panel/objects.h"

// Creates the object the record describes (its point, kind, class name and
// template id, the flags field) and inserts it at the owner's end.  Inserted:
// the placement kept in words 72 to 74 when the record defers it, else the
// object placed (with the place flag) or its label hidden and the object
// sized; redrawn, the VI marked modified, and the placement's result with
// 128.  A failed creation clears word 73 and answers 16; a refused insertion
// disposes the object and beeps (answer 2: the memory-full alert) and answers 0.
QX_EXTERN_C int32 TRInsertNewObject(ObjHeap heap, int32 owner, void* dialogRecord, CreationRecord* record,
                                    int32 placeFlag);
