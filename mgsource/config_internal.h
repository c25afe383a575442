// Inside the configuration manager: the raw text of keys.
#pragma once
#include <string>

#include "extcode.h"

// Writes text (null: deletes the key) as it stands under key.  Results as
// CfgWrite.
MgErr CfgWriteRaw(ConstPStr key, const char* text);
// The name of the file in use (chosen, or the default).
std::string CfgFileText();

// The checks of a trailer's bytes: 0 when count is 20 and they start with
// "APPB" and version 3 (else 1); built when valid with flag bit 0 set.
MgErr AppTrailerCheck(const uChar* bytes, int32 count);
Bool32 AppTrailerIsBuilt(const uChar* bytes, int32 count);
