// Loading a VI from its resource file: the header, versions, compiled code,
// types, default data, link information and, when needed, the front-panel
// heap, read in a fixed order; the load errors and alerts; and the loading
// of external subroutines from subroutine files.
//
// Every resource is read from a file and is untrusted: no handle is read
// past its size, and a resource that is too short or inconsistent fails the
// load with its load error (or counts as absent where it is optional).
//
// Loading runs on the user-interface thread, one load at a time; nested
// loads of subVIs save and restore the load error and the alert flag.
#pragma once
#include "engine/vi/loaderr.h"
#include "engine/vi/virecord.h"
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"

// ---- Resource types ---------------------------------------------------------------------
constexpr ResType kRsrcIdRsrcType = FourCC("RSID");     // the VI's resource id, by name
constexpr ResType kVersRsrcType = FourCC("vers");
constexpr int32 kVersOwnId = 1;       // the version that wrote the file
constexpr int32 kVersOldestId = 4;    // the oldest version that can read it
constexpr ResType kCodeRsrcType = FourCC("VICD");
constexpr ResType kConnPaneRsrcType = FourCC("CPCT");
constexpr ResType kConnTypeMapRsrcType = FourCC("CPTM");
constexpr ResType kDSTypeMapRsrcType = FourCC("DSTM");
constexpr ResType kDefaultDataRsrcType = FourCC("DFDS");
constexpr ResType kStringsRsrcType = FourCC("STRG");
constexpr ResType kHelpPathRsrcType = FourCC("HLPP");
constexpr ResType kHelpTagRsrcType = FourCC("HLPT");
constexpr ResType kRTMenuPathRsrcType = FourCC("RTMP");
constexpr ResType kTitleRsrcType = FourCC("TITL");
constexpr ResType kLogPathRsrcType = FourCC("DLLP");
constexpr ResType kLogTypeRsrcType = FourCC("FPTD");
// 'FPTD' holds a cluster descriptor whose first element is the log's record
// type: the element starts after the cluster's size, code, flags and count.
// The loaded binding keeps the record type alone.
constexpr int32 kLogTypeWrapperSize = 6;
constexpr ResType kLogControlMapRsrcType = FourCC("CPMp");
constexpr ResType kPrintRsrcType = FourCC("PRT ");
constexpr ResType kPanelHeapRsrcType = FourCC("FPHP");
constexpr ResType kSubrPlatformRsrcType = FourCC("PLAT");
constexpr ResType kSubrCodeRsrcType = FourCC("QXSB");
constexpr uInt32 kCodeProcessor = FourCC("i386");
constexpr uInt32 kCodeHeaderTag = FourCC("code");
constexpr uInt32 kCINCodeKind = FourCC("CIN ");

// The VI code header: 24 bytes; "code" at 20 names the processor at 4, else
// the processor stands at 16.
enum : int32 { kVICDHeaderSize = 24, kVICDTagAt = 20, kVICDProcAt = 4, kVICDOldProcAt = 16 };
// The datalog binding record's stored size and the control map's count word.
constexpr int32 kDatalogBindingSize = 28;
// The data-space type's first element: a block of the data-space header's
// size, its 32-bit size at byte 10 of the descriptor.
constexpr int32 kDSTMHeaderBlockSizeAt = 10;
// The logState and list handles of a new VI.
constexpr int32 kLogStateSize = 18, kLogBindingSize = 8, kVIListSize = 8;
// The run-time's default icon when the VI has none of its own.
constexpr int32 kFallbackVIIconId = 5501;
constexpr int32 kIconImageKind = 5;

// The oldest VI version the run-time converts (the first word of its own
// 'vers' 4); used when the run-time file has no 'vers' 4.
constexpr uInt32 kOldestConvertibleVersion = 0x04008000;

// ---- Texts ------------------------------------------------------------------------------
constexpr int32 kLoadWarningsListId = 14545;
constexpr const char* kLoadWarningsListName = "_loadWarnings";
enum : int32 {
  kWarnLogBindingCleared = 1,
  kWarnCINOldCompiler = 3,
  kWarnCINNewer = 4,
  kWarnTempFile = 5,
  kWarnRsrcMissing = 8,
  kWarnRsrcMissingFrom = 9,
  kWarnTopLevelNotOpened = 10,
  kWarnAppTemplate = 11,
  kWarnSubrAsCIN = 12,
};
constexpr int32 kLoadWarningsCount = 12;
extern const char* const kLoadWarningTexts[kLoadWarningsCount];

// ---- Results of LoadInstrument ----------------------------------------------------------
enum : int32 { kLoadFailed = 0, kLoadFound = 1, kLoadLoaded = 2, kLoadStop = 5, kLoadContinue = 6 };
// Options of LoadInstrument.
enum : int32 { kLoadOpenPanel = 0x1, kLoadPanelMode2 = 0x8 };

// ---- Globals ----------------------------------------------------------------------------
// Nonzero: no load-error alert is shown.  Saved and restored around every load.
extern int32 gQXLoadAlertsOff;
// The resource file and the path of the VI whose resources are being read.
extern RsrcFileRef gQXLoadingRsrcFile;
extern Path gQXLoadingPath;
// Set by the load methods of subroutines and external functions when one
// required for execution cannot be found.
extern int32 gQXMissingSubroutine;
// The global window-option mode (0, 1 or 2) that opening a panel uses.
extern int32 gQXWindowOptionMode;
// ---- What loading asks of the panel side ------------------------------------------------
// The load method for objects of unregistered classes.
typedef int32 (*BadClassLoadProc)(ObjHeap heap, int32 object);
// Filled at start-up by the object system and the display code with one
// setter; a null member answers as "not available": no hook is installed,
// the font table is absent (15), no action is sent (result 0), nothing else
// is done.  The objects' own load and unload steps are engine/vi/objload.h.
struct VILoadPanelHooks {
  void (*setBadClassHook)(BadClassLoadProc proc);
  // Checks a stored front-panel heap's objects before any loads; a failure
  // refuses the heap.
  MgErr (*checkPanelObjects)(ObjHeap heap);
  void (*clearBadClassHook)();
  void (*clearImageTable)(ObjHeap heap);
  void (*clearUndoRecords)(ObjHeap heap);
  void (*emptySelection)(ObjHeap heap);
  // Makes room for a transaction path and answers the previous top (put
  // back with trSetStackTop when the call ends); trStackTop is the new one.
  void* (*trPushFrame)();
  void* (*trStackTop)();
  void (*trSetStackTop)(void* top);
  // Sends an object an action with the path at frame; *result the result bits.
  int32 (*oDoit)(ObjHeap heap, int32 object, void* frame, int32 action, int32* result);
  // Nonzero when the object takes property calls; its path is then written
  // at the transaction stack's top.
  int32 (*getObjAttrRec)(ObjHeap heap, int32 object, int32* hidden, int32* greyed);
  void (*blinkAddHeap)(ObjHeap heap);
  // Refreshes the record count of the VI's datalog file.
  void (*updateLogRecordCount)(UHandle vi);
  // Finds and opens a VI's file again (the heap loader's reopen).
  MgErr (*reopenVIFile)(UHandle vi, uInt32 fileType, RsrcFileRef* file);
};
void SetVILoadPanelHooks(const VILoadPanelHooks* hooks);
const VILoadPanelHooks& VILoadPanel();

// ---- Loading ----------------------------------------------------------------------------
// Loads the VI of an open resource file: 2 on success with *outVI the VI, 0
// on failure (*outVI null), 5 or 6 when a link pass answered that.  path is
// the VI's (kept by the VI, disposed on failure); name the name to load it
// under (null: the stored one); rsrcFile is closed once read.
QX_EXTERN_C int32 LoadInstrument(Path path, int32 options, ConstPStr name, RsrcFileRef rsrcFile, UHandle* outVI,
                                 Bool32 fromLibrary);
// Loads the VI's object heap of the type (FPHP) from its file: 0, or the
// error; *outLinkStatus the link pass's result.
QX_EXTERN_C MgErr LoadVIHeap(UHandle vi, ResType heapType, int32 rsrcID, RsrcFileRef rsrcFile, int32 errorBase,
                             int32* outLinkStatus);
// Loads the VI's front panel when it has none, reopening its file when it
// is closed, then runs the post-load fix-up.
QX_EXTERN_C MgErr LoadFPHeap(UHandle vi);
// The fix-up after a panel heap loaded: 0, or 2 when the objects ran out of
// memory adapting to a substituted font.
QX_EXTERN_C MgErr PanelPostLoadFixup(UHandle vi);
// The modification date of the VI's file, or of its library member: 0 when
// it equals the VI's, 1017 when it differs, or the error of the file or
// library directory when the date cannot be read.
QX_EXTERN_C MgErr CheckHeapModDate(UHandle vi, int32 heapKind);
constexpr MgErr kModDateChangedErr = 1017;
// The one-button alert for a resource missing from a file.
QX_EXTERN_C void RsrcMissingAlert(Path path, ConstPStr resourceName);

// Loads an external subroutine from its open subroutine file: 0 or the
// error; *codeRec the loaded code, *rsrcID its resource id, *linkStatus the
// link pass's result.  The file is closed (and *file cleared) unless the
// code is a code interface node loaded in mode 1.
QX_EXTERN_C MgErr LoadSubroutineCode(RsrcFileRef* file, Path path, ConstPStr name, UPtr* codeRec, int32* rsrcID,
                                     int32* linkStatus, int32 mode);
