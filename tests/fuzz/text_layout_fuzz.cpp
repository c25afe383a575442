// Texts, modes, view widths and style runs of text-edit records come from
// stored records and typing: any bytes as all of them.  The laid-out lines
// cover the text in order without gaps: the first starts at 0, starts
// ascend, only a last line after a final break (or of an empty text) is
// empty, widths and heights are never negative; fonts measuring almost
// nothing never divide by zero; a text all in a double-byte font has its
// lines start on character boundaries.  After an edit (the runs and the caret
// moving with it) and a pending change, the lines laid out again around it
// and the ones kept give the table of a fresh record of the new text, also
// when the layout went first only as far as the caret.
//
// Input: mode (2 bytes), view width (2 bytes), run count (1 byte), per run a
// start (2 bytes) and a font pick (1 byte), an edit offset and cut length
// (2 bytes each), then the text.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_codepage.h"

namespace {

int32 gFonts[4] = {-1, -1, -1, -1};

bool Start() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr) return false;
  TXInitFonts();
  static const uChar sans[] = "\x0b" "DejaVu Sans", mono[] = "\x10" "DejaVu Sans Mono";
  gFonts[0] = TNewFont(sans, 12, 0, 0);
  gFonts[1] = TNewFont(mono, 11, 0, 0);
  gFonts[2] = TNewFont(sans, 1, 0, 0);  // measures next to nothing
  PlatSetDoubleByteCodePage(true);       // fonts made from now on are double-byte
  gFonts[3] = TNewFont(sans, 13, 0, 0);
  return gFonts[0] >= 0 && gFonts[1] >= 0 && gFonts[2] >= 0 && gFonts[3] >= 0;
}

struct Reader {
  const uint8_t* p;
  size_t n;
  uint32_t Take(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      v = v << 8 | (n ? *p : 0);
      if (n) ++p, --n;
    }
    return v;
  }
};

struct Runs {
  std::vector<uInt32> starts;
  std::vector<int32> fonts;
};

TRecord Make(uInt32 mode, int32 width, const std::string& text, const Runs& runs, int32 caret) {
  const Rect view{0, 0, 200, int16(width)};
  TRecord r = TNew(&view, mode, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), gFonts[0], 0, 0);
  FUZZ_CHECK(r != nullptr);
  const int32 count = int32(runs.starts.size());
  FUZZ_CHECK(DSSetHandleSize(r, kTRRuns + (count + 1) * kTRRunSize) == kNoErr);
  for (int32 i = 1; i <= TRData(r)->runCount; ++i) TDisposeFont(TRData(r)->runs[i].font);
  TRData(r)->runCount = count;
  for (int32 i = 0; i < count; ++i) {
    TRData(r)->runs[i + 1] = TStyleRun{runs.starts[i], runs.fonts[i], 0};
    TAddFontReference(runs.fonts[i]);
  }
  TRData(r)->selStart = TRData(r)->selEnd = caret;
  return r;
}

std::vector<TLineEntry> Table(TRecord r) {
  TValidateLines(r);
  std::vector<TLineEntry> v;
  for (int32 i = 0; i < TLineCount(r); ++i) v.push_back(TLineAt(r, i));
  return v;
}

void CheckCovers(TRecord r, const std::string& text, bool wide) {
  const auto lines = Table(r);
  const int32 n = int32(text.size());
  std::vector<bool> boundary(size_t(n) + 1, !wide);
  for (int32 i = 0; wide && i <= n; i += i + 1 < n && PlatCharNext(&text[size_t(i)]) == &text[size_t(i)] + 2 ? 2 : 1)
    boundary[size_t(i)] = true;
  FUZZ_CHECK(!lines.empty());
  FUZZ_CHECK(lines[0].start == 0);
  for (size_t i = 0; i < lines.size(); ++i) {
    const TLineEntry& e = lines[i];
    const int32 end = i + 1 < lines.size() ? lines[i + 1].start : n;
    FUZZ_CHECK(e.start <= n);
    FUZZ_CHECK(boundary[size_t(e.start)]);
    if (e.start == end) {
      // Only a last line at the end, after a break or of an empty text.
      FUZZ_CHECK(i + 1 == lines.size() && e.start == n);
      FUZZ_CHECK(n == 0 || text[n - 1] == '\r' || text[n - 1] == '\n');
    }
    FUZZ_CHECK(e.start < end || e.start == n);
    FUZZ_CHECK(e.width >= 0 && e.trimmed >= 0 && e.trimmed <= e.width && e.height >= 0 && e.ascent >= 0);
  }
}

bool Same(const std::vector<TLineEntry>& a, const std::vector<TLineEntry>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::memcmp(&a[i], &b[i], sizeof a[i]) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) return 0;
  Reader in{data, size};
  const uInt32 mode = in.Take(2) & 0x7003F;
  const int32 width = int32(in.Take(2) % 600);
  const int32 runCount = int32(in.Take(1) % 5);
  Runs runs;
  for (int32 i = 0; i < runCount; ++i) {
    runs.starts.push_back(i == 0 ? 0 : in.Take(2));
    runs.fonts.push_back(gFonts[in.Take(1) % 4]);
  }
  const bool wide = runCount > 0 && !(mode & kTRModeHex) &&
                    std::all_of(runs.fonts.begin(), runs.fonts.end(), [](int32 f) { return f == gFonts[3]; });
  const uInt32 at = in.Take(2), cut = in.Take(2);
  std::string text(reinterpret_cast<const char*>(in.p), in.n > 3000 ? 3000 : in.n);

  const size_t from = text.empty() ? 0 : at % (text.size() + 1);
  const size_t gone = std::min<size_t>(cut % 8, text.size() - from);
  TRecord r = Make(mode, width, text, runs, int32(from));
  CheckCovers(r, text, wide);
  // An edit: cut some bytes and insert two; the pending change relays out.
  std::string edited = text.substr(0, from) + "x " + text.substr(from + gone);
  UHandle t = TRData(r)->text;
  FUZZ_CHECK(DSSetHandleSize(t, int32(4 + edited.size())) == kNoErr);
  PutNative32(*t, uInt32(edited.size()));
  std::memcpy(*t + 4, edited.data(), edited.size());
  for (int32 i = 2; i <= TRData(r)->runCount; ++i) {
    uInt32& start = TRData(r)->runs[i].start;
    if (start > from) start = uInt32(std::max<int64_t>(int64_t(from), int64_t(start) - int64_t(gone)) + 2);
    runs.starts[size_t(i - 1)] = start;
  }
  TRData(r)->selStart = TRData(r)->selEnd = int32(from + 2);
  TMarkRelayout(r, int32(from), int32(gone), 2);
  // Laid out up to the caret first, the lines after it may be left for the
  // full layout to come.
  if (cut & 8) TValidateLinesTo(r, int32(from + 2));
  CheckCovers(r, edited, wide);
  TRecord fresh = Make(mode, width, edited, runs, int32(from + 2));
  // The fresh record's destination is laid out from the same view.
  TRData(fresh)->dest = TRData(r)->dest;
  TRData(fresh)->view = TRData(r)->view;
  FUZZ_CHECK(Same(Table(r), Table(fresh)));
  // Destinations laid out from the same view are the same (a box, which
  // sets its view from its lines, too: laying it out again leaves it).
  FUZZ_CHECK(std::memcmp(&TRData(r)->dest, &TRData(fresh)->dest, sizeof(LRect)) == 0);
  // Points of offsets map back into the text.
  for (int32 o = 0; o <= int32(edited.size()); o += 1 + o / 8) {
    const int32 back = TPtToOffset(r, TOffsetToPt(r, o, o & 1, nullptr), kTPtClick);
    FUZZ_CHECK(back >= 0 && back <= int32(edited.size()));
  }
  TDispose(fresh);
  TDispose(r);
  return 0;
}
