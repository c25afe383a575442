// The print manager: the one print job of the process.  It opens a printer
// (the chosen one, the default, or one named by the caller), runs the print
// set-up and job dialogs, starts and ends the spooler document and its
// pages, and lets a page be drawn straight into the printer context, into a
// page pixmap copied to the printer when the page closes (printUsingBitmap),
// or as PostScript written to a spool file (postScriptPrinting).  Failures
// are kept in the job's error word; the dialogs and PValidate do nothing
// once it is set, and the steps that end the document and close the printer
// always run.  User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/draw/image.h"
#include "mgsource/extcode.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wport.h"

// The common print dialog's record, 66 bytes packed, as the job keeps it.
#pragma pack(push, 1)
struct PrintDlgRecord {
  uInt32 structSize;   // 66
  uInt32 owner;        // owner window
  uInt32 devMode;      // device-mode block (a global memory handle)
  uInt32 devNames;     // device-names block
  uInt32 dc;           // printer device context
  uInt32 flags;
  uInt16 fromPage, toPage, minPage, maxPage, copies;
  uInt32 instance;
  uInt32 custData;
  uInt32 printHook, setupHook, printTemplate, setupTemplate, printTemplateHandle, setupTemplateHandle;
};
#pragma pack(pop)
static_assert(sizeof(PrintDlgRecord) == 66 && offsetof(PrintDlgRecord, flags) == 20 &&
                  offsetof(PrintDlgRecord, fromPage) == 24 && offsetof(PrintDlgRecord, copies) == 32 &&
                  offsetof(PrintDlgRecord, instance) == 34,
              "print dialog record");

// Dialog flags.
enum : uInt32 {
  kPdPageNums = 0x2,
  kPdNoSelection = 0x4,
  kPdPrintSetup = 0x40,
  kPdReturnDc = 0x100,
  kPdReturnDefault = 0x400,
  kPdUseDevModeCopies = 0x40000,
  kPdFlagsOpen = 0x40504,    // return the default printer's context and blocks
  kPdFlagsSetup = 0x40044,   // the print set-up dialog
  kPdFlagsJob = 0x40104,     // the print job dialog
};

// The spooler's document record: 20 bytes.
struct PrintDocInfo {
  int32 size;  // 20
  const char* docName;
  const char* output;
  const char* dataType;
  uInt32 type;  // 1 (application banding) in bitmap printing
};
static_assert(sizeof(PrintDocInfo) == 20 && offsetof(PrintDocInfo, type) == 16, "document record");
enum : uInt32 { kDocAppBanding = 1 };
constexpr const char kPrintDocName[] = "Quenlix Document";

// Job error codes: kPrintBadRecord .. kPrintGenericErr (extcode.h), and
// kCancelErr when the operator cancels the job dialog.
// The application error shown when Page Setup finds no printer.
enum : MgErr { kPrinterNotResponding = 1015 };

// Window styles of printing.
enum : uInt32 { kPrintScratchStyle = 44, kPrintPageStyle = 0x4000 };

struct PrintJob {
  PrintDlgRecord printDlg;
  uInt32 savedDC;         // the context put aside by PSelectPrinterByName
  WindowRef scratchWindow;
  WindowRef pageWindow;
  MgErr error;
  float32 bitmapScale;    // page-pixmap pixels per point
  int32 pagePixmap;
  int32 psImage;
  FileRef psFile;
  uInt16 spoolFileCount;
  Rect savedPageRect;
  ImageSaveRecord imageSave;
  uInt32 screenDc;        // the page window's context in bitmap printing
};
extern PrintJob gPrintJob;

// The print preferences (configuration keys of the same names), read at
// start-up by PReadPrintPrefs.
struct PrintPrefs {
  Bool32 printUsingBitmap;
  Bool32 postScriptPrinting;
  Bool32 postScriptLevel2;
  Bool32 colorPrinting;
  Bool32 printerDithering;
  Bool32 useMargins;
  Bool32 marginUnitInch;
  float32 marginT, marginL, marginB, marginR;
};
extern PrintPrefs gPrintPrefs;
void PReadPrintPrefs();
// The page pixmap's pixels per point at most ("lbitmapPrintScale", a long,
// default 4; below 1 counts as 1).
int32 PBitmapPrintScale();

// What the print manager asks of the layers above it, filled at start-up:
// the error alert, temporary file paths, the native-modal marks, and the
// window manager's note that a native modal loop runs.  Without them there
// is no alert, no spool path (the spool file is not made) and no mark.
struct PrintHooks {
  void (*errDialog)(MgErr code, ConstPStr detail);
  Path (*makeTempFilePath)(const char* format, Path path);
  void (*beginNativeModal)();
  void (*endNativeModal)();
  void (*nativeLoop)(Bool32 running);
  Bool32 (*isNT)();            // the window manager's flag; null: the system version's
  RsrcFileRef (*appRsrcFile)();
};
PrintHooks PSetPrintHooks(const PrintHooks& hooks);
// The hooks installed now (null where none is).
PrintHooks PPrintHooks();
// Test seam: the layer's end-page call (null: the layer's own).
typedef int32 (*PEndPageProc)(uInt32 dc);
void PSetEndPageProc(PEndPageProc proc);

QX_EXTERN_C void PInitPrintDlg();
QX_EXTERN_C void PFreeDevHandles();
QX_EXTERN_C void POpen(WindowRef window, RsrcFileRef file);
QX_EXTERN_C void PClose();
QX_EXTERN_C int32 PStyleDialog(UHandle record);
QX_EXTERN_C int32 PJobDialog(UHandle record);
QX_EXTERN_C int32 PRunPrintDlg(PrintDlgRecord* dlg, uInt32* extError);
QX_EXTERN_C WindowRef POpenWind(UHandle record, int32 unused, WPortState* save);
QX_EXTERN_C void PCloseWind(UHandle record, const WPortState* save);
QX_EXTERN_C void POpenPage(UHandle record);
QX_EXTERN_C void PClosePage(UHandle record);
QX_EXTERN_C WindowRef PNewPrinterWindow(const Rect* rect, int32 extra);
QX_EXTERN_C void PSetWindowDepth(WindowRef window);
QX_EXTERN_C Path PSpoolFilePath(int32 page, Path path);
QX_EXTERN_C MgErr PSelectPrinterByName(LStrHandle name);
QX_EXTERN_C void PRestorePrinterDC();
QX_EXTERN_C MgErr SetDefaultPrinter(LStrHandle name, LStrHandle current, Bool32 ask);
QX_EXTERN_C int32 PGetPrinterSetup(const char* name, uInt32* devMode, uInt32* devNames);
QX_EXTERN_C MgErr PPageSetup(UHandle vi, WindowRef window);

// The driver, device and port names of a device-names block; false for a
// bad block (offsets outside it, a name without its NUL).
bool PReadDevNames(uInt32 devNames, char* driver, char* device, char* port, int32 size);
