// The type information of the automation objects: loaded from the server's
// type-information library, registered under its identifier or else the
// file in the application folder.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "platform/qx_com.h"

// The language the objects load their type information in.
constexpr uInt32 kOleTypeInfoLcid = 9;
// The type information of the interface iid (one reference for the caller):
// the library registered for the server's library identifier, version 5.0
// and the language first; else the application folder's file of the type
// library's name, accepted only when its language's primary language is
// lcid (else 0x8002000C).  The library's own failures otherwise.
PlatHResult OleLoadTypeInfo(const PlatGuid& iid, uInt32 lcid, void** out);
// The same from the file at the path only.
PlatHResult OleLoadTypeInfoFile(Path file, const PlatGuid& iid, uInt32 lcid, void** out);
