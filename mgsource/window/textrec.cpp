// Text-edit records: loading the saved form, colours, disposal.
#include "mgsource/window/textrec.h"

#include <cstring>
#include <initializer_list>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"

DColor gDefaultTextColor = 0;

namespace {

inline void Put(TRecord r, int32 at, uInt32 v) { PutNative32(*r + at, v); }

// The saved record's fixed part: which words are 16 bits wide.
bool IsHalfWord(int32 at) { return (at >= kTRView && at < kTRDest) || at == kTRCarried || at == kTRCarried + 2; }

UHandle NewText(const uChar* bytes, uInt32 count) {
  UHandle t = DSNewHandle(int32(4 + count));
  if (!t) return nullptr;
  PutNative32(*t, count);
  if (count) std::memcpy(*t + 4, bytes, count);
  return t;
}

void DisposeRuns(TRecord r, int32 upTo) {
  for (int32 i = 0; i < upTo; ++i) TDisposeFont(int32(TRWord(r, kTRRuns + i * kTRRunSize + 4)));
}

}  // namespace

MgErr TLoad(RsrcFileRef file, UHandle text, int32 id, TRecord* record, Bool32 check) {
  if (!record) return kArgErr;
  *record = nullptr;
  gFontErr = 0;
  UHandle saved = nullptr;
  MgErr err = RGet(file, kTextRecordType, id, &saved);
  if (err) err = RGet(file, kOldTextRecordType, id, &saved);
  if (err) {
    gFontErr |= 2;
    return err;
  }
  const int32 size = AZGetHandleSize(saved);
  TRecord r = size >= kTRFixedSize ? DSNewHandle(size) : nullptr;
  if (size < kTRFixedSize) {
    RRelease(saved);
    return kArgErr;
  }
  if (!r) {
    RRelease(saved);
    return kMemFullErr;
  }
  std::memcpy(*r, *saved, size_t(size));
  RRelease(saved);
  // The font table of the file maps the runs' fonts.
  if ((err = TLoadFontTable(file, nullptr, 0))) {
    DSDisposeHandle(r);
    return err;
  }
  const int32 fontErr = gFontErr;
  // The fixed part (up to the runs) in memory order.
  for (int32 at = 0; at < kTRRuns; at += IsHalfWord(at) ? 2 : 4) {
    if (IsHalfWord(at)) PutNative16(*r + at, GetBE16(*r + at));
    else Put(r, at, GetBE32(*r + at));
  }
  const int32 runs = int32(TRWord(r, kTRRunCount));
  const int64 recordSize = kTRRuns + (int64(runs) + 1) * kTRRunSize;
  if (runs < 0 || recordSize > size) {
    DSDisposeHandle(r);
    return kArgErr;
  }
  Put(r, kTRLines, 0);
  // The text: none stored, or a count and the bytes after the record.
  UHandle t = nullptr;
  if (TRWord(r, kTRText) != 0 || recordSize == size) {
    t = NewText(nullptr, 0);
  } else {
    const int64 rest = size - recordSize;
    const uInt32 count = rest >= 4 ? GetBE32(*r + recordSize) : 0;
    if (rest < 4 || count > uInt64(rest - 4)) {
      DSDisposeHandle(r);
      return kArgErr;
    }
    t = NewText(*r + recordSize + 4, count);
  }
  if (!t) {
    DSDisposeHandle(r);
    return kMemFullErr;
  }
  // The runs: fonts through the map.
  int32 errs = fontErr;
  for (int32 i = 0; i <= runs; ++i) {
    const int32 at = kTRRuns + i * kTRRunSize;
    const uInt32 start = GetBE32(*r + at), index = GetBE32(*r + at + 4), colour = GetBE32(*r + at + 8);
    uInt32 mapFlags = 0;
    int32 font = TMapFontReference(file, int32(index), &mapFlags);
    if (font < 0) {
      DBPrintf("Error loading text !!!!! %ld", long(index));
      font = kAppFont;
      TAddFontReference(font);  // the record owns a reference to each run's font
    }
    if (check && (mapFlags & kFontMapMarked)) errs |= 64;
    Put(r, at, start);
    Put(r, at + 4, uInt32(font));
    Put(r, at + 8, colour);
  }
  if (DSSetHandleSize(r, int32(recordSize)) != kNoErr) {
    DisposeRuns(r, runs + 1);
    DSDisposeHandle(t);
    DSDisposeHandle(r);
    return kMemFullErr;
  }
  if (text) {
    DSDisposeHandle(t);
    t = text;
  }
  Put(r, kTRText, uInt32(uintptr_t(t)));
  // The record owns the text it loaded and starts inactive and unsuspended,
  // whatever the stored flags say.
  Put(r, kTRFlags,
      TRWord(r, kTRFlags) & ~uInt32(kTRFlagWordDrag | kTRFlagHexHalf | kTRFlagSharedText | kTRFlagActive |
                                    kTRFlagSuspended));
  gFontErr = errs;
  *record = r;
  return kNoErr;
}

void TDeactivate(TRecord record) {
  if (!record || !*record) {
    DBAssert(__FILE__, __LINE__, "no text record");
    return;
  }
  Put(record, kTRFlags, TRWord(record, kTRFlags) & ~uInt32(kTRFlagActive));
}

void TDispose(TRecord record) {
  if (!record || !*record) {
    DBAssert(__FILE__, __LINE__, "no text record");
    return;
  }
  if (TRWord(record, kTRFlags) & kTRFlagActive) {
    DBPrintf("### Disposing Active Text!");
    TDeactivate(record);
  }
  if (UHandle lines = reinterpret_cast<UHandle>(uintptr_t(TRWord(record, kTRLines)))) DSDisposeHandle(lines);
  UHandle t = reinterpret_cast<UHandle>(uintptr_t(TRWord(record, kTRText)));
  if (t && !(TRWord(record, kTRFlags) & kTRFlagSharedText)) DSDisposeHandle(t);
  DisposeRuns(record, TRRunCount(record) + 1);
  DSDisposeHandle(record);
}

void TSetColors(TRecord record, const DColor* text, const DColor* background, Bool32) {
  if (!record || !*record) {
    DBAssert(__FILE__, __LINE__, "no text record");
    return;
  }
  if (text) Put(record, kTRRuns + 8, *text);
  if (background) Put(record, kTRBackground, *background);
}

void TGetColors(TRecord record, DColor* text, DColor* background) {
  if (!record || !*record) {
    DBAssert(__FILE__, __LINE__, "no text record");
    return;
  }
  if (text) *text = TRWord(record, kTRRuns + 8);
  if (background) *background = TRWord(record, kTRBackground);
}

UHandle TGetText(TRecord record) {
  return record && *record ? reinterpret_cast<UHandle>(uintptr_t(TRWord(record, kTRText))) : nullptr;
}

MgErr TReplaceText(TRecord record, const uChar* bytes, int32 length) {
  if (!record || !*record || length < 0) {
    DBAssert(__FILE__, __LINE__, "no text record");
    return kArgErr;
  }
  UHandle t = TGetText(record);
  if (t && int32(GetNative32(*t)) == length && (length == 0 || std::memcmp(*t + 4, bytes, size_t(length)) == 0))
    return kNoErr;
  UHandle fresh = NewText(bytes, uInt32(length));
  if (!fresh) return kMemFullErr;
  const int32 runs = TRRunCount(record);
  if (runs > 0) {
    // The insertion style takes the first run's font and colour.
    TDisposeFont(int32(TRWord(record, kTRRuns + 4)));
    Put(record, kTRRuns + 4, TRWord(record, kTRRuns + kTRRunSize + 4));
    Put(record, kTRRuns + 8, TRWord(record, kTRRuns + kTRRunSize + 8));
    for (int32 i = 2; i <= runs; ++i) TDisposeFont(int32(TRWord(record, kTRRuns + i * kTRRunSize + 4)));
    Put(record, kTRRunCount, 0);
    DSSetHandleSize(record, kTRFixedSize);
  }
  if (t && !(TRWord(record, kTRFlags) & kTRFlagSharedText)) DSDisposeHandle(t);
  Put(record, kTRText, uInt32(uintptr_t(fresh)));
  Put(record, kTRFlags, TRWord(record, kTRFlags) & ~uInt32(kTRFlagSharedText | kTRFlagWordDrag | kTRFlagHexHalf));
  for (int32 at : {kTRSelStart, kTRSelEnd})
    if (int32(TRWord(record, at)) > length) Put(record, at, uInt32(length));
  return kNoErr;
}
