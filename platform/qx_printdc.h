// Printer drawing contexts and their jobs.
//
// A printer context draws by the screen's rules into a page of the
// printable size (HORZRES x VERTRES device pixels), white when the page
// starts.  Its device capabilities are the printer's (qx_printer.h).
//
// A job: start-doc opens job n (counted per process from 1) titled with the
// document name; start-page makes a fresh page; end-page appends it;
// end-doc writes the files into the printer's output folder, or
// QX_PRINT_DIR, or "qx-print" in the temporary folder:
//   job-<n>.ps         the pages (qx_psjob.h); on raster printers one image
//                      a page
//   job-<n>-p<k>.png   raster printers only, one a page (1-bit greyscale
//                      for printers without colour)
// and hands job-<n>.ps to the printer's command, when it has one, on stdin.
// Deleting the context before end-doc drops the job and writes nothing.
// Metafiles and bitmaps played on a PostScript page between pass-through
// pieces paint device pixels of the printable area, which the raster piece
// places with the pieces' own matrix: they land where PostScript drawing of
// the same device rectangle does, with no border offset added.
// Calls out of order, and failures, return below 1 with the host error set
// (never 0).
#pragma once
#include <cstdint>
#include <string>

#include "platform/qx_dc.h"
#include "platform/qx_globalmem.h"

// The context of the printer named device (exactly); driver and port are
// checked against its entry when given.  devMode 0 takes the printer's
// defaults; otherwise its orientation is used.  0 with kPlatErrInvalidParam
// for an unknown printer or a bad device mode.
PlatObj PlatCreatePrinterDc(const char* driver, const char* device, const char* port, PlatGlobal devMode);
bool PlatIsPrinterDc(PlatObj dc);

// The job's number (> 0).
int32_t PlatStartDoc(PlatObj dc, const char* docName);
int32_t PlatStartPage(PlatObj dc);
int32_t PlatEndPage(PlatObj dc);
int32_t PlatEndDoc(PlatObj dc);
// Drops the open job (1), writing nothing.
int32_t PlatAbortDoc(PlatObj dc);

// The folder jobs go to by default.
std::string PlatPrintFolder();

enum PlatEscapeCode : int32_t {
  kPlatEscNextBand = 3,       // out: PlatRect of the next band
  kPlatEscQuerySupport = 8,   // in: the int32 escape asked about; 1 when supported
  kPlatEscPassThrough = 19,   // in: a 16-bit count, then that many bytes
  kPlatEscBandInfo = 24,      // out: PlatBandInfo
};
struct PlatBandInfo {
  int32_t graphics;  // 1: the band takes graphics
  int32_t text;      // 1: the band takes text
  PlatRect rect;     // the printable rectangle
};
static_assert(sizeof(PlatBandInfo) == 24, "band info layout");

// Next-band gives the printable rectangle (starting the page when none is
// open), then an empty one, which ends the page as end-page does.
// Pass-through (PostScript printers only; 0 on raster printers) appends the
// bytes to the page's pieces and returns the count; a count beyond inCount
// - 2 fails.  Unknown escapes return 0.
int32_t PlatEscape(PlatObj dc, int32_t escape, int32_t inCount, const void* in, void* out);
