// Virtual printers: the printer list, the device blocks that name a printer
// and its settings, and the print dialog that chooses one without showing
// anything.
//
// The list comes from the profile file named by QX_PRINTERS, a section a
// printer ("[name]", the name compared case-sensitively) with the keys
//   driver     driver name (default "qxps" for PostScript printers, else
//              "qxraster")
//   port       port name (default "FILE:")
//   dpi        dots per inch, 36 .. 2400 (default 300)
//   paper      "W x H" in points, 72 .. 14400 each (default 612 x 792)
//   margins    "M" or "MX x MY" in points (default 18); twice a margin stays
//              below the paper
//   colour     yes/no (default yes)
//   postscript yes/no: PostScript pass-through accepted (default yes)
//   output     folder that its jobs are written to (default the print folder)
//   command    shell command that receives each finished job's .ps on stdin
// A section with a bad value is skipped with one line on stderr; the first
// good section is the default printer.  Without QX_PRINTERS (or with a file
// that gives no printer) two printers are built in: "PostScript Printer"
// (the default) and "Raster Printer".
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_globalmem.h"

struct PlatPrinterInfo {
  std::string name, driver, port;
  int32_t dpi = 300;
  int32_t paperW = 612, paperH = 792;   // points
  int32_t marginX = 18, marginY = 18;   // points
  bool colour = true;
  bool postscript = true;
  std::string output, command;
};

// Parses the profile text; every skipped section adds one line to *errors
// (may be null).
std::vector<PlatPrinterInfo> PlatParsePrinters(const std::string& text, std::string* errors);
std::vector<PlatPrinterInfo> PlatBuiltinPrinters();
// The current list (QX_PRINTERS is read again at every call; bad sections
// are reported on stderr).
std::vector<PlatPrinterInfo> PlatPrinters();
// The printer of that exact name; false when there is none.
bool PlatFindPrinter(const char* name, PlatPrinterInfo* out);

// One entry of the enumeration buffer; the texts lie in the same buffer,
// after the entries.
struct PlatPrinterEntry {
  const char* name;
  const char* driver;
  const char* port;
};
// Fills buf with an entry a printer.  *needed gets the bytes the whole list
// takes and *count the entries written; a buffer that is null or too small
// gives false with kPlatErrInsufficientBuffer and nothing written.
enum : int32_t { kPlatErrInsufficientBuffer = 122 };
bool PlatEnumPrinters(void* buf, uint32_t size, uint32_t* needed, uint32_t* count);

// Device capabilities of a printer: the page in device pixels.
enum PlatPrinterCap : int32_t {
  kPlatCapPhysicalWidth = 110,
  kPlatCapPhysicalHeight = 111,
  kPlatCapPhysicalOffsetX = 112,
  kPlatCapPhysicalOffsetY = 113,
};
// The answer of a printer to a device-capability query (the kPlatCap values
// of qx_dc.h and the ones above), sizes and margins swapped for landscape;
// false for an unknown query.
bool PlatPrinterCapOf(const PlatPrinterInfo& p, bool landscape, int32_t cap, int32_t* value);

// The device mode: a fixed part of 156 bytes, then driverExtra bytes.
struct PlatDevMode {
  char deviceName[32];   // NUL-terminated, cut to 31 bytes
  uint32_t fields;       // kPlatDm* bits: which fields below are set
  int16_t orientation;   // kPlatPortrait or kPlatLandscape
  int16_t copies;
  uint16_t size;         // 156
  uint16_t driverExtra;
  uint8_t reserved[112];
};
static_assert(sizeof(PlatDevMode) == 156, "device mode fixed part");
static_assert(offsetof(PlatDevMode, fields) == 32 && offsetof(PlatDevMode, orientation) == 36 &&
                  offsetof(PlatDevMode, copies) == 38 && offsetof(PlatDevMode, size) == 40 &&
                  offsetof(PlatDevMode, driverExtra) == 42,
              "device mode offsets");
enum : uint32_t { kPlatDmOrientation = 0x1, kPlatDmCopies = 0x100 };
enum : int16_t { kPlatPortrait = 1, kPlatLandscape = 2 };

// The device names: four 16-bit words (offsets of the driver, device and
// port names from the block's start, and a default flag 0), then the three
// NUL-terminated names.
struct PlatDevNames {
  uint16_t driverOffset, deviceOffset, outputOffset, isDefault;
};
static_assert(sizeof(PlatDevNames) == 8, "device names header");

// Builds both blocks (movable, zero-filled) for a printer with its defaults
// (portrait, one copy).  False with kPlatErrNoMemory when memory runs out,
// with kPlatErrInvalidParam when the names block would pass 0xFFFF bytes
// (its offsets are 16-bit).
bool PlatMakeDeviceBlocks(const PlatPrinterInfo& p, PlatGlobal* devMode, PlatGlobal* devNames);
// Reads the blocks back: the printer they name (looked up in the current
// list) and the orientation and copies of the device mode.  False for bad
// or foreign handles, a block too short or without its NULs, or a printer
// that is no longer listed.
bool PlatReadDeviceBlocks(PlatGlobal devMode, PlatGlobal devNames, PlatPrinterInfo* p,
                          bool* landscape, int32_t* copies);

// The print dialog replacement.
enum : uint32_t {
  kPlatPdPageNums = 0x2,
  kPlatPdPrintSetup = 0x40,
  kPlatPdReturnDc = 0x100,
  kPlatPdReturnDefault = 0x400,
};
struct PlatPrintDlg {
  uint32_t flags;
  PlatGlobal devMode, devNames;  // in and out
  uint32_t dc;                   // out (PlatObj) with kPlatPdReturnDc
  uint16_t fromPage, toPage, minPage, maxPage, copies;
};
// Extended errors of the dialog.
enum : uint32_t {
  kPlatPdErrNone = 0,
  kPlatPdErrInit = 0x1002,       // blocks given to "return default"
  kPlatPdErrNoDevice = 0x1007,   // the blocks name a printer that is gone
  kPlatPdErrCreateDc = 0x100A,   // the printer's context could not be made
};
// Shows nothing.  "Return default" gives the default printer's blocks (the
// ones given must be 0) and, with kPlatPdReturnDc, its context.  The other
// dialogs accept the current blocks (made for the default printer when
// there are none): all pages, one copy, unless QX_PRINT_DIALOG holds
// (separated by blanks or commas) "cancel", "pages=F-T", "copies=N" or
// "landscape".  Returns 1 on success; 0 with *extError 0 for a cancel, and
// with a non-zero one for blocks that name a vanished printer (those blocks
// are left to the caller, who frees them and asks again).
int32_t PlatPrintDialog(PlatPrintDlg* pd, uint32_t* extError);

// What QX_PRINT_DIALOG asks for.
struct PlatPrintScript {
  bool cancel = false, landscape = false;
  int32_t fromPage = 0, toPage = 0;  // 0: all pages
  int32_t copies = 0;                // 0: unchanged
};
// Parses a script; every word it does not understand adds one line to
// *errors (may be null) and is ignored.
PlatPrintScript PlatParsePrintScript(const std::string& text, std::string* errors);
