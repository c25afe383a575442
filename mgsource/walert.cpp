#include "walert.h"

#include <atomic>
#include <cstring>

#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_alert.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"

namespace {
std::atomic<int32> gInAlert{0};
}  // namespace

Bool32 WInAlert() { return gInAlert.load() > 0 ? 1 : 0; }

void WAlert(ConstPStr text, int32 /*unused*/) {
  char buf[256];
  const int32 n = text ? text[0] : 0;
  if (n) std::memcpy(buf, text + 1, size_t(n));
  buf[n] = 0;
  const Bool32 previous = WNativeModal();
  WSetNativeModal(1);
  const bool redrawing = WUpdating() != 0;
  gInAlert.fetch_add(1);
  PlatAlert("", buf, kPlatOK, kPlatIconWarning);
  if (redrawing) {
    // The window being redrawn would be redrawn again behind the box for
    // ever: it is taken out of view until the user restores it.
    if (WindowRecord* r = WRecord(WCurrentPort())) {
      if (r->hwnd) {
        r->active = 0;
        r->visible = 0;
        PlatPostMessage(r->hwnd, kPlatMsgSysCommand, kPlatScMinimize, 0);
        if (const PlatWindow frame = PlatGetFrameWindow()) PlatPostMessage(frame, kPlatMsgUser4, 0, 0);
      }
    }
  }
  gInAlert.fetch_sub(1);
  WSetNativeModal(previous);
  WInvalRect(kWAllWindows, nullptr);
}

void WBeep() { PlatBeep(); }
