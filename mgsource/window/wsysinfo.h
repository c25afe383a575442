// Small services about the machine: the system's name and version, the
// monitors with their rectangles, work areas and depths, the text
// clipboard, the modal state and the two predefined text styles.
//
// The platform layer offers no multi-monitor functions, so the monitors are
// answered by the single-screen substitute below: one monitor, the screen,
// with the layer's work area.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_window.h"

// "Windows NT" (or the older names for a version 4 system without NT);
// the argument, null for null.
QX_EXTERN_C PStr WGetOSName(PStr name);
// The version as "major.minor"; the argument, null for null.
QX_EXTERN_C PStr WGetOSVersion(PStr version);
// The rectangle, or the work area, of the monitor nearest to a global point.
QX_EXTERN_C void WGetScreenRect(Point where, Rect* rect);
QX_EXTERN_C void WGetWorkAreaRect(Point where, Rect* rect);
// The rectangle and depth of monitor index (from 0): 0, 1 for an index past
// the monitors, 2 without a screen context.
QX_EXTERN_C int32 WGetMonitorInfo(int32 index, Rect* rect, int32* depth);
// The depth of a global rectangle: the smallest depth of the monitors it
// covers, else the screen's.
int32 WDepthOfRect(const PlatRect* global);

// ---- the single-screen substitute
constexpr uInt32 kWSingleMonitor = 0x12340042;
enum : uInt32 { kWMonitorDefaultNull = 0, kWMonitorDefaultPrimary = 1, kWMonitorDefaultNearest = 2 };
constexpr uInt32 kWMonitorPrimary = 1;
// The monitor information block: a 32-bit size word the caller sets, the
// monitor and work rectangles (left, top, right, bottom), the flags, and
// from 40 on the 32-byte device name.
enum : int32 {
  kWMonInfoRect = 4,
  kWMonInfoWork = 20,
  kWMonInfoFlags = 36,
  kWMonInfoName = 40,
  kWMonInfoSize = 40,
  kWMonInfoExSize = 72,
};
// The system metric, with the virtual screen being the one screen.
int32 WSubstituteSystemMetric(int32 metric);
uInt32 WSubstituteMonitorFromPoint(int32 x, int32 y, uInt32 flags);
uInt32 WSubstituteMonitorFromRect(const PlatRect* rect, uInt32 flags);
uInt32 WSubstituteMonitorFromWindow(PlatWindow w, uInt32 flags);
// Fills the block of the monitor as large as its size word allows: false
// for another monitor or a block below 40 bytes.
bool WSubstituteGetMonitorInfo(uInt32 monitor, void* info);
typedef bool (*WMonitorEnumProc)(uInt32 monitor, PlatObj dc, const PlatRect* rect, void* data);
// Calls proc once with the screen clipped to the context's clip box (none:
// not clipped) and to rect (null: not clipped); 1, without calling, when
// that leaves nothing; else the procedure's answer.
int32 WSubstituteEnumDisplayMonitors(PlatObj dc, const PlatRect* rect, WMonitorEnumProc proc, void* data);

// ---- the clipboard

// Puts the text of the long-string handle on the clipboard as text with CR
// LF line ends and a NUL; an empty text does nothing.  0, 2 when memory
// runs out, 42 when the clipboard cannot be had.
QX_EXTERN_C MgErr TSetClipboard(LStrHandle text);
// Reads the clipboard's text into the handle (LF line ends), never past
// the block's size: 0, or 42 with an empty text when there is none, 2 when
// even that cannot be set.
QX_EXTERN_C MgErr TGetClipboard(LStrHandle text);
// What the clipboard held when another program put it there: 0 nothing
// known, 1 text, 2 picture; and whether it changed.  The frame window's
// procedure keeps both.
enum : int32 { kWClipNone = 0, kWClipText = 1, kWClipPicture = 2 };
void WSetClipboardKind(int32 kind);
int32 WClipboardKind();
void WSetClipboardChanged(Bool32 changed);
Bool32 WClipboardChanged();
// Clears the changed flag; for text, a new handle of it (result 1); for a
// picture, the picture (result 2); 0 otherwise or on failure.
QX_EXTERN_C int32 WGetExternalClipboard(UHandle* picture, LStrHandle* text);

// 0 when neither a modal window nor a native modal dialog is up; else 1,
// with the front modal window (0 for a native dialog) in *out.
QX_EXTERN_C int32 WGetModalWindow(WindowRef* out);
// Predefined text style 1 or 2 (any other index counts as 1): its font (the
// application font unless it names one), style and colour; null outputs
// are skipped.
QX_EXTERN_C void GetTextStyle(int32* font, int32* style, int32* colour, int32 index);
