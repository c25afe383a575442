// Write-backs that fail part-way: a fault of the file layer fails each change
// of the file in turn (or everything past a size limit).  After every failure
// the file on disk opens with its old contents or its new ones, and a retry
// without the fault writes the whole new file.
#include <algorithm>
#include <functional>
#include <ostream>
#include <tuple>

#include "mgsource/filemgr_internal.h"
#include "platform/qx_file.h"
#include "rsrc_test_support.h"

using namespace rsrctest;
using rsrcw::BytesOf;

namespace {

constexpr ResType kPICT = FourCC("PICT");

struct R {
  ResType type;
  int32 id;
  std::string data, name;
  int32 attrs;
  bool operator<(const R& o) const { return std::tie(type, id) < std::tie(o.type, o.id); }
  bool operator==(const R& o) const {
    return std::tie(type, id, data, name, attrs) == std::tie(o.type, o.id, o.data, o.name, o.attrs);
  }
};
typedef std::vector<R> Contents;

std::ostream& operator<<(std::ostream& os, const R& r) {
  return os << std::string(reinterpret_cast<const char*>(&r.type), 4) << " " << r.id << " (" << r.data.size()
            << " bytes) '" << r.name << "' " << r.attrs;
}

UHandle H(const std::string& text) {
  UHandle h = AZNewHandle(int32(text.size()));
  if (!text.empty()) std::memcpy(*h, text.data(), text.size());
  return h;
}

// Replaces a resource's data in memory and marks it changed.
void Change(RsrcFileRef ref, ResType type, int32 id, const std::string& data) {
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, type, id, &h), kNoErr);
  ASSERT_EQ(AZSetHandleSize(h, int32(data.size())), kNoErr);
  if (!data.empty()) std::memcpy(*h, data.data(), data.size());
  ASSERT_EQ(RChanged(h), kNoErr);
}

// The edits of one case and the contents they leave.
struct Scenario {
  const char* what;
  std::function<void(RsrcFileRef)> edit;
  Contents after;
};

class RsrcWriteBack : public RsrcTest {
 protected:
  static Contents Before() {
    return {{kTEXT, 1, "first", "one", 0},
            {kTEXT, 2, "second", "two", 0},
            {kTEXT, 3, std::string(6000, 'c'), "three", 0},
            {kDATA, 1, "data", "", 0},
            {kICON, 9, "icon", "nine", 0}};
  }
  static Bytes Original() {
    rsrcw::Writer w(kAPPL, kQNLX);
    for (const R& r : Before()) w.Add(r.type, r.id, BytesOf(r.data), r.name.empty() ? std::nullopt : std::optional(r.name));
    return w.Write();
  }
  static std::vector<Scenario> Scenarios() {
    return {
        {"three changed, two unchanged",
         [](RsrcFileRef ref) {
           Change(ref, kTEXT, 1, std::string(10000, 'z'));  // grows
           Change(ref, kTEXT, 3, "short");                  // shrinks
           Change(ref, kDATA, 1, "DATA");                   // keeps its size
         },
         {{kTEXT, 1, std::string(10000, 'z'), "one", 0},
          {kTEXT, 2, "second", "two", 0},
          {kTEXT, 3, "short", "three", 0},
          {kDATA, 1, "DATA", "", 0},
          {kICON, 9, "icon", "nine", 0}}},
        {"removed, added, attributes and a change",
         [](RsrcFileRef ref) {
           ASSERT_EQ(RemoveRsrc(ref, kTEXT, 1), kNoErr);
           ASSERT_EQ(RAdd(H("pict"), ref, kPICT, 5, PS("p")), kNoErr);
           UHandle icon = nullptr;
           ASSERT_EQ(RGet(ref, kICON, 9, &icon), kNoErr);
           ASSERT_EQ(RSetAttrs(icon, 0x40), kNoErr);
           Change(ref, kTEXT, 2, "2nd");
         },
         {{kTEXT, 2, "2nd", "two", 0},
          {kTEXT, 3, std::string(6000, 'c'), "three", 0},
          {kDATA, 1, "data", "", 0},
          {kICON, 9, "icon", "nine", 0x40},
          {kPICT, 5, "pict", "p", 0}}},
        {"two new records of 3,000 bytes",
         [](RsrcFileRef ref) {
           ASSERT_EQ(RAdd(H(std::string(3000, '1')), ref, kPICT, 1, nullptr), kNoErr);
           ASSERT_EQ(RAdd(H(std::string(3000, '2')), ref, kPICT, 2, nullptr), kNoErr);
         },
         {{kTEXT, 1, "first", "one", 0},
          {kTEXT, 2, "second", "two", 0},
          {kTEXT, 3, std::string(6000, 'c'), "three", 0},
          {kDATA, 1, "data", "", 0},
          {kICON, 9, "icon", "nine", 0},
          {kPICT, 1, std::string(3000, '1'), "", 0},
          {kPICT, 2, std::string(3000, '2'), "", 0}}},
        {"a record written early, then another change",
         [](RsrcFileRef ref) {
           Change(ref, kTEXT, 2, std::string(7000, 'w'));
           UHandle h = nullptr;
           ASSERT_EQ(RGet(ref, kTEXT, 2, &h), kNoErr);
           ASSERT_EQ(RWrite(h), kNoErr);
           Change(ref, kDATA, 1, "d");
         },
         {{kTEXT, 1, "first", "one", 0},
          {kTEXT, 2, std::string(7000, 'w'), "two", 0},
          {kTEXT, 3, std::string(6000, 'c'), "three", 0},
          {kDATA, 1, "d", "", 0},
          {kICON, 9, "icon", "nine", 0}}},
        {"everything removed",
         [](RsrcFileRef ref) {
           for (const R& r : Before()) ASSERT_EQ(RemoveRsrc(ref, r.type, r.id), kNoErr);
         },
         {}},
    };
  }

  // What the file holds, read through a read-only open of its own.
  Contents Read(const std::string& rel, MgErr* err) {
    Contents c;
    RsrcFileRef ref = Open(rel, kRsrcReadOnly, err);
    if (!ref) return c;
    int32 nTypes = 0;
    RCountTypes(ref, &nTypes);
    for (int32 t = 1; t <= nTypes; ++t) {
      ResType type = 0;
      int32 n = 0;
      EXPECT_EQ(RGetIndType(ref, &type, t), kNoErr);
      EXPECT_EQ(RCount(ref, type, &n), kNoErr);
      for (int32 i = 1; i <= n; ++i) {
        UHandle h = nullptr;
        MgErr e = RGetInd(ref, type, i, &h);
        EXPECT_EQ(e, kNoErr);
        if (e) continue;
        R r = {type, 0, Text(h), "", 0};
        Str255 name;
        EXPECT_EQ(RGetInfo(h, &r.id, nullptr, name), kNoErr);
        EXPECT_EQ(RGetAttrs(h, &r.attrs), kNoErr);
        r.name = Str(name);
        c.push_back(r);
      }
    }
    EXPECT_EQ(RCloseFile(ref), kNoErr);
    std::sort(c.begin(), c.end());
    return c;
  }

  // The file holds exactly the contents, compacted: the data section at 32,
  // the map right after it, nothing after the map.
  void ExpectWritten(const std::string& rel, Contents want) {
    std::sort(want.begin(), want.end());
    MgErr err = kNoErr;
    EXPECT_EQ(Read(rel, &err), want);
    EXPECT_EQ(err, kNoErr);
    const Bytes b = Get(rel);
    ASSERT_GE(b.size(), 32u);
    uInt64 records = 0;
    for (const R& r : want) records += rsrcfmt::RecordSize(r.data.size());
    EXPECT_EQ(GetBE32(&b[rsrcfmt::kHdrDataOffset]), 32u);
    EXPECT_EQ(GetBE32(&b[rsrcfmt::kHdrDataSize]), records);
    EXPECT_EQ(GetBE32(&b[rsrcfmt::kHdrMapOffset]), want.empty() ? 32u : 32 + records);
    EXPECT_EQ(b.size(), 32 + records + GetBE32(&b[rsrcfmt::kHdrMapSize]));
  }

  static PlatFile* PlatOf(RsrcFileRef ref) { return filemgr_detail::Plat(FileOf(ref).file); }

  // Opens the original file, edits it, and writes it back under the fault.
  // Returns false when the fault never fired (the write-back succeeded);
  // otherwise checks the file on disk and retries without the fault.
  bool FailOnce(const Scenario& s, PlatFileFault fault, bool retryByClose) {
    Put("f.rsc", Original());
    RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
    EXPECT_NE(ref, 0u);
    if (!ref) return false;
    s.edit(ref);
    fault.file = PlatOf(ref);
    PlatFileSetFault(&fault);
    const MgErr err = RUpdateFile(ref);
    const int64_t failures = PlatFileFaultFailures();
    PlatFileSetFault(nullptr);
    Contents before = Before(), after = s.after;
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    if (failures == 0) {
      EXPECT_EQ(err, kNoErr);
      EXPECT_EQ(RCloseFile(ref), kNoErr);
      ExpectWritten("f.rsc", s.after);
      return false;
    }
    EXPECT_EQ(err, kFileIOErr);
    MgErr openErr = kNoErr;
    const Contents onDisk = Read("f.rsc", &openErr);
    EXPECT_EQ(openErr, kNoErr) << "the file on disk opens";
    EXPECT_TRUE(onDisk == before || onDisk == after) << "holds its old contents or its new ones";
    if (!retryByClose) {
      EXPECT_EQ(RUpdateFile(ref), kNoErr);
    }
    EXPECT_EQ(RCloseFile(ref), kNoErr);
    ExpectWritten("f.rsc", s.after);
    return true;
  }
};

TEST_F(RsrcWriteBack, EveryChangeOfTheFileFailsInTurn) {
  for (const Scenario& s : Scenarios()) {
    for (bool sticky : {false, true}) {
      SCOPED_TRACE(std::string(s.what) + (sticky ? ", every later change failing too" : ""));
      int64_t n = 1;
      for (; n < 100; ++n) {
        SCOPED_TRACE(n);
        PlatFileFault fault;
        fault.failAt = n;
        fault.sticky = sticky;
        if (!FailOnce(s, fault, n % 2 == 0)) break;
        if (HasFailure()) return;
      }
      EXPECT_GT(n, 2) << "the write-back changes the file more than twice";
      EXPECT_LT(n, 100);
    }
  }
}

TEST_F(RsrcWriteBack, ASizeLimitStopsItAnywhere) {
  const int64_t size = int64_t(Original().size());
  for (const Scenario& s : Scenarios()) {
    SCOPED_TRACE(s.what);
    int32 failed = 0;
    for (int64_t limit = size - 100; limit < 3 * size; limit += 997) {
      SCOPED_TRACE(limit);
      PlatFileFault fault;
      fault.byteLimit = limit;
      if (FailOnce(s, fault, limit % 2 != 0)) ++failed;
      if (HasFailure()) return;
    }
    if (!s.after.empty()) {
      EXPECT_GT(failed, 0);
    }
  }
}

// RWrite puts the record past everything the file holds: the file on disk
// keeps its contents until the write-back, and a failed RWrite keeps the data
// changed in memory.
TEST_F(RsrcWriteBack, RecordsWrittenEarlyLeaveTheFileAsItWas) {
  const Bytes original = Original();
  Put("f.rsc", original);
  RsrcFileRef ref = Open("f.rsc", kRsrcReadWrite);
  ASSERT_NE(ref, 0u);
  Change(ref, kTEXT, 1, std::string(5000, 'n'));
  UHandle h = nullptr;
  ASSERT_EQ(RGet(ref, kTEXT, 1, &h), kNoErr);
  PlatFileFault fault;
  fault.failAt = 1;
  fault.sticky = true;
  fault.file = PlatOf(ref);
  PlatFileSetFault(&fault);
  EXPECT_EQ(RWrite(h), kFileIOErr);
  PlatFileSetFault(nullptr);
  int32 attrs = 0;
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, kRsrcAttrChanged);
  EXPECT_EQ(Get("f.rsc"), original);
  ASSERT_EQ(RWrite(h), kNoErr);
  ASSERT_EQ(RGetAttrs(h, &attrs), kNoErr);
  EXPECT_EQ(attrs, 0);
  const Bytes now = Get("f.rsc");
  ASSERT_GT(now.size(), original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.end(), now.begin())) << "only added past the end";
  MgErr err = kNoErr;
  Contents before = Before();
  std::sort(before.begin(), before.end());
  EXPECT_EQ(Read("f.rsc", &err), before);
  // The written record reads back through the open file.
  ASSERT_EQ(RRelease(h), kNoErr);
  EXPECT_EQ(GetText(ref, kTEXT, 1), std::string(5000, 'n'));
  ASSERT_EQ(RCloseFile(ref), kNoErr);
  Contents after = Before();
  after[0].data = std::string(5000, 'n');
  ExpectWritten("f.rsc", after);
}

}  // namespace
