// The display of a control's value after a data change, and one property of
// a property node.  Until the display classes draw values, the value is
// shown by asking for the display object to be drawn again.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// Redraws the value of the control (a data controller, or the object
// itself) from previous (null: none) to value; 0.
QX_EXTERN_C MgErr PanelDisplayValues(ObjHeap heap, int32 controller, const void* previous, const void* value);
// Runs one property: read (1) or write (0) of the property code on the
// object, with its type at typeOffset of the type handle and its data at
// the data offset; last is set for the node's last property.  0.  Not
// exported: compiled code reaches properties only through the attribute
// node transfer until the classes' property procedures exist.
MgErr DoDDOAttrCall(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read,
                                int32 last, int32 property, int32 data);

// Observers that tests set to see the calls (null: none).
struct PanelDisplayObservers {
  void (*display)(ObjHeap heap, int32 controller, const void* previous, const void* value) = nullptr;
  void (*property)(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                   int32 property, int32 data) = nullptr;
};
void SetPanelDisplayObservers(const PanelDisplayObservers& observers);
