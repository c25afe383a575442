// Byte-stream files through refnums against the C library on a file
// descriptor, on the same bytes: 64 KB strings written (FPWrite against
// write) and read (FPRead against read) at the start of a file, and line
// reads over 80-byte lines (FPRead in line mode against getline), reported
// without a bar: a line read takes pieces of at most 1024 bytes and moves
// back after each line.
//
// Datalogs: 100,000 fixed-size records {DBL, I32} read as one array (FPRead
// against one read and a byte-swapping loop into a vector), and records
// appended one by one (FPWrite against write of each flat record), the
// latter reported without a bar: each append rewrites the header.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/datasupp.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "platform/qx_drives.h"
#include "rtlib/filerefnum.h"
#include "tools/tdbuilder.h"

namespace {

constexpr int32 kChunk = 64 * 1024;
constexpr int kLines = 4096;

struct Setup {
  std::string root;
  UHandle stringTD = nullptr;
  Setup() {
    BenchMemInit();
    BenchFileMgr();
    FRefNumJarCreate();
    std::string t = (std::filesystem::temp_directory_path() / "qxbfXXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    root = t;
    PlatDriveMap('B', root.c_str(), kPlatDriveFixed);
    auto b = tdb::String().Bytes();
    stringTD = AZNewHandle(int32(b.size()));
    std::memcpy(*stringTD, b.data(), b.size());
    // The line file: 80-byte lines (79 characters and LF).
    std::string lines;
    for (int i = 0; i < kLines; ++i) lines += std::string(79, char('a' + i % 26)) + "\n";
    FILE* f = std::fopen((root + "/lines").c_str(), "wb");
    std::fwrite(lines.data(), 1, lines.size(), f);
    std::fclose(f);
  }
};

Setup& S() {
  static Setup* s = new Setup;
  return *s;
}

FileRefnum OpenRefnum(const char* text, bool create) {
  S();  // the managers and the scratch folder first
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), &p);
  FileRefnum r = 0;
  if (create)
    RTFPNewFile(p, kDenyNone, nullptr, 0, 0, nullptr, &r, 1);
  else
    RTFPOpen(p, kAccessReadWrite, kDenyNone, nullptr, 0, &r, 0);
  FDisposePath(p);
  return r;
}

LStrHandle Chunk() {
  LStrHandle s = reinterpret_cast<LStrHandle>(DSNewHandle(4 + kChunk));
  (*s)->cnt = kChunk;
  std::memset((*s)->str, 'x', kChunk);
  return s;
}

void BM_FPWrite64K(benchmark::State& st) {
  FileRefnum r = OpenRefnum("B:\\w1", true);
  LStrHandle s = Chunk();
  int32 pos = 0;
  for (auto _ : st) {
    if (FPWrite(r, nullptr, 0, kFPFromStart, 0, S().stringTD, 0, &s, 0, &pos)) st.SkipWithError("write");
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kChunk);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  RTFPClose(r);
}
BENCHMARK(BM_FPWrite64K);

void BM_PosixWrite64K(benchmark::State& st) {
  int fd = open((S().root + "/w2").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  std::string buf(kChunk, 'x');
  for (auto _ : st) {
    lseek(fd, 0, SEEK_SET);
    if (write(fd, buf.data(), kChunk) != kChunk) st.SkipWithError("write");
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kChunk);
  close(fd);
}
BENCHMARK(BM_PosixWrite64K);

void BM_FPRead64K(benchmark::State& st) {
  FileRefnum r = OpenRefnum("B:\\r1", true);
  LStrHandle s = Chunk();
  int32 pos = 0;
  FPWrite(r, nullptr, 0, kFPFromStart, 0, S().stringTD, 0, &s, 0, &pos);
  const int32 count = kChunk;
  for (auto _ : st) {
    if (FPRead(r, nullptr, 0, kFPFromStart, 0, &count, nullptr, 0, &s, 0, 0, 0, &pos)) st.SkipWithError("read");
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kChunk);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  RTFPClose(r);
}
BENCHMARK(BM_FPRead64K);

void BM_PosixRead64K(benchmark::State& st) {
  int fd = open((S().root + "/r2").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  std::string buf(kChunk, 'x');
  if (write(fd, buf.data(), kChunk) != kChunk) st.SkipWithError("write");
  for (auto _ : st) {
    lseek(fd, 0, SEEK_SET);
    if (read(fd, buf.data(), kChunk) != kChunk) st.SkipWithError("read");
    benchmark::DoNotOptimize(buf.data());
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * kChunk);
  close(fd);
}
BENCHMARK(BM_PosixRead64K);

void BM_FPReadLines(benchmark::State& st) {
  FileRefnum r = OpenRefnum("B:\\lines", false);
  LStrHandle s = nullptr;
  int32 pos = 0;
  for (auto _ : st) {
    FPSeek(r, nullptr, 0, kFPFromStart, 0, &pos);
    for (int i = 0; i < kLines; ++i) FPRead(r, nullptr, 0, kFPFromCurrent, 0, nullptr, nullptr, 0, &s, 1, 0, 0, &pos);
    benchmark::DoNotOptimize(s);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * kLines);
  DSDisposeHandle(reinterpret_cast<UHandle>(s));
  RTFPClose(r);
}
BENCHMARK(BM_FPReadLines);

void BM_GetlineLines(benchmark::State& st) {
  FILE* f = std::fopen((S().root + "/lines").c_str(), "rb");
  char* line = nullptr;
  size_t cap = 0;
  for (auto _ : st) {
    std::fseek(f, 0, SEEK_SET);
    for (int i = 0; i < kLines; ++i) getline(&line, &cap, f);
    benchmark::DoNotOptimize(line);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * kLines);
  std::free(line);
  std::fclose(f);
}
BENCHMARK(BM_GetlineLines);

double GetBE64Double(const uChar* at) {
  const uInt64 bits = GetBE64(at);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void PutBE64Double(uChar* at, double d) {
  uInt64 bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutBE64(at, bits);
}

constexpr int32 kRecords = 100000;
constexpr int32 kFlatRecord = 12;
struct DlRecord {
  double d;
  int32 i;
};

struct DatalogTypes {
  UHandle refType = nullptr, record = nullptr, array = nullptr;
  DatalogTypes() {
    auto handle = [](const tdb::TD& td) {
      auto b = td.Bytes();
      UHandle h = AZNewHandle(int32(b.size()));
      std::memcpy(*h, b.data(), b.size());
      return h;
    };
    const tdb::TD rec = tdb::Cluster({tdb::DBL(), tdb::I32()});
    refType = handle(tdb::DatalogRefnum(rec));
    record = handle(rec);
    array = handle(tdb::Array(rec));
  }
};
DatalogTypes& DT() {
  static DatalogTypes* t = new DatalogTypes;
  return *t;
}

// A log of kRecords records, created once by one array append.
FileRefnum RecordLog() {
  S();
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>("B:\\records.log"), 14, &p);
  FileRefnum r = 0;
  RTFPNewFile(p, kDenyNone, nullptr, 0, 6, DT().refType, &r, 1);
  FDisposePath(p);
  UHandle a = nullptr;
  ArrayResizeElts(reinterpret_cast<const TypeDescriptor*>(*DT().record), 1, &a, kRecords);
  std::memcpy(*a, &kRecords, 4);
  const int32 stride = DataSize(reinterpret_cast<const TypeDescriptor*>(*DT().record));
  for (int32 i = 0; i < kRecords; ++i) {
    DlRecord v{i * 0.25, i};
    std::memcpy(*a + 4 + i * stride, &v, sizeof v);
  }
  int32 pos = 0;
  if (FPWrite(r, DT().refType, 0, kFPFromStart, 0, DT().array, 0, &a, 0, &pos) || pos != kRecords) std::abort();
  DSDisposeHandle(a);
  return r;
}

void BM_DatalogReadArray(benchmark::State& st) {
  FileRefnum r = RecordLog();
  UHandle a = nullptr;
  int32 pos = 0;
  for (auto _ : st) {
    const int32 count = kRecords;
    if (FPRead(r, DT().refType, 0, kFPFromStart, 0, &count, DT().record, 0, &a, 0, 0, 0, &pos))
      st.SkipWithError("read");
    benchmark::DoNotOptimize(*a);
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * kRecords);
  DSDisposeHandle(a);
  RTFPClose(r);
}
BENCHMARK(BM_DatalogReadArray);

void BM_PosixReadSwapRecords(benchmark::State& st) {
  const std::string file = S().root + "/records.bin";
  {
    std::vector<uChar> bytes(size_t(kRecords) * kFlatRecord);
    for (int32 i = 0; i < kRecords; ++i) {
      PutBE64Double(&bytes[size_t(i) * kFlatRecord], i * 0.25);
      PutBE32(&bytes[size_t(i) * kFlatRecord + 8], uInt32(i));
    }
    FILE* f = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  int fd = open(file.c_str(), O_RDONLY);
  std::vector<uChar> buf(size_t(kRecords) * kFlatRecord);
  std::vector<DlRecord> out;
  for (auto _ : st) {
    if (pread(fd, buf.data(), buf.size(), 0) != ssize_t(buf.size())) st.SkipWithError("read");
    out.resize(size_t(kRecords));
    for (int32 i = 0; i < kRecords; ++i) {
      out[size_t(i)].d = GetBE64Double(&buf[size_t(i) * kFlatRecord]);
      out[size_t(i)].i = int32(GetBE32(&buf[size_t(i) * kFlatRecord + 8]));
    }
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(int64_t(st.iterations()) * kRecords);
  close(fd);
}
BENCHMARK(BM_PosixReadSwapRecords);

void BM_DatalogAppendOne(benchmark::State& st) {
  FileRefnum r = RecordLog();
  DlRecord v{1.5, 7};
  int32 pos = 0;
  for (auto _ : st)
    if (FPWrite(r, DT().refType, 0, kFPFromStart, 0, DT().record, 0, &v, 0, &pos)) st.SkipWithError("append");
  RTFPClose(r);
}
BENCHMARK(BM_DatalogAppendOne);

void BM_PosixWriteRecord(benchmark::State& st) {
  int fd = open((S().root + "/append.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  uChar flat[kFlatRecord];
  PutBE64Double(flat, 1.5);
  PutBE32(flat + 8, 7);
  for (auto _ : st)
    if (write(fd, flat, kFlatRecord) != kFlatRecord) st.SkipWithError("write");
  close(fd);
}
BENCHMARK(BM_PosixWriteRecord);

}  // namespace
