// The VirtualInstrument automation object: one per VI reference handed to
// a client, living on an apartment thread of its own that runs a message
// loop.  Client calls arrive on that thread; everything that touches VIs is
// handed to the user-interface thread as an automation request (user event
// 23) while the VI thread waits for it.
#pragma once
#include "mgsource/extcode.h"
#include "platform/qx_com.h"
#include "platform/qx_comvar.h"
#include "platform/qx_event.h"
#include "server/appserve.h"

// The members the object serves itself.
enum : int32_t {
  kOleVIGetControlValue = 1013,
  kOleVISetControlValue = 1014,
  kOleVICall = 1015,
  kOleVIRun = 1017,
};

// The interface's members after the seven dispatch slots.
constexpr size_t kOleVIMemberCount = 118;

struct OleVirtualInstrument {
  PlatComDispatch face;   // first: the object is its dispatch interface
  int32 refs;             // starts at 0; changed on the object's thread only
  void* typeInfo;         // one reference (none without type information)
  PlatEvent* completion;  // the object's request event, owned
  VIRef viRef;
  int32 errorCode;
  PlatBstr errorText;  // owned
};

// Makes the object for the VI named, or at the path, on a thread of its
// own, and gives its interface (a proxy whose calls run on that thread) in
// *out.  0, an HRESULT, or a mapped VI-server error with its text in
// *errorText (which may be null).  The VI is opened by name in the local
// application first, then by path.  Runs on the user-interface thread.
int32 OleVICreate(ConstPStr name, Path path, ConstPStr password, PlatBstr* errorText, PlatComDispatch** out);

// User event 23: runs the posted request the word names, when it is still
// waiting to run (a word that names none is ignored).
void OleRunPostedRequest(int32 word);
// Runs every posted request not taken yet; on the user-interface thread
// only (elsewhere nothing).  The component layer calls it while the
// user-interface thread waits for an apartment, so a VI thread that hands a
// request over meanwhile is served.
void OleServePostedRequests();
// Requests posted and not run yet (for tests).
int32 OlePostedRequestCount();
