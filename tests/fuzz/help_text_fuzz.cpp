// Descriptions from VI files through the help method's text layout: any
// bytes, unbalanced or nested "<B>" and "</B>" tags, empty texts.  The first
// two bytes give the one-line width and height the box is made from.
// Invariants: no tag characters survive where a whole tag stood (the text
// left is the input without its tags), the runs start at 0, ascend and lie
// inside the text, only the application font and its emphasised form are
// used, the fitted rectangle keeps its corner and never shrinks, and every
// font reference taken is given back when the record goes.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textdraw.h"
#include "panel/ohelp.h"
#include "tests/draw_start.h"

namespace {

std::string WithoutTags(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 3, "<B>") == 0) i += 3;
    else if (s.compare(i, 4, "</B>") == 0) i += 4;
    else out.push_back(s[i++]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1 << 14) return 0;
  static const bool started = FuzzStartManagers() && StartDrawing();
  FUZZ_CHECK(started);
  const int32 app = TStandardFont(0), bold = TStandardFont(3);
  const int32 appRefs = TFontReferences(app), boldRefs = TFontReferences(bold);
  const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  int32 boxH = 0, boxW = 0;
  const int32 w = int32(data[0]) * 997, h = 1 + data[1] % 40;
  HelpBoxSize(w, h, data[1], &boxH, &boxW);
  FUZZ_CHECK(boxH >= h && boxH <= 32767 && boxW >= data[1] && boxW <= 32767);
  const Rect start{8, 0, int16(8 + std::min(boxH, 2000)), int16(std::min(boxW, 2000))};
  TRecord r = HelpStyledText(&start, reinterpret_cast<const uChar*>(text.data()), int32(text.size()));
  FUZZ_CHECK(r);
  UHandle t = TGetText(r);
  const int32 length = int32(GetNative32(*t));
  FUZZ_CHECK(std::string(reinterpret_cast<const char*>(*t) + 4, size_t(length)) == WithoutTags(text));
  int32 last = -1;
  for (int32 i = 0; i < TGetRunCount(r); ++i) {
    int32 font = -1, from = -1, to = -1;
    DColor colour;
    TGetRunInfo(r, i, &font, &colour, &from, &to);
    FUZZ_CHECK(from > last && from < to && to <= length && (i > 0 || from == 0));
    FUZZ_CHECK(TFontCompare(font, app, kFontMaskAll) == 0 || TFontCompare(font, bold, kFontMaskAll) == 0);
    last = from;
  }
  Rect fitted = start;
  HelpFitText(r, h, &fitted);
  FUZZ_CHECK(fitted.top == start.top && fitted.left == start.left && fitted.right >= start.right);
  TDispose(r);
  FUZZ_CHECK(TFontReferences(app) == appRefs && TFontReferences(bold) == boldRefs);
  return 0;
}
