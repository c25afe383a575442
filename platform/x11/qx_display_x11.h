// The X11 display: every window record except the frame is an X window of
// its client rectangle, drawn from the window's retained surface; X input
// enters the window system's common cooking.  Selected with QX_UI=x11 once
// registered; without a reachable server the window system stays headless.
//
// The connection is served on the window thread only: it reads events and
// presents what windows drew after each dispatched message, at each message
// retrieval and before each block (qx_thread's wait source).
#pragma once
#include <cstdint>

#include "platform/qx_window.h"

struct _XDisplay;

// Registers the X11 display with the window system (once; idempotent).
void PlatX11Register();
// The open connection; null before the window system opened it or after it
// was lost.
_XDisplay* PlatX11Connection();
// The X window showing a window record; 0 for none (the frame, hidden ones
// not yet shown, unknown ids).
unsigned long PlatX11WindowOf(PlatWindow w);
// A round trip to the server, then everything it sent is read and what
// windows drew is presented (window thread).  False without a connection.
bool PlatX11Sync();
