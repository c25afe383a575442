// Shared inside the object system.
#pragma once
#include "engine/datatype.h"
#include "engine/vi/dataspace.h"
#include "panel/objects.h"

typedef int32 (*OAllocateMethod)(ObjHeap heap, int32 object);
// The allocation method (message 55) of a class that has one of its own.
OAllocateMethod OAllocateMethodFor(int32 cls);
// The data methods (messages 35, 41 and 73) of a class that has its own;
// null when the class has none for that slot.
ObjMethodAddr DataMethodFor(int32 slot, int32 cls);
// The data procedure (message 73) of a class.
ObjMethodAddr ODataSpaceMethodFor(int32 cls);
// ErrorMethod (or NullMethod when null is set) in the signature of data
// slot 35, 41 or 73, so that a message reaches it with its own arguments.
ObjMethodAddr DataDefaultMethod(int32 slot, bool null);

// The elements of a panel data controller's record: the flags cluster, then
// the operate, default, execution, transfer and old copies.
enum : int32 { kRecFlags = 0, kRecOperate = 1, kRecTransfer = 4, kRecElements = 6 };
// Where a data controller's record lies: the data space the panel is bound
// to, the record's descriptor and the data offsets of its elements.
struct DCORecordPlace {
  DataSpace ds;
  const TypeDescriptor* rec;
  int32 offsets[kRecElements];
};
// The data space the panel's root object is bound to (null: none).
DataSpace FPBoundDataSpace(ObjHeap heap);
// False when the controller has no record that fits its data space.
bool FindDCORecord(ObjHeap heap, int32 controller, DCORecordPlace* place);
// The record's mutex: none without execution threads or when the record's
// head is the flags word alone.
ThMutex DCORecordMutex(const DCORecordPlace& place);
