// The display behind the window system.
//
// A backend shows what the windows hold: it composes the desktop and the
// windows' retained surfaces, back to front.  QX_UI selects it; unset or
// "headless" gives the headless display, which shows nothing on a screen
// and composes on request (screenshots): a 0x808080 desktop, each shown
// window's frame in the face colour 0xC0C0C0 and its client surface.
//
// Starting the window system makes the calling thread the one that owns the
// windows and receives input, and makes SIGTERM and SIGINT only write to a
// descriptor; that thread then posts Close to the frame window when it next
// retrieves a message.
#pragma once
#include <cstdint>

#include "platform/qx_surface.h"
#include "platform/qx_window.h"

class PlatDisplay {
 public:
  virtual ~PlatDisplay() = default;
  virtual const char* Name() const = 0;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual uint32_t DesktopColour() const = 0;  // 0x00BBGGRR
  // Sizes out to the screen and composes the desktop and the windows into it.
  virtual bool Compose(PlatSurface* out) = 0;
};

// The headless composition of the desktop and the windows: what a backend
// whose screen is gone composes, so screenshots still show the windows.
bool PlatComposeHeadless(PlatSurface* out);

// A backend that shows the windows on a real screen, registered by its own
// library before the window system starts.  Open runs on the window thread
// and is false when its screen cannot be reached; the window system then
// stays headless after one warning on stderr.
class PlatDisplayBackend : public PlatDisplay {
 public:
  virtual bool Open() = 0;
};
// The backend QX_UI selects by its Name(); null removes it.
void PlatRegisterDisplayBackend(PlatDisplayBackend* backend);

// False when QX_UI names a backend this build does not have.
bool PlatWindowSystemStart();
// The display of the started window system (the headless one before).
PlatDisplay* PlatGetDisplay();
// The thread that owns the windows and receives input; 0 before start.
uint32_t PlatWindowSystemThread();
// The window that receives Close on SIGTERM and SIGINT.
void PlatSetFrameWindow(PlatWindow w);
PlatWindow PlatGetFrameWindow();
