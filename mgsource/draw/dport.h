// The drawing port: every drawing call of the system goes through the
// current port, a table of 33 drawing procedures.  Three ports exist: the
// host port, which draws into the device context of the current target
// image; the PostScript port, which writes a printer page; and the null
// port, which draws nothing.  The port follows the target image
// (DSetPortTarget).  The entry points below forward to the slot of the
// current port and return its result.
//
// Points passed to a slot are two integers, horizontal first; points in
// arrays are Point (vertical first); angles are degrees clockwise from
// twelve o'clock.  All of it runs on the user-interface thread (the window
// manager's drawing mutex serialises other drawers).
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "platform/qx_drawobj.h"

// A region: a host region handle.
typedef uInt32 DRgn;

// The slots, in their fixed order.
struct DPort {
  int32 (*getDepth)();                                               // 0
  int32 (*isBW)();                                                   // 1
  int32 (*isScreenPort)();                                           // 2
  int32 (*selectNormPen)(DColor colour, DColor bwColour);            // 3
  int32 (*selectPen)(int32 pen, DColor bwFore, DColor bwBack);       // 4
  int32 (*setPixel)(int32 h, int32 v);                               // 5
  int32 (*move)(int32 dh, int32 dv);                                 // 6
  int32 (*moveTo)(int32 h, int32 v);                                 // 7
  int32 (*line)(int32 dh, int32 dv);                                 // 8
  int32 (*lineTo)(int32 h, int32 v);                                 // 9
  int32 (*mhLine)(int32 dh, int32 dv, Bool32 verticalFirst);         // 10
  int32 (*mhLineTo)(int32 h, int32 v, Bool32 verticalFirst);         // 11
  int32 (*polyLine)(const Point* points, int32 n);                   // 12
  int32 (*paintPoly)(const Point* points, int32 n, int32 flag);      // 13
  int32 (*frameRect)(const Rect* r);                                 // 14
  int32 (*paintRect)(const Rect* r);                                 // 15
  int32 (*frameRoundRect)(const Rect* r, int32 ovalWidth, int32 ovalHeight);  // 16
  int32 (*paintRoundRect)(const Rect* r, int32 ovalWidth, int32 ovalHeight);  // 17
  int32 (*frameOval)(const Rect* r);                                 // 18
  int32 (*paintOval)(const Rect* r);                                 // 19
  int32 (*frameArc)(const Rect* r, int32 startAngle, int32 arcAngle);  // 20
  int32 (*paintArc)(const Rect* r, int32 startAngle, int32 arcAngle);  // 21
  int32 (*grayOutRect)(const Rect* r, DColor colour);                // 22
  int32 (*setClip)(const Rect* r);                                   // 23
  int32 (*drawImage)(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                     DColor bwBack);                                 // 24
  int32 (*drawBits)(const void* descriptor, const void* colourTable, const void* bits);  // 25
  int32 (*textBox)(const Rect* r, int32 justification, const uChar* text, int32 length, int32 font, DColor fore,
                   DColor back, DColor bwFore, DColor bwBack);       // 26
  int32 (*textDraw)(UHandle textRecord);                             // 27
  int32 (*hiliteRect)(const Rect* r, DColor colour, DColor back, DColor bwColour, DColor bwBack,
                      int32 extra);                                  // 28
  int32 (*scrollRect)(const Rect* r, int32 dh, int32 dv, Bool32 invalidate, DColor fill, DColor bwFill);  // 29
  int32 (*flush)();                                                  // 30
  int32 (*attach)(int32 image);                                      // 31
  int32 (*bounds)(Rect* out);                                        // 32
  // The image the port draws into (0: none), and the pen location of the
  // ports that keep it themselves (vertical, then horizontal).
  uInt32 target;
  int16 penV;
  int16 penH;
};
static_assert(sizeof(void*) != 4 || (sizeof(DPort) == 33 * 4 + 8 && offsetof(DPort, target) == 132),
              "drawing port record");
enum : int32 { kDPortSlotCount = 33 };

// The PostScript port's record: the slots, then the clip rectangle last
// written to the page (empty after attach and after a flush) and the one
// asked for through slot 23.
struct PSPortRecord : DPort {
  Rect writtenClip;
  Rect clip;
};

// The three ports.
extern DPort gHostPort;
extern DPort gNullPort;
extern PSPortRecord gPSPort;

// The drawing state that the host port reads and that the image layer and
// the window manager fill.
struct DDrawState {
  uInt32 target;          // the target image id
  int32 window;           // its window (a WindowRef; 0: none)
  PlatObj dc;             // the host device context
  PlatObj memDc;          // a memory context made for a pixmap target
  Bool32 obtainedDc;      // dc was obtained from the window and goes back to it
  int32 originH;          // subtracted from every coordinate before it reaches dc
  int32 originV;
  Rect clipRect;
  DRgn clipRgn;
  Bool32 recording;       // a picture is the target
  Bool32 invisiblePen;    // the normal pen is transparent
  int16 penH;             // the host port's pen location
  int16 penV;
  Bool32 bw;              // the target shows black and white only
  int32 depth;            // the target's depth
  Bool32 pageWindow;      // the target is a window of style 0x4000
  Rect bounds;            // the port's bounds
};
extern DDrawState gDrawState;

// The window beneath nested image targets: IOpen notes the window and its
// origin when it opens an image over a window target, and IClose forgets
// them when it returns to a window.  The window's origin moving meanwhile
// (a scroll while drawing offscreen) moves the noted origin and leaves the
// image's own drawing origin alone; the window target comes back with it.
struct DNotedWindow {
  int32 window;  // 0: none
  int32 originH;
  int32 originV;
};
extern DNotedWindow gNotedWindow;

// The colours images are drawn in when their caller gives none: foreground
// and background, and the pair used instead on black-and-white ports.
// They belong to the port layer, not to a target, so attaching and
// detaching targets keeps them; the image table resets them when it starts.
struct DImageColours {
  DColor fore;
  DColor back;
  DColor bwFore;
  DColor bwBack;
};
extern DImageColours gImageColours;
// Black 0 on white 0xFFFFFF, the same on black-and-white ports.
void DResetImageColours();

// The current port.  Until the first DSetPortTarget the null port is
// installed, but the entries treat the port as missing (see the .cpp).
const DPort* DCurrentPort();
Bool32 DPortInstalled();
// Tests: installs a port of their own as current (null: the state before
// any installation); returns the port it replaces.
const DPort* DInstallTestPort(const DPort* port);

// Chooses the port for a target image and attaches it: 0 the null port; a
// PostScript page the PostScript port; a window image the host port when
// the window is visible or of style 0x4000, else the null port; any other
// image the host port.  Then slot 31 with the id.
QX_EXTERN_C void DSetPortTarget(int32 image);

// The entry points.
int32 DGetDepth();
QX_EXTERN_C int32 DIsBW();
int32 DIsScreenPort();
QX_EXTERN_C int32 DSelectNormPen(DColor colour, DColor bwColour);
QX_EXTERN_C int32 DSelectPen(int32 pen, DColor bwFore, DColor bwBack);
QX_EXTERN_C int32 DSetPixel(int32 h, int32 v);
QX_EXTERN_C int32 DMove(int32 dh, int32 dv);
QX_EXTERN_C int32 DMoveTo(int32 h, int32 v);
QX_EXTERN_C int32 DLine(int32 dh, int32 dv);
QX_EXTERN_C int32 DLineTo(int32 h, int32 v);
QX_EXTERN_C int32 DMHLine(int32 dh, int32 dv, Bool32 verticalFirst);
QX_EXTERN_C int32 DMHLineTo(int32 h, int32 v, Bool32 verticalFirst);
QX_EXTERN_C int32 DPolyLine(const Point* points, int32 n);
QX_EXTERN_C int32 DPaintPoly(const Point* points, int32 n, int32 flag);
QX_EXTERN_C int32 DFrameRect(const Rect* r);
QX_EXTERN_C int32 DPaintRect(const Rect* r);
QX_EXTERN_C int32 DFrameRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight);
QX_EXTERN_C int32 DPaintRoundRect(const Rect* r, int32 ovalWidth, int32 ovalHeight);
QX_EXTERN_C int32 DFrameOval(const Rect* r);
QX_EXTERN_C int32 DPaintOval(const Rect* r);
QX_EXTERN_C int32 DFrameArc(const Rect* r, int32 startAngle, int32 arcAngle);
QX_EXTERN_C int32 DPaintArc(const Rect* r, int32 startAngle, int32 arcAngle);
QX_EXTERN_C int32 DGrayOutRect(const Rect* r, DColor colour);
// Draws an image; nothing while no port is installed, nothing when fore and
// back are both transparent; an id that names no image is reported and
// nothing is drawn.
QX_EXTERN_C int32 IDraw(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                        DColor bwBack);
int32 DDrawBits(const void* descriptor, const void* colourTable, const void* bits);
// Text in a box: clears the font error first; an empty rectangle draws
// nothing.
QX_EXTERN_C int32 TBox(const Rect* r, int32 justification, const uChar* text, int32 length, int32 font, DColor fore,
                       DColor back, DColor bwFore, DColor bwBack);
QX_EXTERN_C int32 TDraw(UHandle textRecord);
QX_EXTERN_C int32 DHiliteRect(const Rect* r, DColor colour, DColor back, DColor bwColour, DColor bwBack, int32 extra);
QX_EXTERN_C int32 DScrollRect(const Rect* r, int32 dh, int32 dv, Bool32 invalidate, DColor fill, DColor bwFill);
QX_EXTERN_C int32 DFlush();
// Clips drawing to the rectangle (null: the port's bounds): stored as the
// drawing state's clip rectangle and region, then slot 23.  Nothing while
// no port is installed.
QX_EXTERN_C void DSetClipRect(const Rect* r);
