// Locators of panel data: addresses inside the data space of a front-panel
// heap's VI, for the panel classes that keep private data there.
#pragma once
#include "engine/datatype.h"
#include "mgsource/objheap.h"

// The address of the data offset inside the data space of the VI that owns
// the front-panel heap; null for offset 0 (the heap is then not looked at),
// and null, with an assertion, for a heap that is no front-panel heap, has no
// owner or data space, or an offset outside that data space.  The address is
// valid until the data space is next resized.
QX_EXTERN_C UPtr FPHeapDataPtr(ObjHeap heap, int32 offset);

// ---- Element locators ----------------------------------------------------------------
// The offset of element index inside the data of the cluster *td that starts
// at offset: the elements before it are stepped over (each aligned, then
// advanced by its DataSize) and *td becomes the element's descriptor.  For a
// descriptor that is no cluster the offset is returned unchanged.  An index
// outside the cluster's elements is reported and answers -1.
QX_EXTERN_C int32 ObjDataOffset(const TypeDescriptor** td, int32 offset, int32 index);

// The offset of the element object's data inside the data of its cluster
// object that starts at clusterData (an offset, or an address as a number),
// and in *td (when given) the element's descriptor; 0 when clusterData is 0,
// the element is not in the cluster's element list or its index lies past the
// cluster's elements.
QX_EXTERN_C int32 ClusterEltOffset(ObjHeap heap, int32 cluster, int32 element, int32 clusterData,
                                   const TypeDescriptor** td);

// The address of the element that the array control shows inside the array
// handle at *array (the address must be given), growing the array to reach
// it when grow is set; null when there is no such element.
QX_EXTERN_C UPtr ArrayDisplayEltPtr(ObjHeap heap, int32 arrayObj, UHandle* array, Bool32 grow);
// What ArrayDisplayEltPtr looks up of the array control before it reads the
// shown cell's indexes: the array's descriptor (typedefs looked through), its
// dimensions, the element's size and the offset of the first element in the
// array's handle.  A walk over the cells looks it up once: nothing a cell's
// display does changes the control's type or its private record's entry.
struct ArrayDisplayEltType {
  const TypeDescriptor* array;
  int32 dims, elemSize, firstAt;
};
// Fills *out, false (reported as ArrayDisplayEltPtr reports it) when the
// control has no array type or no panel data.
bool ArrayDisplayEltTypeOf(ObjHeap heap, int32 arrayObj, ArrayDisplayEltType* out);
// ArrayDisplayEltPtr for a control whose type was looked up (array given).
UPtr ArrayDisplayEltPtrOfType(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type, UHandle* array,
                              Bool32 grow);
// The handle of the control's first shown indexes (a count, then one index
// per dimension) from its private record, checked to hold every dimension;
// null (reported as ArrayDisplayEltPtr reports it) when it is not there.
// A walk over the cells looks it up once: a cell's display leaves the
// control's private record alone.
UHandle ArrayDisplayIndexes(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type);
// ArrayDisplayEltPtrOfType with the indexes handle looked up.
UPtr ArrayDisplayEltPtrAt(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type, UHandle indexes,
                          UHandle* array, Bool32 grow);
// The array control's flag set when the array was grown to show an element.
constexpr uInt32 kArrayObjGrown = 0x10000;

// The address of the value a chart's digital display of plot order shows:
// the newest point of the chart's history when its type is an array, else
// the cluster element of that order inside data (null: the chart's own data).
QX_EXTERN_C UPtr GraphPartDataOffset(ObjHeap heap, int32 chart, UPtr data, int32 order);

// The object message that the locators send upward: where an object's data
// lies (the panel's OGetDataPtr), installed at start-up by the object system.
// Until then every object answers 0.
typedef int32 (*PanelGetDataPtrProc)(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle);
PanelGetDataPtrProc SetPanelGetDataPtrProc(PanelGetDataPtrProc proc);
