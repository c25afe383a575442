// Compressed members: the CPRF writer and reader, extraction into memory or
// into files, the temporary member files and their removal at shut-down.
#include <cstring>
#include <new>

#include "archive_internal.h"
#include "mgsource/config.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"
#include "platform/qx_process.h"

using namespace archfmt;

namespace archive {

// ------------------------------------------------------------------ CPRF

MgErr CprfReader::Open(const uChar* bytes, int32 size) {
  bitmap_ = data_ = nullptr;
  size_ = done_ = taken_ = 0;
  if (!bytes || size < kCprfHeaderSize) return kEOFErr;
  const uInt32 n = GetBE32(bytes);
  if (n == 0) return kRsrcFileNotFoundErr;
  const uInt32 avail = uInt32(size - kCprfHeaderSize);
  const uInt32 bitmapSize = BitmapSize(n);
  if (n > uInt32(INT32_MAX) || bitmapSize > avail) return kEOFErr;
  // The data bytes: one per set bit among the first n bits.
  const uChar* bitmap = bytes + kCprfHeaderSize;
  uInt32 set = 0;
  for (uInt32 i = 0; i + 1 < bitmapSize; ++i) set += uInt32(__builtin_popcount(bitmap[i]));
  const uInt32 lastBits = n - 8 * (bitmapSize - 1);
  set += uInt32(__builtin_popcount(bitmap[bitmapSize - 1] & ((1u << lastBits) - 1)));
  if (set > avail - bitmapSize) return kEOFErr;
  bitmap_ = bitmap;
  data_ = bitmap + bitmapSize;
  size_ = n;
  return kNoErr;
}

void CprfReader::Next(uChar* out, uInt32 n) {
  if (n > Remaining()) n = Remaining();
  for (uInt32 k = 0; k < n; ++k, ++done_)
    out[k] = (bitmap_[done_ >> 3] >> (done_ & 7)) & 1 ? data_[taken_++] : 0;
}

MgErr CprfWriter::Begin(uInt32 size) {
  if (size == 0) return kRsrcFileNotFoundErr;
  const uInt64 worst = uInt64(kCprfHeaderSize) + BitmapSize(size) + size;
  if (worst > uInt64(INT32_MAX)) return kMemFullErr;
  h_ = AZNewHandle(int32(worst));
  if (!h_) return kMemFullErr;
  PutBE32(*h_, size);
  std::memset(*h_ + kCprfHeaderSize, 0, BitmapSize(size));
  size_ = size;
  done_ = 0;
  out_ = kCprfHeaderSize + BitmapSize(size);
  return kNoErr;
}

void CprfWriter::Feed(const uChar* bytes, uInt32 n) {
  if (n > size_ - done_) n = size_ - done_;
  uChar* base = *h_;
  uChar* bitmap = base + kCprfHeaderSize;
  for (uInt32 k = 0; k < n; ++k, ++done_) {
    if (!bytes[k]) continue;
    bitmap[done_ >> 3] = uChar(bitmap[done_ >> 3] | (1u << (done_ & 7)));
    base[out_++] = bytes[k];
  }
}

UHandle CprfWriter::Finish() {
  UHandle h = h_;
  h_ = nullptr;
  if (h) AZSetHandleSize(h, int32(out_));  // shrinking does not fail
  return h;
}

CprfWriter::~CprfWriter() {
  if (h_) AZDisposeHandle(h_);
}

// ------------------------------------------------------------------ temporary files

namespace {

ArchiveTempPathProc gTempPathProc = nullptr;

// The kinds of temporary member files.
enum : int32 { kTempVI = 0, kTempControl = 1, kTempSubroutine = 2, kTempKinds = 3 };
constexpr const char* kTempFormats[kTempKinds] = {"uarc%ld.vi", "uarc%ld.ctl", "uarc%ld.qsb"};
constexpr const char* kTempRemoveTexts[kTempKinds] = {
    "error removing archive.vi: %ld", "error removing archive.ctl: %ld", "error removing archive.qsb: %ld"};
constexpr char kTempLibraryName[] = "$temp.qlb";

// One temporary member file: its path and the resource file last opened on
// it here (0 when none); it may be overwritten only once that is closed.
struct TempFile {
  Path path;
  RsrcFileRef open;
};
// Guarded by the library mutex.
std::vector<TempFile> gTemp[kTempKinds];

int32 TempKind(uInt32 type) {
  if (type == kTypeSubroutine) return kTempSubroutine;
  if (type == kTypeControl) return kTempControl;
  return kTempVI;
}

bool StillOpen(RsrcFileRef ref) {
  int32 n = 0;
  return ref && RCountTypes(ref, &n) != kRsrcFileNotFoundErr;
}

// The temporary file to extract a member of the type into: the first of its
// kind that no open resource file uses, else a new one.  The first of a kind
// is the shell's name for the format; later ones put 10000 times their
// number on top of the process's number, so they never meet the first
// file of another process.
MgErr TakeTempFile(uInt32 type, int32* kind, int32* index) {
  const int32 k = TempKind(type);
  std::vector<TempFile>& files = gTemp[k];
  for (size_t i = 0; i < files.size(); ++i)
    if (!StillOpen(files[i].open)) {
      files[i].open = 0;
      *kind = k;
      *index = int32(i);
      return kNoErr;
    }
  if (!gTempPathProc) return kMemFullErr;
  Path path = gTempPathProc(kTempFormats[k], nullptr);
  if (!path) return kMemFullErr;
  if (!files.empty()) {
    Str255 pname;
    PPrintf(pname, kTempFormats[k], int32(PlatProcessId() % 10000 + 10000 * int32(files.size())));
    if (FDirName(path, path) != kNoErr || FAppendName(path, pname) != kNoErr) {
      FDisposePath(path);
      return kMemFullErr;
    }
  }
  try {
    files.push_back(TempFile{path, 0});
  } catch (const std::bad_alloc&) {
    FDisposePath(path);
    return kMemFullErr;
  }
  *kind = k;
  *index = int32(files.size() - 1);
  return kNoErr;
}

// The configuration's limit for expansion in memory, read once.
int32 MaxMemorySize() {
  static int32 limit = -1;
  if (limit < 0) {
    Str255 key;
    CToPStr(kMaxMemoryKey, key);
    int32 v = kMaxMemoryDefault;
    if (CfgGetDefault(kCfgInt, key, &v) != kNoErr) v = kMaxMemoryDefault;
    limit = v < 0 ? 0 : v;
  }
  return limit;
}

// Expands the member into a file, created or cut to length 0, chunk by chunk.
MgErr ExpandToFile(CprfReader& reader, Path destination) {
  uChar* chunk = ChunkBuffer();
  if (!chunk) return kMemFullErr;
  FileRef f = nullptr;
  if (MgErr err = FCreateAlways(&f, destination, FGetDefPerm(0666), kAccessWrite, kDenyWrite, nullptr)) return err;
  MgErr err = kNoErr;
  while (!err && reader.Remaining()) {
    const uInt32 n = reader.Remaining() < uInt32(kChunkSize) ? reader.Remaining() : uInt32(kChunkSize);
    reader.Next(chunk, n);
    err = FMWrite(f, int32(n), nullptr, chunk);
  }
  MgErr closeErr = FMClose(f);
  return err ? err : closeErr;
}

// Expands the member into a new memory image and opens it read-only.
MgErr ExpandToMemory(CprfReader& reader, RsrcFileRef* file) {
  UHandle image = AZNewHandle(int32(reader.Size()));
  if (!image) return kMemFullErr;
  reader.Next(*image, reader.Size());
  MgErr err = ROpenFileOrHandle(nullptr, kRsrcReadOnly, file, nullptr, nullptr, image);
  if (err) AZDisposeHandle(image);
  return err;
}

}  // namespace

}  // namespace archive

using namespace archive;

void ArchiveSetTempPathProc(ArchiveTempPathProc proc) { gTempPathProc = proc; }
ArchiveTempPathProc ArchiveTempPathProcInUse() { return gTempPathProc; }

MgErr ArchiveCompress(Path source, UHandle* compressed) {
  if (!compressed) return kArgErr;
  *compressed = nullptr;
  Scope scope;
  uChar* chunk = ChunkBuffer();
  if (!chunk) return kMemFullErr;
  FileRef f = nullptr;
  if (MgErr err = FMOpen(&f, source, kAccessRead, kDenyNone)) return err;
  int32 size = 0;
  MgErr err = FGetEOF(f, &size);
  CprfWriter writer;
  if (!err) err = writer.Begin(uInt32(size));
  for (int32 done = 0; !err && done < size;) {
    const int32 n = size - done < kChunkSize ? size - done : kChunkSize;
    if (!(err = FMRead(f, n, nullptr, chunk))) {
      writer.Feed(chunk, uInt32(n));
      done += n;
    }
  }
  FMClose(f);
  if (!err) *compressed = writer.Finish();
  return err;
}

MgErr ArchiveExtractToTmpFile(RsrcFileRef library, ConstPStr name, Path destination, RsrcFileRef* file,
                              uInt32 type) {
  if (file) *file = 0;
  if (!name) return kArgErr;
  Scope scope;
  UHandle packed = nullptr;
  if (MgErr err = RGetNamed(library, kRsrcCompressed, name, &packed)) return err;
  CprfReader reader;
  MgErr err = reader.Open(*packed, AZGetHandleSize(packed));
  if (!err && file && reader.Size() < uInt32(MaxMemorySize())) {
    err = ExpandToMemory(reader, file);
  } else if (!err) {
    int32 kind = -1, index = -1;
    Path to = destination;
    if (!to) {
      err = TakeTempFile(type, &kind, &index);
      if (!err) to = gTemp[kind][size_t(index)].path;
    }
    if (!err) err = ExpandToFile(reader, to);
    if (!err && file) {
      err = ROpenFile(to, kRsrcReadOnly, file, nullptr, nullptr);
      if (!err && kind >= 0) gTemp[kind][size_t(index)].open = *file;
    }
  }
  RRelease(packed);
  return err;
}

MgErr ArchiveExtractByPath(Path member, Path destination, RsrcFileRef* file, uInt32* type, Point* palettePosition) {
  if (file) *file = 0;
  if (palettePosition) *palettePosition = Point{-1, -1};
  Scope scope;
  Str255 name;
  RsrcFileRef ref = 0;
  if (MgErr err = OpenMemberLibrary(member, &ref, name)) return err;
  uInt32 memberType = 0;
  if (MgErr err = FindMember(ref, name, &memberType, nullptr)) return err;
  if (type) *type = memberType;
  return ArchiveExtractToTmpFile(ref, name, destination, file, memberType);
}

MgErr CleanUpArchive() {
  Scope scope;
  MgErr first = kNoErr;
  // True when the file is gone; a failed removal is reported.
  auto remove = [&first](Path path, const char* text) {
    if (!path || FExists(path) == 0) return true;
    MgErr err = FRemove(path);
    if (!err) return true;
    DBPrintf(text, err);
    if (!first) first = err;
    return false;
  };
  FreeChunkBuffer();
  // Files that can't be removed yet (still open elsewhere) are kept for the
  // next clean-up.
  for (int32 k = 0; k < kTempKinds; ++k) {
    std::vector<TempFile>& files = gTemp[k];
    size_t kept = 0;
    for (TempFile& t : files) {
      if (remove(t.path, kTempRemoveTexts[k])) FDisposePath(t.path);
      else files[kept++] = TempFile{t.path, 0};
    }
    files.resize(kept);
  }
  if (gTempPathProc) {
    Path library = gTempPathProc(kTempLibraryName, nullptr);
    remove(library, "error removing $temp.qlb: %ld");
    if (library) FDisposePath(library);
  }
  return first;
}
