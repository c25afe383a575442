// VI instances in memory: data spaces, VIs made without a file, the list of
// loaded VIs, held names, closing and purging, and the panel window.
//
// A loaded VI (VIRecord) owns its first data space and, when reentrant,
// clones of it chained through the header's nextClone word.  The loaded-VI
// list holds the VIs of kinds 2, 4, 6, 7, 8 and 9 so that every VI stands
// after each of its subVIs that is in the list.  All of it runs on the
// user-interface thread; execution threads reach it through user events.
#pragma once
#include "engine/vi/dataspace.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/virecord.h"
#include "mgsource/objheap.h"

// ---- Data spaces ----------------------------------------------------------------------
// Fills the header of a new data space whose owner is set: a data space that
// is not the VI's first becomes a clone linked right after the first.
QX_EXTERN_C void InitDataSpace(DataSpace ds);
// Makes a data space of one fixed 528-byte block (a 14-byte cluster
// descriptor) for the VI: its dataSpace and dsTypeMap.  2 when memory is short.
QX_EXTERN_C MgErr NewMinimalDataSpace(UHandle vi);
// A cleared data-zone handle of the descriptor's (a DataSpaceTD handle's) data
// size with its empty values made, size and typeDesc set; 2 when memory is
// short, 1 for a descriptor that does not cover the header.
QX_EXTERN_C MgErr NewDataSpaceFromTD(UHandle td, DataSpace* ds);
// Waits until no execution thread runs an element of the data space, then
// disposes it; a clone is unlinked from its chain.
QX_EXTERN_C void DisposeDataSpace(DataSpace ds, Bool32 unlink);
// True when the data space is the VI's first or one of its clones.
QX_EXTERN_C Bool32 VIOwnsDataSpace(UHandle vi, DataSpace ds);
// The size of the cluster descriptor NewMinimalDataSpace builds.
constexpr int32 kMinimalDataSpaceTDSize = 14;

// ---- VIs without a file ---------------------------------------------------------------
constexpr int16 kVIKindGlobal = 4;  // a global variable
constexpr int16 kVIKindLast = 9;
// The initial data size of a new panel heap.
constexpr int32 kNewPanelHeapSize = 2000;
// The cleared handle every panel heap carries, named by the first of the
// heap header's user words.
constexpr int32 kPanelHeaderHandleSize = 256;
constexpr uInt32 kOHPanelHeaderHandle = kOHUserWords;
// The root object's word naming the data space the panel is bound to.
constexpr int32 kPanelRootDataSpaceWord = 14;

// A new VI of a kind (0 to 9) with the name (null: the default name) and,
// unless iconId is -1, the default icon of its kind; null on failure ("NewVICore
// Failed" is printed and nothing made is left).
QX_EXTERN_C UHandle NewVICore(int16 kind, ConstPStr name, int32 iconId);
// The panel heap of a new VI of kind 0, null when memory is short.
QX_EXTERN_C ObjHeap NewDialogVIHeap();
// Disposes a VI with its panel, data spaces and handles; with unlink its
// link entries are removed too.
QX_EXTERN_C void DisposeVI(UHandle vi, Bool32 unlink);

// The root VI: a hidden VI of kind 3 named by entry 3 of "_Window Titles".
constexpr int32 kWindowTitlesListId = 301;
constexpr int32 kRootVINameEntry = 3;
QX_EXTERN_C MgErr InitInstr();
QX_EXTERN_C void ExitInstr();
UHandle RootVI();

// ---- The loaded-VI list and held names --------------------------------------------------
QX_EXTERN_C void InsertLoadedVI(UHandle vi);
QX_EXTERN_C Bool32 RemoveLoadedVI(UHandle vi);
QX_EXTERN_C Bool32 IsVILoaded(UHandle vi);
// The head of the list (then each VIRecord's next), null when empty.
UHandle FirstLoadedVI();
// Where the head is kept (for the run-time globals compiled code reads).
UHandle* LoadedVIListHead();
// The loaded VI of the name, compared without regard to case; null when
// none has it.
QX_EXTERN_C UHandle FindVIByName(ConstPStr name);
int32 LoadedVICount();
// Holds a VI's name (release 0) or lets one hold go (release 1); releasing
// a null name lets every hold go.  The last release posts the purge event.
// 2 when memory is short, 1 for a release of a name not held.
QX_EXTERN_C MgErr HoldVIName(ConstPStr name, Bool32 release);
QX_EXTERN_C Bool32 IsVINameFree(ConstPStr name);
// Posts user event 0 (VIs may have become unused).
QX_EXTERN_C void PostPurgeVIs();

// ---- Closing and purging ----------------------------------------------------------------
QX_EXTERN_C Bool32 VIIsDisposable(UHandle vi);
// Closes a VI: 0 when it was disposed, 1 when it stays (marked for later
// closing when nothing holds it against that).  The two words are passed on
// by the callers and not used here.
QX_EXTERN_C int32 CloseVI(UHandle vi, int32 word1, int32 word2, Bool32 force);
// Closes the panel window and disposes the panel heap when the VI permits;
// 1 when it did.
QX_EXTERN_C int32 CloseFPAndUnload(UHandle vi);
// Closes every VI at quit: 0, or 1 when one refused.
QX_EXTERN_C int32 CloseAllVIs(int32 mode);
// Closes every disposable VI, callers before their subVIs, then drops the
// types no VI uses.
QX_EXTERN_C void PurgeUnusedVIs(int32 mode);

// ---- Panels and their windows -----------------------------------------------------------
// Opens the VI's panel window (loading the panel when needed): 1 when open.
QX_EXTERN_C int32 OpenFrontPanel(UHandle vi);
// The VI server's form: the same, 0 or an error code.
QX_EXTERN_C MgErr OpenVIPanel(UHandle vi);
// Creates and places the window of a VI's panel; mode 1 (the clipboard's
// window) leaves it hidden.  The window, 0 on failure.
QX_EXTERN_C WindowRef FPOpenWindow(UHandle vi, ObjHeap panel, int32 mode);
// Moves a window rectangle (screen coordinates) whose top-left corner lies
// outside the screen's panel area for the window options so that the corner
// lies inside it, inset by 4 pixels and at least 60 from its right and
// bottom edges; the size is kept.
QX_EXTERN_C void PinWindowRect(Rect* rect, int32 windowOptions);
// Sets (or with null clears) the VI's window title; *changed is 1 when it
// differs from the old one.
QX_EXTERN_C MgErr SetVITitle(UHandle vi, ConstPStr title, int32* changed);
// The windows placed in the cascade since the loaded-VI list was last empty.
int32 PanelCascadeCount();
// Test tooling: the cascade's counter, steps and count back to their start.
void PanelCascadeResetForTest();
// The panel options word whose frame margins bound the cascade area.
constexpr int32 kCascadeOptions = 60;
// The default content size of a new panel window.
constexpr int32 kDefaultPanelWidth = 400, kDefaultPanelHeight = 300;

// ---- Images of the run-time resource file ------------------------------------------------
// An image of kind 5 loaded from the run-time resource file, 0 when there is
// none.
QX_EXTERN_C int32 GetRTImage(int32 imageId);
constexpr int32 kRootVIIconId = 5468, kDefaultVIIconId = 5500;
// The pictures of object-reference refnums: application and VI references.
constexpr int32 kRefnumAppImage = 100, kRefnumVIImage = 101;
QX_EXTERN_C int32 GetDefaultVIIcon(int16 kind);
