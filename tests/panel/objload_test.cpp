// The load and unload methods of the panel classes on heaps read back from
// files that the panel-heap writer made: resource numbering, descriptions,
// data offsets, images and texts, the abort and what it leaves, and bad
// resources.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "engine/datatype.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/loaderr.h"
#include "engine/vi/objload.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "panel/booltext.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "mgsource/memory.h"
#include "engine/link/hierarchy.h"
#include "engine/link_check.h"
#include "engine/shellsvc.h"
#include "panel_test_support.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/linkinfowriter.h"
#include "tools/panelwriter.h"

namespace {

using panelwriter::ObjRsrc;
using panelwriter::PanelObject;

constexpr uInt32 kSTRG = FourCC("STRG"), kHOBJ = FourCC("HOBJ"), kCPST = FourCC("CPST");

rsrcw::Bytes Be(std::initializer_list<uInt32> words) {
  rsrcw::Bytes b;
  for (uInt32 w : words)
    for (int i = 3; i >= 0; --i) b.push_back(uChar(w >> (8 * i)));
  return b;
}

class ObjLoadTest : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    ASSERT_EQ(RInitResources(), kNoErr);
    // The VI the loaded heap belongs to: its map holds the header, I16, DBL, I32.
    lvi_ = vib::NewVI({tdb::I16(), tdb::DBL(), tdb::I32()});
    ASSERT_NE(lvi_, nullptr);
    src_ = OHNewHeap(1024, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    ASSERT_NE(src_, nullptr);
    UHandle map = VIRec(lvi_)->dsTypeMap;
    for (int32 i = 0, pos = 6; i < 4; ++i, pos += GetNative16(*map + pos)) pos_.push_back(pos);
    ClearObjLoadAbort();
    gQXLoadErrorCode = 0;
    SetCursorLegendHook(nullptr);
  }
  void TearDown() override {
    if (loaded_) {
      ODisposeHeapObjects(loaded_);
      OHDisposeHeap(loaded_);
    }
    if (file_) RCloseFile(file_);
    TReleaseFontReferences();
    OHDisposeHeap(src_);
    vib::DisposeVI(lvi_);
    EXPECT_EQ(FPImageTableCount(), 0) << "images left in the table";
    PanelTest::TearDown();
  }
  int32 New(int32 cls, int32 owner = 0, int16 part = 0, int32 size = 0) {
    return vib::NewObject(src_, cls, size ? size : ClassRecord(cls)->instanceSize, owner, part);
  }
  void SetWord(int32 obj, int32 at, uInt32 v) { PutNative32(*src_ + obj + at, v); }
  uInt32 Word(int32 obj, int32 at) const { return GetNative32(*loaded_ + obj + at); }
  static rsrcw::Bytes Text(const std::string& s, int32 font = 1) {
    panelwriter::SavedText t;
    t.text = s;
    t.insertion = {0, font, 0x102030};
    return panelwriter::TextRecordRsrc(t);
  }
  // Writes the heap, reads it back in memory order and gives it to the VI,
  // as the heap loader does before the broadcast.
  void Store(const std::vector<PanelObject>& objects, int32 first = 100) {
    rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
    if (!fontTable_.empty()) w.Add(kFontTableType, kFontTableId, fontTable_);
    ASSERT_TRUE(panelwriter::AddPanelHeap(w, src_, 1, "Loaded.vi", first, objects, &layout_));
    loaded_ = panelwriter::ReadStoredHeap(w.Write(), 1, &file_);
    ASSERT_NE(loaded_, nullptr);
    const int32 ext = int32(OHWord(loaded_, kOHExtension));
    PutNative32(*loaded_ + ext + kHeapExtOwner, uInt32(uintptr_t(lvi_)));
    PutNative32(*loaded_ + ext + kHeapExtWindow, 0);
    FPClearImageTable();
  }
  int32 Load() {
    SetBadClassHook(&BadProcLoadMethod);
    const int32 r = OLoadHeapObjects(loaded_, file_);
    ClearBadClassHook();
    return r;
  }
  // Unloads after an abort, as the heap loader does.
  void Unload() {
    ODisposeAfterAbort(loaded_);
    ClearObjLoadAbort();
    OHDisposeHeap(loaded_);
    loaded_ = nullptr;
  }

  UHandle lvi_ = nullptr;
  ObjHeap src_ = nullptr;
  ObjHeap loaded_ = nullptr;
  RsrcFileRef file_ = 0;
  std::vector<int32> pos_;  // the map's element positions
  panelwriter::HeapLayout layout_;
  rsrcw::Bytes fontTable_ = panelwriter::FontTableRsrc({{"Own", 10}, {"Courier", 12, 1, 0}}, 1);  // empty: none
};

TEST_F(ObjLoadTest, TablesNumberTheirResourcesAfterTheirOwnNumber) {
  const int32 described = New(kClsTable);
  SetWord(described, kObjDescription, 1);
  const int32 plain = New(kClsTable);
  const int32 root = New(kClsCosmetic);  // no resource number: no load
  SetWord(root, kObjImage, 0x12345678);
  Store({{described, {{kSTRG, Be({1, 0x41424344})}, {kHOBJ, Be({2, 1, 1})}}}, {plain, {{kHOBJ, Be({1, 1})}}}});
  EXPECT_EQ(layout_.rsrcNumbers[0], (std::vector<int32>{101, 102}));
  EXPECT_EQ(layout_.rsrcNumbers[1], (std::vector<int32>{104}));
  ASSERT_EQ(Load(), 0);
  UHandle desc = reinterpret_cast<UHandle>(uintptr_t(Word(described, kObjDescription)));
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(GetNative32(*desc), 1u) << "first word swapped";
  EXPECT_EQ(GetBE32(*desc + 4), 0x41424344u) << "the rest as stored";
  UHandle fonts = reinterpret_cast<UHandle>(uintptr_t(Word(described, kTableFonts)));
  ASSERT_NE(fonts, nullptr);
  EXPECT_EQ(GetNative32(*fonts), 2u);
  Str255 name;
  ASSERT_TRUE(TGetFontInfo(int32(GetNative32(*fonts + 4)), name, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Courier");
  EXPECT_EQ(Word(plain, kObjDescription), 0u);
  EXPECT_NE(Word(plain, kTableFonts), 0u);
  EXPECT_EQ(Word(root, kObjImage), 0x12345678u) << "never sent the load message";
  EXPECT_EQ(GetRsrcCounter(), 105);
}

TEST_F(ObjLoadTest, ShortDescriptionsLoadEmptyAndMissingOnesFail) {
  const int32 a = New(kClsString);
  SetWord(a, kObjDescription, 1);
  SetWord(a, kObjFlags, 0x8001);
  const int32 b = New(kClsBoolean);
  SetWord(b, kObjDescription, 1);
  Store({{a, {{kSTRG, rsrcw::Bytes{0, 7}}}}, {b, {}}});
  EXPECT_EQ(Load(), kOHStopEnum);
  UHandle desc = reinterpret_cast<UHandle>(uintptr_t(Word(a, kObjDescription)));
  ASSERT_NE(desc, nullptr);
  EXPECT_EQ(AZGetHandleSize(desc), 4);
  EXPECT_EQ(GetNative32(*desc), 0u);
  EXPECT_EQ(Word(a, kObjFlags), 1u) << "bit 15 cleared";
  EXPECT_EQ(ObjLoadAbort().fence, b);
  EXPECT_EQ(ObjLoadAbort().error, kRsrcNotFoundErr);
  EXPECT_EQ(gQXLoadErrorCode, 0) << "the heap loader makes it 3";
  EXPECT_EQ(Word(b, kObjDescription), 0u) << "no stored word left behind";
  Unload();
}

TEST_F(ObjLoadTest, AnUnregisteredClassFailsWithLoadError26) {
  const int32 a = New(kClsString);
  const int32 odd = New(kClsString);
  OHSetBlockClass(src_, odd, 150);  // no class of that id
  const int32 list = OHNewBlock(src_, 8, kObjClassList);  // a class whose slot holds NullMethod
  PutNative32(*src_ + list, 0);
  Store({{a, {}}, {odd, {}}, {list, {}}});
  EXPECT_EQ(Load(), kOHStopEnum);
  EXPECT_EQ(ObjLoadAbort().fence, odd);
  EXPECT_EQ(ObjLoadAbort().error, kBadProcLoadResult);
  EXPECT_EQ(gQXLoadErrorCode, kLoadErrUnknownObjects);
  Unload();
  gQXLoadErrorCode = 0;
  // The data controller (class 17) holds NullMethod and loads.
  OHDisposeBlock(src_, odd);
  const int32 dco = New(17, 0, 0, 20);
  Store({{a, {}}, {dco, {}}, {list, {}}});
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(gQXLoadErrorCode, 0);
}

TEST_F(ObjLoadTest, NumericOffsetsComeFromTheTypeMapWithoutCode) {
  const int32 n1 = New(kClsNumeric);
  SetWord(n1, 44, 7777);  // stored offset, re-computed
  SetWord(n1, 48, uInt32(pos_[2]));
  const int32 n2 = New(kClsKnob);
  SetWord(n2, 48, uInt32(pos_[3]));
  const int32 cleared = New(kClsNumeric, 0, 5);
  SetWord(cleared, 44, 600);  // an offset without position
  const int32 arr = New(kClsArray);
  SetWord(arr, 52, 640);
  const int32 ring = New(kClsRing);
  SetWord(ring, 48, uInt32(pos_[1]));
  SetWord(ring, 64, uInt32(pos_[3]));
  SetWord(ring, 0, 0x80000 | 2);
  Store({{n1, {}}, {n2, {}}, {cleared, {}}, {arr, {}}, {ring, {}}});
  ASSERT_EQ(Load(), 0);
  // Packed: header 0, I16 528, DBL 530, I32 538.
  EXPECT_EQ(Word(n1, 44), 530u);
  EXPECT_EQ(Word(n2, 44), 538u);
  EXPECT_EQ(Word(n2, 0) & kObjFlagSlideLoaded, kObjFlagSlideLoaded);
  EXPECT_EQ(Word(cleared, 44), 0u);
  EXPECT_EQ(Word(arr, 52), 0u);
  EXPECT_EQ(Word(ring, 44), 528u);
  EXPECT_EQ(Word(ring, 60), 538u);
  EXPECT_EQ(Word(ring, 0), 2u) << "item flag cleared";
  char line[200];
  std::snprintf(line, sizeof line, "StdNumOLoadMethod: clear dsOffset: h=0x%lX, c=0x%lX, dsOffset=600, partID=5",
                long(uintptr_t(loaded_)), long(cleared));
  EXPECT_EQ(Reports(line), 1) << qxtest::Reports::Get().Text();
  std::snprintf(line, sizeof line, "IndArrOLoadMethod: clear dsOffset: h=0x%lX, c=0x%lX, dsOffset=640, partID=0",
                long(uintptr_t(loaded_)), long(arr));
  EXPECT_EQ(Reports(line), 1);
}

TEST_F(ObjLoadTest, WithCodeTheStoredOffsetsStand) {
  const int32 n1 = New(kClsNumeric);
  SetWord(n1, 44, 534);
  SetWord(n1, 48, uInt32(pos_[2]));
  Store({{n1, {}}});
  VIRec(lvi_)->codeHandle = VIRec(lvi_)->dsTypeMap;
  EXPECT_EQ(Load(), 0);
  VIRec(lvi_)->codeHandle = nullptr;
  EXPECT_EQ(Word(n1, 44), 534u);
}

TEST_F(ObjLoadTest, GraphsKeepTheirOffsetsByKind) {
  struct Case {
    uInt16 kind;
    bool image, history, chart;
  } cases[] = {{101, false, true, true}, {3, true, false, false}, {1, false, false, false}, {105, true, true, true}};
  std::vector<int32> graphs;
  for (const Case& c : cases) {
    const int32 g = New(kClsGraphChart);
    PutNative16(*src_ + g + kGraphKind, c.kind);
    SetWord(g, 48, uInt32(pos_[1]));    // main
    SetWord(g, 68, uInt32(pos_[2]));    // image position
    SetWord(g, 76, 999);                // image offset
    SetWord(g, 60, 77);                 // a stored plot pixmap id
    if (c.history) SetWord(g, 56, uInt32(pos_[3]));
    graphs.push_back(g);
  }
  std::vector<PanelObject> listed;
  for (int32 g : graphs) listed.push_back({g, {}});
  Store(listed);
  ASSERT_EQ(Load(), 0);
  for (size_t i = 0; i < graphs.size(); ++i) {
    const Case& c = cases[i];
    const int32 g = graphs[i];
    EXPECT_EQ(Word(g, 44), 528u) << c.kind;
    EXPECT_EQ(Word(g, 76), c.image ? 530u : 0u) << c.kind;
    EXPECT_EQ(Word(g, 68), c.image ? uInt32(pos_[2]) : 0u) << c.kind;
    EXPECT_EQ(Word(g, 52), c.history ? 538u : 0u) << c.kind;
    EXPECT_EQ((Word(g, 0) & kObjFlagChart) != 0, c.chart) << c.kind;
    EXPECT_EQ(Word(g, 60), 0u) << "no image of this run";
  }
}

TEST_F(ObjLoadTest, LabelsLoadImagesAndTextsAndShareImages) {
  const int32 owner = New(kClsBoolean);
  const int32 l1 = New(kClsLabel, owner, 81);
  const int32 l2 = New(kClsLabel, owner, 16);
  const int32 cos = New(kClsCosmetic);
  Store({{l1, {panelwriter::Image(kObjImage, "frame"), {kTextRecordType, Text("on", 1)}}},
         {l2, {panelwriter::Image(kObjImage, "frame"), {kTextRecordType, Text("off", 1)}}},
         {cos, {panelwriter::Image(kObjImage, "other")}}});
  EXPECT_EQ(layout_.rsrcNumbers[1], (std::vector<int32>{0, 104})) << "the shared image takes no number";
  ASSERT_EQ(Load(), 0);
  const int32 img = int32(Word(l1, kObjImage));
  EXPECT_EQ(img & 0xFFFF0000, kObjImageHeld);
  EXPECT_EQ(int32(Word(l2, kObjImage)), img);
  EXPECT_EQ(FPObjImageUses(img), 2);
  EXPECT_EQ(FPImageTableCount(), 2);
  TRecord t1 = reinterpret_cast<TRecord>(uintptr_t(Word(l1, kObjText)));
  ASSERT_NE(t1, nullptr);
  UHandle text = TGetText(t1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*text + 4), GetNative32(*text)), "on");
  Str255 name;
  ASSERT_TRUE(TGetFontInfo(int32(TRWord(t1, kTRRuns + 4)), name, nullptr, nullptr, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Courier");
  DColor fg = 1, bg = 1;
  TGetColors(t1, &fg, &bg);
  EXPECT_EQ(fg, gDefaultTextColor) << "part 81 takes the default colours";
  EXPECT_EQ(bg, kTransparentColor);
  ODisposeHeapObjects(loaded_);
  EXPECT_EQ(FPImageTableCount(), 0);
  EXPECT_EQ(Word(l1, kObjText), 0u);
}

TEST_F(ObjLoadTest, LabelsOfCursorLegendsLoadTheirTextsByTheHook) {
  const int32 owner = New(kClsString);
  const int32 l = New(kClsLabel, owner, 11);
  Store({{l, {{kTextRecordType, Text("x")}}}});
  static int calls = 0;
  calls = 0;
  SetCursorLegendHook([](ObjHeap, int32, int32*) {
    ++calls;
    return 0;
  });
  EXPECT_EQ(Load(), 0);
  SetCursorLegendHook(nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_NE(Word(l, kObjText), 0u);
}

TEST_F(ObjLoadTest, ALabelWithoutOwnerFails) {
  const int32 l = New(kClsLabel);
  Store({{l, {{kTextRecordType, Text("x")}}}});
  EXPECT_EQ(Load(), kOHStopEnum);
  EXPECT_EQ(ObjLoadAbort().fence, l);
  Unload();
}

TEST_F(ObjLoadTest, MultiLabelsLoadTheirStringListsAndShowTheFalseString) {
  const int32 owner = New(kClsBoolean);
  const int32 m = New(kClsMultiLabel, owner, 22);
  SetWord(m, kObjStringList, 1);
  rsrcw::Bytes list = Be({2});
  for (const char* s : {"no", "yes"}) {
    list.push_back(uChar(std::strlen(s)));
    list.insert(list.end(), s, s + std::strlen(s));
  }
  Store({{m, {{kCPST, list}, {kTextRecordType, Text("stored")}}}});
  ASSERT_EQ(Load(), 0);
  UHandle l = reinterpret_cast<UHandle>(uintptr_t(Word(m, kObjStringList)));
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(GetNative32(*l), 2u);
  TRecord t = reinterpret_cast<TRecord>(uintptr_t(Word(m, kObjText)));
  UHandle text = TGetText(t);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*text + 4), GetNative32(*text)), "no");
  EXPECT_EQ(UpdateBoolText(loaded_, m, l, 1), kNoErr);
  text = TGetText(t);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*text + 4), GetNative32(*text)), "yes");
  PutNative32(*l, 1);  // one entry only
  EXPECT_EQ(UpdateBoolText(loaded_, m, l, 1), kArgErr);
  PutNative32(*l, 2);
  ASSERT_EQ(AZSetHandleSize(l, 8), kNoErr);  // the second string cut off
  EXPECT_EQ(UpdateBoolText(loaded_, m, l, 1), kArgErr);
  EXPECT_EQ(UpdateBoolText(loaded_, m, l, 0), kNoErr);
}

TEST_F(ObjLoadTest, MultiCosmeticsLoadEachImageAndPickTheCurrent) {
  const int32 m = New(kClsMultiCosmetic, 0, 0, 40 + 3 * 4);
  PutNative16(*src_ + m + kObjImageCount, 3);
  PutNative16(*src_ + m + kObjImageIndex, 1);
  const int32 big = New(kClsBigMultiCosmetic, 0, 0, 40 + 2 * 20);
  PutNative16(*src_ + big + kObjImageCount, 2);
  Store({{m, {panelwriter::Image(40, "a"), panelwriter::Image(44, "b"), panelwriter::Image(48, "a")}},
         {big, {panelwriter::Image(40 + 16, "c"), panelwriter::Image(60 + 16, "b")}}});
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(Word(m, 40), Word(m, 48));
  EXPECT_NE(Word(m, 40), Word(m, 44));
  EXPECT_EQ(Word(m, kObjImage), Word(m, 44));
  EXPECT_EQ(Word(big, kObjImage), Word(big, 56));
  EXPECT_EQ(Word(big, 76), Word(m, 44));
  EXPECT_EQ(FPImageTableCount(), 3);
  ODisposeHeapObjects(loaded_);
  EXPECT_EQ(FPImageTableCount(), 0);
}

TEST_F(ObjLoadTest, TheRootBindsThePanelAndUnbindsIt) {
  const int32 root = New(kClsFrontPanel);
  SetWord(root, kRootRegion, 77);
  SetWord(root, kObjDescription, 5);
  Store({{root, {}}});
  ASSERT_EQ(Load(), 0);
  DataSpaceHeader* h = reinterpret_cast<DataSpaceHeader*>(*VIRec(lvi_)->dataSpace);
  EXPECT_EQ(Word(root, kRootDataSpace), uInt32(uintptr_t(VIRec(lvi_)->dataSpace)));
  EXPECT_EQ(Word(root, kRootRegion), 0u);
  EXPECT_EQ(h->panel, loaded_);
  EXPECT_EQ(h->panelFlag1, 1);
  EXPECT_EQ(h->panelFlag2, 1);
  EXPECT_EQ(h->panelOpen, 0);
  VIRec(lvi_)->flags |= kVIFlagPanelBinding;
  ODisposeHeapObjects(loaded_);
  EXPECT_EQ(h->panel, nullptr);
  EXPECT_EQ(h->panelFlag2, 1);
  EXPECT_EQ(Word(root, kRootDataSpace), 0u);
}

TEST_F(ObjLoadTest, AFailureInTheFifthObjectUnloadsOnlyTheLoadedOnes) {
  const int32 owner = New(kClsBoolean);
  std::vector<int32> labels;
  std::vector<PanelObject> listed{{owner, {}}};
  for (int i = 0; i < 7; ++i) {
    labels.push_back(New(kClsLabel, owner, 16));
    std::vector<ObjRsrc> r{panelwriter::Image(kObjImage, i % 2 ? "odd" : "even")};
    if (i != 3) r.push_back({kTextRecordType, Text("t")});  // the fifth object has no text
    listed.push_back({labels.back(), r});
  }
  Store(listed);
  EXPECT_EQ(Load(), kOHStopEnum);
  EXPECT_EQ(ObjLoadAbort().fence, labels[3]);
  // The objects after the fence still hold their stored words.
  EXPECT_NE(Word(labels[5], kObjImage) >> 16, 0u);
  EXPECT_EQ(Word(labels[5], kObjImage) & 0xFFFF, 0u);
  EXPECT_GT(FPImageTableCount(), 0);
  const int32 liveBefore = FPObjImageUses(int32(Word(labels[0], kObjImage)));
  EXPECT_EQ(liveBefore, 2) << "the first and third labels share the even image";
  Unload();
  EXPECT_EQ(FPImageTableCount(), 0) << "every image released";
}

TEST_F(ObjLoadTest, TablesOfFilesWithoutAReadableFontTableGiveBackWhatTheyTook) {
  const int32 t = New(kClsTable);
  for (const rsrcw::Bytes& table : {rsrcw::Bytes{}, rsrcw::Bytes{0, 1, 0}}) {  // none; cut short
    fontTable_ = table;
    TXInitFonts();
    std::vector<int32> refs;
    for (int32 i = 0; i < TFontCount(); ++i) refs.push_back(TFontReferences(i));
    Store({{t, {{kHOBJ, Be({2, 1, 7})}}}});
    ASSERT_EQ(Load(), 0);
    UHandle fonts = reinterpret_cast<UHandle>(uintptr_t(Word(t, kTableFonts)));
    ASSERT_NE(fonts, nullptr);
    for (int32 i = 0; i < 2; ++i) EXPECT_EQ(int32(GetNative32(*fonts + 4 + 4 * i)), TStandardFont(0));
    ODisposeHeapObjects(loaded_);
    OHDisposeHeap(loaded_);
    loaded_ = nullptr;
    RCloseFile(file_);
    file_ = 0;
    TReleaseFontReferences();
    for (int32 i = 0; i < TFontCount(); ++i)
      EXPECT_EQ(TFontReferences(i), i < int32(refs.size()) ? refs[size_t(i)] : 0) << table.size() << " " << i;
  }
}

TEST_F(ObjLoadTest, BadResourcesFailWithoutReadingPastThem) {
  const int32 t = New(kClsTable);
  Store({{t, {{kHOBJ, Be({3, 1})}}}});  // a count past its bytes
  EXPECT_EQ(Load(), kOHStopEnum);
  EXPECT_EQ(Word(t, kTableFonts), 0u);
  Unload();
  const int32 z = New(kClsTable);
  OHDisposeBlock(src_, t);
  Store({{z, {{kHOBJ, Be({0})}}}});  // no font
  EXPECT_EQ(Load(), kOHStopEnum);
  Unload();
  OHDisposeBlock(src_, z);
  const int32 m = New(kClsMultiCosmetic, 0, 0, 44);
  PutNative16(*src_ + m + kObjImageCount, 1);
  const int32 n = New(kClsNumeric);
  Store({{m, {}}, {n, {}}});
  PutNative16(*loaded_ + m + kObjImageCount, 300);  // images past the object
  EXPECT_EQ(Load(), kOHStopEnum);
  EXPECT_EQ(ObjLoadAbort().fence, m);
  Unload();
  OHDisposeBlock(src_, m);
  SetWord(n, 48, 9999);  // a position past the map
  Store({{n, {}}});
  EXPECT_EQ(Load(), kOHStopEnum);
  Unload();
  SetWord(n, 48, uInt32(pos_[1] + 2));  // inside an element
  Store({{n, {}}});
  EXPECT_EQ(Load(), kOHStopEnum);
  Unload();
}

TEST_F(ObjLoadTest, TheWriterRoundTripsEveryObjectWithItsFields) {
  const int32 root = New(kClsFrontPanel);
  const int32 num = New(kClsNumeric, root, 0);
  SetWord(num, 48, uInt32(pos_[2]));
  PutNative16(*src_ + num + 40, 0x1234);
  const int32 label = New(kClsLabel, num, 16);
  PutNative16(*src_ + label + kObjBounds, 3);
  PutNative16(*src_ + label + kObjBounds + 6, 44);
  SetWord(label, 28, 0xAABBCCDD);
  const int32 tag = New(kClsTag, root);
  SetWord(tag, kObjDescription, 1);
  Store({{root, {}}, {num, {}}, {label, {panelwriter::Image(kObjImage, "i"), {kTextRecordType, Text("v")}}},
         {tag, {{kSTRG, Be({0, 1, 2})}}}});
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(ObjWord(loaded_, num, 1), root);
  EXPECT_EQ(GetNative16(*loaded_ + num + 40), 0x1234);
  EXPECT_EQ(GetNative16(*loaded_ + label + kObjBounds), 3);
  EXPECT_EQ(GetNative16(*loaded_ + label + kObjBounds + 6), 44);
  EXPECT_EQ(Word(label, 28), 0xAABBCCDDu);
  EXPECT_EQ(ObjInt16(loaded_, label, kObjPartId), 16);
  EXPECT_EQ(Word(num, 44), 530u);
  EXPECT_EQ(Word(tag, kTagCallbackProcWord), uInt32(uintptr_t(&TagCallbackProc)));
  EXPECT_NE(Word(tag, kObjDescription), 0u);
  EXPECT_NE(Word(label, kObjText), 0u);
  for (int32 o : {root, num, label, tag}) EXPECT_EQ(OHBlockClass(loaded_, o), OHBlockClass(src_, o));
}

}  // namespace

namespace {

class HeapLoadTest : public ObjLoadTest {
 protected:
  void SetUp() override {
    ObjLoadTest::SetUp();
    ASSERT_TRUE(linkcheck::StartLinker());
    // The load-error texts, as the application builder puts them in the
    // run-time resource file.
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddLoadErrorTexts(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle fh = AZNewHandle(int32(file.size()));
    ASSERT_NE(fh, nullptr);
    std::memcpy(*fh, file.data(), file.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &runtime_, nullptr, nullptr, fh), kNoErr);
    SetRunTimeRsrcFile(runtime_);
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    if (runtime_) RCloseFile(runtime_);
    ObjLoadTest::TearDown();
    linkcheck::DisposeTables();
  }
  // The alert the loader shows for the load error code, as its one button
  // alert receives it.
  static std::string Alert(int32 code) {
    static std::string shown;
    shown.clear();
    SetOneButtonAlertProc([](int32, const void* message, ConstPStr, int32, int32) -> int32 {
      shown = static_cast<const char*>(message);
      return 0;
    });
    SaveErrorAlert(reinterpret_cast<ConstPStr>("\011Loaded.vi"), kLoadErrorStrId, kLoadErrorsListId, kNoErr, code);
    SetOneButtonAlertProc(nullptr);
    return shown;
  }
  // Writes the heap with its link information and loads it as a VI's panel
  // is loaded; the load error code is in gQXLoadErrorCode.
  // patchClass, when given, is written into the stored class word of the
  // object at patchAt (the writer converts objects by their real class).
  MgErr LoadWhole(const std::vector<PanelObject>& objects, int32 patchAt = 0, uInt32 patchClass = 0) {
    rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
    w.Add(kFontTableType, kFontTableId, panelwriter::FontTableRsrc({{"Own", 10}}, 1));
    rsrcw::Bytes heap = panelwriter::PanelHeapImage(src_, 100, objects, &w);
    if (heap.empty()) return kArgErr;
    for (int i = 0; patchAt && i < 4; ++i) heap[size_t(patchAt - 4 + i)] = uChar(patchClass >> (24 - 8 * i));
    LinkInfoRecords info;
    info.classCode = kPanelHeapKind;
    info.name = "Loaded.vi";
    w.Add(kPanelHeapKind, 1, heap);
    w.Add(kLinkInfoPanel, 1, liw::Write(info));
    const std::string host = dir_.Dir() + "/Loaded.vi";
    const rsrcw::Bytes bytes = w.Write();
    std::ofstream(host, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    const std::string text = "C:" + host;
    std::string own = text;
    for (char& ch : own) ch = ch == '/' ? '\\' : ch;
    Path path = nullptr;
    if (FTextToPath(reinterpret_cast<const uChar*>(own.data()), int32(own.size()), &path) != kNoErr) return kArgErr;
    const MgErr opened = ROpenFile(path, kRsrcReadOnly, &file_, nullptr, nullptr);
    FDisposePath(path);
    if (opened != kNoErr) return kArgErr;
    std::memcpy(VIRec(lvi_)->name, "\011Loaded.vi", 10);
    VIRec(lvi_)->rsrcFile = file_;
    Bool32 readOnly = 0;
    RGetModDate(nullptr, file_, &VIRec(lvi_)->modDate, &readOnly);
    int32 linkStatus = 0;
    const MgErr err = LoadVIHeap(lvi_, kPanelHeapRsrcType, 1, file_, kLoadErrFPLinkInfo, &linkStatus);
    VIRec(lvi_)->rsrcFile = 0;
    return err;
  }
  TempFolder dir_{"heapload"};
  RsrcFileRef runtime_ = 0;
};

TEST_F(HeapLoadTest, ObjectsOfNoClassOrOutsideTheirBlocksRefuseTheHeap) {
  const char* const kUnknown = "This VI cannot be loaded because it contains objects not recognized by Quenlix.";
  const char* const kNoPanel = "Could not load front panel.";
  struct Case {
    const char* what;
    int32 error;
    const char* text;  // of the load error, in the alert
  } cases[] = {{"class 179", 26, kUnknown}, {"class 0x7FFFFFFF", 26, kUnknown}, {"a 40-byte Numeric", 3, kNoPanel},
               {"a part list inside a block", 3, kNoPanel}, {"an owner past the heap", 3, kNoPanel}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OHDisposeHeap(src_);
    src_ = OHNewHeap(1024, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    const int32 root = New(kClsFrontPanel);
    PutNative32(*src_ + OHWord(src_, kOHExtension) + kHeapExtRoot, uInt32(root));
    const int32 o = New(kClsString, root);
    std::string what = c.what;
    uInt32 patch = 0;
    if (what == "class 179") patch = 179;
    if (what == "class 0x7FFFFFFF") patch = 0x7FFFFFFF;
    if (what == "a 40-byte Numeric") patch = kClsNumeric;
    if (what == "a part list inside a block") SetWord(o, kObjPartList, uInt32(root + 4));
    if (what == "an owner past the heap") SetWord(o, kObjOwner, 0x100000);
    gQXLoadErrorCode = 0;
    EXPECT_NE(LoadWhole({{root, {}}, {o, {}}}, patch ? o : 0, patch), kNoErr);
    EXPECT_EQ(gQXLoadErrorCode, c.error);
    EXPECT_EQ(Alert(gQXLoadErrorCode), std::string("An error occurred loading VI 'Loaded.vi'.\nQuenlix load error code ") +
                                           std::to_string(c.error) + ": " + c.text);
    EXPECT_EQ(VIRec(lvi_)->panelHeap, nullptr);
    ClearReports();
    SetBadClassHook(&BadProcLoadMethod);
    ClearBadClassHook();
    EXPECT_EQ(Asserts(), 0) << "no hook left";
    RCloseFile(file_);
    file_ = 0;
  }
  gQXLoadErrorCode = 0;
}

TEST_F(HeapLoadTest, APanelOfEveryLoadableClassPassesTheCheckAndLoads) {
  const int32 root = New(kClsFrontPanel);
  std::vector<PanelObject> objects = {{root, {}}};
  for (int32 cls : {77, 79, 80, 81, 82, 83, 85, 86, 87, 88, 89, 91, 94, 95, 97, 100, 101, 105, 143, 148, 171, 175, 18,
                    104, 166, 17})
    objects.push_back({New(cls, root), {}});
  objects.push_back({vib::NewList(src_, {objects[1].object, objects[2].object}), {}});
  SetWord(objects[5].object, kObjPartList, uInt32(objects.back().object));
  Store(objects);
  const std::vector<uChar> before(*loaded_, *loaded_ + AZGetHandleSize(loaded_));
  EXPECT_EQ(CheckStoredPanelObjects(loaded_), kNoErr);
  EXPECT_EQ(std::vector<uChar>(*loaded_, *loaded_ + AZGetHandleSize(loaded_)), before) << "nothing to clear";
  EXPECT_EQ(Load(), 0);
  EXPECT_EQ(gQXLoadErrorCode, 0);
}

}  // namespace
