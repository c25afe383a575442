// The logged controls of a VI's front panel: the data controllers that the
// VI's datalog binding names, one for each element of the log record's
// panel data, in that order.  Their values are copied out of the panel
// when it is logged and back in when a record is shown.
#pragma once
#include "engine/datatype.h"
#include "mgsource/extcode.h"

// The binding's control map: an int16 count, then for each element of the
// panel data the position of its data controller among the panel's data
// controllers in heap order (0 first).
//
// The logged controls the map names that the panel has; -1 when the panel
// is not loaded.
int32 PanelLoggedControlCount(UHandle vi);
// Copies each logged control's value (the operate copy of its record) into
// the panel data of type panelType, element by element at its aligned
// offset.  42 when the controls no longer match the panel data's elements;
// 1 without a panel.
MgErr PanelCopyLoggedControls(UHandle vi, const TypeDescriptor* panelType, void* panelData);
// The reverse: the panel data's elements become the controls' values, and
// the panel is redrawn.
MgErr PanelShowLoggedRecord(UHandle vi, const TypeDescriptor* panelType, const void* panelData);

// Fills the panel's part of the datalog hooks; called at start-up.
void PanelInstallDatalogHooks();
