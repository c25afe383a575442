// The entry points through which the rest of the system prints: a VI's
// front panel (at the completion of a VI, from the VI server and from
// external code by the VI's name), the Print command of a VI window, and a
// front panel rendered into image data.  They open the printer, make the
// VI's print record current, lay out and print the pages and report errors.
// User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/wevent.h"

// String list 302 of the run-time resource file: the Print command's texts.
constexpr int32 kPrintTextsList = 302;
constexpr int32 kPrintOptionsOffText = 8;  // "All VI print options are currently turned off."
constexpr int32 kPrintFailedText = 11;     // "Unable to print.  Make sure you have ..."
// The application error of a VI name that names no loaded VI.
constexpr MgErr kVINotInMemory = 1004;

// Prints the VI's front panel: on the printer named (a long-string handle;
// null or empty: the session's) unless showDialog asks for the job dialog,
// which a cancel ends with 43.  The job error; 1 for a null VI or a bad
// name handle.
QX_EXTERN_C MgErr PrintVIPanel(UHandle vi, WindowRef window, int32 usePanelRect, UHandle printerName,
                               int32 showDialog);
// The Print command of a VI window: shows what went wrong; 0.
QX_EXTERN_C MgErr PrintVIWindow(UHandle vi, WindowRef window, int32 reserved);
// The job dialog, then the pages; *cancelled 1 when the dialog is refused.
QX_EXTERN_C MgErr PPrintWithJobDialog(UHandle vi, int32 reserved, int32* cancelled);
// The VI server's print of a front panel.
QX_EXTERN_C MgErr VIPrintFrontPanel(UHandle vi, Bool32 wholePanel);
// The front panel as pixels: *depth in (1, 4, 8, 16, 24 or 32; others
// become 8) and out, the rows in the 1-byte array *bits, the colours (2,
// 16 or 256 of them at depths 1, 4 and 8, none above) in the 4-byte array
// *colours, the area moved to 0, 0 in *rect when asked.
QX_EXTERN_C MgErr VIGetPanelImage(UHandle vi, int32* depth, Bool32 wholePanel, UHandle* bits, UHandle* colours,
                                  Rect* rect);
// External code's print of a loaded VI named viName: 1004 when no loaded VI
// has the name, 1 for a bad handle.
QX_EXTERN_C MgErr VIPrintPanelToPrinter(LStrHandle viName, LStrHandle printerName, uInt8 wholePanel,
                                        uInt8 showDialog);
