// Copying panel objects between object heaps (message 27).
//
// OCopy (source heap, object, destination heap, offset, flags): the object
// is duplicated with everything it owns, each object at most once in a copy
// pass (its copy-forward word names its copy), so that an object shared by
// two lists has one copy.  Sub-object copies get their new parent as owner;
// the top-level copy's owner is 0 until it is inserted.  The offset is a
// Point packed in 32 bits (vertical in the low half, horizontal in the
// high); flag bit 0 lets the copy take over a taken key-navigation slot, bit
// 8 marks the queued data copy.  Answers 0, 2 (memory full; the copies made
// stay, lists cut to the entries processed), 1 for an image reference the
// image table does not hold, 43 from a type definition whose copy is linked
// by name (no failure), or the first failing child's answer.
//
// The caller opens a marking pass of kind 1 on the source heap (and the
// destination), copies, inserts the top-level copies and ends the pass.
// User-interface thread only.
#pragma once
#include "panel/objects.h"

constexpr int32 kCopyLinkedTypeDef = 43;
constexpr int32 kCopyFlagTakeKeyNav = 0x1, kCopyFlagMarkData = 0x100;
// The flags of the queued copy of an object's value, and the mark added.
constexpr uInt32 kCopyDataProcFlags = 4, kCopyDataProcMarked = 16;

// The copy method of a class, or null where the class has none here.
ObjMethodAddr OCopyMethodFor(int32 cls);
// The copy of a data display object, for the classes that add steps of
// their own (source heap, object, destination heap, offset, flags).
QX_EXTERN_C int32 DDOOCopyMethod(ObjHeap src, int32 object, ObjHeap dst, int32 offset, int32 flags);

// The panel's key-navigation table (a list of 55 slots), 0 when the heap has
// none or its list does not fit its block.
QX_EXTERN_C int32 FPKeyNavTable(ObjHeap heap);
