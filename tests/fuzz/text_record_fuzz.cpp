// Saved text records ("TRec", old "TREC") come from VI files, with the
// file's font table ("FTAB" 128): any bytes as both, loaded with and without
// a text given.  A loaded record is whole (its size fits its runs, the runs
// ascend from 0 inside its text, the selection lies inside it, every run
// names a valid font, no line table, inactive, owning its text); copying,
// scaling, replacing its text and disposing it give back every font
// reference and handle.  Nothing is reported while loading.
//
// Input: a pick byte (bit 0 the old type, bit 1 a text given, bit 2 the
// check flag, bit 3 a well-formed font table instead of the bytes), a
// 16-bit table length, the table's bytes, then the record's.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "rsrc_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/textrec.h"
#include "tools/panelwriter.h"
#include "tools/rsrcwriter.h"

namespace {

bool Start() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr || RInitResources() != kNoErr) return false;
  TXInitFonts();
  return TStandardFont(0) >= 0;
}

int64_t TotalReferences() {
  int64_t n = 0;
  for (int32 i = 0; i < TFontCount(); ++i) n += TFontReferences(i);
  return n;
}

void CheckWhole(TRecord r) {
  const TRecordData* d = TRData(r);
  FUZZ_CHECK(d->runCount >= 0);
  FUZZ_CHECK(DSGetHandleSize(r) == kTRRuns + (d->runCount + 1) * kTRRunSize);
  FUZZ_CHECK(d->text && *d->text);
  const int32 length = int32(GetNative32(*d->text));
  FUZZ_CHECK(length >= 0 && DSGetHandleSize(d->text) >= 4 + length);
  FUZZ_CHECK(d->lines == nullptr);
  FUZZ_CHECK((d->flags & (kTRFlagActive | kTRFlagSuspended | kTRFlagSharedText | 0x1040)) == 0);
  FUZZ_CHECK(0 <= d->selStart && d->selStart <= d->selEnd && d->selEnd <= length);
  for (int32 i = 0; i <= d->runCount; ++i) {
    FUZZ_CHECK(TFontEntry(TRData(r)->runs[i].font) != nullptr);
    if (i < 1) continue;
    const uInt32 start = TRData(r)->runs[i].start;
    FUZZ_CHECK(start <= uInt32(length));
    FUZZ_CHECK(i == 1 ? start == 0 : start >= TRData(r)->runs[i - 1].start);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started || size < 3 || size > 8192) return 0;
  const uint8_t pick = data[0];
  size_t tableLength = size_t(data[1]) << 8 | data[2];
  const uint8_t* body = data + 3;
  const size_t n = size - 3;
  if (tableLength > n) tableLength = n;
  const int32 live = FuzzLiveHandles(), cached = TCachedFontCount();
  const int64_t refs = TotalReferences();
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  if (pick & 8)
    w.Add(kFontTableType, kFontTableId,
          panelwriter::FontTableRsrc({{"DejaVu Sans", 10}, {"", 0}, {"Courier", 12, 1, 0}}, 1, true, pick >> 7));
  else
    w.Add(kFontTableType, kFontTableId, rsrcw::Bytes(body, body + tableLength));
  w.Add(pick & 1 ? kOldTextRecordType : kTextRecordType, 5, rsrcw::Bytes(body + tableLength, body + n));
  const RsrcFileRef ref = FuzzOpenRsrcImage(w.Write());
  if (!ref) return 0;
  UHandle given = nullptr;
  if (pick & 2) {
    const uInt32 count = pick >> 4;
    given = DSNewHandle(int32(4 + count));
    PutNative32(*given, count);
    std::memset(*given + 4, 'g', count);
  }
  FuzzArmed() = true;
  TRecord r = reinterpret_cast<TRecord>(1);
  const MgErr err = TLoad(ref, given, 5, &r, (pick & 4) != 0);
  FuzzArmed() = false;
  if (err != kNoErr) {
    FUZZ_CHECK(r == nullptr);
    FUZZ_CHECK(err == kArgErr || err == kMemFullErr || err == kRsrcNotFoundErr);
    if (given) DSDisposeHandle(given);
  } else {
    FUZZ_CHECK(r != nullptr);
    CheckWhole(r);
    if (given) FUZZ_CHECK(TGetText(r) == given);
    TRecord shared = TDuplicate(r, 1), copied = TDuplicate(r, 0);
    FUZZ_CHECK(shared && copied);
    CheckWhole(copied);
    const Rect from{0, 0, 100, 100}, to{0, 0, 37, 251};
    TRecord scaled = TScaleText(r, &from, &to);
    FUZZ_CHECK(scaled != nullptr);
    const Rect outer{int16(pick), 0, 60, int16(pick * 3)};
    TSetRect(copied, &outer);
    FUZZ_CHECK(TReplaceText(copied, reinterpret_cast<const uChar*>("abc"), 3) == kNoErr);
    FUZZ_CHECK(TRRunCount(copied) == 0 && TRData(copied)->selEnd <= 3);
    TDispose(scaled);
    TDispose(copied);
    TDispose(shared);
    TDispose(r);
  }
  TReleaseFontReferences();
  RCloseFile(ref);
  FUZZ_CHECK(TotalReferences() == refs);
  // The fonts made stay cached (a name handle each); the rest of what a run
  // made is given back.
  FUZZ_CHECK(FuzzLiveHandles() - live <= TCachedFontCount() - cached);
  if (TCachedFontCount() > 32) {
    TXFinishFonts();
    TXInitFonts();
  }
  return 0;
}
