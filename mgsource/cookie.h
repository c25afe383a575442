// Cookie jars: 32-bit references to small fixed-size records.  A cookie is
// the record's sequence number times 65,536 plus the record's index; the
// record remembers its sequence number, so a stale cookie never finds a later
// record made in the same place.
#pragma once
#include "extcode.h"
#include "thread.h"

#include <cstring>

typedef uInt32 Cookie;

// The jar, in a data-zone handle.
struct CookieJarRec {
  ThMutex mutex;     // "JarRights", for the jar's users to serialise their calls
  uInt16 nextSeq;    // the sequence number of the next cookie, never 0
  int32 nTables;     // record tables in use
  int32 infoSize;    // information bytes of every record
  int32 recSize;     // 6 + infoSize rounded up to a multiple of 4
  int32 freeHead;    // index of the first free record
  UPtr* tables;      // the record tables, 64 records each; they never move
};
typedef CookieJarRec** CookieJar;

static_assert(offsetof(CookieJarRec, nextSeq) == 4 && offsetof(CookieJarRec, nTables) == 8 &&
              offsetof(CookieJarRec, infoSize) == 12 && offsetof(CookieJarRec, recSize) == 16 &&
              offsetof(CookieJarRec, freeHead) == 20 && offsetof(CookieJarRec, tables) == 24,
              "cookie jar layout");

// A record: sequence number (16 bits, 0 when free), link (32 bits,
// 0xFFFFFFFF while live, else the next free index), then the information.
constexpr int32 kCookieRecHeader = 6;
constexpr int32 kCookieTableRecords = 64;
constexpr int32 kCookieMaxRecords = 65536;
constexpr uInt32 kCookieLive = 0xFFFFFFFFu;

QX_EXTERN_C CookieJar MCNewBigJar(int32 infoSize);
QX_EXTERN_C CookieJar MCNewJar();
QX_EXTERN_C MgErr MCDisposeJar(CookieJar jar);
QX_EXTERN_C Cookie MCNewCookie(CookieJar jar, const void* info);
QX_EXTERN_C MgErr MCDisposeCookie(CookieJar jar, Cookie cookie, void* info);
QX_EXTERN_C MgErr MCSetCookieInfo(CookieJar jar, Cookie cookie, const void* info);
QX_EXTERN_C MgErr MCGetCookieInfo(CookieJar jar, Cookie cookie, void* info);
QX_EXTERN_C MgErr MCGetCookieInfoPtr(CookieJar jar, Cookie cookie, void** info);
QX_EXTERN_C Bool32 MCIsACookie(CookieJar jar, Cookie value);
QX_EXTERN_C MgErr MCJarSize(CookieJar jar, int32* count);
QX_EXTERN_C MgErr MCGetCookieList(CookieJar jar, UHandle* list);
QX_EXTERN_C int32 MCCookieIndex(CookieJar jar, Cookie value);

// The index of a live cookie's record, -1 for anything else: the index bits
// name the record directly and its sequence number must match.  In line for
// the lookups every call through a reference makes.
inline int32 MCLiveCookieIndex(CookieJar jar, Cookie value) {
  if (!jar) return -1;
  const CookieJarRec* j = *jar;
  const int32 index = int32(value & 0xFFFF);
  if (index / kCookieTableRecords >= j->nTables) return -1;
  const uChar* r = j->tables[index / kCookieTableRecords] + (index % kCookieTableRecords) * j->recSize;
  const uInt16 seq = uInt16(value >> 16);
  uInt16 recSeq = 0;
  uInt32 link = 0;
  std::memcpy(&recSeq, r, sizeof recSeq);
  std::memcpy(&link, r + 2, sizeof link);
  if (int32(link) >= 0 || seq == 0 || recSeq != seq) return -1;  // a free record links onward
  return index;
}
// The information bytes of a live cookie's record, null for anything else.
inline uChar* MCLiveCookieInfo(CookieJar jar, Cookie value) {
  const int32 index = MCLiveCookieIndex(jar, value);
  if (index < 0) return nullptr;
  const CookieJarRec* j = *jar;
  return j->tables[index / kCookieTableRecords] + (index % kCookieTableRecords) * j->recSize + kCookieRecHeader;
}
