// What the string import reads and replaces in the controls' own lists.
#pragma once
#include "panel/strimport.h"

// Fills the import's listbox and table members: a listbox's item records,
// a table's row and column headers, its look records and their fonts.
void ControlsFillStringImportHooks(StringImportHooks* hooks);
