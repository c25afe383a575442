// Inside the configuration manager: the raw text of keys.
#pragma once
#include <string>

#include "extcode.h"

// Writes text (null: deletes the key) as it stands under key.  Results as
// CfgWrite.
MgErr CfgWriteRaw(ConstPStr key, const char* text);
// The name of the file in use (chosen, or the default).
std::string CfgFileText();
