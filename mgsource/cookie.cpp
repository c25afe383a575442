// Cookie jars.  The operations take no lock: the users of a shared jar
// serialise their calls on the jar's mutex themselves.
#include "cookie.h"

#include <climits>
#include <cstring>

#include "blockmove.h"
#include "datetime.h"
#include "debug.h"
#include "memory.h"

namespace {
// Records are packed at 6 + information bytes, so their fields are moved byte-wise.
inline uInt16 RecSeq(const uChar* r) {
  uInt16 v;
  std::memcpy(&v, r, sizeof v);
  return v;
}
inline void SetRecSeq(uChar* r, uInt16 v) { std::memcpy(r, &v, sizeof v); }
inline uInt32 RecLink(const uChar* r) {
  uInt32 v;
  std::memcpy(&v, r + 2, sizeof v);
  return v;
}
inline void SetRecLink(uChar* r, uInt32 v) { std::memcpy(r + 2, &v, sizeof v); }
inline uChar* RecInfo(uChar* r) { return r + kCookieRecHeader; }

inline uChar* Record(const CookieJarRec* j, int32 index) {
  return j->tables[index / kCookieTableRecords] + (index % kCookieTableRecords) * j->recSize;
}

// A zero-filled table whose records are free and link each to the next index;
// the last links to the first index of the table after it.
UPtr NewTable(int32 recSize, int32 firstIndex) {
  UPtr t = DSNewPClr(recSize * kCookieTableRecords);
  if (!t) return nullptr;
  for (int32 i = 0; i < kCookieTableRecords; ++i) SetRecLink(t + i * recSize, uInt32(firstIndex + i + 1));
  return t;
}

// Information sizes whose table of 64 records stays below 2 GB.
constexpr int32 kMaxInfoSize = INT_MAX / kCookieTableRecords - kCookieRecHeader - 3;
}  // namespace

CookieJar MCNewBigJar(int32 infoSize) {
  if (infoSize < 0 || infoSize > kMaxInfoSize) return nullptr;
  CookieJar jar = reinterpret_cast<CookieJar>(DSNewHClr(sizeof(CookieJarRec)));
  if (!jar) return nullptr;
  CookieJarRec* j = *jar;
  int32 recSize = (kCookieRecHeader + infoSize + 3) & ~3;
  UPtr* tables = reinterpret_cast<UPtr*>(DSNewPClr(sizeof(UPtr)));
  UPtr table = tables ? NewTable(recSize, 0) : nullptr;
  if (!table || ThMutexCreate(&j->mutex, "JarRights") != kNoErr) {
    if (table) DSDisposePtr(table);
    if (tables) DSDisposePtr(reinterpret_cast<UPtr>(tables));
    DSDisposeHandle(reinterpret_cast<UHandle>(jar));
    return nullptr;
  }
  uInt16 seq = uInt16(MilliSecs() & 0xFFFF);
  j->nextSeq = seq ? seq : 1;
  j->infoSize = infoSize;
  j->recSize = recSize;
  tables[0] = table;
  j->tables = tables;
  j->nTables = 1;
  j->freeHead = 0;
  return jar;
}

CookieJar MCNewJar() { return MCNewBigJar(4); }

MgErr MCDisposeJar(CookieJar jar) {
  if (!jar) return kNoErr;
  CookieJarRec* j = *jar;
  ThMutexDestroy(j->mutex);
  for (int32 t = 0; t < j->nTables; ++t) DSDisposePtr(j->tables[t]);
  DSDisposePtr(reinterpret_cast<UPtr>(j->tables));
  DSDisposeHandle(reinterpret_cast<UHandle>(jar));
  return kNoErr;
}

int32 MCCookieIndex(CookieJar jar, Cookie value) { return MCLiveCookieIndex(jar, value); }

Cookie MCNewCookie(CookieJar jar, const void* info) {
  if (!jar) return 0;
  CookieJarRec* j = *jar;
  int32 index = j->freeHead;
  if (index < 0 || index >= kCookieMaxRecords) return 0;
  int32 table = index / kCookieTableRecords;
  if (table >= j->nTables) {
    // The free list has run past the last table: index is the first of a new one.
    QX_ASSERT_MSG(table == j->nTables && index % kCookieTableRecords == 0, "cookie free list broken");
    if (table != j->nTables || index % kCookieTableRecords != 0) return 0;
    UPtr* tables = reinterpret_cast<UPtr*>(DSNewPClr(int32(sizeof(UPtr)) * (j->nTables + 1)));
    if (!tables) return 0;
    UPtr t = NewTable(j->recSize, index);
    if (!t) {
      DSDisposePtr(reinterpret_cast<UPtr>(tables));
      return 0;
    }
    MoveBlock(j->tables, tables, int32(sizeof(UPtr)) * j->nTables);
    DSDisposePtr(reinterpret_cast<UPtr>(j->tables));
    tables[j->nTables] = t;
    j->tables = tables;
    j->nTables += 1;
  }
  uChar* r = Record(j, index);
  j->freeHead = int32(RecLink(r));
  uInt16 seq = j->nextSeq;
  j->nextSeq = uInt16(seq == 0xFFFF ? 1 : seq + 1);
  SetRecSeq(r, seq);
  SetRecLink(r, kCookieLive);
  if (info)
    MoveBlock(info, RecInfo(r), j->infoSize);
  else
    ClearMem(RecInfo(r), j->infoSize);
  return (Cookie(seq) << 16) | Cookie(index);
}

MgErr MCDisposeCookie(CookieJar jar, Cookie cookie, void* info) {
  int32 index = MCCookieIndex(jar, cookie);
  if (index < 0) return kArgErr;
  CookieJarRec* j = *jar;
  uChar* r = Record(j, index);
  if (info) MoveBlock(RecInfo(r), info, j->infoSize);
  SetRecSeq(r, 0);
  SetRecLink(r, uInt32(j->freeHead));
  ClearMem(RecInfo(r), j->infoSize);
  j->freeHead = index;
  return kNoErr;
}

MgErr MCSetCookieInfo(CookieJar jar, Cookie cookie, const void* info) {
  int32 index = MCCookieIndex(jar, cookie);
  if (index < 0 || (!info && (*jar)->infoSize > 0)) return kArgErr;
  MoveBlock(info, RecInfo(Record(*jar, index)), (*jar)->infoSize);
  return kNoErr;
}

MgErr MCGetCookieInfo(CookieJar jar, Cookie cookie, void* info) {
  int32 index = MCCookieIndex(jar, cookie);
  if (index < 0 || (!info && (*jar)->infoSize > 0)) return kArgErr;
  MoveBlock(RecInfo(Record(*jar, index)), info, (*jar)->infoSize);
  return kNoErr;
}

MgErr MCGetCookieInfoPtr(CookieJar jar, Cookie cookie, void** info) {
  int32 index = MCLiveCookieIndex(jar, cookie);
  if (index < 0) {
    if (info) *info = nullptr;
    return kArgErr;
  }
  if (info) *info = RecInfo(Record(*jar, index));
  return kNoErr;
}

Bool32 MCIsACookie(CookieJar jar, Cookie value) { return MCCookieIndex(jar, value) >= 0 ? 1 : 0; }

namespace {
int32 CountLive(const CookieJarRec* j) {
  int32 n = 0;
  for (int32 t = 0; t < j->nTables; ++t)
    for (int32 i = 0; i < kCookieTableRecords; ++i)
      if (RecLink(j->tables[t] + i * j->recSize) == kCookieLive) ++n;
  return n;
}
}  // namespace

MgErr MCJarSize(CookieJar jar, int32* count) {
  if (!count) return kArgErr;
  if (!jar) {
    *count = 0;
    return kArgErr;
  }
  *count = CountLive(*jar);
  return kNoErr;
}

MgErr MCGetCookieList(CookieJar jar, UHandle* list) {
  if (!list) return kArgErr;
  int32 n = jar ? CountLive(*jar) : 0;
  int32 size = int32(sizeof(int32)) * (n + 1);
  if (*list) {
    MgErr err = AZSetHandleSize(*list, size);
    if (err != kNoErr) return err;
  } else {
    UHandle h = AZNewHandle(size);
    if (!h) return kMemFullErr;
    *list = h;
  }
  uChar* out = **list;
  std::memcpy(out, &n, sizeof n);
  out += sizeof n;
  if (jar) {
    const CookieJarRec* j = *jar;
    for (int32 index = 0; index < j->nTables * kCookieTableRecords; ++index) {
      const uChar* r = Record(j, index);
      if (RecLink(r) != kCookieLive) continue;
      Cookie c = (Cookie(RecSeq(r)) << 16) | Cookie(index);
      std::memcpy(out, &c, sizeof c);
      out += sizeof c;
    }
  }
  return kNoErr;
}
