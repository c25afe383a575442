// Files read by diagrams through refnums: any bytes in a file, read as
// bytes, as lines, as arrays of fixed and variable types and as single
// values, with counts up to 2^31 - 1.
//
// Input: a selector byte, a 32-bit count (big-endian), then the file's
// bytes.  Invariants: a byte read gives exactly the bytes the file holds
// from the position, with 4 only when fewer than asked; the lines of a file
// put together give the file back, each but the last ending with its line
// end; array reads never give more elements than asked; nothing is left
// allocated.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "platform/qx_drives.h"
#include "rtlib/filerefnum.h"
#include "tools/tdbuilder.h"

namespace {

using Bytes = std::vector<uChar>;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

std::string Text(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)) : std::string();
}

struct Types {
  std::vector<Bytes> tds;
  std::vector<UHandle> handles;
};

Types* MakeTypes() {
  using namespace tdb;
  auto* t = new Types;
  for (const TD& td : {I32(), U8(), String(), Cluster({String(), I16()}), Array(String()), Cluster({DBL(), U16()}),
                       Array(I16(), {kTDVariable, kTDVariable})}) {
    Bytes b = td.Bytes();
    UHandle h = AZNewHandle(int32(b.size()));
    std::memcpy(*h, b.data(), b.size());
    t->tds.push_back(b);
    t->handles.push_back(h);
  }
  return t;
}

std::string gRoot;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Types* types = [] {
    FuzzStartManagers(FuzzAbortWhenArmed);
    FInitFileMgr();
    FRefNumJarCreate();
    SetFlatCheckAvailProc(&FPCheckAvail);
    std::string t = (std::filesystem::temp_directory_path() / "qxfzXXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    gRoot = t;
    PlatDriveMap('F', gRoot.c_str(), kPlatDriveFixed);
    return MakeTypes();
  }();
  if (size < 5 || size > 20000) return 0;
  FuzzReader in{data, size};
  const uint8_t sel = in.Byte();
  int32 count = int32(in.Word() & 0x7FFFFFFF);
  const std::string bytes(reinterpret_cast<const char*>(in.p), in.n);
  {
    FILE* f = std::fopen((gRoot + "/in").c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  const int32 live = FuzzLiveHandles();
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>("F:\\in"), 5, &p);
  FileRefnum r = 0;
  Check(RTFPOpen(p, kAccessRead, kDenyNone, nullptr, 0, &r, 0) == kNoErr, "open");
  const int32 size32 = int32(bytes.size());
  FuzzArmed() = true;
  int32 pos = 0;
  switch (sel % 4) {
    case 0: {  // bytes from a position
      const int32 offset = size32 ? int32(sel) % (size32 + 1) : 0;
      LStrHandle s = nullptr;
      const MgErr err = FPRead(r, nullptr, 0, kFPFromStart, offset, &count, nullptr, 0, &s, 0, 0, 0, &pos);
      const int32 rest = size32 - offset;
      const int32 expect = count < rest ? count : rest;
      Check(err == (count > rest ? kEOFErr : kNoErr), "byte read result");
      Check(Text(s) == bytes.substr(size_t(offset), size_t(expect)), "byte read data");
      Check(pos == offset + expect, "byte read position");
      if (s) DSDisposeHandle(reinterpret_cast<UHandle>(s));
      break;
    }
    case 1: {  // lines, with a limit from the count when it is small
      const int32 limit = (sel & 0x80) ? count % 2000 : 0;
      const int32* lim = limit ? &limit : nullptr;
      std::string all;
      for (int32 guard = 0; guard <= size32 + 1; ++guard) {
        LStrHandle s = nullptr;
        const MgErr err = FPRead(r, nullptr, 0, kFPFromCurrent, 0, lim, nullptr, 0, &s, 1, 0, 0, &pos);
        const std::string line = Text(s);
        if (s) DSDisposeHandle(reinterpret_cast<UHandle>(s));
        Check(err == kNoErr || err == kEOFErr, "line read result");
        Check(!limit || int32(line.size()) <= limit, "line limit");
        all += line;
        Check(pos == int32(all.size()), "line position");
        if (err == kEOFErr) break;
        Check(!line.empty(), "a line without the end of the file has bytes");
        const char last = line.back();
        Check(last == '\r' || last == '\n' || int32(line.size()) == limit, "a line ends with its end");
        Check(line.find_first_of("\r\n") >= line.size() - (line.size() >= 2 && line.substr(line.size() - 2) == "\r\n" ? 2 : 1),
              "one line end per line");
      }
      Check(all == bytes, "the lines give the file back");
      break;
    }
    case 2: {  // an array of a type
      const size_t k = (sel >> 2) % types->tds.size();
      const TypeDescriptor* elt = reinterpret_cast<const TypeDescriptor*>(types->tds[k].data());
      UHandle a = nullptr;
      const MgErr err = FPRead(r, nullptr, 0, kFPFromStart, 0, &count, types->handles[k], 0, &a, 0, 0,
                               (sel & 0x80) ? kFlatOldBooleans : 0, &pos);
      Check(err == kNoErr || err == kEOFErr || err == kArgErr || err == kMemFullErr || err == kFileIOErr,
            "array read result");
      int32 n = 0;
      if (a && *a) std::memcpy(&n, *a, 4);
      Check(n >= 0 && n <= count, "no more elements than asked");
      Check(err != kNoErr || n == count, "a full read has every element");
      if (a) {
        const int32 step = DataSize(elt), first = AlignDatum(elt, 4);
        for (int32 i = 0; i < n; ++i) DisposeData(elt, *a + first + i * step, *a + first + (i + 1) * step);
        DSDisposeHandle(a);
      }
      break;
    }
    default: {  // one value of a type
      const size_t k = (sel >> 2) % types->tds.size();
      const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(types->tds[k].data());
      std::vector<uChar> value(size_t(DataSize(td)) + 16);
      InitEmptyData(td, value.data());
      FPRead(r, nullptr, 0, kFPFromStart, 0, nullptr, types->handles[k], 0, value.data(), 0, 0, 0, &pos);
      Check(pos >= 0 && pos <= size32, "value position");
      DisposeData(td, value.data(), value.data() + DataSize(td));
      break;
    }
  }
  FuzzArmed() = false;
  Check(RTFPClose(r) == kNoErr, "close");
  FDisposePath(p);
  Check(FuzzLiveHandles() == live, "nothing left allocated");
  return 0;
}
