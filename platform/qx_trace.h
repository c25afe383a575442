// The trace of a drawing context: one line a public call, re-selections
// included, so a drawing can be checked call by call and replayed.
//
// Lines (colours 0x00BBGGRR as six hex digits, points "x,y", rectangles
// "l,t,r,b"):
//   pen STYLE WIDTH 0xCCCCCC          brush solid 0xCCCCCC | null | pattern 16HEX
//   font                              bitmap W H FORMAT
//   palette COUNT                     realizepalette
//   rop2 N    fillmode N    bkmode N  textcolor 0xCCCCCC    bkcolor 0xCCCCCC
//   brushorg X,Y                      clip none | clip RECT...    offsetclip DX,DY
//   patfill X,Y,W,H 0xCODE            invert RECT
//   moveto X,Y    lineto X,Y          polyline N POINT...    polygon N POINT...
//   fillrgn BRUSH RECT...             framergn W,H BRUSH RECT...
//   flush
//   charextra N                       text X,Y OPTIONS RECT|- HEX|-   (the bytes in hex)
//   ellipse RECT    roundrect RECT EW,EH    arc RECT START END    pie RECT START END
//   stretchmode N
// Transfers read other contexts or DIB bits and are traced but not played:
//   blit X,Y,W,H from SX,SY,SW,SH fn F0 F1    stretchdib X,Y,W,H from SX,SY,SW,SH 0xCODE
//   getdibits DEPTH HEADER    setdibits    dibbitmap
// e.g. "rop2 7", "patfill 0,0,7,3 0x5A0049".
#pragma once
#include <string>
#include <vector>

#include "platform/qx_dc.h"

// Keeps the lines it is given.
class PlatTraceRecorder : public PlatTraceSink {
 public:
  void Line(const std::string& line) override { lines.push_back(line); }
  std::vector<std::string> lines;
};

// Plays trace lines on a context (selections of bitmaps, fonts and palettes
// are skipped: the context keeps its own target).  The index of the first
// line that cannot be read or played, or -1 when all played.
int32_t PlatReplayTrace(PlatObj dc, const std::vector<std::string>& lines);
