// Stored font references come from resource files and pictures: any bytes
// as a font table ("FTAB"), read into the map and checked against the
// caller's fonts, and as a font record ("FREC").  The map stays within the
// table's entries and names valid fonts only; releasing it gives back every
// reference it took; a record gives a valid font; nothing is reported while
// reading.  The first byte picks what the rest is.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "rsrc_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "tools/rsrcwriter.h"

namespace {

int32 gCaller[3];

bool Start() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed) || ThInit() != kNoErr || RInitResources() != kNoErr) return false;
  TXInitFonts();
  gCaller[0] = TNewFont(reinterpret_cast<const uChar*>("\x0b" "DejaVu Sans"), 12, 0, 0);
  gCaller[1] = TNewFont(reinterpret_cast<const uChar*>("\x07" "Courier"), 10, 2, 1000);
  gCaller[2] = TStandardFont(0);
  return TStandardFont(0) >= 0;
}

// The references held on every slot.
int64_t TotalReferences() {
  int64_t n = 0;
  for (int32 i = 0; i < TFontCount(); ++i) n += TFontReferences(i);
  return n;
}

void CheckMap(size_t size, const uint8_t* table) {
  if (size < 8) return;
  const int32 first = GetBE16(table + 4), end = GetBE16(table + 6);
  FUZZ_CHECK(TFontMapCount() == end - first);
  for (int32 i = 0; i < TFontMapCount(); ++i) {
    const int32 f = TFontMapFont(i);
    FUZZ_CHECK(f == -1 || TFontEntry(f) != nullptr);
    FUZZ_CHECK((f == -1) == (GetBE32(table + 8 + (first + i) * ((GetBE32(table) & 0x10000) ? 16 : 12)) == 0));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started || size < 1 || size > 4096) return 0;
  const int32 live = FuzzLiveHandles();
  const int64_t refs = TotalReferences();
  const uint8_t pick = data[0];
  const uint8_t* body = data + 1;
  const size_t n = size - 1;
  FuzzArmed() = true;
  if (pick % 3 == 0) {
    UHandle h = AZNewHandle(int32(n));
    if (!h) return 0;
    if (n) std::memcpy(*h, body, n);
    const MgErr err = TReadFontTable(RsrcFileRef(pick), h, gCaller, pick & 0x80 ? 3 : 0);
    FUZZ_CHECK(err == kNoErr || err == kArgErr);
    if (err == kNoErr) CheckMap(n, body);
    else FUZZ_CHECK(TFontMapCount() == 0);
    TReleaseFontReferences();
    AZDisposeHandle(h);
  } else if (pick % 3 == 1) {
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    w.Add(kFontTableType, kFontTableId, rsrcw::Bytes(body, body + n));
    w.Add(kFontRecordType, 1, rsrcw::Bytes(body, body + n));
    if (const RsrcFileRef ref = FuzzOpenRsrcImage(w.Write())) {
      const MgErr err = TCheckFontTable(ref, gCaller, pick & 0x80 ? 2 : 1);
      FUZZ_CHECK(err == kNoErr || err == kArgErr);
      if (err == kNoErr) {
        CheckMap(n, body);
        // Every index gives a font with a reference of its own.
        for (int32 index = -1; index < 4; ++index) {
          const int32 f = TLoadFontReference(ref, index);
          FUZZ_CHECK(TFontEntry(f) != nullptr);
          TDisposeFont(f);
        }
      }
      const int32 f = TLoadFont(ref, 1);
      FUZZ_CHECK(TFontEntry(f) != nullptr);
      TDisposeFont(f);
      TReleaseFontReferences();
      RCloseFile(ref);
    }
  } else {
    // A record exactly as long as the bytes given, as pictures embed them.
    uChar* rec = static_cast<uChar*>(std::malloc(n ? n : 1));
    if (n) std::memcpy(rec, body, n);
    const int32 f = TNewFontFromRec(rec, int32(n));
    std::free(rec);
    FUZZ_CHECK(TFontEntry(f) != nullptr);
    uChar back[kFRecMaxBytes];
    const int32 len = TFontToRec(f, back);
    FUZZ_CHECK(len >= 10 && len <= kFRecMaxBytes && back[0] == len && back[kFRecName] + 9 == len);
    TDisposeFont(f);
  }
  FuzzArmed() = false;
  FUZZ_CHECK(TotalReferences() == refs);
  // The fonts made stay cached; the rest of what a run made is given back.
  if (FuzzLiveHandles() > live) {
    TXFinishFonts();
    TXInitFonts();
    gCaller[0] = TNewFont(reinterpret_cast<const uChar*>("\x0b" "DejaVu Sans"), 12, 0, 0);
    gCaller[1] = TNewFont(reinterpret_cast<const uChar*>("\x07" "Courier"), 10, 2, 1000);
    gCaller[2] = TStandardFont(0);
    FUZZ_CHECK(FuzzLiveHandles() <= live);
  }
  return 0;
}
