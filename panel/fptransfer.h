// What a top-level run asks of its panel as it starts: each control's value
// written into its transfer slot of the data space, and the blink timer
// when its panel blinks.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"

// Writes the control's current value (the operate copy of its record) into
// its transfer slot.  Data the diagram left pending in the slot is taken
// into the value first, so that none is lost.  Nothing for an object that
// is not a data controller with a record.
QX_EXTERN_C void FPUpdateTransferSlot(ObjHeap heap, int32 control);
// FPUpdateTransferSlot for every data controller of the panel whose first
// flag bit (bit 0 of its flag word) is clear.
void FPUpdateTransferSlots(ObjHeap heap);

// Fills the run commands' panel hooks for these; called at start-up.
void PanelInstallRunHooks();
