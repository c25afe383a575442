// The DDE service of the running system and the shell registration of its
// document types.  The service answers on the topic "System" under the
// application's short name: "open(<full path>)" posts an open-document
// event for the path, "activate" brings the frame window forward.  External
// code may link a DDE callback of its own, which gets a second instance.
#pragma once
#include "mgsource/extcode.h"

typedef uInt32 (*DdeCallbackProc)(uInt32 type, uInt32 format, uInt32 conv, uInt32 string1, uInt32 string2,
                                  uInt32 data, uInt32 data1, uInt32 data2);

// Registers the document types and starts the service unless the boolean
// "RegisterExtensions" (default 1, 0 in a built application) is false;
// 0, or the DDE layer's error.
QX_EXTERN_C MgErr DDEInit();
// Ends the linked instance, then the service.
QX_EXTERN_C void DDEShutdown();
// Writes the registry entries of one document type.
QX_EXTERN_C void RegisterFileType(ConstCStr extension, ConstCStr kindWord, ConstCStr description, int32 iconIndex);
// The service's callback.
QX_EXTERN_C uInt32 DDECallBack(uInt32 type, uInt32 format, uInt32 conv, uInt32 string1, uInt32 string2, uInt32 data,
                               uInt32 data1, uInt32 data2);
// Installs (making the second instance) or, with a null callback, removes
// the external code's callback; the instance id goes to instanceOut when
// given.  0.
QX_EXTERN_C MgErr LinkDdeCallback(DdeCallbackProc callback, uInt32* instanceOut);
// The callback of the second instance: hands every transaction to the
// linked callback; without one, advise data is acknowledged and the rest
// answered 0.
QX_EXTERN_C uInt32 DDEForwardCallBack(uInt32 type, uInt32 format, uInt32 conv, uInt32 string1, uInt32 string2,
                                      uInt32 data, uInt32 data1, uInt32 data2);

// Application messages: this platform delivers none (DDE stands in), so
// the probe says they are available and every parameter read fails.
QX_EXTERN_C Bool32 AppMsgAvailable();  // 1
// 53.
QX_EXTERN_C MgErr AppMsgGetStringParam(const void* message, uInt32 key, UHandle* text);
// 53 for the types "LBoo" and "PStr", 73 for any other.
QX_EXTERN_C MgErr AppMsgGetParam(const void* message, uInt32 key, uInt32 type, void* value);

// The service's instance (0 while none runs) and its two string handles.
uInt32 DDEServerInstance();
