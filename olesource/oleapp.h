// The Application automation object: one per client, made by the server's
// class object.  Its dispatch interface hands every member to the request
// dispatcher as an invoke of the application's members (class 0, the local
// application) on the calling thread, which is the user-interface thread
// that the server's class object serves.
#pragma once
#include "mgsource/extcode.h"
#include "platform/qx_com.h"
#include "platform/qx_comvar.h"

// The members the object serves itself.
enum : int32_t { kOleAppAutoQuit = 35, kOleAppGetVIReference = 2004, kOleAppQuit = 2013 };
// The interface's members after the seven dispatch slots.
constexpr size_t kOleAppMemberCount = 50;

struct OleApplication {
  PlatComDispatch face;  // first: the object is its dispatch interface
  int32 refs;            // starts at 0
  void* typeInfo;        // the shared type information, one reference (none yet)
  int32 errorCode;
  PlatBstr errorText;
};

// A new object with count 0 in the Application object list, holding the
// shared type information (loaded by the first object): 0, E_OUTOFMEMORY,
// the server's failure when its list is gone, or the type information's.
PlatHResult OleApplicationCreate(OleApplication** out);
