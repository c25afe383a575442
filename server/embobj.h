// Embedded ActiveX objects as a front-panel container holds them: the
// object record, the container library's entry that hands out an object's
// dispatch interface, and the automation refnums that let diagrams drive
// the object.
#pragma once
#include <cstddef>

#include <vector>

#include "mgsource/cookie.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_com.h"
#include "platform/qx_embed.h"

// The reference-counted dispatch interface of an object: the component
// layer's dispatch record.
typedef PlatComDispatch EmbDispatch;

// The embedded-object record (a relocatable handle owned by the container).
struct EmbObjectRec {
  int32 kind;         // 1: an object record; anything else is refused
  int32 token;        // the container library's id of the object, 0 for none
  int32 miscFlags;    // 0x100: the object may be activated in place
  int32 dispatchRef;  // automation refnum of the object's dispatch interface, or 0
  int32 window;       // the window the object lives in, 0 for the root window
};
static_assert(sizeof(EmbObjectRec) == 20 && offsetof(EmbObjectRec, dispatchRef) == 12, "object record");
constexpr int32 kEmbObjectKind = 1;
constexpr MgErr kEmbNotAnObject = 4000;
constexpr MgErr kEmbMissingEntry = 15;
// Misc flags: bit 0 the container neither draws nor focuses the object
// while its VI is not running; 0x100 the object may be activated in place.
constexpr int32 kEmbMiscRunOnly = 0x1, kEmbMiscInPlace = 0x100;
// The load's flag: the object asks for its natural size.
constexpr int32 kEmbLoadNaturalSize = 0x1;

// What a container tells its object about its surroundings.
struct EmbAmbientInfo {
  DColor background;  // the cell area's second colour word, or the panel's default colour
  DColor foreground;  // its first, or the panel's default colour
  TRecord textRecord; // the caption's (else the label's) text record, or null
  UHandle text;       // that record's text, or null
  int32 reserved;     // 0
};
static_assert(sizeof(void*) != 4 || sizeof(EmbAmbientInfo) == 20, "ambient information: five words");

// The container library's function table: its 28 entries by slot
// (kQxContainerNames), each null when the library lacks it; a missing one
// answers 15 wherever it is needed.
enum EmbSlot : int {
  kEmbSlotDestroy = 2, kEmbSlotDispatchSingle = 4, kEmbSlotLoad = 5, kEmbSlotSave = 6, kEmbSlotSetBounds = 7,
  kEmbSlotGetBounds = 8, kEmbSlotAdopt = 9, kEmbSlotSetOrigin = 10, kEmbSlotActivate = 13, kEmbSlotDeactivate = 14,
  kEmbSlotPicture = 15, kEmbSlotAmbientBG = 17, kEmbSlotAmbientFG = 18, kEmbSlotAmbientName = 19,
  kEmbSlotAmbientFont = 20, kEmbSlotFocus = 23, kEmbSlotMiscFlags = 24, kEmbSlotGetToken = 26, kEmbSlotSetToken = 27,
};
struct EmbContainerProcs {
  void* slots[kQxContainerSlots];
};
// Installs a table (tests); the former one.
EmbContainerProcs EmbSetContainerProcs(const EmbContainerProcs& procs);
// Loads the container library once (process start-up of the component
// layer): the file of that name in the application folder first, then the
// loader's search (a name with a folder is loaded as given); each name it
// does not export is printed and its slot left empty.  0, or the loader's
// error when neither load succeeded (nothing loaded then).
MgErr EmbLoadContainerLibrary(const char* name = nullptr);
// Unloads it and empties the table (process shut-down).
void EmbUnloadContainerLibrary();
// The temporary file names' failure seam (tests): the next name fails.
void EmbFailNextTempName();

// Fetches the dispatch interface of the record's object, makes an
// automation refnum of it (no clean-up registration), caches it in the
// record and returns it; 0 when the record is no object record, the object
// gives no interface or the library lacks the entry.  A cached refnum that
// still names the same interface is kept and returned.
QX_EXTERN_C int32 EmbUpdateDispatch(UHandle record);

// ---- The object's services ------------------------------------------------------------
// Each takes the record handle a container holds; a record that is no live
// handle of at least an EmbObjectRec, or of another kind, gives 4000; an
// entry the library lacks gives 15.  Rectangles are in the window's local
// coordinates; the window is a window of the window manager (0: none).
//
// Makes the object from a saved-object handle (a 32-bit count in machine
// order, then the bytes; a count beyond the handle gives 1) in the window at
// the bounds: the bytes go through a temporary file (2: no temporary
// folder, 75: no name), always removed.  Fills the record (token, misc
// flags, window; the record registered with the library), ORs the load's
// flags (kEmbLoadNaturalSize) into *flags, then tells the object the ambient
// foreground, background, display name and font, in that order.
QX_EXTERN_C MgErr EmbLoadFromResource(UHandle saved, UHandle* record, WindowRef window, const EmbAmbientInfo* ambient,
                                      const Rect* bounds, int32* flags);
// Saves the object's state into *saved (made or resized; count, bytes)
// through a temporary file; 1 when the library fails, 2 when the file does
// not fit a handle.
QX_EXTERN_C MgErr EmbSaveObject(UHandle record, UHandle* saved);
// Destroys the object, its cached dispatch refnum released first (token and
// refnum cleared); 1 when the library reports a failure; 0 when there was no
// object or the library lacks the entry.
QX_EXTERN_C MgErr EmbDestroy(UHandle record);
// Activates (1) or deactivates (0) in place; 0 without a call when the
// misc flags lack 0x100.
QX_EXTERN_C MgErr EmbActivate(UHandle record, int32 on);
QX_EXTERN_C MgErr EmbGetFlags(UHandle record, int32* flags);
// Moves the object into the window (0: none); 0 without a call when it is
// there already.
QX_EXTERN_C MgErr EmbSetWindow(UHandle record, WindowRef window);
QX_EXTERN_C MgErr EmbSetBounds(UHandle record, const Rect* bounds);
QX_EXTERN_C MgErr EmbGetBounds(UHandle record, Rect* bounds);
// on 0: the window takes the keyboard focus; 1: the object is focused
// (backwards for a backward move); 0 when it took the focus.
QX_EXTERN_C MgErr EmbFocus(WindowRef window, UHandle record, int32 on, int32 backwards);
// The object's picture as a new image (the caller releases it).
QX_EXTERN_C MgErr EmbGetPicture(UHandle record, int32* image);
QX_EXTERN_C MgErr EmbAmbientFGColor(UHandle record, DColor colour);
QX_EXTERN_C MgErr EmbAmbientBGColor(UHandle record, DColor colour);
// The text of the record (null, empty or blank: none).
QX_EXTERN_C MgErr EmbAmbientDisplayName(UHandle record, TRecord text);
// The insertion font of the text record.
QX_EXTERN_C MgErr EmbAmbientFont(UHandle record, TRecord text);
// Record housekeeping.  The swap turns the four stored words (kind, token,
// misc flags, refnum) from file order into machine order after loading and
// clears the token and refnum, which name nothing in this process: the
// object exists again only after a load.  4000 for no record.
QX_EXTERN_C MgErr EmbRecordSwap(UHandle record);
QX_EXTERN_C MgErr EmbDetachWindow(UHandle record);
// 1 when the record holds a live object.
QX_EXTERN_C Bool32 EmbHasObject(UHandle record);
QX_EXTERN_C MgErr EmbDisposeRecord(UHandle record);
// A copy of the record without its object (token, refnum and window 0);
// 4000 for no record, 2 when memory is short.
QX_EXTERN_C MgErr EmbDupRecord(UHandle record, UHandle* copy);

// ---- Objects in child windows ----------------------------------------------------------
// The scroll of a host window's content to a new origin (horizontal,
// vertical): every child window is told the origin (the library moves the
// object's window); a child whose screen rectangle changed is invalidated
// with its descendants, without erasing, and its old place in the parent.
QX_EXTERN_C void EmbWindowScroll(PlatWindow hwnd, int32 originH, int32 originV);
// Before a host window goes: the object of each child window that carries a
// record moves to the root window.  Each child is tried once; a move that
// fails is reported and that object left where it is.
QX_EXTERN_C void EmbWindowClosing(PlatWindow hwnd);

// ---- Automation refnums ----------------------------------------------------------------
// A refnum's information is the dispatch pointer with one reference held,
// or, when the jar was opened with the interface table (automation in
// several threads), the table's cookie of the interface: every use then
// fetches the interface from the table on the calling thread.
//
// Opens the jar (made on first use otherwise) with the table, or without it
// (null).  2 when the jar cannot be made; 1 when live refnums hold the other
// form.
MgErr AutoRefJarOpen(PlatComInterfaceTable* table);
// A refnum of the jar holding the interface; 0 with error 2 when memory is
// short or the table refuses it (or 1 for a null pointer).
MgErr AutoRefNewForDispatch(EmbDispatch* dispatch, Cookie* refnum);
// Whether the value is a live refnum of the jar.
Bool32 IsAutomationRefnum(Cookie value);
// The interface of a refnum with a reference for the caller: 0, or 1 (null
// out) for no refnum or when the table no longer has it.
MgErr AutoRefGetDispatch(Cookie refnum, EmbDispatch** out);
// Drops the refnum and its reference (or table cookie): 0, or 1 for no
// refnum ("Error releasing Cookie" when the value is not one of the jar's).
MgErr AutoRefRelease(Cookie refnum);
// Releases every refnum and the jar, and forgets the table; shut-down (and
// tests), when no other thread uses refnums any more.
void AutoRefReleaseAll();
