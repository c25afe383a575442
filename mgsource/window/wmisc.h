// The window manager's miscellaneous services: starting a program, opening
// help, system values for external code, and the host cursor.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "mgsource/window/wevent.h"

// Starts the program of a command line, minimised when asked: 0, or 42 when
// it could not be started.
QX_EXTERN_C MgErr WExecute(ConstCStr commandLine, Bool32 minimized);

// Help commands of WWinHelp.
enum : int32 { kWHelpQuit = 2, kWHelpIndex = 3, kWHelpKeyword = 0x101 };
// Opens the help file path (a Path) on behalf of the window: at its index,
// at the keyword for kWHelpKeyword, or ends the help
// viewers for kWHelpQuit.  0 when help opened, 1 when it failed, 2 when the
// path cannot be turned into text.
QX_EXTERN_C int32 WWinHelp(WindowRef window, Path path, int32 command, ConstCStr keyword);

// System values for external code: 0 and the value in *out for selectors 1
// (the program's instance word), 2 to 4 (the application, system and dialog
// font numbers), 5 (the socket of the connection whose cookie *out holds)
// and 6 (the thread layer's value); 1 for another selector.  Selectors 5 and
// 6 answer through the layers above: without them 5 gives 1 and -1, 6 gives
// 53 and 0.
QX_EXTERN_C MgErr GetManagerLong(int32* out, int32 selector);

struct WManagerHooks {
  MgErr (*deviceValue)(int32* inOut);  // selector 5
  MgErr (*threadValue)(int32* out);    // selector 6
};
// Installs the given (non-null) hooks; returns the former set.
WManagerHooks WSetManagerHooks(const WManagerHooks& hooks);

// Sets the host cursor to the cursor of an image id (-1 the arrow, -2 the
// wait cursor, passed as they are); setting the id set last does nothing.
void WSetHostCursor(int32 id);
// Forgets the id set last (the platform's cursors were reset: tests).
void WForgetHostCursor();

// Whether no operator can answer a question: without a screen to show it
// on (headless, input scripts included), dialogs and alerts are answered for
// the operator by their defaults, and a question is asked at most once.
Bool32 WNoOperator();
// Test seam: 1 or 0 answers WNoOperator in place of the display (a test that
// scripts the operator's answers says 0); -1 asks the display again.
void WSetNoOperator(int32 state);
