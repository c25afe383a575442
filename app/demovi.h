// The demo application (test tooling): a copy of the program whose appended
// run-time resource file is also a VI library holding Demo.vi, made from
// nothing outside the project.  Demo.vi is top-level and runs when opened;
// its window has its own menu bar, the tool bar and the icon pane; its
// panel has the numeric control "x" and the numeric indicator "y", and its
// compiled clump reads x and writes y = 2 * x + 2, both through the
// transfer functions, which it reaches through the run-time table's words;
// its panel values' procedure resets x and y to their defaults or makes
// their values the defaults.
#pragma once
#include <string>

#include "engine/vi/dataspace.h"

namespace demo {

// The data space after its header: the completion address, the flag record,
// the run element, the transfer table (x, then y), each control's transfer
// record (a cluster: the 12-byte head of flags, mutex and options, then five
// 32-bit copies) and the clump's two values.
constexpr int32 kD = kDataSpaceHeaderSize;
constexpr int32 kFinish = kD, kFlag = kD + 4, kRunElement = kD + 8;
constexpr int32 kTable = kD + 128;
constexpr int32 kRecord = 32;
constexpr int32 kRecX = kTable + 2 * 36 + 8, kRecY = kRecX + kRecord;
constexpr int32 kCopies = 12;  // copy 0 within a record; copy n follows at 4 * n
constexpr int32 kValueX = kRecY + kRecord, kValueY = kValueX + 4;
constexpr int32 kEnd = kValueY + 4;
// The content rectangle of the panel window and where it lies on the screen.
constexpr int16 kContentWidth = 240, kContentHeight = 120;
constexpr int16 kContentLeft = 40, kContentTop = 80;
// The window's parts: icon pane, tool bar and its own menu bar.
constexpr uInt16 kDemoWindowParts = 4 | 8 | 16;

// Writes to out a copy of program with the run-time resources and the demo
// library appended; x is the control's default value.  The numerics show
// their values in their texts (part 10), where the operator types them.  With a log (a host
// path), Demo.vi logs at completion to it: each record a time stamp and the
// panel's x and y.  With printAtCompletion it prints its panel when its run
// is over.  False with *error.
bool BuildDemo(const std::string& program, const std::string& out, int32 x, const std::string& log,
               std::string* error, bool printAtCompletion = false);

// Writes to out a copy of program whose library holds GraphDemo.vi instead:
// a top-level VI, run when opened, whose panel holds a waveform graph
// indicator (x 0 .. 999, y -1 .. 1) and whose clump fills an array of 1,000
// doubles, five periods of a sine, and writes it to the graph.  plotBack is
// the plot area's background colour (0, black, is the graph's default).
bool BuildGraphDemo(const std::string& program, const std::string& out, std::string* error, uInt32 plotBack = 0);

// Writes to out a copy of program whose library holds Menu.vi instead: a
// top-level VI, run when opened, whose clump yields until the VI is reset
// (its window closed) and whose window shows the minimal run-time menu.
bool BuildMenuTest(const std::string& program, const std::string& out, std::string* error);

}  // namespace demo
