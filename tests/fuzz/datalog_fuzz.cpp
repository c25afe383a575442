// Datalog files of any bytes, read through refnums as logs of {I32},
// {string} and {cluster of string and DBL}: the type check and the count,
// every record sought and read singly and as one array, one append and a
// re-read, and the conversion of a version-2 file.
//
// Input: the file's bytes.  Invariants: the type check answers 0 (version
// 2 or 3) or 71 and keeps the position; counts are never negative; a seek
// lands within 0 ... count; a read never gives more records than asked or
// than the count, and a single read and an array read agree on the first
// record; an append either is refused leaving the file unchanged or adds
// exactly one record, which reads back; a failed conversion leaves the file
// as it was; nothing is left allocated.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "platform/qx_drives.h"
#include "rtlib/datalog.h"
#include "rtlib/filerefnum.h"
#include "tools/tdbuilder.h"

namespace {

using Bytes = std::vector<uChar>;

struct Kind {
  UHandle refType;  // the datalog refnum's type; the record type at offset 6
  UHandle recType;
  UHandle arrType;
};

UHandle HandleOf(const tdb::TD& td) {
  Bytes b = td.Bytes();
  UHandle h = AZNewHandle(int32(b.size()));
  std::memcpy(*h, b.data(), b.size());
  return h;
}

std::vector<Kind>* MakeKinds() {
  using namespace tdb;
  auto* v = new std::vector<Kind>;
  for (const TD& rec : {I32(), String(), Cluster({String(), DBL()})})
    v->push_back(Kind{HandleOf(DatalogRefnum(rec)), HandleOf(rec), HandleOf(Array(rec))});
  return v;
}

std::string gRoot;

Bytes FileBytes() {
  std::ifstream in(gRoot + "/f.log", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

const TypeDescriptor* TD(UHandle h) { return reinterpret_cast<const TypeDescriptor*>(*h); }

int32 ArrayCount(UHandle a) {
  int32 n = 0;
  if (a && *a) std::memcpy(&n, *a, 4);
  return n;
}

// One kind over the file: check, count, seek and read everything, append.
void Exercise(const Kind& k, Path path) {
  FileRef f = nullptr;
  if (FMOpen(&f, path, kAccessReadWrite, kDenyNone)) return;
  int32 version = 0, at = -1;
  FMSeek(f, 3, kFStart);
  const MgErr check = CheckDatalogType(f, TD(k.recType), &version);
  FUZZ_CHECK(check == kNoErr || check == kDatalogIncompatibleErr);
  FUZZ_CHECK(check || version == 2 || version == 3);
  FUZZ_CHECK(FMTell(f, &at) == kNoErr && (at == 3 || FileBytes().size() < 3));
  FileRefnum r = 0;
  if (FNewRefNum(path, f, &r)) {
    FMClose(f);
    return;
  }
  int32 count = -1;
  const MgErr counted = FPEOF(r, k.refType, 0, 0, 0, &count);
  FUZZ_CHECK(count >= 0 && (counted == kNoErr || count == 0));
  // Single reads of the first records; one array of all crosses the groups.
  const int32 n = counted ? 8 : (count < 40 ? count : 40);
  for (int32 i = -1; i <= n + 1; ++i) {
    int32 pos = -2;
    const MgErr s = FPSeek(r, k.refType, 0, kFPFromStart, i, &pos);
    if (s == kNoErr || s == kEOFErr) FUZZ_CHECK(pos >= 0 && pos <= count);
    std::vector<uChar> datum(size_t(DataSize(TD(k.recType))) + 8, 0);
    InitEmptyData(TD(k.recType), datum.data());
    const MgErr rd = FPRead(r, k.refType, 0, kFPFromCurrent, 0, nullptr, k.recType, 0, datum.data(), 0, 0, 0, &pos);
    if (rd == kNoErr) FUZZ_CHECK(pos >= 1 && pos <= count);
    DisposeData(TD(k.recType), datum.data(), datum.data() + DataSize(TD(k.recType)));
  }
  UHandle a = nullptr;
  int32 want = counted ? 64 : count + 5, pos = -1;
  const MgErr all = FPRead(r, k.refType, 0, kFPFromStart, 0, &want, k.recType, 0, &a, 0, 0, 0, &pos);
  FUZZ_CHECK(ArrayCount(a) <= want && ArrayCount(a) <= (counted ? 0x7FFFFFFF : count));
  if (all == kNoErr) FUZZ_CHECK(ArrayCount(a) == want);
  // Append the first record read (or an empty one), then read it back.
  const Bytes before = FileBytes();
  int32 after = -1;
  std::vector<uChar> value(size_t(DataSize(TD(k.recType))) + 8, 0);
  if (ArrayCount(a) > 0)
    CopyData(TD(k.recType), *a + AlignDatum(TD(k.recType), 4), value.data());
  else
    InitEmptyData(TD(k.recType), value.data());
  const MgErr app = FPWrite(r, k.refType, 0, 0, 0, k.recType, 0, value.data(), 0, &after);
  if (app == kNoErr) {
    int32 c2 = -1;
    FUZZ_CHECK(FPEOF(r, k.refType, 0, 0, 0, &c2) == kNoErr && c2 == after && after >= 1);
    std::vector<uChar> back(size_t(DataSize(TD(k.recType))) + 8, 0);
    InitEmptyData(TD(k.recType), back.data());
    FUZZ_CHECK(FPRead(r, k.refType, 0, kFPFromEnd, -1, nullptr, k.recType, 0, back.data(), 0, 0, 0, &pos) == kNoErr);
    FUZZ_CHECK(DataSize(TD(k.recType)) == 0 || TD(k.recType)->code != kTDI32 ||
               std::memcmp(back.data(), value.data(), 4) == 0);
    DisposeData(TD(k.recType), back.data(), back.data() + DataSize(TD(k.recType)));
  } else if (app == kFileIOErr) {
    FUZZ_CHECK(FileBytes() == before);
  }
  DisposeData(TD(k.recType), value.data(), value.data() + DataSize(TD(k.recType)));
  if (a) DisposeData(TD(k.arrType), &a, &a + 1);
  // The conversion of the previous version.
  if (check == kNoErr && version == 2) {
    const Bytes old = FileBytes();
    const MgErr conv = ConvertDatalog(r, kAccessReadWrite, kDenyNone);
    if (conv) FUZZ_CHECK(FileBytes() == old);
  }
  FileRef last = nullptr;
  FRefNumToFD(r, &last);
  FDisposeRefNum(r);
  if (last) FMClose(last);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<Kind>* kinds = [] {
    FuzzStartManagers(FuzzAbortWhenArmed);
    FInitFileMgr();
    FRefNumJarCreate();
    SetFlatCheckAvailProc(&FPCheckAvail);
    // The file lives in memory (tmpfs) where there is one.
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                          : std::filesystem::temp_directory_path();
    std::string t = (base / "qxdlXXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    gRoot = t;
    PlatDriveMap('F', gRoot.c_str(), kPlatDriveFixed);
    return MakeKinds();
  }();
  if (size > 40000) return 0;
  Path path = nullptr;
  const char text[] = "F:\\f.log";
  if (FTextToPath(reinterpret_cast<const uChar*>(text), int32(sizeof text - 1), &path)) std::abort();
  for (const Kind& k : *kinds) {
    {
      std::ofstream out(gRoot + "/f.log", std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    Exercise(k, path);
  }
  FDisposePath(path);
  for (const auto& e : std::filesystem::directory_iterator(gRoot))
    FUZZ_CHECK(e.path().filename() == "f.log");  // no temporary file left
  return 0;
}
