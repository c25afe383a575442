// Calling-hierarchy search, VI titles, the load error alert, and the boundary
// pieces they stand on: the headless alerts, window titles, the run-time
// resource file that tools/ builds and the temporary resource file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/link/hierarchy.h"
#include "engine/objswap.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "data_test_util.h"
#include "engine_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

using pathtest::PS;
using dtest::LiveHandles;
using pathtest::Str;

// VI records with a name, an optional title and a list of callers.
class VIs {
 public:
  ~VIs() {
    for (UHandle h : handles_) AZDisposeHandle(h);
  }
  UHandle New(const std::string& name) {
    UHandle vi = Keep(AZNewHClr(kVIHeaderSize));
    PStrOf(name, VIRec(vi)->name);
    return vi;
  }
  // Sets the callers list: a count word, then the handles.
  void SetCallers(UHandle vi, const std::vector<UHandle>& callers, int32 count = -1) {
    UHandle list = Keep(AZNewHClr(int32(4 + 4 * callers.size())));
    PutNative32(*list, uInt32(count < 0 ? int32(callers.size()) : count));
    for (size_t i = 0; i < callers.size(); ++i) PutNative32(*list + 4 + 4 * i, uInt32(uintptr_t(callers[i])));
    VIRec(vi)->callers = list;
  }
  // A title handle holding the bytes given (a Pascal string, or less).
  void SetTitleBytes(UHandle vi, const std::string& bytes) {
    UHandle t = Keep(AZNewHandle(int32(bytes.size())));
    if (!bytes.empty()) std::memcpy(*t, bytes.data(), bytes.size());
    VIRec(vi)->title = t;
  }
  void SetTitle(UHandle vi, const std::string& title) { SetTitleBytes(vi, char(title.size()) + title); }
  UHandle Keep(UHandle h) {
    EXPECT_NE(h, nullptr);
    handles_.push_back(h);
    return h;
  }

 private:
  static void PStrOf(const std::string& s, uChar* out) {
    out[0] = uChar(s.size());
    std::memcpy(out + 1, s.data(), s.size());
  }
  std::vector<UHandle> handles_;
};

// ---- hierarchy ----------------------------------------------------------------------

class VIHierarchy : public qxtest::EngineTest {
 protected:
  VIs vis_;
};

TEST_F(VIHierarchy, NamesAboveAVIAreFoundIgnoringCase) {
  UHandle top = vis_.New("Top.vi"), other = vis_.New("Other.vi"), middle = vis_.New("Middle.vi"),
          leaf = vis_.New("Leaf.vi"), sibling = vis_.New("Sibling.vi");
  vis_.SetCallers(leaf, {middle});
  vis_.SetCallers(middle, {top, other});
  vis_.SetCallers(sibling, {middle});
  const struct {
    UHandle vi;
    const char* name;
    int32 found;
  } cases[] = {
      {leaf, "TOP.VI", 1},      // the caller's caller, in other case
      {leaf, "other.Vi", 1},    // the first of a caller list
      {leaf, "leaf.vi", 1},     // the VI's own name
      {leaf, "Middle.vi", 1},
      {leaf, "Sibling.vi", 0},  // a VI beside it, not above
      {leaf, "Unrelated", 0},
      {leaf, "Top.v", 0},
      {leaf, "", 0},
      {top, "Leaf.vi", 0},      // only callers are searched, never callees
      {middle, "Sibling.vi", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VIHierarchyHasName(c.vi, PS(c.name)), c.found) << c.name;
  EXPECT_EQ(VIHierarchyHasName(nullptr, PS("Top.vi")), 0);
  EXPECT_EQ(VIHierarchyHasName(leaf, nullptr), 0);
}

TEST_F(VIHierarchy, LoopsSharedCallersAndBadListsEndTheSearch) {
  UHandle a = vis_.New("A"), b = vis_.New("B"), c = vis_.New("C"), d = vis_.New("D");
  vis_.SetCallers(a, {b, c});
  vis_.SetCallers(b, {c, a});  // a loop back to the start
  vis_.SetCallers(c, {b});
  EXPECT_EQ(VIHierarchyHasName(a, PS("nowhere")), 0);
  EXPECT_EQ(VIHierarchyHasName(c, PS("a")), 1);
  // A count larger than the list holds is cut; negative counts and null entries are empty.
  vis_.SetCallers(d, {a}, 1000);
  EXPECT_EQ(VIHierarchyHasName(d, PS("c")), 1);
  vis_.SetCallers(d, {a}, -1 & 0x7FFFFFFF);
  EXPECT_EQ(VIHierarchyHasName(d, PS("b")), 1);
  PutNative32(*VIRec(d)->callers, 0x80000000u);
  EXPECT_EQ(VIHierarchyHasName(d, PS("b")), 0);
  vis_.SetCallers(d, {nullptr, nullptr});
  EXPECT_EQ(VIHierarchyHasName(d, PS("b")), 0);
  EXPECT_EQ(VIHierarchyHasName(d, PS("D")), 1);
  // Forty diamonds of shared callers: each VI is searched once, not once per path.
  UHandle bottom = vis_.New("bottom"), cur = bottom;
  for (int i = 0; i < 40; ++i) {
    UHandle x = vis_.New("x" + std::to_string(i)), y = vis_.New("y" + std::to_string(i)),
            join = vis_.New("j" + std::to_string(i));
    vis_.SetCallers(cur, {x, y});
    vis_.SetCallers(x, {join});
    vis_.SetCallers(y, {join});
    cur = join;
  }
  EXPECT_EQ(VIHierarchyHasName(bottom, PS("nothing")), 0);
  EXPECT_EQ(VIHierarchyHasName(bottom, PS("J39")), 1);
}

// ---- titles -------------------------------------------------------------------------

class VITitle : public qxtest::EngineTest {
 protected:
  void TearDown() override {
    SetWindowTitleProc(nullptr);
    qxtest::EngineTest::TearDown();
  }
  std::string Title(UHandle vi, Bool32 plain, const std::string& start = "") {
    PS buf(start);
    GetVITitle(vi, buf, plain);
    return Str(buf);
  }
  VIs vis_;
};

TEST_F(VITitle, TheTitleStringOrTheNameWithOrWithoutTheMark) {
  const std::string longName(255, 'n');
  const struct {
    const char* what;
    std::string name;
    bool hasTitle;
    std::string titleBytes;
    Bool32 plain;
    std::string start, expect;
  } cases[] = {
      {"name, plain", "Add.vi", false, "", 1, "", "Add.vi"},
      {"name, marked", "Add.vi", false, "", 0, "", "__Add.vi"},
      {"title, plain", "Add.vi", true, "\x08My Panel", 1, "", "My Panel"},
      {"title, marked", "Add.vi", true, "\x08My Panel", 0, "", "__My Panel"},
      {"filled buffer kept", "Add.vi", true, "\x08My Panel", 0, "keep", "keep"},
      {"filled buffer kept, no title", "Add.vi", false, "", 1, "x", "x"},
      {"long name cut after the mark", longName, false, "", 0, "", "__" + std::string(253, 'n')},
      {"long name, plain", longName, false, "", 1, "", longName},
      {"title longer than its handle", "Add.vi", true, "\xC8" "abcd", 1, "", "abcd"},
      {"empty title handle", "Add.vi", true, "", 0, "", "__"},
      {"empty title string", "Add.vi", true, std::string(1, '\0'), 1, "", ""},
      {"title bytes 128-255", "Add.vi", true, "\x03\xC9\xFF\x80", 1, "", "\xC9\xFF\x80"},
  };
  for (const auto& c : cases) {
    UHandle vi = vis_.New(c.name);
    if (c.hasTitle) vis_.SetTitleBytes(vi, c.titleBytes);
    EXPECT_EQ(Title(vi, c.plain, c.start), c.expect) << c.what;
  }
  Str255 buf = {0};
  GetVITitle(nullptr, buf, 0);
  EXPECT_EQ(buf[0], 0);
}

struct TitleLog {
  static std::vector<std::pair<int32, std::string>>& Calls() {
    static std::vector<std::pair<int32, std::string>> calls;
    return calls;
  }
  static void Record(int32 window, ConstPStr title) { Calls().emplace_back(window, Str(title)); }
};

TEST_F(VITitle, AWindowOfThePanelGetsThePlainTitle) {
  TitleLog::Calls().clear();
  UHandle vi = vis_.New("Panel.vi");
  vis_.SetTitle(vi, "Custom");
  // Without a window manager there is no window to title.
  UpdateVIWindowTitle(vi);
  SetWindowTitleProc(&TitleLog::Record);
  UpdateVIWindowTitle(vi);  // no panel heap
  UpdateVIWindowTitle(nullptr);
  ObjHeap panel = OHNewHeap(200, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ASSERT_NE(panel, nullptr);
  VIRec(vi)->panelHeap = panel;
  UpdateVIWindowTitle(vi);  // a panel without a window
  EXPECT_TRUE(TitleLog::Calls().empty());
  const uInt32 ext = OHWord(panel, kOHExtension);
  PutNative32(*panel + ext + 40, 77);
  UpdateVIWindowTitle(vi);
  VIRec(vi)->title = nullptr;
  UpdateVIWindowTitle(vi);
  const std::vector<std::pair<int32, std::string>> expect = {{77, "Custom"}, {77, "Panel.vi"}};
  EXPECT_EQ(TitleLog::Calls(), expect);
  OHDisposeHeap(panel);
}

// ---- the run-time resource file and alerts --------------------------------------------

// Alerts as the headless one-button alert shows them.
struct Shown {
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> t;
    return t;
  }
  static int Count(const std::string& needle) {
    int n = 0;
    for (const auto& t : Texts()) n += t.find(needle) != std::string::npos;
    return n;
  }
  static int32_t OnAlert(const char*, const char* text, int32_t buttons, int32_t) {
    Texts().push_back(text ? text : "");
    return PlatAlertDefaultAnswer(buttons);
  }
};

class RunTimeFileTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] {
      ASSERT_EQ(RInitResources(), kNoErr);
      ASSERT_EQ(FInitFileMgr(), kNoErr);
    });
    Open({});
    Shown::Texts().clear();
    PlatSetAlertProc(&Shown::OnAlert);
  }
  void TearDown() override {
    SetOneButtonAlertProc(nullptr);
    Close();
    EngineTest::TearDown();
  }
  // Opens a run-time resource file from the tools' builder with the extra
  // string lists given, and makes it the engine's.
  void Open(const std::vector<std::pair<int32, std::vector<std::string>>>& extra, bool loadAlert = true) {
    Close();
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    if (loadAlert) qxbuild::AddLoadErrorTexts(&w);
    qxbuild::AddMgErrTexts(&w);
    for (const auto& l : extra) w.Add(rsrcfmt::kTypeStrList, l.first, rsrcw::StrList(l.second));
    const rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rt_, nullptr, nullptr, h), kNoErr);
    SetRunTimeRsrcFile(rt_);
  }
  void Close() {
    SetRunTimeRsrcFile(0);
    if (rt_) RCloseFile(rt_);
    rt_ = 0;
  }
  static std::vector<std::string> Texts() { return Shown::Texts(); }
  RsrcFileRef rt_ = 0;
};

class LoadErrorAlert : public RunTimeFileTest {};

TEST_F(LoadErrorAlert, WithoutAManagerErrorTheOneButtonAlertShowsBothLines) {
  SaveErrorAlert(PS("X"), kLoadErrorStrId, kLoadErrorsListId, kNoErr, 8);
  const std::vector<std::string> expect = {
      "An error occurred loading VI 'X'.\nQuenlix load error code 8: Could not load VI resource."};
  EXPECT_EQ(Texts(), expect);
}

TEST_F(LoadErrorAlert, AManagerErrorGoesToTheErrorAlertWithItsOwnTextFirst) {
  SaveErrorAlert(PS("Sub.vi"), kLoadErrorStrId, kLoadErrorsListId, kMemFullErr, 23);
  const std::vector<std::string> expect = {
      "Memory is full.\nAn error occurred loading VI 'Sub.vi'.\n"
      "Quenlix load error code 23: There is not enough memory to load this VI."};
  EXPECT_EQ(Texts(), expect);
  // Both go through the one-button alert the shell may install.
  static std::vector<std::pair<int32, std::string>> got;
  got.clear();
  SetOneButtonAlertProc([](int32 kind, const void* message, ConstPStr, int32 h, int32 v) -> int32 {
    EXPECT_EQ(h, kAlertDefaultPos);
    EXPECT_EQ(v, kAlertDefaultPos);
    got.emplace_back(kind, kind == kAlertCStr ? static_cast<const char*>(message) : "?");
    return 0;
  });
  SaveErrorAlert(PS("A"), kLoadErrorStrId, kLoadErrorsListId, kFileNotFoundErr, 9);
  SaveErrorAlert(PS("B"), kLoadErrorStrId, kLoadErrorsListId, kNoErr, 12);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].second,
            "File not found.\nAn error occurred loading VI 'A'.\n"
            "Quenlix load error code 9: Version of VI is newer than Quenlix version.");
  EXPECT_EQ(got[1].second, "An error occurred loading VI 'B'.\nQuenlix load error code 12: Could not load connector type map.");
  EXPECT_EQ(Texts().size(), 1u);  // nothing more reached the headless alert
}

TEST_F(LoadErrorAlert, TheListKeepsEntryNForCodeN) {
  Str255 s;
  const struct {
    int32 code;
    const char* text;
  } cases[] = {
      {1, "Quenlix load error code %ld: %p"},
      {2, "Could not load front panel link information."},
      {17, "Could not load VI's link information."},
      {18, ""}, {19, ""}, {20, ""},
      {21, "An external subroutine required for execution could not be found."},
      {22, ""},
      {23, "There is not enough memory to load this VI."},
      {26, "This VI cannot be loaded because it contains objects not recognized by Quenlix."},
      {31, "Could not load run-time menu path."},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RGetIndString(rt_, s, kLoadErrorsListId, c.code), kNoErr) << c.code;
    EXPECT_EQ(Str(s), c.text) << c.code;
  }
  EXPECT_EQ(RGetIndString(rt_, s, kLoadErrorsListId, 32), kRsrcNotFoundErr);
  UHandle list = nullptr;
  ASSERT_EQ(RGet(rt_, rsrcfmt::kTypeStrList, kLoadErrorsListId, &list), kNoErr);
  EXPECT_EQ(GetBE16(*list), kLoadErrorsCount);
  UHandle first = nullptr;
  ASSERT_EQ(RGetString(rt_, kLoadErrorStrId, &first), kNoErr);
  EXPECT_EQ(Str(*first), "An error occurred loading VI '%p'.");
}

TEST_F(LoadErrorAlert, CodesWithoutTextFormatAnEmptyText) {
  for (int32 code : {22, 40, 18, 0, -3, 100000}) {
    Shown::Texts().clear();
    SaveErrorAlert(PS("X"), kLoadErrorStrId, kLoadErrorsListId, kNoErr, code);
    ASSERT_EQ(Texts().size(), 1u);
    EXPECT_EQ(Texts()[0], "An error occurred loading VI 'X'.\nQuenlix load error code " + std::to_string(code) + ": ");
  }
}

TEST_F(LoadErrorAlert, LongNamesAndOddBytesAreShownWhole) {
  const std::string name = std::string(250, 'v') + "\xE9.vi";
  SaveErrorAlert(PS(name), kLoadErrorStrId, kLoadErrorsListId, kNoErr, 31);
  ASSERT_EQ(Texts().size(), 1u);
  EXPECT_EQ(Texts()[0], "An error occurred loading VI '" + name.substr(0, 255) +
                            "'.\nQuenlix load error code 31: Could not load run-time menu path.");
  Shown::Texts().clear();
  SaveErrorAlert(nullptr, kLoadErrorStrId, kLoadErrorsListId, kNoErr, 13);
  EXPECT_EQ(Texts(), std::vector<std::string>{"An error occurred loading VI ''.\nQuenlix load error code 13: Could not load icon."});
}

TEST_F(LoadErrorAlert, MissingTextsAreReportedAndLeftEmpty) {
  Open({}, false);
  SaveErrorAlert(PS("X"), kLoadErrorStrId, kLoadErrorsListId, kNoErr, 8);
  // The missing first line is a failure report; the alert still comes.
  EXPECT_EQ(Shown::Count("the load error text is missing"), 1);
  EXPECT_EQ(Texts().back(), "\n");
  Open({});
  SaveErrorAlert(PS("X"), kLoadErrorStrId + 1, kLoadErrorsListId, kNoErr, 8);
  EXPECT_EQ(Shown::Count("the load error text is missing"), 2);
  EXPECT_EQ(Texts().back(), "\nQuenlix load error code 8: Could not load VI resource.");
}

// ---- boundary: alerts, the run-time file, the temporary resource file -------------------

class TmpRsrcFile : public RunTimeFileTest {
 protected:
  void SetUp() override {
    RunTimeFileTest::SetUp();
    tmp_ = Create("qxtr.rsc");
    ASSERT_NE(tmp_, 0u);
    SetTmpQXRsrcFile(tmp_);
    rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
    w.Add(kCode, 5, code_, "Adder");
    w.Add(kCode, 6, rsrcw::BytesOf("second"));
    w.Add(kPlat, 5, rsrcw::BytesOf("i386"));
    const rsrcw::Bytes bytes = w.Write();
    UHandle h = AZNewHandle(int32(bytes.size()));
    std::memcpy(*h, bytes.data(), bytes.size());
    ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, &src_, nullptr, nullptr, h), kNoErr);
  }
  void TearDown() override {
    SetTmpQXRsrcFile(0);
    for (RsrcFileRef f : {tmp_, src_, dst_})
      if (f) RCloseFile(f);
    RunTimeFileTest::TearDown();
  }
  // A new resource file in the test's folder, open read-write.
  RsrcFileRef Create(const std::string& name) {
    pathtest::Owned p(HostPath(name, dir_.Dir()));
    EXPECT_EQ(RCreateFile(p, 1, FourCC("QNLX"), FourCC("QXRS"), 0666), kNoErr);
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(p, kRsrcReadWrite, &ref, nullptr, nullptr), kNoErr);
    return ref;
  }
  static Path HostPath(const std::string& name, const std::string& dir) {
    std::string text = "C:" + dir + "/" + name;
    for (auto& c : text)
      if (c == '/') c = '\\';
    return pathtest::ToPath(text);
  }
  static std::string Bytes(UHandle h) {
    return h ? std::string(reinterpret_cast<const char*>(*h), size_t(AZGetHandleSize(h))) : "<none>";
  }
  static std::string Read(RsrcFileRef f, ResType type, int32 id, MgErr* err = nullptr) {
    UHandle h = nullptr;
    MgErr e = RGet(f, type, id, &h);
    if (err) *err = e;
    return e ? "<" + std::to_string(e) + ">" : Bytes(h);
  }
  static int32 Count(RsrcFileRef f, ResType type) {
    int32 n = -1;
    RCount(f, type, &n);
    return n;
  }
  static constexpr ResType kCode = FourCC("QXSB"), kPlat = FourCC("PLAT");
  const rsrcw::Bytes code_ = {0x55, 0x89, 0xE5, 0x00, 0xFF, 0x5D, 0xC3};
  TempFolder dir_{"qxtmp"};
  RsrcFileRef tmp_ = 0, src_ = 0, dst_ = 0;
};

// The boundary pieces: the temporary resource file as start-up hands it
// over, the headless alerts and the texts of the run-time resource file.
class Boundary : public TmpRsrcFile {};

TEST_F(Boundary, TheTemporaryFileIsTheOneStartUpOpens) {
  EXPECT_EQ(TmpQXRsrcFile(), tmp_);
  uInt32 type = 0, creator = 0;
  pathtest::Owned p(HostPath("qxtr.rsc", dir_.Dir()));
  EXPECT_EQ(RIsResFile(p, &type, &creator), kNoErr);
  EXPECT_EQ(type, FourCC("QXRS"));
  EXPECT_EQ(creator, FourCC("QNLX"));
  EXPECT_EQ(RUniqueID(tmp_, kCode), 128);  // a new file: no types yet
  SetTmpQXRsrcFile(0);
  EXPECT_EQ(TmpQXRsrcFile(), 0u);
}


TEST_F(Boundary, ErrDialogShowsTheCodesTextAndTheDetail) {
  Open({{kAppErrTextsListId, {"VI is currently not idle.", "b", "c", "d", "e", "f", "g", "h", "i", "j",
                              "No default or operate data.", "l", "m", "n", "o", "p", "q", "r",
                              "Unspecified error occurred."}}});
  ErrDialog(kNoErr, PS("nothing"));
  EXPECT_TRUE(Texts().empty());
  ErrDialog(kFileNotFoundErr, nullptr);
  ErrDialog(kMemFullErr, PS("while loading"));
  ErrDialog(1010, nullptr);
  ErrDialog(1000, PS(""));
  ErrDialog(95, nullptr);     // no manager text: the unspecified error's
  ErrDialog(2000, nullptr);
  ErrDialog(-5, nullptr);
  ErrDialog(kMgErrTextCount, nullptr);
  const std::vector<std::string> expect = {
      "File not found.",
      "Memory is full.\nwhile loading",
      "No default or operate data.",
      "VI is currently not idle.\n",
      "Unspecified error occurred.",
      "Unspecified error occurred.",
      "Unspecified error occurred.",
      DBMgErrText(kMgErrTextCount),
  };
  EXPECT_EQ(Texts(), expect);
  // Without the application list the built-in text stands in.
  Open({});
  Shown::Texts().clear();
  ErrDialog(1010, nullptr);
  ErrDialog(kCancelErr, nullptr);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kUnspecifiedErrText, DBMgErrText(kCancelErr)}));
  // Without a run-time file at all as well.
  Close();
  Shown::Texts().clear();
  ErrDialog(kMemFullErr, nullptr);
  EXPECT_EQ(Texts(), std::vector<std::string>{kUnspecifiedErrText});
}

TEST_F(Boundary, TheRunTimeFileCarriesEveryManagerErrorText) {
  Str255 s;
  for (MgErr code = 1; code <= kMgErrTextCount; ++code) {
    ASSERT_EQ(RGetIndString(rt_, s, kMgErrTextsListId, code), kNoErr) << code;
    EXPECT_EQ(Str(s), DBMgErrText(code)) << code;
  }
  EXPECT_EQ(RGetIndString(rt_, s, kMgErrTextsListId, kMgErrTextCount + 1), kRsrcNotFoundErr);
}

TEST_F(Boundary, AnErrorAlertRaisedWhileOneIsUpIsDropped) {
  static int depth;
  depth = 0;
  SetOneButtonAlertProc([](int32, const void* message, ConstPStr, int32, int32) -> int32 {
    Shown::Texts().push_back(static_cast<const char*>(message));
    if (++depth < 3) ErrDialog(kFileIOErr, nullptr);  // as a timer inside the alert might
    return 0;
  });
  ErrDialog(kMemFullErr, nullptr);
  EXPECT_EQ(Texts(), std::vector<std::string>{"Memory is full."});
  ErrDialog(kFileNotFoundErr, nullptr);  // the flag is down again
  EXPECT_EQ(Texts().size(), 2u);
}

TEST_F(Boundary, TheHeadlessOneButtonAlertTakesBothStringKinds) {
  EXPECT_EQ(OneButtonAlert(kAlertCStr, "a C string", nullptr, kAlertDefaultPos, kAlertDefaultPos), 0);
  EXPECT_EQ(OneButtonAlert(kAlertPStr, PS("a Pascal string"), PS("Go"), 10, 10), 0);
  EXPECT_EQ(OneButtonAlert(kAlertPStr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(OneButtonAlert(54, "other", nullptr, 0, 0), kArgErr);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"a C string", "a Pascal string", ""}));
}

TEST_F(TmpRsrcFile, AResourceComesBackByteForByteUnderItsNewId) {
  const std::string code(code_.begin(), code_.end());
  UHandle h = nullptr;
  const int32 id = XferRsrcToTmpQXRsrcFile(src_, kCode, 5, &h);
  ASSERT_GT(id, 0);
  EXPECT_EQ(Bytes(h), code);
  // Added with no name, and it is the temporary file's handle.
  Str255 name;
  int32 gotId = 0;
  ResType gotType = 0;
  ASSERT_EQ(RGetInfo(h, &gotId, &gotType, name), kNoErr);
  EXPECT_EQ(gotId, id);
  EXPECT_EQ(gotType, kCode);
  EXPECT_EQ(name[0], 0);
  RsrcFileRef owner = 0;
  ASSERT_EQ(RFindByHandle(h, &owner, nullptr, nullptr), kNoErr);
  EXPECT_EQ(owner, tmp_);
  UHandle again = nullptr;
  ASSERT_EQ(GetTmpRsrc(kCode, id, &again), kNoErr);
  EXPECT_EQ(again, h);
  // The source keeps its resource.
  EXPECT_EQ(Read(src_, kCode, 5), code);
  // A second transfer takes another id.
  const int32 id2 = XferRsrcToTmpQXRsrcFile(src_, kCode, 6, nullptr);
  EXPECT_GT(id2, 0);
  EXPECT_NE(id2, id);
  // Back into another file, written and read again.
  dst_ = Create("target.rsc");
  ASSERT_NE(dst_, 0u);
  ASSERT_EQ(XferRsrcFromTmpQXRsrcFile(dst_, kCode, id, 42), kNoErr);
  EXPECT_EQ(Read(dst_, kCode, 42), code);
  EXPECT_EQ(Read(tmp_, kCode, id), code);  // a copy: the temporary file keeps its own
  ASSERT_EQ(RCloseFile(dst_), kNoErr);
  dst_ = 0;
  pathtest::Owned p(HostPath("target.rsc", dir_.Dir()));
  ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &dst_, nullptr, nullptr), kNoErr);
  EXPECT_EQ(Read(dst_, kCode, 42), code);
  EXPECT_EQ(Read(dst_, kCode, id2), "<15>");
}

TEST_F(TmpRsrcFile, AMissingResourceGivesZeroAndTakesNoId) {
  const int32 before = Count(tmp_, kCode);
  UHandle h = reinterpret_cast<UHandle>(1);
  const int32 probe = RUniqueID(tmp_, kCode);  // the id a transfer would be given next is past this one
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(src_, kCode, 999, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(src_, FourCC("NONE"), 5, nullptr), 0);
  EXPECT_EQ(Count(tmp_, kCode), before);
  for (int32 id = probe; id < probe + 4; ++id) EXPECT_EQ(Read(tmp_, kCode, id), "<15>");
  // A source that is not an open file.
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(0, kCode, 5, &h), 0);
  EXPECT_EQ(Count(tmp_, kCode), before);
}

TEST_F(TmpRsrcFile, WithoutATemporaryFileNothingMoves) {
  UHandle h = reinterpret_cast<UHandle>(1);
  SetTmpQXRsrcFile(0);
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(src_, kCode, 5, &h), 0);
  EXPECT_EQ(h, nullptr);
  UHandle direct = nullptr;
  const MgErr unknown = RGet(0, kCode, 5, &direct);
  EXPECT_NE(unknown, kNoErr);
  EXPECT_EQ(GetTmpRsrc(kCode, 128, &h), unknown);
  EXPECT_EQ(RemRsrcFromTmpQXRsrcFile(kCode, 128), unknown);
  EXPECT_EQ(XferRsrcFromTmpQXRsrcFile(src_, kCode, 128, 7), unknown);
  // A temporary file that was closed: its reference is no file any more,
  // and RUniqueID's 13 for it must not pass for an id.
  ASSERT_EQ(RCloseFile(tmp_), kNoErr);
  SetTmpQXRsrcFile(tmp_);
  UHandle loaded = nullptr;
  ASSERT_EQ(RGet(src_, kCode, 5, &loaded), kNoErr);
  const int32 allocated = LiveHandles();
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(src_, kCode, 5, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(LiveHandles(), allocated);
  // The source was not even read: its loaded handle is still its own.
  RsrcFileRef owner = 0;
  EXPECT_EQ(RFindByHandle(loaded, &owner, nullptr, nullptr), kNoErr);
  EXPECT_EQ(owner, src_);
  tmp_ = 0;
  EXPECT_EQ(Read(src_, kCode, 5), std::string(code_.begin(), code_.end()));
}

TEST_F(TmpRsrcFile, RemovalAndFailedCopiesKeepTheResourceManagersErrors) {
  const int32 id = XferRsrcToTmpQXRsrcFile(src_, kPlat, 5, nullptr);
  ASSERT_GT(id, 0);
  UHandle h = nullptr;
  ASSERT_EQ(GetTmpRsrc(kPlat, id, &h), kNoErr);
  EXPECT_EQ(Bytes(h), "i386");
  // Copies that cannot be added leave nothing behind.
  const int32 allocated = LiveHandles();
  EXPECT_EQ(XferRsrcFromTmpQXRsrcFile(src_, kPlat, id, 9), kFilePermErr);  // a read-only file
  dst_ = Create("target.rsc");
  ASSERT_EQ(XferRsrcFromTmpQXRsrcFile(dst_, kPlat, id, 9), kNoErr);
  const int32 withCopy = LiveHandles();
  EXPECT_GT(withCopy, allocated);
  EXPECT_EQ(XferRsrcFromTmpQXRsrcFile(dst_, kPlat, id, 9), kCantAddRsrcErr);  // the id is taken
  EXPECT_EQ(LiveHandles(), withCopy);
  EXPECT_EQ(XferRsrcFromTmpQXRsrcFile(dst_, kPlat, id + 100, 10), kRsrcNotFoundErr);
  // Removed, it is gone from the temporary file only.
  ASSERT_EQ(RemRsrcFromTmpQXRsrcFile(kPlat, id), kNoErr);
  EXPECT_EQ(GetTmpRsrc(kPlat, id, &h), kRsrcNotFoundErr);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(RemRsrcFromTmpQXRsrcFile(kPlat, id), kRsrcNotFoundErr);
  EXPECT_EQ(Read(dst_, kPlat, 9), "i386");
  EXPECT_EQ(Read(src_, kPlat, 5), "i386");
}

TEST_F(TmpRsrcFile, ATemporaryFileThatCannotTakeResourcesKeepsTheSourceIntact) {
  // A read-only temporary file: the id is found but the add fails; the
  // detached handle is not lost in between.
  pathtest::Owned p(HostPath("qxtr.rsc", dir_.Dir()));
  ASSERT_EQ(RCloseFile(tmp_), kNoErr);
  ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &tmp_, nullptr, nullptr), kNoErr);
  SetTmpQXRsrcFile(tmp_);
  UHandle h = reinterpret_cast<UHandle>(1);
  const int32 allocated = LiveHandles();
  EXPECT_EQ(XferRsrcToTmpQXRsrcFile(src_, kCode, 5, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(LiveHandles(), allocated);
  EXPECT_EQ(Read(src_, kCode, 5), std::string(code_.begin(), code_.end()));
  EXPECT_EQ(RemRsrcFromTmpQXRsrcFile(kCode, 128), kRsrcNotFoundErr);
}

}  // namespace
