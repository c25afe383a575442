// The control classes' properties run through the attribute-node transfer.
#include <gtest/gtest.h>

#include "mgsource/prefs.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/datatype.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "panel/ctlattr.h"
#include "panel/datamsg.h"
#include "panel/fpexec.h"
#include "panel/methsupport.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "panel_test_support.h"

namespace {

constexpr uInt32 kWrite = 0x80000000u;
using Strings = std::vector<std::string>;

TEST(NumFormat, CodesAndPairsRoundTripWithinTheirRanges) {
  struct { int32 code; bool ok; int16 format, precision; } decode[] = {
      {-64, true, 0, 64}, {0, true, 0, 0}, {1, true, 1, 0}, {63, true, 1, 62}, {64, false, 0, 0},
      {65, false, 0, 0}, {66, true, 5, 0}, {67, true, 4, 0}, {68, true, 3, 0}, {100, true, 2, 0},
      {162, true, 2, 62}, {163, false, 0, 0}, {200, true, 6, 0}, {299, true, 6, 99}, {300, false, 0, 0},
      {511, false, 0, 0}, {512, true, 7, 0}, {1536, true, 7, 0}, {1537, false, 0, 0}, {-65, false, 0, 0},
      {515, true, 7, 3},
  };
  for (const auto& c : decode) {
    // A code that is no format leaves both outputs as they were.
    int16 f = -7, p = -7;
    EXPECT_EQ(DecodeNumFormat(c.code, &f, &p) != 0, c.ok) << c.code;
    EXPECT_EQ(std::vector<int32>({f, p}), c.ok ? std::vector<int32>({c.format, c.precision})
                                               : std::vector<int32>({-7, -7})) << c.code;
    EXPECT_EQ(NumFormatPrecision(c.code), c.ok ? c.precision : 0) << c.code;
  }
  // Encoding: the old code matters only for absolute times (its flags
  // carried); a new absolute time takes 8, 64 and 256 from the preferences.
  struct { int16 old, format, precision; bool keys, ok; int16 code; } encode[] = {
      {0, 0, 64, false, true, -64}, {0, 0, 65, false, false, 0}, {0, 1, 62, false, true, 63},
      {5, 1, 63, false, false, 5}, {0, 2, 62, false, true, 162}, {0, 2, 63, false, false, 0},
      {0, 2, 70, false, false, 0}, {0, 6, 99, false, true, 299}, {0, 6, 100, false, false, 0},
      {0, 3, 40, false, true, 68}, {0, 5, -3, false, true, 66}, {0, 7, -1, false, false, 0},
      {0, 7, 7, false, true, 1207}, {0, 7, 7, true, true, 1207 + 8 + 64 + 256},
      {512 + 4 + 512, 7, 0, true, true, 512 + 4 + 512}, {512 + 4 + 512, 7, 2, false, true, 512 + 4 + 16 + 512 + 2},
      {512 + 4 + 16 + 3, 7, 0, false, true, 512 + 4 + 16}, {512 + 32 + 128, 7, 1, false, true, 512 + 16 + 32 + 128 + 1},
      {512 + 128 + 8, 7, 0, false, true, 512 + 8}, {0, 8, 0, false, false, 0}, {0, -1, 0, false, false, 0},
  };
  for (const auto& c : encode) {
    for (int32 key : {kPrefHour24, kPrefDateDayFirst, kPrefYearFirst}) PrefSet(key, c.keys);
    NumFormatCode code = c.old;
    EXPECT_EQ(EncodeNumFormat(&code, c.format, c.precision) != 0, c.ok) << c.format << "," << c.precision;
    EXPECT_EQ(code, c.ok ? c.code : c.old) << c.old << ": " << c.format << "," << c.precision;
  }
  for (int32 key : {kPrefHour24, kPrefDateDayFirst, kPrefYearFirst}) PrefSet(key, PrefDefault(key));
}

class CtlAttrTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    if (!TRStackBlock()) TRInit();
    PanelInstallAttrTables();
    ShowInWindow();
  }
  void TearDown() override {
    for (TRecord t : texts_) TDispose(t);
    PanelRootTest::TearDown();
  }
  // A control of the class on the panel: its controller in the root's list.
  int32 Add(const tdb::TD& td, int32 cls) {
    int32 display = 0;
    const int32 dco = Control(td, cls, &display, root_);
    SetW(dco, kPWOwner, root_);
    EXPECT_EQ(Alloc(dco), kNoErr);
    dcos_.push_back(dco);
    SetW(root_, 10, vib::NewList(panel_, dcos_));
    SetBounds(display, Rect{10, 10, 60, 110});
    return display;
  }
  int32 Part(int32 owner, int32 cls, int16 id, int16 order = 0, int32 bytes = 0) {
    const int32 p = bytes ? vib::NewObject(panel_, cls, bytes, owner, id, order) : Obj(cls, owner, id, order);
    SetBounds(p, Rect{20, 20, 40, 60});
    return p;
  }
  TRecord Text(int32 part, const char* s) {
    const Rect view = Rect{20, 20, 40, 60};
    TRecord t = TNew(&view, 4, reinterpret_cast<const uChar*>(s), int32(std::strlen(s)), 0, 0, 0xFFFFFF);
    texts_.push_back(t);
    SetW(part, kObjText / 4, int32(uintptr_t(t)));
    return t;
  }
  UHandle List(int32 part, const Strings& s) {
    std::vector<uChar> b(4, 0);
    PutNative32(b.data(), uInt32(s.size()));
    for (const std::string& x : s) b.push_back(uChar(x.size())), b.insert(b.end(), x.begin(), x.end());
    UHandle h = Keep(AZNewHClr(int32(b.size())));
    std::memcpy(*h, b.data(), b.size());
    SetW(part, kObjStringList / 4, int32(uintptr_t(h)));
    return h;
  }
  static Strings Read(UHandle h) {
    Strings out;
    const int32 n = int32(GetNative32(*h));
    int32 at = 4;
    for (int32 i = 0; i < n; ++i) out.emplace_back(reinterpret_cast<char*>(*h + at + 1), (*h)[at]), at += 1 + (*h)[at];
    return out;
  }
  // One entry of the type on the object, its value at data.
  void Entry(int32 object, const tdb::TD& type, uInt32 word, void* data) {
    std::vector<uChar> b = tdb::Cluster({type}).Bytes();
    UHandle h = DSNewHandle(int32(b.size()));
    ASSERT_NE(h, nullptr);
    std::memcpy(*h, b.data(), b.size());
    std::vector<int32> call = {0, 0, int32(uintptr_t(panel_)), object, int32(uintptr_t(h)), 0,
                               int32(uintptr_t(data)), 1, int32(word)};
    EXPECT_EQ(AttributeNodeTransfer(call.data(), nullptr), 1);
    DSDisposeHandle(h);
  }
  // An array of strings or of numbers as a value handle (its strings
  // disposed with it).
  UHandle StrArray(const Strings& s) {
    UHandle a = DSNewHClr(4 + 4 * int32(s.size()));
    PutNative32(*a, uInt32(s.size()));
    for (size_t i = 0; i < s.size(); ++i) {
      UHandle e = DSNewHandle(4 + int32(s[i].size()));
      PutNative32(*e, uInt32(s[i].size()));
      std::memcpy(*e + 4, s[i].data(), s[i].size());
      std::memcpy(*a + 4 + 4 * i, &e, 4);
    }
    return a;
  }
  static void FreeArray(UHandle a, bool strings) {
    if (!a) return;
    if (strings)
      for (int32 i = 0; i < int32(GetNative32(*a)); ++i) {
        UHandle e;
        std::memcpy(&e, *a + 4 + 4 * i, 4);
        if (e) DSDisposeHandle(e);
      }
    DSDisposeHandle(a);
  }
  static UHandle WordArray(const std::vector<int32>& v) {
    UHandle a = DSNewHClr(4 + 4 * int32(v.size()));
    PutNative32(*a, uInt32(v.size()));
    for (size_t i = 0; i < v.size(); ++i) PutNative32(*a + 4 + 4 * i, uInt32(v[i]));
    return a;
  }
  static std::vector<int32> Words(UHandle a) {
    std::vector<int32> out;
    for (int32 i = 0; a && i < int32(GetNative32(*a)); ++i) out.push_back(int32(GetNative32(*a + 4 + 4 * i)));
    return out;
  }
  int32 Format(int32 n) const { return int16(GetNative16(*panel_ + n + kNumericFormat)); }
  std::vector<int32> dcos_;
  std::vector<TRecord> texts_;
};

// Rows across the classes: each builds its control, runs one entry through
// the panel's path and checks what the control holds afterwards.
TEST_F(CtlAttrTest, RowsOfTheClassesReadAndWriteTheirControls) {
  const auto clusterOf2 = [](tdb::TD a) { return tdb::Cluster({a, a}); };
  struct Row {
    const char* what;
    std::function<void()> run;
  };
  const Row rows[] = {
      {"one Boolean string fills all four state texts",
       [&] {
         const int32 b = Add(tdb::Boolean(), kClsBoolean);
         const int32 text = Part(b, kClsMultiLabel, 22);
         UHandle list = List(text, {"a", "b", "c", "d"});
         Text(text, "a");
         UHandle v = StrArray({"on"});
         Entry(b, tdb::Array(tdb::String(-1), {-1}), kWrite | 15, &v);
         EXPECT_EQ(Read(list), Strings({"on", "on", "on", "on"}));
         EXPECT_TRUE(W(text, 0) & 0x80000) << "the text is marked busy";
         FreeArray(v, true);
         v = nullptr;
         Entry(b, tdb::Array(tdb::String(-1), {-1}), 15, &v);
         ASSERT_NE(v, nullptr);
         EXPECT_EQ(GetNative32(*v), 4u);
         FreeArray(v, true);
       }},
      {"two colour pairs on a four-state face go to states 0, 2 and 1, 3",
       [&] {
         const int32 b = Add(tdb::Boolean(), kClsBoolean);
         const int32 face = Part(b, kClsBigMultiCosmetic, 21, 0, kObjImageList + 4 * kBigImageEntry);
         PutNative16(*panel_ + face + kObjImageCount, 4);
         UHandle v = WordArray({0x10, 0x20, 0x30, 0x40});
         PutNative32(*v, 2);  // two pairs
         Entry(b, tdb::Array(clusterOf2(tdb::U32()), {-1}), kWrite | 16, &v);
         std::vector<int32> got;
         for (int32 s = 0; s < 4; ++s)
           for (int32 k = 0; k < 2; ++k) got.push_back(W(face, (kObjImageList + kBigImageEntry * s + 8) / 4 + k));
         EXPECT_EQ(got, std::vector<int32>({0x10, 0x20, 0x30, 0x40, 0x10, 0x20, 0x30, 0x40}));
         DSDisposeHandle(v);
       }},
      {"ring strings on an enumerated ring change nothing; an empty array leaves one empty item",
       [&] {
         for (bool enumerated : {true, false}) {
           const int32 r = Add(enumerated ? tdb::Enum(kTDEnumU16, {"a", "b"}) : tdb::U16(), kClsRing);
           while (RingInsertDeleteItem(panel_, r, 0, 0) >= 0) {}
           for (int32 i = 0; i < 2; ++i) RingInsertDeleteItem(panel_, r, i, 1);
           UHandle list = List(Part(r, kClsMultiLabel, 12), {"a", "b"});
           UHandle v = StrArray(enumerated ? Strings{"x"} : Strings{});
           Entry(r, tdb::Array(tdb::String(-1), {-1}), kWrite | 24, &v);
           EXPECT_EQ(Read(list), enumerated ? Strings({"a", "b"}) : Strings({""})) << enumerated;
           if (!enumerated) { EXPECT_EQ(GetNative32(*ObjItemData(panel_, r)), 1u); }
           FreeArray(v, true);
         }
       }},
      {"disabled items past the count are left out",
       [&] {
         const int32 r = Add(tdb::U16(), kClsRing);
         while (RingInsertDeleteItem(panel_, r, 0, 0) >= 0) {}
         for (int32 i = 0; i < 3; ++i) RingInsertDeleteItem(panel_, r, i, 1);
         UHandle v = WordArray({1, 9});
         Entry(r, tdb::Array(tdb::I32(), {-1}), kWrite | 25, &v);
         EXPECT_EQ(Words(ObjItemData(panel_, r)), std::vector<int32>({0, 1, 0}));
         DSDisposeHandle(v);
         v = nullptr;
         Entry(r, tdb::Array(tdb::I32(), {-1}), 25, &v);
         EXPECT_EQ(Words(v), std::vector<int32>({1}));
         DSDisposeHandle(v);
       }},
      {"a string's display mode is refused while its text is the one being typed into",
       [&] {
         const int32 s = Add(tdb::String(-1), kClsString);
         const int32 part = Part(s, kClsLabel, 11);
         TRecord t = Text(part, "abc");
         const uInt32 mode = TGetMode(t);
         const int32 ext = int32(OHWord(panel_, kOHExtension));
         PutNative32(*panel_ + ext + kHeapExtFocusText, uInt32(uintptr_t(t)));
         uInt32 one = 1;
         Entry(s, tdb::U32(), kWrite | 19, &one);
         EXPECT_EQ(TGetMode(t), mode);
         EXPECT_FALSE(W(part, 0) & 0x1000000);
         PutNative32(*panel_ + ext + kHeapExtFocusText, 0);
         Entry(s, tdb::U32(), kWrite | 19, &one);
         EXPECT_EQ(TGetMode(t) & 0xF, 1u);
         EXPECT_TRUE(W(part, 0) & 0x1000000);
         uInt32 back = 9;
         Entry(s, tdb::U32(), 19, &back);
         EXPECT_EQ(back, 1u);
       }},
      {"fill style 0 selects style 5 and reads back as 0; scale index 3 refused while fixed, 9 taken",
       [&] {
         const int32 s = Add(tdb::DBL(), kClsSlide);
         const int32 fill = Part(s, kClsCosmetic, 31);
         int32 style = 0;
         Entry(s, tdb::I32(), kWrite | 31, &style);
         EXPECT_TRUE(W(fill, 0) & 8);
         style = 7;
         Entry(s, tdb::I32(), 31, &style);
         EXPECT_EQ(style, 0);
         static std::vector<int32> seen;
         seen.clear();
         const ScaleAttrHooks hooks{nullptr,
                                    [](ObjHeap, int32, int32, int32, int32 index, const TypeDescriptor*, void*) {
                                      seen.push_back(index);
                                      return 0;
                                    },
                                    nullptr, nullptr};
         SetScaleAttrHooks(&hooks);
         SetW(s, 0, W(s, 0) | 0x100000);
         uChar u = 1;
         Entry(s, tdb::U8(), kWrite | 22, &u);  // index 3
         Entry(s, tdb::Boolean(), kWrite | 28, &u);  // index 9
         SetScaleAttrHooks(nullptr);
         EXPECT_EQ(seen, std::vector<int32>({9}));
       }},
      {"the picture's mouse: (-1, -1) and false untracked, each element read alone",
       [&] {
         const int32 p = Add(tdb::String(-1), kClsPicture);
         Part(p, kClsCosmetic, 28);
         struct { uInt32 selector; tdb::TD type; int32 want; } reads[] = {
             {18, tdb::I32(), -1}, {19, tdb::I32(), -1}, {21, tdb::Boolean(), 0}, {24, tdb::Boolean(), 0}};
         for (const auto& r : reads) {
           int32 v = 77;
           Entry(p, r.type, r.selector, &v);
           EXPECT_EQ(r.selector >= 21 ? int32(v & 0xFF) : v, r.want) << r.selector;
         }
         int32 whole[6] = {5, 5, 0x01010101, 0, 0, 0};
         Entry(p, tdb::Cluster({tdb::Cluster({tdb::I32(), tdb::I32()}),
                                tdb::Cluster({tdb::Boolean(), tdb::Boolean(), tdb::Boolean(), tdb::Boolean()})}),
               16, whole);
         EXPECT_EQ(std::vector<int32>(whole, whole + 3), std::vector<int32>({-1, -1, 0}));
       }},
      {"array rows of 0 show one row; a negative vector entry is stored as 0",
       [&] {
         const int32 a = Add(tdb::Array(tdb::DBL(), {-1, -1}), kClsArray);
         const int32 element = Part(a, kClsNumeric, 27);
         SetBounds(element, Rect{20, 20, 30, 60});
         SetW(a, kPWArrayElement, element);
         SetW(a, kPWArrayGrid, 0x00020001);  // three rows, two columns
         Part(a, kClsCosmetic, 9);
         uInt32 rows = 0;
         Entry(a, tdb::U32(), kWrite | 12, &rows);
         Entry(a, tdb::U32(), 12, &rows);
         EXPECT_EQ(rows, 1u);
         UHandle v = WordArray({-4, 3});
         Entry(a, tdb::Array(tdb::I32(), {-1}), kWrite | 15, &v);
         DSDisposeHandle(v);
         v = nullptr;
         Entry(a, tdb::Array(tdb::I32(), {-1}), 15, &v);
         EXPECT_EQ(Words(v), std::vector<int32>({0, 3}));
         DSDisposeHandle(v);
       }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    r.run();
    EXPECT_EQ(Asserts(), 0) << ReportText();
  }
}

// Formats through the node: binary refused on floating data, a precision
// write stored and shown once.
TEST_F(CtlAttrTest, NumericFormatsAreCheckedAgainstTheData) {
  const int32 n = Add(tdb::DBL(), kClsNumeric);
  const int32 radix = Part(n, kClsCosmetic, 15);
  (void)radix;
  uChar format = 3;
  Entry(n, tdb::U8(), kWrite | 14, &format);
  EXPECT_EQ(Format(n), 0);
  uChar precision = 4;
  TakeInvalid();
  Entry(n, tdb::U8(), kWrite | 15, &precision);
  EXPECT_EQ(Format(n), -4);
  const Rect first = TakeInvalid();
  EXPECT_GT(first.right, first.left) << "the radix part is redrawn";
  Entry(n, tdb::U8(), kWrite | 15, &precision);
  const Rect again = TakeInvalid();
  EXPECT_EQ(again.right, again.left) << "an unchanged format redraws nothing";
  // Engineering with 63 digits never reads back: refused.
  uChar pair[2] = {2, 63};
  Entry(n, tdb::Cluster({tdb::U8(), tdb::U8()}), kWrite | 13, pair);
  EXPECT_EQ(Format(n), -4);
}

// In-range selectors without a case report the procedure's text.
TEST_F(CtlAttrTest, SelectorsWithoutACaseAreReportedByName) {
  const int32 n = Add(tdb::DBL(), kClsNumeric);
  struct { AttrProc proc; int32 count; const char* text; } procs[] = {
      {&snumattr, 7, "bad index in snumattr 7"},       {&colorNum, 3, "bad index in colorNum 3"},
      {&boolattr, 5, "bad index in boolattr 5"},       {&stringattr, 12, "bad index in stringattr 12"},
      {&pathTagAttr, 10, "bad index in pathTagAttr 10"}, {&ringattr, 14, "bad index in ringattr 14"},
      {&slideattr, 19, "bad index in slideattr 19"},   {&moreslideattr, 2, "bad index in moreslideattr 2"},
      {&sRampattr, 27, "bad index in sRampattr 27"},   {&arrayattr, 6, "bad index in arrayattr 6"},
      {&pictattr, 13, "bad index in pictattr 13"},
  };
  for (const auto& p : procs) {
    qxtest::Reports::Get().Clear();
    AttrCallRec rec{};
    rec.selector = p.count;
    rec.read = 1;
    EXPECT_EQ(p.proc(panel_, n, &rec), 0);
    EXPECT_GE(Reports(p.text), 1) << p.text;
    EXPECT_EQ(Asserts(), 1) << p.text;
  }
  qxtest::Reports::Get().Clear();
}

}  // namespace
