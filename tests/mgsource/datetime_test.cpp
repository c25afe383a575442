#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/textnum.h"
#include "test_support.h"
#include "time_support.h"

namespace {

uInt32 Secs1904(int year, int mon, int day, int h = 0, int m = 0, int s = 0) {
  return uInt32(UtcSecs1904(year, mon, day, h, m, s));
}

DateRec Date(int year, int month, int day, int h = 0, int m = 0, int s = 0) {
  DateRec d = {};
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = h;
  d.minute = m;
  d.second = s;
  return d;
}

class DateTime : public ManagerTest {
 protected:
  void SetUp() override {
    ManagerTest::SetUp();
    SetTZ("UTC");
    unsetenv("LC_ALL");
    unsetenv("LC_TIME");
    unsetenv("LANG");
  }
  void TearDown() override {
    FreeHandles();
    DateReadAMPM();  // back to the designators of the test's own environment
    ManagerTest::TearDown();
  }

  // A long string of the data zone; its count is the text's length unless
  // given.
  LStrHandle NewLStr(const std::string& text, int32 count = INT32_MIN) {
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + text.size())));
    EXPECT_NE(h, nullptr);
    std::memcpy((*h)->str, text.data(), text.size());
    (*h)->cnt = count == INT32_MIN ? int32(text.size()) : count;
    handles_.push_back(h);
    return h;
  }
  std::string Format(const char* pattern, uInt32 secs, MgErr* err = nullptr) {
    LStrHandle fmt = pattern ? NewLStr(pattern) : nullptr;
    return FormatWith(fmt, secs, err);
  }
  std::string FormatWith(LStrHandle fmt, uInt32 secs, MgErr* err = nullptr) {
    LStrHandle out = NewLStr("old");
    MgErr e = FormatDateTimeString(fmt, secs, out);
    if (err) *err = e;
    EXPECT_GE(DSGetHandleSize(reinterpret_cast<UHandle>(out)), (*out)->cnt + 4);
    return std::string(reinterpret_cast<char*>((*out)->str), size_t((*out)->cnt));
  }
  void FreeHandles() {
    for (LStrHandle h : handles_) DSDisposeHandle(reinterpret_cast<UHandle>(h));
    handles_.clear();
  }

 private:
  std::vector<LStrHandle> handles_;
};

// A locale built for the test in a folder of its own and named by LC_ALL.
class TestLocale {
 public:
  explicit TestLocale(const char* name) {
    std::strcpy(dir_, "/tmp/qxdateXXXXXX");
    if (!mkdtemp(dir_)) return;
    std::string cmd = std::string("localedef -i ") + name + " -f UTF-8 " + dir_ + "/" + name + ".UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return;
    setenv("LOCPATH", dir_, 1);
    setenv("LC_ALL", (std::string(name) + ".UTF-8").c_str(), 1);
    ok_ = true;
  }
  ~TestLocale() {
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
    std::system((std::string("rm -rf ") + dir_).c_str());
  }
  bool ok() const { return ok_; }

 private:
  char dir_[32];
  bool ok_ = false;
};

// ---------------------------------------------------------------- fields

TEST_F(DateTime, EpochAndLastSecond) {
  DateRec d;
  SecsToDate(0, &d);
  EXPECT_EQ(d.year, 1904);
  EXPECT_EQ(d.month, 1);
  EXPECT_EQ(d.day, 1);
  EXPECT_EQ(d.hour, 0);
  EXPECT_EQ(d.weekday, 6);  // Friday
  EXPECT_EQ(d.yearDay, 1);
  EXPECT_EQ(d.dst, 0);
  DateRec z = Date(1904, 1, 1);
  EXPECT_EQ(DateToSecs(&z), 0u);
  SecsToDate(4294967295u, &d);
  EXPECT_EQ(d.year, 2040);
  EXPECT_EQ(d.month, 2);
  EXPECT_EQ(d.day, 6);
  EXPECT_EQ(d.hour, 6);
  EXPECT_EQ(d.minute, 28);
  EXPECT_EQ(d.second, 15);
  EXPECT_EQ(DateToSecs(&d), 4294967295u);
  const uInt32 zero = 0;
  struct tm* t = SecsToTm(&zero);
  EXPECT_EQ(t->tm_year, 4);
  EXPECT_EQ(t->tm_mon, 0);
  EXPECT_EQ(t->tm_wday, 5);
  // The record's fifth and sixth words are the month and the year.
  const int32* words = reinterpret_cast<const int32*>(t);
  uInt32 later = Secs1904(1998, 11, 3);
  t = SecsToTm(&later);
  EXPECT_EQ(words[4], 10);
  EXPECT_EQ(words[5], 98);
  EXPECT_EQ(SecsToTm(nullptr)->tm_mday, 1);
}

TEST_F(DateTime, InvalidDatesAreNormalised) {
  DateRec d = Date(2021, 4, 31, 10, 0, 0);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2021, 5, 1, 10));
  d = Date(2001, 2, 29);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2001, 3, 1));
  d = Date(2000, 2, 29);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2000, 2, 29));
  d = Date(2020, 13, 1);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2021, 1, 1));
  d = Date(2020, 0, 15);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2019, 12, 15));
  d = Date(2020, 1, 0);
  EXPECT_EQ(DateToSecs(&d), 0u);  // a day of 0 gives 0
  d = Date(2020, 3, -1);
  EXPECT_EQ(DateToSecs(&d), Secs1904(2020, 2, 28));
  d = Date(1903, 12, 31, 23, 59, 59);
  EXPECT_EQ(DateToSecs(&d), 0u);
  d = Date(2040, 2, 6, 6, 28, 16);
  EXPECT_EQ(DateToSecs(&d), 0u);  // past the last second
  d = Date(2001, 2, 30, 23, 59, 59);  // the date still carries, the time is kept
  EXPECT_EQ(DateToSecs(&d), Secs1904(2001, 3, 2, 23, 59, 59));
  d = Date(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
  EXPECT_EQ(DateToSecs(&d), 0u);
  d = Date(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN);
  EXPECT_EQ(DateToSecs(&d), 0u);
  EXPECT_EQ(DateToSecs(nullptr), 0u);
}

TEST_F(DateTime, TimeFieldsOutOfRangeGiveZero) {
  struct Case {
    int32 hour, minute, second;
    bool valid;
  } cases[] = {
      {24, 0, 0, false}, {0, 60, 0, false}, {0, 0, 60, false},  {-1, 0, 0, false},
      {0, -1, 0, false}, {0, 0, -1, false}, {25, 61, -1, false}, {INT32_MAX, 0, 0, false},
      {INT32_MIN, 0, 0, false}, {0, 0, 0, true}, {23, 59, 59, true}, {12, 30, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute << ":" << c.second);
    DateRec d = Date(2001, 5, 5, c.hour, c.minute, c.second);
    EXPECT_EQ(DateToSecs(&d), c.valid ? Secs1904(2001, 5, 5, c.hour, c.minute, c.second) : 0u);
    d = Date(2001, 2, 30, c.hour, c.minute, c.second);  // a carried date too
    EXPECT_EQ(DateToSecs(&d), c.valid ? Secs1904(2001, 3, 2, c.hour, c.minute, c.second) : 0u);
  }
}

TEST_F(DateTime, DayOfYearCountsTheLeapDay) {
  DateRec d;
  SecsToDate(Secs1904(2000, 3, 1), &d);
  EXPECT_EQ(d.yearDay, 61);
  uInt32 s = Secs1904(2000, 3, 1);
  EXPECT_EQ(SecsToTm(&s)->tm_yday, 60);
  s = Secs1904(2001, 3, 1);
  EXPECT_EQ(SecsToTm(&s)->tm_yday, 59);
  s = Secs1904(1904, 12, 31);
  EXPECT_EQ(SecsToTm(&s)->tm_yday, 365);
}

TEST_F(DateTime, ZoneRulesOfTheConvertedInstant) {
  SetTZ("Europe/Berlin");
  uInt32 jan = Secs1904(2021, 1, 15, 12), jul = Secs1904(2021, 7, 15, 12);
  struct tm* t = SecsToTm(&jan);
  EXPECT_EQ(t->tm_isdst, 0);
  EXPECT_EQ(t->tm_hour, 13);
  t = SecsToTm(&jul);
  EXPECT_EQ(t->tm_isdst, 1);
  EXPECT_EQ(t->tm_hour, 14);
  DateRec d;
  SecsToDate(jan, &d);
  EXPECT_EQ(d.dst, 0);
  SecsToDate(jul, &d);
  EXPECT_EQ(d.dst, 1);
  // strftime names the zone of each instant.
  EXPECT_EQ(Format("%Z", jan), "CET");
  EXPECT_EQ(Format("%Z", jul), "CEST");
  // Fields to seconds to fields, across many dates of both seasons.
  std::mt19937 rng(5);
  std::uniform_int_distribution<uInt32> when(0, 4294967295u - 7200);
  for (int i = 0; i < 20000; ++i) {
    uInt32 secs = when(rng);
    SecsToDate(secs, &d);
    ASSERT_EQ(DateToSecs(&d), secs) << d.year << "-" << d.month << "-" << d.day << " " << d.hour;
  }
  // The hour that repeats in October reads both ways by the flag.
  d = Date(2021, 10, 31, 2, 30, 0);
  d.dst = 1;
  EXPECT_EQ(DateToSecs(&d), Secs1904(2021, 10, 31, 0, 30));
  d.dst = 0;
  EXPECT_EQ(DateToSecs(&d), Secs1904(2021, 10, 31, 1, 30));
  // A summer date given with the flag clear is still summer time.
  d = Date(2021, 7, 15, 14, 0, 0);
  EXPECT_EQ(DateToSecs(&d), jul);
}

// ---------------------------------------------------------------- now

TEST_F(DateTime, CurrentTime) {
  uInt32 before = uInt32(int64(time(nullptr)) + 2082844800);
  uInt32 secs = TimeInSecs();
  double f = 0;
  GetFloat64Time(&f);
  TimeSecsMs pair = {0, -1};
  GetTimeSecsMs(&pair);
  uInt32 after = uInt32(int64(time(nullptr)) + 2082844800);
  // time() may read the kernel's coarse clock, which lags the fine clock by
  // up to a tick: the fine readings may pass it by a second.
  EXPECT_GE(secs, before);
  EXPECT_LE(secs, after + 1);
  EXPECT_GE(f, double(before));
  EXPECT_LT(f, double(after) + 2);
  EXPECT_GE(pair.secs, before);
  EXPECT_LE(pair.secs, after + 1);
  EXPECT_GE(pair.ms, 0);
  EXPECT_LT(pair.ms, 1000);
  GetTimeSecsMs(nullptr);
  GetFloat64Time(nullptr);
}

TEST_F(DateTime, MillisecondTick) {
  uInt32 now = MilliSecs();
  EXPECT_GE(now, 1000u);  // the first reading at start-up gives 1,000
  // However long the tests before this one ran, the tick follows the clock.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uInt32 later = MilliSecs();
  EXPECT_GE(later - now, 20u);
  EXPECT_LT(later - now, 5000u);
  EXPECT_EQ(MillisecCmp(5, 4294967295u), 6);
  EXPECT_EQ(MillisecCmp(4294967295u, 5), -6);
  EXPECT_EQ(MillisecCmp(1000, 1000), 0);
}

// ---------------------------------------------------------------- locale texts

TEST_F(DateTime, LocaleTextsInUSEnglishByDefault) {
  uInt32 t = 0;
  EXPECT_STREQ(DateCString(t, 0), "1/1/1904");
  EXPECT_STREQ(DateCString(t, 1), "Friday, January 1, 1904");
  EXPECT_STREQ(DateCString(t, 2), "Fri, Jan 1, 1904");
  EXPECT_STREQ(DateCString(t, 3), "1/1/1904");
  EXPECT_STREQ(DateCString(t, 9), "Fri, Jan 1, 1904");
  EXPECT_STREQ(DateCString(t, -4), "1/1/1904");
  EXPECT_STREQ(TimeCString(t, 1), "12:00:00 AM");
  EXPECT_STREQ(TimeCString(t, 0), "12:00 AM");
  uInt32 pm = Secs1904(2021, 11, 23, 13, 5, 9);
  EXPECT_STREQ(TimeCString(pm, 1), "1:05:09 PM");
  EXPECT_STREQ(DateCString(pm, 1), "Tuesday, November 23, 2021");
  EXPECT_STREQ(ASCIITime(pm), "Tue, Nov 23, 2021 1:05:09 PM");
  TimeSecsMs ms = {pm, 7};
  char buf[64];
  EXPECT_EQ(TimeMsCString(&ms, buf, sizeof buf), 14);
  EXPECT_STREQ(buf, "1:05:09 PM.007");
  EXPECT_EQ(TimeMsCString(&ms, buf, 5), 4);
  EXPECT_STREQ(buf, "1:05");
  EXPECT_EQ(TimeMsCString(nullptr, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
}

TEST_F(DateTime, LocaleNamesAndPicturesFromTheEnvironment) {
  TestLocale loc("de_DE");
  if (!loc.ok()) GTEST_SKIP() << "localedef cannot build a locale here";
  uInt32 t = Secs1904(2021, 3, 5, 14, 7, 9);
  EXPECT_STREQ(DateCString(t, 0), "05.03.2021");
  EXPECT_STREQ(DateCString(t, 1), "Freitag, M\xE4rz 5, 2021");  // code page 1252
  EXPECT_STREQ(DateCString(t, 2), "Fr, M\xE4r 5, 2021");
  EXPECT_STREQ(TimeCString(t, 1), "14:07:09");
  EXPECT_STREQ(TimeCString(t, 0), "14:07");
  EXPECT_EQ(Format("%A %B", t), "Freitag M\xE4rz");
  // The locale has no designators: "AM" and "PM" stay.
  DateReadAMPM();
  int32 n;
  const uChar* am = DateAMPM(0, &n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(am), size_t(n)), "AM");
}

TEST_F(DateTime, DesignatorsAreReadAtStartUpAndCut) {
  {
    TestLocale loc("en_GB");
    if (!loc.ok()) GTEST_SKIP() << "localedef cannot build a locale here";
    DateReadAMPM();
    int32 n;
    const uChar* pm = DateAMPM(1, &n);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(pm), size_t(n)), "pm");
    EXPECT_STREQ(DateCString(Secs1904(2021, 3, 5), 0), "05/03/21");
    // Time stamps without a date in their code read the locale's order.
    double v;
    const char* text = "13:00 05/03/2021";
    EXPECT_EQ(TextToNum(reinterpret_cast<const uChar*>(text), 16, kNumDBL, &v, 512 + 4, 0, nullptr), 1);
    EXPECT_EQ(v, double(Secs1904(2021, 3, 5, 13)));
  }
  TestLocale loc("so_SO");
  if (!loc.ok()) GTEST_SKIP() << "localedef cannot build a locale here";
  DateReadAMPM();
  int32 n;
  const uChar* am = DateAMPM(0, &n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(am), size_t(n)), "suba");
  double v;
  const char* text = "1:00 GALA";
  double def = 0;
  EXPECT_EQ(TextToNum(reinterpret_cast<const uChar*>(text), 9, kNumDBL, &v, 512 + 4, kNumDBL, &def), 1);
  EXPECT_EQ(v, 13.0 * 3600);
  // Time stamps are written with "AM" and "PM": they read back too.
  double t = 13.0 * 3600 + 5;
  char buf[32];
  int32 len = NumToTextFmt(&t, kNumDBL, 512 + 4 + 16, buf, sizeof buf, '.');
  EXPECT_STREQ(buf, "01:00:05 PM");
  EXPECT_EQ(TextToNum(reinterpret_cast<const uChar*>(buf), len, kNumDBL, &v, 512 + 4 + 16, kNumDBL, &def), 1);
  EXPECT_EQ(v, t);
}

// ---------------------------------------------------------------- patterns

TEST_F(DateTime, PatternConversionsAndEstimates) {
  uInt32 fifth = Secs1904(2021, 7, 5, 3, 4, 5);
  EXPECT_EQ(Format("%#d", fifth), "5");
  EXPECT_EQ(Format("%d", fifth), "05");
  EXPECT_EQ(Format("%q", fifth), "q");
  EXPECT_EQ(Format("100%% %e%", fifth), "100% e");
  EXPECT_EQ(Format("%#H:%M:%S on %#m/%#d/%Y", fifth), "3:04:05 on 7/5/2021");
  EXPECT_EQ(Format("%#c", fifth), "Mon Jul  5 3:04:05 2021");
  EXPECT_EQ(Format("%#j|%#%|%##d", fifth), "186|#|##d");
  EXPECT_EQ(Format("%#", fifth), "#");
  char c[64];
  struct tm t;
  DateLocalFields(fifth, &t);
  strftime(c, sizeof c, "%c", &t);
  EXPECT_EQ(Format(nullptr, fifth), c);
  EXPECT_EQ(Format("", fifth), c);
  LStrHandle negative = NewLStr("%d", -3);
  EXPECT_EQ(FormatWith(negative, fifth), c);
  // The count is read no further than the handle holds.
  LStrHandle overlong = NewLStr("%d", 1 << 30);
  EXPECT_EQ(FormatWith(overlong, fifth), "05");
  // NUL bytes are text like any other.
  EXPECT_EQ(FormatWith(NewLStr(std::string("a\0%m", 4)), fifth), std::string("a\0" "07", 4));
  EXPECT_EQ(FormatDateTimeString(nullptr, fifth, nullptr), kArgErr);
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(DateTime, OutputPastTheEstimateIsReportedAndCut) {
  SetTZ("<ABCDEFGHIJKLMNOPQRSTUVWXYZ>5");
  EXPECT_EQ(Format("%Z", 0), "ABCDEFGHIJKLMNOP");  // 16 characters estimated
  EXPECT_EQ(Reports(), 1u);
  // The estimate holds for the whole text: 1 + 16 + 2 + 16 characters.
  EXPECT_EQ(Format("x%Zyz%Z", 0), "xABCDEFGHIJKLMNOPQRSTUVWXYZyzABCDEF");
  EXPECT_EQ(Reports(), 2u);
}

TEST_F(DateTime, LongPatternsTakeTheirBuffersFromTheDataZone) {
  std::string pattern;
  for (int i = 0; i < 3000; ++i) pattern += "%y";
  uInt32 t = Secs1904(2021, 1, 1);
  std::string out = Format(pattern.c_str(), t);
  EXPECT_EQ(out.size(), 6000u);
  EXPECT_EQ(out.substr(0, 6), "212121");
  EXPECT_EQ(Reports(), 0u);
}

TEST_F(DateTime, ResizeFailureLeavesTheResultAlone) {
  // An application-zone handle cannot be resized with the data zone's call.
  LStrHandle out = reinterpret_cast<LStrHandle>(AZNewHandle(8));
  ASSERT_NE(out, nullptr);
  (*out)->cnt = 3;
  std::memcpy((*out)->str, "old", 3);
  MgErr err = FormatDateTimeString(nullptr, 0, out);
  EXPECT_NE(err, kNoErr);
  EXPECT_EQ((*out)->cnt, 3);
  EXPECT_EQ(std::memcmp((*out)->str, "old", 3), 0);
  AZDisposeHandle(reinterpret_cast<UHandle>(out));
}

// ---------------------------------------------------------------- threads

TEST_F(DateTime, ResultBuffersOfConcurrentThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  const int rounds = Scaled(400);
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([k, rounds, &bad] {
      uInt32 secs = Secs1904(2000 + k, k + 1, k + 2, k, 0, 0);
      for (int i = 0; i < rounds; ++i) {
        struct tm* t = SecsToTm(&secs);
        if (t->tm_year != 100 + k || t->tm_mon != k) ++bad;
        const char* d = DateCString(secs, 0);
        char want[48];
        std::snprintf(want, sizeof want, "%d/%d/%d", k + 1, k + 2, 2000 + k);
        if (std::strcmp(d, want) != 0) ++bad;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
