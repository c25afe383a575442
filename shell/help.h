// Help about the object under the mouse: the one floating help window that
// shows the description picture an object's help method builds, the tip
// timer that arms it (or, with the window hidden, sends a dialog the
// item-help event), online help through the help viewer at a VI's help
// keyword, and the functions diagrams call to show, move and query the help
// window and to open online help.  All state is owned here and changed on
// the user-interface thread only; the exported functions called from other
// threads hand their work to it.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"

// Resources of the run-time file.
constexpr int32 kHelpFileListId = 30001, kHelpFileCount = 5;
constexpr int32 kHelpImageId = 30020, kHelpImageBWId = 30021;
constexpr int32 kHelpIconOnline = 7018, kHelpIconNoOnline = 7019;
constexpr int32 kHelpButtonTipListId = 11116, kHelpButtonTipEntry = 5;  // "Online Help"
constexpr int32 kHelpTitleListId = 301, kHelpTitleEntry = 10;           // "Help"
// The window and its timers.
constexpr uInt32 kHelpWindowStyle = 158;
constexpr int32 kHelpTipDelay = 600;                     // timer 2 of the root window
constexpr int32 kHelpButtonTimer = 10, kHelpButtonDelay = 800;
constexpr int32 kHelpButtonPollTimer = 11, kHelpButtonPollDelay = 200;
constexpr int32 kHelpMinSize = 100, kHelpMargin = 8, kHelpScrollStep = 32;

// A target: the heap and object (a menu as heap and the negated item as
// object for a palette-menu item) and the part under the mouse.
struct HelpTarget {
  ObjHeap heap;
  int32 object;
  int32 part;
};
struct HelpBar {
  int32 value, page, maximum;
};
// The state table.
struct HelpState {
  WindowRef window;
  bool shown;
  HelpTarget help, tip;
  bool pending;
  int32 picture;
  bool owned;
  Point origin;        // scroll origin
  HelpBar vbar, hbar;  // from the last drawing
  Point limit;         // the largest content the window grows to on its own
  int32 resizes;       // resizes the program started, not yet seen
  Point tipPoint;      // where the online-help button's tip was armed
  Path files[kHelpFileCount];
  Path onlinePath;
  std::string onlineKeyword;
  bool hiddenByFollow;  // the window was hidden because the active panel has no help
};
const HelpState& HelpStateNow();

// What the help window asks of the object system: the help message (38)
// sent to an object, the VI an object stands for (null for none), and
// whether a panel shows some object with a description.  Filled at start-up;
// null members answer 0.
struct HelpObjectServices {
  int32 (*sendHelp)(ObjHeap heap, int32 object, int32 part);
  UHandle (*viOf)(ObjHeap heap, int32 object);
  Bool32 (*hasDescription)(ObjHeap heap);
};
void HelpSetObjectServices(const HelpObjectServices& services);
const HelpObjectServices& HelpObjectServicesInUse();

// Diagrams: with a show flag shows (a true byte) or hides the window; with a
// point (vertical, then horizontal) creates it hidden when needed and moves
// it there.  0, or 1 when the calling VI was aborted or shut-down began
// while waiting for the user-interface thread.
QX_EXTERN_C MgErr ControlHelpWindow(const Point* where, const uChar* show);
// Shown out (a byte) when the window exists and is shown, the point out the
// window's global top-left (the window made hidden first when needed).
QX_EXTERN_C MgErr GetHelpWindowStatus(Point* where, uChar* shown);
// Command 0 the file's index, 1 the keyword, 2 closes the help; others 1.
// A null path: the second help file.  2 when no path can be made, else the
// help viewer's answer.
QX_EXTERN_C int32 ControlOnlineHelp(Path file, LStrHandle keyword, int32 command, Path relativeTo);

QX_EXTERN_C void HelpWindowOpen(Bool32 front);
QX_EXTERN_C void HelpWindowHide();
// The mouse entered an object or a palette-menu item (the panel code's and
// the event filter's TipStripSetTarget end here).
QX_EXTERN_C void HelpSetTipTarget(ObjHeap heap, int32 object, int32 part);
// Both null: every target; else the matching tip target, or both when the
// help target matches (object 0: any object of the heap).
QX_EXTERN_C void HelpClearTarget(ObjHeap heap, int32 object);
QX_EXTERN_C void HelpForgetObject(ObjHeap heap, int32 object);
// The tip timer (id 2 of the root window) went off.
QX_EXTERN_C void HelpShowPending();
// The help method's new picture (0: the default image).
QX_EXTERN_C void HelpSetImage(int32 picture);
QX_EXTERN_C void HelpUpdateIfShowing(ObjHeap heap, int32 object);
// The VI window's online-help reference for the Help menu, and its opening
// (keyword lookup, else the index); the help viewer's answer, 2 without a path.
QX_EXTERN_C void HelpSetOnlineRef(Path path, ConstCStr keyword);
QX_EXTERN_C int32 HelpOpenOnline();
// The online help of an object's VI (nothing when it has none): 0 opened.
QX_EXTERN_C int32 HelpOpenOnlineForObj(ObjHeap heap, int32 object);
// Non-zero when the object's VI has online help: its help file out (when a
// path is given, else disposed) and its keyword (up to 255 bytes).
QX_EXTERN_C int32 HelpGetVIHelpRef(ObjHeap heap, int32 object, Path* file, PStr keyword);
// The same for a VI (null: none).
int32 HelpVIRef(UHandle vi, Path* file, PStr keyword);
// The Help menu's check of a VI's help path and tag: 1 when the path (made
// absolute through the symbolic folders) names a readable file, which then
// becomes the online-help reference; else 0 and the reference stays.
QX_EXTERN_C Bool32 HelpOnlineRefValid(Path path, ConstPStr tag);
// The online help of a VI (its help file at its keyword, else the index):
// the help viewer's answer, 2 when the VI has none.
QX_EXTERN_C int32 HelpOpenOnlineForVI(UHandle vi);
// Start-up: the help files found in the help folder, the online reference
// not a path.  Shut-down: the help viewer told to quit each file.
QX_EXTERN_C void HelpInitFiles();
QX_EXTERN_C void HelpQuit();
// A panel became active (null: none): the window follows whether it has help.
QX_EXTERN_C void UpdateHelpForPanel(ObjHeap panel);
// The help window's event procedure.
QX_EXTERN_C int32 HelpWindowProc(WEventRecord* event, uInt32 refCon);
// One step of a scroll bar's tracker answer on the shown picture.
void HelpScrollStep(int32 answer, bool vertical);
// Forgets the window and every target, releases the picture (tests).
void HelpReset();
