// Printing a VI lays its printable parts (a header band and the front
// panel) out on an endless sheet of page-sized cells, finds the cells the
// panel touches, and prints each such cell as a page mapped onto the
// printable area of the printer's page.  The parts live in one
// "PrVIPartList" object (class id 5 of the object system) at the root of an
// object heap of kind "PRHP", driven by three messages: layout (slot 7),
// record the panel's picture for a page (slot 4, OPrint) and draw it on the
// page (slot 5).  One print at a time, on the user-interface thread.
#pragma once
#include <cstddef>

#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/window/wevent.h"

constexpr uInt32 kPartListHeapKind = FourCC("PRHP");
constexpr int32 kPartListHeapSize = 1000;
constexpr int32 kPartListClass = 5;
constexpr int32 kPartListSize = 64;
// The messages the part list takes.
enum : int32 { kPartListMsgPicture = 4, kPartListMsgDraw = 5, kPartListMsgLayout = 7 };

// One part: its own bounds, its place on the sheet in points, the picture
// recorded for the current page (image id, 0 none) and its scale.
struct PrintPart {
  Rect source;
  LRect placed;
  int32 picture;
  float32 scale;
};
static_assert(sizeof(PrintPart) == 32 && offsetof(PrintPart, placed) == 8 && offsetof(PrintPart, picture) == 24,
              "print part");
// The part-list object: the header part, then the panel part.
struct PrVIPartList {
  PrintPart header;
  PrintPart panel;
};
static_assert(sizeof(PrVIPartList) == kPartListSize, "part list object");

// The most pages one print lays out (a page number is 16 bits).
constexpr int32 kMaxPrintPages = 32767;

// The layout state of the print under way.
struct PrintLayoutState {
  Rect page;           // the record's printable rectangle in points
  int16 pageWidth;
  int16 pageHeight;
  int32 posV;          // where the next part goes on the sheet
  int32 posH;
  int32 extentRight;   // the rightmost and lowest edges reached
  int32 extentBottom;
  int16 gap;           // room to leave before the next part
  int16 pagesAcross;
  int16 pagesDown;
  int16 pageCount;
  LRect* cells;        // the cells the panel touches, sorted, one per page
  float32 fitScale;
  Bool32 drawing;      // a page's parts are being drawn
  DColor colours[4];   // fore, back, black-and-white fore and back of part pictures
  ObjHeap panelHeap;   // the front panel being printed
};
extern PrintLayoutState gPrintLayout;

// What the layout asks of the VI and its front panel, filled at start-up
// by the object system; each default answers 1 (not available) or does
// nothing, but the redraw of every window, which the window manager does.
struct PrintPanelHooks {
  ObjHeap (*panelHeap)(UHandle vi);                 // the VI's front-panel heap, null when none
  MgErr (*commitKeyFocus)(ObjHeap panel);           // the key-focus object's pending entry
  MgErr (*panelRect)(ObjHeap panel, Rect* r);       // the panel rectangle kept in the heap
  MgErr (*contentBounds)(ObjHeap panel, Rect* r);   // the bounds of the panel's contents
  MgErr (*drawPanel)(ObjHeap panel);                // the whole panel through the current port
  int32 (*setDrawMode)(int32 mode);                 // the panel drawing mode; the previous one
  void (*updateCursor)(int32 flag);
  // Sends the part list message slot with its arguments: the page
  // number (4, 5), the page in points and the device rectangle (5).
  int32 (*send)(int32 slot, ObjHeap heap, int32 object, int32 page, const Rect* points, const Rect* device);
  // Printing VIs and panel images.
  WindowRef (*panelWindow)(ObjHeap panel);          // the window showing the panel, 0 none
  MgErr (*stashText)(ObjHeap panel);                // the key-focus text put aside for drawing, back
  MgErr (*loadPanel)(UHandle vi);                   // loads the VI's front-panel heap
  UHandle (*findVIByName)(ConstPStr name);          // a loaded VI, case-insensitive; null none
  WindowRef (*closedWindow)();                      // the hidden window drawn through off-screen
  // Sizes a 1-D array handle to count elements of elementSize bytes.
  MgErr (*resizeArray)(int32 elementSize, UHandle* array, int32 count);
  void (*alert)(const char* text);                  // a one-button alert
  void (*updateWindows)();                          // redraws every visible window now
  void (*busyCursor)(Bool32 busy);
};
// The hooks installed now; a layer changes its own and sets them back.
PrintPanelHooks PPrintPanelHooks();
PrintPanelHooks PSetPrintPanelHooks(const PrintPanelHooks& hooks);
// The panel drawing mode while a panel is drawn for printing.
constexpr int32 kPanelDrawPrinting = 2;

// The methods of the part-list class.
QX_EXTERN_C int32 PrPartListLayout(ObjHeap heap, int32 object);
QX_EXTERN_C int32 PrPartListPicture(ObjHeap heap, int32 object, int32 page);
QX_EXTERN_C int32 PrPartListDraw(ObjHeap heap, int32 object, const Rect* points, const Rect* device, int32 page);

// A part-list heap with its object at the root; null with *err 2 when
// either cannot be made.
QX_EXTERN_C ObjHeap PNewPartList(MgErr* err);
// Frees the cell array and the heap.
QX_EXTERN_C void PDisposePartList(ObjHeap heap);
// The part-list object of a heap (its root), 0 for none.
int32 PPartListObject(ObjHeap heap);
// Lays out the parts of the VI for the current print record; a record
// whose printable area is empty sets job error 30 and lays out nothing.
QX_EXTERN_C void PLayoutVIParts(ObjHeap heap, UHandle vi, Bool32 usePanelRect);
// Places a part of the rectangle's size at the position with the gap.
QX_EXTERN_C void PPlacePart(LRect* rect, int32 gap);
// Places the part shrunk to fit pages when it is larger than a page.
QX_EXTERN_C void PFitPart(PrintPart* part, int32 gap);
// The page loop over the laid-out cells.
QX_EXTERN_C void PPrintVIPages(ObjHeap heap, UHandle vi);
