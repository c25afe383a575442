// Typed, pasted and styled text comes from the user and other programs: any
// sequence of keys, insertions, selections, font and colour changes, cuts,
// copies and pastes on records of every mode.  After each step the selection
// lies inside the text and the runs keep their shape (none for an empty
// text, the first at 0, ascending inside the text, no equal neighbours, no
// lone run equal to the insertion style); a clipboard whose count word
// claims more bytes than its handle holds is read only within the handle;
// after both records are disposed every font has the references it had.
// The lines a key leaves for later come out as laying out every line at
// once gives them: a twin record whose layouts leave none ends with the
// same lines, destination and selection.
//
// Input: mode (3 bytes), then steps of an operation byte and two argument
// bytes; bytes after a 0xFF operation are pasted as the clipboard's text.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_alert.h"

namespace {

int32 gFonts[2] = {-1, -1};

bool Start() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr) return false;
  TXInitFonts();
  PlatSetBeepProc([] {});
  static const uChar sans[] = "\x0b" "DejaVu Sans";
  gFonts[0] = TNewFont(sans, 12, 0, 0);
  gFonts[1] = TNewFont(sans, 12, 2, 700);
  return gFonts[0] >= 0 && gFonts[1] >= 0;
}

void CheckWhole(TRecord r) {
  const TRecordData* d = TRData(r);
  UHandle t = d->text;
  FUZZ_CHECK(t && DSGetHandleSize(t) >= 4);
  const uInt32 n = GetNative32(*t);
  FUZZ_CHECK(n <= uInt32(DSGetHandleSize(t) - 4));
  FUZZ_CHECK(0 <= d->selStart && d->selStart <= d->selEnd && uInt32(d->selEnd) <= n);
  FUZZ_CHECK(DSGetHandleSize(r) == kTRRuns + (d->runCount + 1) * kTRRunSize);
  FUZZ_CHECK(n > 0 || d->runCount == 0);
  for (int32 i = 1; i <= d->runCount; ++i) {
    const TStyleRun& run = TRData(r)->runs[i];
    FUZZ_CHECK(run.start < n);
    FUZZ_CHECK(i > 1 || run.start == 0);
    const TStyleRun& before = TRData(r)->runs[i - 1];
    if (i > 1) FUZZ_CHECK(run.start > before.start);
    // Neighbours differ; a lone run differs from the insertion style.
    if (i > 1 || d->runCount == 1)
      FUZZ_CHECK(!(run.colour == before.colour && TFontCompare(run.font, before.font, kFontMaskAll) == 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) return 0;
  const int32 refs[2] = {TFontReferences(gFonts[0]), TFontReferences(gFonts[1])};
  size_t at = 0;
  const auto take = [&]() -> uint32_t { return at < size ? data[at++] : 0; };
  const uInt32 mode = (take() << 16 | take() << 8 | take()) & 0x7FFFF;
  const Rect view{0, 0, 120, 160};
  TRecord records[2], clips[2];
  for (int i = 0; i < 2; ++i) {
    records[i] = TNew(&view, mode, reinterpret_cast<const uChar*>("some text\nhere"), 14, gFonts[0], 0, 0xFFFFFF);
    clips[i] = TNew(&view, 2, nullptr, 0, gFonts[0], 0, 0xFFFFFF);
    FUZZ_CHECK(records[i] && clips[i]);
  }
  for (int step = 0; step < 400 && at < size; ++step) {
    const uint32_t op = take(), a = take(), b = take();
    const size_t rest = at;
    for (int i = 0; i < 2; ++i) {
      TRecord r = records[i], clip = clips[i];
      TLayoutSetLeaving(i == 0);
      if (op == 0xFF) {
        // The rest as the clipboard's text, its count word claiming more.
        const int32 n = int32(size - rest);
        TReplaceText(clip, data + rest, n);
        PutNative32(*TRData(clip)->text, uInt32(n) + a + 1);
        TPaste(clip, r, 0);
      } else {
        switch (op % 9) {
          case 0: TKey(r, int32(a % 32), int32(b), int32(a >> 5), 0); break;
          case 1: TInsert(r, data + (rest < size ? rest : 0), int32(b % 4 < size - rest ? b % 4 : 0)); break;
          case 2: TSelectText(r, int32(a) - 8, int32(b) - 8); break;
          case 3: TSetFont(r, gFonts[a & 1], int32(b), 0); break;
          case 4: {
            const DColor c = a & 3;
            TSetColors(r, &c, nullptr, 0);
            break;
          }
          case 5: TCut(r, b & 1 ? clip : nullptr, 0); break;
          case 6: TCopy(r, clip); break;
          case 7: TPaste(b & 1 ? clip : nullptr, r, 0); break;
          default: TSetMode(r, (mode & ~0xFu) | (a & 4), 0); break;
        }
      }
      TLayoutSetLeaving(true);
      CheckWhole(r);
      if (op != 0xFF) CheckWhole(clip);
    }
    FUZZ_CHECK(TRData(records[0])->selStart == TRData(records[1])->selStart &&
               TRData(records[0])->selEnd == TRData(records[1])->selEnd);
    if (op == 0xFF) break;
  }
  TValidateLines(records[0]);
  TValidateLines(records[1]);
  const int32 count = TLineCount(records[0]);
  FUZZ_CHECK(count == TLineCount(records[1]));
  for (int32 i = 0; i < count; ++i) {
    const TLineEntry x = TLineAt(records[0], i), y = TLineAt(records[1], i);
    FUZZ_CHECK(std::memcmp(&x, &y, sizeof x) == 0);
  }
  FUZZ_CHECK(std::memcmp(&TRData(records[0])->dest, &TRData(records[1])->dest, sizeof(LRect)) == 0);
  for (int i = 0; i < 2; ++i) {
    TDispose(records[i]);
    TDispose(clips[i]);
  }
  FUZZ_CHECK(TFontReferences(gFonts[0]) == refs[0] && TFontReferences(gFonts[1]) == refs[1]);
  return 0;
}
