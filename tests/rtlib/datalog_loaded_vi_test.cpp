// A VI whose file the tools write with a log binding, loaded by the loader,
// logs its panel: the log carries the stored record type and the logged
// values, diagrams read them back, and retrieval shows them on the panel.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/runtime_root.h"
#include "engine/viinst_test_support.h"
#include "engine/link_check.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/datetime.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "rtlib/datalog.h"
#include "rtlib/filerefnum.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"

namespace {

using Values = std::pair<int32, double>;

// The panel data {I32, DBL} at its element offsets.
Values ReadPanel(const TypeDescriptor* panel, const void* data) {
  const uChar* p = static_cast<const uChar*>(data);
  Values v{};
  std::memcpy(&v.first, p, 4);
  std::memcpy(&v.second, p + AlignDatum(ElemTD(panel, 1), 4), 8);
  return v;
}

// The scripted panel: loaded, with the two logged controls' values; what
// retrieval showed, and the field it reads.
Values gControls;
std::vector<Values> gShown;
std::vector<int32> gMarks;
uChar gField[256];

class LoadedVILog : public qxvitest::VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { ASSERT_TRUE(ThInit() == kNoErr && RInitResources() == kNoErr); });
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_EQ(FRefNumJarCreate(), kNoErr);
    ASSERT_TRUE(qxvitest::StartBareLinker());
    ASSERT_TRUE(rt_.Make("qxdlvi"));
    gShown.clear();
    gMarks.clear();
    DatalogUIHooks ui{};
    ui.loggedControlCount = [](UHandle) -> int32 { return 2; };
    ui.copyLoggedControls = [](UHandle, const TypeDescriptor* panel, void* data) -> MgErr {
      std::memcpy(data, &gControls.first, 4);
      std::memcpy(static_cast<uChar*>(data) + AlignDatum(ElemTD(panel, 1), 4), &gControls.second, 8);
      return kNoErr;
    };
    ui.showRecord = [](UHandle, const TypeDescriptor* panel, const void* data) -> MgErr {
      gShown.push_back(ReadPanel(panel, data));
      return kNoErr;
    };
    ui.showMark = [](UHandle, int32 mark) { gMarks.push_back(mark); };
    ui.retrieveFieldText = [](UHandle, PStr text) { std::memcpy(text, gField, size_t(gField[0]) + 1); };
    ui.setRetrieveFieldText = [](UHandle, ConstPStr text) { std::memcpy(gField, text, size_t(text[0]) + 1); };
    SetDatalogUIHooks(&ui);
  }
  void TearDown() override {
    if (vi_) CloseLogFile(vi_);
    SetDatalogUIHooks(nullptr);
    VITest::TearDown();
    linkcheck::DisposeTables();
    rt_.Remove();
  }
  std::vector<uChar> LogBytes() const {
    std::ifstream in(rt_.Host("panel.log"), std::ios::binary);
    return std::vector<uChar>(std::istreambuf_iterator<char>(in), {});
  }
  void SetField(const char* text) {
    gField[0] = uChar(std::strlen(text));
    std::memcpy(gField + 1, text, gField[0]);
  }
  qxtest::RuntimeRoot rt_;
  UHandle vi_ = nullptr;
};

TEST_F(LoadedVILog, AVILoadedFromItsFileLogsRetrievesAndShowsItsPanel) {
  const tdb::TD stamp = tdb::Cluster({tdb::U32(), tdb::U16()});
  const tdb::TD panel = tdb::Cluster({tdb::I32(), tdb::DBL()});
  const tdb::TD record = tdb::Cluster({stamp, panel});
  vif::VIFile v;
  v.name = "Logger.vi";
  v.viKind = kVIKindDatalog;
  v.entries = {tdb::I32(), tdb::DBL()};
  v.datalog = std::vector<uInt32>{1, 0, 0, 0, 0, 0, 0};
  v.logPath = rsrcw::FlatPath(kAbsPath, {"L", "panel.log"});
  v.logRecordType = record;
  v.controlMap = std::vector<uInt16>{0, 1};
  ASSERT_TRUE(rsrcw::WriteHostFile(rt_.Host("logger.rsc"), vif::Write(v)));
  Path path = pathtest::ToPath("L:\\logger.rsc");
  RsrcFileRef ref = 0;
  ASSERT_EQ(ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
  ASSERT_EQ(LoadInstrument(path, 0, qxvitest::PS("Logger.vi"), ref, &vi_, 0), kLoadLoaded);
  ASSERT_NE(vi_, nullptr);

  TimeSecsMs before{}, after{};
  GetTimeSecsMs(&before);
  const Values logged[] = {{7, 2.5}, {-1, 1e300}};
  for (const Values& p : logged) {
    gControls = p;
    ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
  }
  GetTimeSecsMs(&after);
  // The panel's values were the buffer's for one record only.
  const DatalogBindingRec* b = reinterpret_cast<const DatalogBindingRec*>(*VIRec(vi_)->logRecord);
  const std::vector<uChar> buffer(*b->recordData, *b->recordData + AZGetHandleSize(b->recordData));
  EXPECT_EQ(buffer, std::vector<uChar>(buffer.size(), 0));
  EXPECT_FALSE(LogFileOpen(vi_));
  EXPECT_EQ(DatalogRecordCount(vi_), 2);

  // The file: the header with two records, the stored record type (not the
  // cluster the resource keeps it in), then each flat record.
  const std::vector<uChar> file = LogBytes();
  const std::vector<uChar> type = record.Bytes(tdb::Order::kFile);
  ASSERT_EQ(file.size(), 16 + type.size() + 2 * 18);
  EXPECT_EQ(std::vector<uChar>(file.begin(), file.begin() + 12),
            (std::vector<uChar>{'D', 'T', 'L', 'G', 0, 0, 0, 3, 0, 0, 0, 2}));
  EXPECT_EQ(std::vector<uChar>(file.begin() + 16, file.begin() + 16 + std::ptrdiff_t(type.size())), type);
  for (size_t i = 0; i < 2; ++i) {
    const uChar* at = file.data() + 16 + type.size() + 18 * i;
    EXPECT_GE(GetBE32(at), before.secs);
    EXPECT_LE(GetBE32(at), after.secs);
    EXPECT_LT(GetBE16(at + 4), 1000);
    EXPECT_EQ(int32(GetBE32(at + 6)), logged[i].first);
    const uInt64 bits = uInt64(GetBE32(at + 10)) << 32 | GetBE32(at + 14);
    double d;
    std::memcpy(&d, &bits, 8);
    EXPECT_EQ(d, logged[i].second);
  }

  // A diagram reads them back by number, from either end.
  const std::vector<uChar> panelBytes = panel.Bytes();
  const TypeDescriptor* panelTD = tdb::AsTD(panelBytes);
  for (int32 r : {0, 1, -2, -1}) {
    uChar ts[16] = {}, data[16] = {}, error = 1;
    ASSERT_EQ(ProgRetrieveRun(vi_, ts, r, data, &error), kNoErr) << r;
    EXPECT_EQ(error, 0);
    EXPECT_EQ(ReadPanel(panelTD, data), logged[(r + 2) % 2]) << r;
    EXPECT_GE(GetNative32(ts), before.secs);
  }

  // Retrieval shows the typed record, and the last one for a number past them.
  for (const char* field : {"0", "1", "9"}) {
    SetField(field);
    EXPECT_EQ(RetrieveShowRecord(vi_), kNoErr) << field;
  }
  EXPECT_EQ(gShown, (std::vector<Values>{logged[0], logged[1], logged[1]}));
  EXPECT_EQ(gMarks, (std::vector<int32>{0, 0, 0}));
  EXPECT_EQ(qxvitest::Seen().exitRetrieve, 0);
}

}  // namespace
