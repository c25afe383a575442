// Mouse and keyboard input: injection, cooking into messages, capture and
// the key state.
//
// Input enters as raw events with a time (PlatInject*) into the queue of the
// thread that started the window system, and is cooked into messages when
// retrieved (qx_msgqueue.h), so the key state and the window under the
// pointer are those of the moment each message is taken.
//
// Mouse: without capture every event first sends NcHitTest and SetCursor to
// the window under the pointer (a press on an inactive window sends
// MouseActivate and may activate it in between, see qx_activate.h); a press
// or release goes to the window under the pointer, in its client
// coordinates; a press outside the client area becomes NcLButtonDown with
// the hit code and the screen point.  With capture neither is sent and every
// mouse message goes to the capture window in its client coordinates.
// wParam holds the kPlatMk* bits of buttons and keys held after the event;
// the wheel's delta (multiples of 120) is in its high half, and the wheel
// goes to the focus window with a point in that window's client coordinates.
// There are no double-click messages.
//
// Keys: KeyDown/KeyUp, or SysKeyDown/SysKeyUp while Alt is held (without
// Ctrl) and for F10, to the focus window.  lParam: repeat count (bits 0-15),
// scan code (16-23), extended key (24: keypad Enter, arrows, Insert, Delete,
// Home, End, PageUp, PageDown, keypad Divide), Alt held (29), previous state
// down (30), release (31).  Pressing a key that is down is an auto-repeat:
// previous-state bit set and a count of at least 2; pending repeats of one
// key merge into one message.
#pragma once
#include <cstdint>

#include "platform/qx_window.h"

// Virtual keys: below 256; letters and digits are their ASCII codes.
enum : uint32_t {
  kPlatVkLButton = 0x01,
  kPlatVkRButton = 0x02,
  kPlatVkMButton = 0x04,
  kPlatVkBack = 0x08,
  kPlatVkTab = 0x09,
  kPlatVkReturn = 0x0D,
  kPlatVkEscape = 0x1B,
  kPlatVkSpace = 0x20,
  kPlatVkShift = 0x80,
  kPlatVkControl = 0x81,
  kPlatVkAlt = 0x82,
  kPlatVkCapital = 0x83,  // Caps Lock
  kPlatVkPause = 0x84,
  kPlatVkClear = 0x85,
  kPlatVkCancel = 0x86,  // Break
  kPlatVkPrior = 0x88,   // Page Up
  kPlatVkNext = 0x89,    // Page Down
  kPlatVkEnd = 0x8A,
  kPlatVkHome = 0x8B,
  kPlatVkLeft = 0x8C,
  kPlatVkUp = 0x8D,
  kPlatVkRight = 0x8E,
  kPlatVkDown = 0x8F,
  kPlatVkInsert = 0x90,
  kPlatVkDelete = 0x91,
  kPlatVkNumpad0 = 0xA0,  // .. kPlatVkNumpad9 = 0xA9
  kPlatVkMultiply = 0xAA,
  kPlatVkAdd = 0xAB,
  kPlatVkSubtract = 0xAD,
  kPlatVkDecimal = 0xAE,
  kPlatVkDivide = 0xAF,
  kPlatVkF1 = 0xB0,  // .. kPlatVkF12 = 0xBB
  kPlatVkF10 = 0xB9,
  kPlatVkF12 = 0xBB,
  // The punctuation keys of the US layout.
  kPlatVkSemicolon = 0xC0,
  kPlatVkEquals = 0xC1,
  kPlatVkComma = 0xC2,
  kPlatVkMinus = 0xC3,
  kPlatVkPeriod = 0xC4,
  kPlatVkSlash = 0xC5,
  kPlatVkBackquote = 0xC6,
  kPlatVkLBracket = 0xC7,
  kPlatVkBackslash = 0xC8,
  kPlatVkRBracket = 0xC9,
  kPlatVkQuote = 0xCA,
};
enum : int32_t { kPlatButtonLeft = 0, kPlatButtonRight = 1, kPlatButtonMiddle = 2 };

// Injection; time in milliseconds.  False when the window system has no
// input thread yet, or for a bad button or key.
bool PlatInjectMouseMove(int32_t x, int32_t y, uint32_t time);
bool PlatInjectMouseButton(int32_t button, bool down, int32_t x, int32_t y, uint32_t time);
bool PlatInjectMouseWheel(int32_t delta, int32_t x, int32_t y, uint32_t time);
// extended marks the keypad Enter; the other extended keys are marked anyway.
bool PlatInjectKey(uint32_t vk, bool down, uint32_t time, bool extended = false);
// A key whose character a display's keyboard layout gave: text is the
// code page 1252 character the key-down translates to (0: none), instead of
// the one the US layout gives.
bool PlatInjectKeyText(uint32_t vk, bool down, uint32_t time, bool extended, uint8_t text);

// The key's state as of the message last retrieved: 0x8000 down, 0x0001
// toggled (Caps Lock).
int16_t PlatGetKeyState(uint32_t vk);
// The pointer's screen position as of the message last retrieved.
void PlatGetCursorPos(int32_t* x, int32_t* y);
// The key and Shift state typing the character needs on the US layout: the
// key, plus 0x100 when Shift is needed; -1 when no key types it.
int32_t PlatVkKeyScan(char c);

// Capture: the previous capture window; 0 releases.
PlatWindow PlatSetCapture(PlatWindow w);
bool PlatReleaseCapture();
PlatWindow PlatGetCapture();
