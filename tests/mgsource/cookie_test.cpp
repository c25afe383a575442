#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "mgsource/cookie.h"
#include "mgsource/memory.h"
#include "test_support.h"

namespace {
int32 IndexOf(Cookie c) { return int32(c & 0xFFFF); }
uInt16 SeqOf(Cookie c) { return uInt16(c >> 16); }

// A jar that is disposed at the end of the test.
struct Jar {
  CookieJar jar;
  explicit Jar(int32 infoSize) : jar(MCNewBigJar(infoSize)) {}
  ~Jar() { MCDisposeJar(jar); }
  Cookie New(int32 info) { return MCNewCookie(jar, &info); }
};

std::vector<Cookie> ListOf(CookieJar jar) {
  UHandle h = nullptr;
  EXPECT_EQ(MCGetCookieList(jar, &h), kNoErr);
  std::vector<Cookie> out;
  if (!h) return out;
  int32 n;
  std::memcpy(&n, *h, 4);
  EXPECT_EQ(AZGetHandleSize(h), 4 * (n + 1));
  for (int32 i = 0; i < n; ++i) {
    Cookie c;
    std::memcpy(&c, *h + 4 + 4 * i, 4);
    out.push_back(c);
  }
  AZDisposeHandle(h);
  return out;
}
}  // namespace

TEST(CookieJar, NewJarLayoutAndFirstCookies) {
  EnsureManagers();
  Jar j(4);
  ASSERT_NE(j.jar, nullptr);
  CookieJarRec* r = *j.jar;
  EXPECT_STREQ(r->mutex->name, "JarRights");
  EXPECT_NE(r->nextSeq, 0);
  EXPECT_EQ(r->infoSize, 4);
  EXPECT_EQ(r->recSize, 12);
  EXPECT_EQ(r->nTables, 1);
  EXPECT_EQ(r->freeHead, 0);

  std::vector<Cookie> cookies;
  for (int32 i = 0; i < 64; ++i) {
    Cookie c = j.New(i);
    ASSERT_NE(c, 0u);
    EXPECT_EQ(IndexOf(c), i);
    if (i > 0) {
      EXPECT_EQ(SeqOf(c), SeqOf(cookies.back()) == 0xFFFF ? 1 : SeqOf(cookies.back()) + 1);
    }
    cookies.push_back(c);
  }
  EXPECT_EQ((*j.jar)->nTables, 1);
  Cookie c65 = j.New(64);
  EXPECT_EQ(IndexOf(c65), 64);
  EXPECT_EQ((*j.jar)->nTables, 2);
  UPtr firstTable = (*j.jar)->tables[0];
  void* info0 = nullptr;
  ASSERT_EQ(MCGetCookieInfoPtr(j.jar, cookies[0], &info0), kNoErr);
  for (int32 i = 0; i < 200; ++i) j.New(1000 + i);
  EXPECT_EQ((*j.jar)->tables[0], firstTable) << "tables never move";
  void* again = nullptr;
  ASSERT_EQ(MCGetCookieInfoPtr(j.jar, cookies[0], &again), kNoErr);
  EXPECT_EQ(again, info0);
  int32 n = -1;
  EXPECT_EQ(MCJarSize(j.jar, &n), kNoErr);
  EXPECT_EQ(n, 265);
  for (int32 i = 0; i < 64; ++i) {
    int32 info = -1;
    EXPECT_EQ(MCGetCookieInfo(j.jar, cookies[size_t(i)], &info), kNoErr);
    EXPECT_EQ(info, i);
    EXPECT_EQ(MCCookieIndex(j.jar, cookies[size_t(i)]), i);
  }
}

TEST(CookieJar, NewJarHoldsFourInformationBytes) {
  EnsureManagers();
  CookieJar jar = MCNewJar();
  ASSERT_NE(jar, nullptr);
  EXPECT_EQ((*jar)->infoSize, 4);
  EXPECT_EQ((*jar)->recSize, 12);
  EXPECT_EQ(MCDisposeJar(jar), kNoErr);
  EXPECT_EQ(MCDisposeJar(nullptr), kNoErr);
  EXPECT_EQ(MCNewBigJar(-1), nullptr);
}

TEST(CookieJar, DisposedCookieStaysDeadAfterItsRecordIsReused) {
  EnsureManagers();
  Jar j(4);
  Cookie a = j.New(11);
  Cookie b = j.New(22);
  int32 out = 0;
  EXPECT_EQ(MCDisposeCookie(j.jar, a, &out), kNoErr);
  EXPECT_EQ(out, 11);
  EXPECT_EQ(MCDisposeCookie(j.jar, a, nullptr), kArgErr);
  Cookie c = j.New(33);
  EXPECT_EQ(IndexOf(c), IndexOf(a)) << "freed records are reused first";
  EXPECT_NE(c, a);
  int32 info = 0;
  EXPECT_EQ(MCGetCookieInfo(j.jar, a, &info), kArgErr);
  EXPECT_EQ(MCSetCookieInfo(j.jar, a, &info), kArgErr);
  EXPECT_FALSE(MCIsACookie(j.jar, a));
  EXPECT_EQ(MCCookieIndex(j.jar, a), -1);
  EXPECT_EQ(MCDisposeCookie(j.jar, a, nullptr), kArgErr);
  EXPECT_EQ(MCGetCookieInfo(j.jar, c, &info), kNoErr);
  EXPECT_EQ(info, 33);
  EXPECT_TRUE(MCIsACookie(j.jar, b));
}

TEST(CookieJar, ValuesThatAreNotCookiesFailWithoutReadingOutside) {
  EnsureManagers();
  Jar j(4);
  Cookie a = j.New(1);
  Jar other(4);
  Cookie foreign = other.New(2);
  const Cookie bad[] = {0u,
                        a & 0xFFFFu,                      // sequence 0
                        a + 0x10000u,                     // another sequence
                        (a & 0xFFFF0000u) | 1u,           // a free record
                        (a & 0xFFFF0000u) | 64u,          // beyond the tables
                        (a & 0xFFFF0000u) | 0xFFFFu,      // far beyond
                        0xFFFFFFFFu};
  for (Cookie v : bad) {
    int32 info = 7;
    void* p = &info;
    EXPECT_EQ(MCCookieIndex(j.jar, v), -1) << std::hex << v;
    EXPECT_FALSE(MCIsACookie(j.jar, v));
    EXPECT_EQ(MCGetCookieInfo(j.jar, v, &info), kArgErr);
    EXPECT_EQ(MCSetCookieInfo(j.jar, v, &info), kArgErr);
    EXPECT_EQ(MCGetCookieInfoPtr(j.jar, v, &p), kArgErr);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(MCDisposeCookie(j.jar, v, &info), kArgErr);
    EXPECT_EQ(info, 7);
  }
  // Another jar's cookie names another record here unless sequence and index match.
  if (MCCookieIndex(j.jar, foreign) >= 0) {
    EXPECT_EQ(foreign, a);
  }

  // A NULL jar.
  int32 n = 5;
  void* p = &n;
  EXPECT_EQ(MCCookieIndex(nullptr, a), -1);
  EXPECT_FALSE(MCIsACookie(nullptr, a));
  EXPECT_EQ(MCNewCookie(nullptr, &n), 0u);
  EXPECT_EQ(MCGetCookieInfo(nullptr, a, &n), kArgErr);
  EXPECT_EQ(MCGetCookieInfoPtr(nullptr, a, &p), kArgErr);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(MCDisposeCookie(nullptr, a, nullptr), kArgErr);
  EXPECT_EQ(MCJarSize(nullptr, &n), kArgErr);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(ListOf(nullptr).empty());
  EXPECT_EQ(MCJarSize(j.jar, nullptr), kArgErr);
  EXPECT_EQ(MCGetCookieList(j.jar, nullptr), kArgErr);
}

TEST(CookieJar, SequencesRiseByOneAndWrapPastZero) {
  EnsureManagers();
  Jar j(0);
  EXPECT_EQ((*j.jar)->recSize, 8);
  Cookie prev = j.New(0);
  bool wrapped = false;
  // 65,536 consecutive cookies pass every sequence number once.
  for (int32 i = 0; i < 65536; ++i) {
    ASSERT_EQ(MCDisposeCookie(j.jar, prev, nullptr), kNoErr);
    Cookie c = MCNewCookie(j.jar, nullptr);
    ASSERT_NE(SeqOf(c), 0);
    if (SeqOf(prev) == 0xFFFF) {
      EXPECT_EQ(SeqOf(c), 1);
      wrapped = true;
    } else {
      ASSERT_EQ(SeqOf(c), SeqOf(prev) + 1);
    }
    prev = c;
  }
  EXPECT_TRUE(wrapped);
}

TEST(CookieJar, FullJarGivesZero) {
  EnsureManagers();
  Jar j(0);
  for (int32 i = 0; i < kCookieMaxRecords; ++i) {
    Cookie c = MCNewCookie(j.jar, nullptr);
    ASSERT_NE(c, 0u) << i;
    ASSERT_EQ(IndexOf(c), i);
  }
  EXPECT_EQ((*j.jar)->nTables, kCookieMaxRecords / kCookieTableRecords);
  EXPECT_EQ(MCNewCookie(j.jar, nullptr), 0u);
  int32 n = 0;
  EXPECT_EQ(MCJarSize(j.jar, &n), kNoErr);
  EXPECT_EQ(n, kCookieMaxRecords);
  // One freed record can be taken again.
  Cookie last = ListOf(j.jar).back();
  EXPECT_EQ(IndexOf(last), 65535);
  EXPECT_EQ(MCDisposeCookie(j.jar, last, nullptr), kNoErr);
  Cookie again = MCNewCookie(j.jar, nullptr);
  EXPECT_EQ(IndexOf(again), 65535);
  EXPECT_EQ(MCNewCookie(j.jar, nullptr), 0u);
}

TEST(CookieJar, ListHoldsLiveCookiesInIndexOrder) {
  EnsureManagers();
  Jar j(4);
  Cookie c0 = j.New(0), c1 = j.New(1), c2 = j.New(2);
  ASSERT_EQ(MCDisposeCookie(j.jar, c1, nullptr), kNoErr);
  std::vector<Cookie> list = ListOf(j.jar);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], c0);
  EXPECT_EQ(list[1], c2);

  // An existing handle is resized.
  UHandle h = AZNewHandle(100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(MCGetCookieList(j.jar, &h), kNoErr);
  EXPECT_EQ(AZGetHandleSize(h), 12);
  AZDisposeHandle(h);

  // Newer cookies in a freed place come in index order, not in age order.
  Cookie c1b = j.New(3);
  EXPECT_EQ(IndexOf(c1b), 1);
  list = ListOf(j.jar);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1], c1b);
}

TEST(CookieJar, InformationOfSeveralSizesCopiesExactly) {
  EnsureManagers();
  for (int32 size : {1, 4, 28}) {
    Jar j(size);
    EXPECT_EQ((*j.jar)->recSize, (6 + size + 3) / 4 * 4);
    std::vector<uChar> in(size_t(size) + 8, 0xEE), out(size_t(size) + 8, 0xCC);
    for (int32 i = 0; i < size; ++i) in[size_t(i)] = uChar(i + 1);
    Cookie a = MCNewCookie(j.jar, in.data());
    Cookie b = MCNewCookie(j.jar, in.data());
    ASSERT_NE(a, 0u);
    ASSERT_EQ(MCGetCookieInfo(j.jar, a, out.data()), kNoErr);
    EXPECT_EQ(std::memcmp(out.data(), in.data(), size_t(size)), 0);
    EXPECT_EQ(out[size_t(size)], 0xCC) << "nothing copied past the information";
    for (int32 i = 0; i < size; ++i) in[size_t(i)] = uChar(0x80 + i);
    ASSERT_EQ(MCSetCookieInfo(j.jar, a, in.data()), kNoErr);
    void* p = nullptr;
    ASSERT_EQ(MCGetCookieInfoPtr(j.jar, a, &p), kNoErr);
    EXPECT_EQ(std::memcmp(p, in.data(), size_t(size)), 0);
    // The neighbour keeps its own bytes.
    ASSERT_EQ(MCGetCookieInfo(j.jar, b, out.data()), kNoErr);
    EXPECT_EQ(out[0], 1);
    std::fill(out.begin(), out.end(), 0xCC);
    ASSERT_EQ(MCDisposeCookie(j.jar, a, out.data()), kNoErr);
    EXPECT_EQ(std::memcmp(out.data(), in.data(), size_t(size)), 0);
    EXPECT_EQ(out[size_t(size)], 0xCC);
    // The freed record's information is zeroed.
    Cookie c = MCNewCookie(j.jar, nullptr);
    ASSERT_EQ(MCGetCookieInfo(j.jar, c, out.data()), kNoErr);
    for (int32 i = 0; i < size; ++i) EXPECT_EQ(out[size_t(i)], 0);
  }
}

namespace {
struct Shared {
  CookieJar jar;
  int32 rounds;
  int32 bad;  // cookies found wrong, under the jar's mutex
};
struct Worker {
  Shared* shared;
  int32 id;
};
int32 CreateAndDispose(void* p) {
  auto* w = static_cast<Worker*>(p);
  CookieJar jar = w->shared->jar;
  ThMutex rights = (*jar)->mutex;
  constexpr int32 kBatch = 50;
  Cookie batch[kBatch];
  for (int32 done = 0; done < w->shared->rounds; done += kBatch) {
    for (int32 i = 0; i < kBatch; ++i) {
      int32 info[2] = {w->id, done + i};
      ThMutexAcquire(rights);
      batch[i] = MCNewCookie(jar, info);
      if (batch[i] == 0) ++w->shared->bad;
      ThMutexRelease(rights);
    }
    for (int32 i = 0; i < kBatch; ++i) {
      int32 info[2] = {-1, -1};
      ThMutexAcquire(rights);
      // A cookie handed out twice would carry another thread's information.
      if (MCDisposeCookie(jar, batch[i], info) != kNoErr || info[0] != w->id || info[1] != done + i)
        ++w->shared->bad;
      ThMutexRelease(rights);
    }
  }
  return 0;
}
}  // namespace

TEST(CookieJarConcurrent, EightThreadsSerialisedOnTheJarMutex) {
  EnsureManagers();
  Jar j(8);
  Shared shared{j.jar, Scaled(100000), 0};
  Worker workers[8];
  ThThread threads[8];
  for (int32 i = 0; i < 8; ++i) {
    workers[i] = Worker{&shared, i};
    ASSERT_EQ(ThThreadCreate(&threads[i], CreateAndDispose, &workers[i]), kNoErr);
  }
  for (ThThread t : threads) ThThreadDestroy(t);
  EXPECT_EQ(shared.bad, 0);
  int32 n = -1;
  EXPECT_EQ(MCJarSize(j.jar, &n), kNoErr);
  EXPECT_EQ(n, 0);
  EXPECT_LE((*j.jar)->nTables, 8 * 50 / 64 + 1);
}
