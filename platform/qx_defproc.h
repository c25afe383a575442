// The default window procedure: what a message does when the window's own
// procedure passes it on.
//
//   Close            destroys the window
//   MouseActivate    kPlatMaActivate
//   CancelMode       ends the window's capture (and so a sizing loop)
//   NcHitTest        the part of the frame under the point
//   Paint            begins and ends painting (the region is emptied)
//   EraseBackground  fills the region with the class background; 1 when done
//   SysKeyUp         Alt released with no other key pressed since it went
//                    down, or F10 released: SysCommand(KeyMenu, 0)
//   SysChar          SysCommand(KeyMenu, character)
//   SysCommand       Close sends Close (unless disabled); Minimize, Maximize and Restore change
//                    the size state (Restore asks QueryOpen first for a
//                    minimised window)
//   NcLButtonDown    on the bottom-right corner: the sizing loop below
//   QueryOpen        1
// Everything else answers 0.
//
// The sizing loop captures the mouse and retrieves messages until the left
// button is released: each move sends WindowPosChanging, then Size, for the
// frame at its start size plus the pointer's travel, clamped to the limits
// that GetMinMaxInfo gives; Escape, or losing the capture (CancelMode),
// restores the start size and ends it; all other messages (and sends) are
// served meanwhile.
#pragma once
#include "platform/qx_msgqueue.h"

PlatResult PlatDefWindowProc(PlatWindow w, uint32_t message, PlatWParam wParam, PlatLParam lParam);
