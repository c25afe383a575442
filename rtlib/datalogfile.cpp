// The datalog file format: the header, the index tree, record positions,
// append, read, seek and count, the type check and the conversion of the
// previous version.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "engine/stdize.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "platform/qx_file.h"
#include "platform/qx_process.h"
#include "rtlib/datalog.h"
#include "rtlib/fileio_internal.h"
#include "rtlib/filerefnum.h"

namespace {

constexpr uChar kSignature[4] = {'D', 'T', 'L', 'G'};
constexpr int32 kTypeSizeField = 2;
// The bytes the type check reads first: the header and the type's size.
constexpr int32 kCheckBytes = 20;
constexpr int32 kFirstRoom = 1024;

bool SameType(const TypeDescriptor* a, const TypeDescriptor* b) {
  return (TDCompare(a, b) & ~kTDDiffTypedef) == 0;
}

MgErr ReadAt(FileRef f, int32 at, void* buf, int32 n) {
  if (MgErr err = FMSeek(f, at, kFStart)) return err;
  int32 got = 0;
  if (MgErr err = FMRead(f, n, &got, static_cast<UPtr>(buf))) return err;
  return got == n ? kNoErr : kEOFErr;
}

MgErr WriteAt(FileRef f, int32 at, const void* buf, int32 n) {
  if (MgErr err = FMSeek(f, at, kFStart)) return err == kEOFErr ? kFileIOErr : err;
  int32 done = 0;
  if (MgErr err = FMWrite(f, n, &done, buf)) return err;
  return done == n ? kNoErr : kDiskFullErr;
}

// An open datalog as the record functions see it, checked against the file.
struct Log {
  FileRef f = nullptr;
  int32 size = 0;       // of the file
  int32 version = 0;
  int32 count = 0;
  uInt32 root = 0;
  int32 dataStart = 0;  // 16 + the type's size
  bool fixed = false;   // records of a fixed flat size
  int32 recordSize = 0;
  int32 flags = 0;      // the flattener's flags of the file's version
  const TypeDescriptor* rec = nullptr;
  // A log whose header counts records that the file does not hold whole (a
  // power loss kept the header of an append but not all of its bytes): count
  // and root are those of the whole records, and end is where they end; the
  // next append cuts the file there first.
  bool torn = false;
  int32 end = 0;

  MgErr WriteHeader() const {
    uChar b[kDatalogHeaderSize];
    std::memcpy(b, kSignature, 4);
    PutBE32(b + 4, uInt32(version));
    PutBE32(b + 8, uInt32(count));
    PutBE32(b + 12, root);
    return WriteAt(f, 0, b, kDatalogHeaderSize);
  }
  bool BlockOk(uInt32 at) const {
    return at >= uInt32(dataStart) && size >= kDatalogIndexBlockSize &&
           at <= uInt32(size - kDatalogIndexBlockSize);
  }
  bool RecordOk(uInt32 at) const { return at >= uInt32(dataStart) && at < uInt32(size); }
  // The entry of an index block: a block below, or a record at level 0.
  MgErr Entry(uInt32 block, int32 i, bool leaf, uInt32* out) const {
    uChar b[4];
    if (ReadAt(f, int32(block) + 4 * i, b, 4)) return kFileIOErr;
    *out = GetBE32(b);
    return (leaf ? RecordOk(*out) : BlockOk(*out)) ? kNoErr : kFileIOErr;
  }
  // The position of record r (0 <= r < count).
  MgErr RecordAt(int32 r, int32* at) const {
    if (fixed) {
      *at = dataStart + r * recordSize;
      return kNoErr;
    }
    uInt32 p = root;
    for (int32 l = IndexLevel(count - 1); l >= 0; --l)
      if (MgErr err = Entry(p, (r >> (7 * l)) & (kDatalogFanOut - 1), l == 0, &p)) return err;
    *at = int32(p);
    return kNoErr;
  }
};

// The end of the flat record at `at` (0), or 4 when its bytes run past the
// end of the file.
MgErr RecordEnd(const Log& log, int32 at, int32* end) {
  std::vector<uChar> datum(size_t(DataSize(log.rec)) + 1, 0);
  if (MgErr err = InitEmptyData(log.rec, datum.data())) return err;
  MgErr err = FMSeek(log.f, at, kFStart);
  if (!err) err = UnFlattenFromStream(log.rec, datum.data(), &FPStreamRead, log.f, log.flags);
  DisposeData(log.rec, datum.data(), datum.data() + DataSize(log.rec));
  if (!err) err = FMTell(log.f, end);
  if (!err && *end > log.size) err = kEOFErr;
  return err;
}

// Where record r of the tree under root (of the level that `count` records
// need) starts: 0 and its position when it starts inside the file; 4 when its
// path or its start lies past the end of the file (what a cut leaves); 6 for
// an index that points into the header or the type, or blocks and a record
// that overlap.  *blocksEnd receives the end of the last block of the
// record's path that was made before it.
MgErr StartOf(const Log& log, uInt32 root, int32 count, int32 r, int32* at, int32* blocksEnd = nullptr) {
  uInt32 p = root;
  uInt32 walked[8];
  int32 nwalked = 0;
  for (int32 l = IndexLevel(count - 1); l >= 0; --l) {
    if (p < uInt32(log.dataStart)) return kFileIOErr;
    if (uInt64(p) + kDatalogIndexBlockSize > uInt64(log.size)) return kEOFErr;
    // Blocks of one path lie apart in every file this writer made.
    for (int32 j = 0; j < nwalked; ++j)
      if ((p > walked[j] ? p - walked[j] : walked[j] - p) < uInt32(kDatalogIndexBlockSize)) return kFileIOErr;
    if (nwalked < 8) walked[nwalked++] = p;
    uChar b[4];
    if (ReadAt(log.f, int32(p) + 4 * ((r >> (7 * l)) & (kDatalogFanOut - 1)), b, 4)) return kFileIOErr;
    p = GetBE32(b);
  }
  // A leaf entry still 0 was never written: the entries of records appended
  // within a group are written without a flush, so a power loss may keep the
  // header that counts them and lose the entries.
  if (p == 0) return kEOFErr;
  if (p < uInt32(log.dataStart)) return kFileIOErr;
  if (p >= uInt32(log.size)) return kEOFErr;
  for (int32 j = 0; j < nwalked; ++j)
    if (p >= walked[j] && p - walked[j] < uInt32(kDatalogIndexBlockSize)) return kFileIOErr;
  if (blocksEnd) {
    // A block of level l was made with the first record it covers, except
    // the first block of each level above 0, made as a root with record
    // 128^l: only that one may follow r.
    const int32 top = IndexLevel(count - 1);
    uInt32 last = 0;
    for (int32 j = 0; j < nwalked; ++j) {
      const int32 l = top - j;
      if ((l == 0 || (r >> (7 * l)) != 0) && walked[j] > last) last = walked[j];
    }
    *blocksEnd = int32(last) + kDatalogIndexBlockSize;
  }
  *at = int32(p);
  return kNoErr;
}

// Whether record r is whole in the file: 0 with its end, 4 when it is cut,
// 6 for a damaged index.
MgErr WholeRecord(const Log& log, uInt32 root, int32 count, int32 r, int32* end) {
  int32 at = 0, blocksEnd = 0;
  if (MgErr err = StartOf(log, root, count, r, &at, &blocksEnd)) return err;
  if (MgErr err = RecordEnd(log, at, end)) return err;
  // A record that ends before a block of its path made before it is damage,
  // and cutting the file there would lose that block.
  return *end < blocksEnd ? kFileIOErr : kNoErr;
}

// Settles the count and root of a log of records without a fixed size on
// the records the file holds whole.  Appends put every new index block and
// record at the end of the file, so what a cut loses is the last records: the
// count is lowered from the header's until the last record is whole.  A cut
// through a root that the append made (the tree grew a level) leaves the
// header naming a block that is not whole; the root before it, the only
// one that names the records before it, is found again: the first root is
// the first block of the file, and each later one was made right after the
// last record that the one before it covers, with that one as its entry 0.
// 6 for a file whose index is damaged otherwise.
MgErr Settle(Log* log) {
  const int32 n = log->count;
  uInt32 root = log->root;
  int32 cover = n;  // the records that root covers
  if (!log->BlockOk(root)) {
    if (root < uInt32(log->dataStart) || uInt64(root) + kDatalogIndexBlockSize <= uInt64(log->size))
      return kFileIOErr;
    const int32 level = IndexLevel(n - 1);
    uInt32 r = uInt32(log->dataStart);
    if (level == 0) {
      // The first append made the first block.
      if (root != r) return kFileIOErr;
      cover = 0;
    } else {
      cover = 1 << 7;
      for (int32 k = 1; k < level; ++k) {
        // The root of level k came right after record 128^k - 1.
        int32 end = 0;
        if (WholeRecord(*log, r, cover, cover - 1, &end) || !log->BlockOk(uInt32(end))) return kFileIOErr;
        uChar b[4];
        if (ReadAt(log->f, end, b, 4) || GetBE32(b) != r) return kFileIOErr;
        r = uInt32(end);
        cover <<= 7;
      }
      // The header's root is the one the cut append made: right after the
      // last record the old root covers, or past the end when that one was
      // cut too.  Any other place is damage.
      int32 end = 0;
      const MgErr err = WholeRecord(*log, r, cover, cover - 1, &end);
      if (err == kNoErr ? uInt32(end) != root : err != kEOFErr || root < uInt32(log->size)) return kFileIOErr;
    }
    root = r;
  }
  // Records start in the order they were appended: the first that does not
  // start inside the file is found by halving, the last record is seen first.
  int32 lo = 0, hi = cover, at = 0;
  if (cover > 0) {
    MgErr err = StartOf(*log, root, cover, cover - 1, &at);
    if (err == kNoErr) lo = cover;
    else if (err != kEOFErr) return err;
  }
  while (lo < hi) {
    const int32 mid = lo + (hi - lo) / 2;
    const MgErr err = StartOf(*log, root, cover, mid, &at);
    if (err == kNoErr) lo = mid + 1;
    else if (err == kEOFErr) hi = mid;
    else return err;
  }
  int32 w = lo, end = log->dataStart;
  if (w > 0) {
    // The last record that starts inside may still be cut; the one before
    // it then ends before its start.
    MgErr err = WholeRecord(*log, root, cover, w - 1, &end);
    if (err == kEOFErr) {
      --w;
      if (w > 0 && (err = WholeRecord(*log, root, cover, w - 1, &end)) != kNoErr) return kFileIOErr;
    } else if (err) {
      return err;
    }
  }
  if (w == 0) {
    log->torn = true;
    log->count = 0;
    log->root = 0;
    log->end = log->dataStart;
    return kNoErr;
  }
  // Roots made for more records than w give way to their entry 0.
  for (int32 l = IndexLevel(cover - 1); l > IndexLevel(w - 1); --l) {
    uChar b[4];
    if (ReadAt(log->f, int32(root), b, 4)) return kFileIOErr;
    root = GetBE32(b);
    if (!log->BlockOk(root)) return kFileIOErr;
  }
  log->torn = w < n || root != log->root;
  log->count = w;
  log->root = root;
  log->end = end;
  return kNoErr;
}

// Reads and checks the header of a datalog of the record type: 6 for a
// file that is not a sound one.
MgErr Load(FileRef f, const TypeDescriptor* rec, Log* log) {
  log->f = f;
  if (!f || !rec) return kArgErr;
  if (MgErr err = FGetEOF(f, &log->size)) return err;
  uChar b[kDatalogHeaderSize + kTypeSizeField];
  if (log->size < int32(sizeof b) || ReadAt(f, 0, b, int32(sizeof b))) return kFileIOErr;
  log->version = int32(GetBE32(b + 4));
  log->count = int32(GetBE32(b + 8));
  log->root = GetBE32(b + 12);
  const int32 n = GetBE16(b + kDatalogHeaderSize);
  if (std::memcmp(b, kSignature, 4) != 0 || (log->version != kDatalogVersion && log->version != kDatalogOldVersion))
    return kFileIOErr;
  if (log->count < 0 || n < 4 || n > log->size - kDatalogHeaderSize) return kFileIOErr;
  log->dataStart = kDatalogHeaderSize + n;
  log->flags = log->version == kDatalogOldVersion ? kFlatOldBooleans : 0;
  log->fixed = DataShape(rec) == 0;
  log->rec = rec;
  if (log->fixed) {
    log->recordSize = FlatSizeWalk(rec, nullptr, log->flags);
    if (log->recordSize < 0) return kFileIOErr;
    if (log->recordSize > 0 && int64(log->dataStart) + int64(log->count) * log->recordSize > log->size) {
      log->count = (log->size - log->dataStart) / log->recordSize;
      log->torn = true;
    }
    log->end = log->dataStart + log->count * log->recordSize;
    return kNoErr;
  }
  if (log->count == 0) return kNoErr;
  const MgErr err = Settle(log);
  // A damaged index (not a cut) is taken as the header gives it, as long as
  // the header itself is sound: the records it still reaches read, the others
  // give 6.  Such records flatten to 4 bytes at least (a count or a length).
  if (err == kFileIOErr && log->count <= (log->size - log->dataStart) / 4 && log->BlockOk(log->root))
    return kNoErr;
  return err;
}

// Moves to record r clamped to 0 ... count.
MgErr Position(const Log& log, int32 r, int32* at) {
  MgErr result = kNoErr;
  if (r < 0 || r > log.count) {
    r = r < 0 ? 0 : log.count;
    result = kEOFErr;
  }
  *at = r;
  int32 pos = log.size;
  if (r < log.count) {
    if (MgErr err = log.RecordAt(r, &pos)) return err;
  } else if (log.fixed) {
    pos = log.dataStart + log.count * log.recordSize;
  }
  if (MgErr err = FMSeek(log.f, pos, kFStart)) return err;
  return result;
}

// Appends a zeroed index block at the end of the file.
MgErr NewBlock(Log* log, uInt32* at) {
  static const DatalogIndexBlock kZero = {};
  if (log->size > INT32_MAX - kDatalogIndexBlockSize) return kDiskFullErr;
  if (MgErr err = WriteAt(log->f, log->size, &kZero, kDatalogIndexBlockSize)) return err;
  *at = uInt32(log->size);
  log->size += kDatalogIndexBlockSize;
  return kNoErr;
}

MgErr SetEntry(const Log& log, uInt32 block, int32 i, uInt32 value) {
  uChar b[4];
  PutBE32(b, value);
  return WriteAt(log.f, int32(block) + 4 * i, b, 4);
}

// Whether record r is the first one under a block of level l (which the
// append of r then makes).
bool StartsGroup(int32 r, int32 l) { return (int64(r) & ((int64(1) << (7 * l)) - 1)) == 0; }

// The blocks on the way down from the root to a leaf.  They must lie apart:
// in a damaged file a block that overlaps another one on the path would take
// the new entries over that block's own, and the append would succeed with
// the records lost.
class IndexPath {
 public:
  explicit IndexPath(uInt32 root) : walked_{root} {}
  void Add(uInt32 block) {
    if (n_ < int32(sizeof walked_ / sizeof walked_[0])) walked_[n_++] = block;
  }
  // Entry e of block p, a block below that lies apart from the path: 0, or
  // 6 for a damaged index.
  MgErr Existing(const Log& log, uInt32 p, int32 e, uInt32* child) const {
    if (MgErr err = log.Entry(p, e, false, child)) return err;
    for (int32 j = 0; j < n_; ++j)
      if ((*child > walked_[j] ? *child - walked_[j] : walked_[j] - *child) < uInt32(kDatalogIndexBlockSize))
        return kFileIOErr;
    return kNoErr;
  }

 private:
  uInt32 walked_[8];
  int32 n_ = 1;
};

// Checks, without writing, the blocks that the append of the log's next
// record walks through before it makes any: 0, or 6 for a damaged index, so
// that an append refused for damage leaves the file as it was.
MgErr CheckAppendPath(const Log& log) {
  const int32 r = log.count;
  if (log.fixed || r == 0 || IndexLevel(r) > IndexLevel(r - 1)) return kNoErr;
  IndexPath walk(log.root);
  uInt32 p = log.root;
  for (int32 l = IndexLevel(r); l >= 1 && !StartsGroup(r, l); --l) {
    uInt32 child = 0;
    if (MgErr err = walk.Existing(log, p, (r >> (7 * l)) & (kDatalogFanOut - 1), &child)) return err;
    walk.Add(child);
    p = child;
  }
  return kNoErr;
}

// Appends m records of one group (their flat bytes and sizes) to a datalog
// of records without a fixed size: the blocks covering the first one, the
// bytes at the end and their positions.  The header that counts them is the
// caller's to write.
MgErr AppendPiece(Log* log, const uChar* bytes, const int32* sizes, int32 m) {
  const int32 r = log->count;
  uInt32 root = log->root, leaf = 0;
  if (r == 0) {
    if (MgErr err = NewBlock(log, &root)) return err;
    leaf = root;
  } else {
    const int32 depth = IndexLevel(r);
    if (depth > IndexLevel(r - 1)) {
      // r is a power of 128: the tree grows a level over the old root.
      uInt32 grown = 0;
      if (MgErr err = NewBlock(log, &grown)) return err;
      if (MgErr err = SetEntry(*log, grown, 0, root)) return err;
      root = grown;
    }
    IndexPath walk(root);
    uInt32 p = root;
    for (int32 l = depth; l >= 1; --l) {
      const int32 e = (r >> (7 * l)) & (kDatalogFanOut - 1);
      uInt32 child = 0;
      if (StartsGroup(r, l)) {
        if (MgErr err = NewBlock(log, &child)) return err;
        if (MgErr err = SetEntry(*log, p, e, child)) return err;
      } else if (MgErr err = walk.Existing(*log, p, e, &child)) {
        return err;
      }
      walk.Add(child);
      p = child;
    }
    leaf = p;
  }
  int64 total = 0;
  std::vector<uChar> entries(size_t(m) * 4);
  for (int32 j = 0; j < m; ++j) {
    PutBE32(&entries[size_t(j) * 4], uInt32(log->size + total));
    total += sizes[j];
  }
  if (log->size + total > INT32_MAX) return kDiskFullErr;
  if (total && WriteAt(log->f, log->size, bytes, int32(total))) return kDiskFullErr;
  log->size += int32(total);
  if (MgErr err = WriteAt(log->f, int32(leaf) + 4 * (r & (kDatalogFanOut - 1)), entries.data(), 4 * m))
    return err;
  log->count += m;
  log->root = root;
  return kNoErr;
}

// The flat bytes of k records and the size of each.
struct FlatRecords {
  UHandle h = nullptr;
  int32 skip = 0;
  int32 k = 0;
  std::vector<int32> sizes;
  ~FlatRecords() {
    if (h) AZDisposeHandle(h);
  }
};

// Flattens the value: one record, or an array of records.
MgErr Flatten(const TypeDescriptor* rec, const TypeDescriptor* dataType, const void* data, int32 flags,
              FlatRecords* out) {
  const TypeDescriptor* t = SkipTypedefs(dataType);
  if (SameType(dataType, rec)) {
    out->k = 1;
    out->h = FlattenToNewHandle(nullptr, dataType, data, flags);
    if (!out->h) return kMemFullErr;
    out->sizes.push_back(AZGetHandleSize(out->h));
    return kNoErr;
  }
  if (!t || t->code != kTDArray) return kArgErr;
  int16 rank = 0;
  std::memcpy(&rank, reinterpret_cast<const uChar*>(t) + 4, sizeof rank);
  // The element follows the rank and a bound word per dimension.
  const TypeDescriptor* elt = rank > 0 && 6 + 4 * rank + 4 <= t->size
                                  ? reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(t) + 6 + 4 * rank)
                                  : nullptr;
  if (!elt || !SameType(elt, rec)) return kArgErr;
  const UHandle a = *static_cast<const UHandle*>(data);
  int64 k = a && *a ? 1 : 0;
  for (int32 d = 0; d < rank && k; ++d) {
    int32 n = 0;
    std::memcpy(&n, *a + 4 * d, 4);
    k *= n;
  }
  if (k > INT32_MAX) return kArgErr;
  out->k = int32(k);
  if (!k) return kNoErr;
  out->h = FlattenToNewHandle(nullptr, dataType, data, flags);
  if (!out->h) return kMemFullErr;
  out->skip = 4 * rank;
  out->sizes.resize(size_t(k));
  const uChar* first = *a + AlignDatum(elt, 4 * rank);
  const int32 step = DataSize(elt);
  for (int32 i = 0; i < out->k; ++i) {
    out->sizes[size_t(i)] = FlatSizeWalk(elt, first + int64(i) * step, flags);
    if (out->sizes[size_t(i)] < 0) return kArgErr;
  }
  return kNoErr;
}

// Appends the records.  Each piece's bytes and index entries are written
// before the header that counts them, and when the append flushes (as it
// does unless it stays in the group of 128 that the log's last record was
// in), it flushes them before that header: a power loss never keeps a header
// that counts records whose bytes went.  A log that a cut left with more
// records in its header than the file holds whole is first cut after the
// whole ones, so that the new records follow them.
MgErr Append(Log* log, const FlatRecords& recs) {
  const int32 before = log->count;
  if (recs.k > INT32_MAX - before) return kArgErr;
  const uChar* bytes = *recs.h + recs.skip;
  // One group before and after: the flush waits for the group to fill.
  const bool flush = !(before > 0 && (before - 1) >> 7 == (before + recs.k - 1) >> 7);
  if (MgErr err = CheckAppendPath(*log)) return err;
  if (log->torn) {
    if (MgErr err = FSetEOF(log->f, log->end)) return err;
    log->size = log->end;
    log->torn = false;
  }
  auto counted = [&]() -> MgErr {
    if (flush)
      if (MgErr err = FFlush(log->f)) return err;
    return log->WriteHeader();
  };
  if (log->fixed) {
    const int64 total = int64(recs.k) * log->recordSize;
    const int32 end = log->dataStart + before * log->recordSize;
    if (end + total > INT32_MAX) return kDiskFullErr;
    if (total)
      if (MgErr err = WriteAt(log->f, end, bytes, int32(total))) return err;
    log->count += recs.k;
    return counted();
  }
  int32 done = 0;
  while (done < recs.k) {
    const int32 room = kDatalogFanOut - (log->count & (kDatalogFanOut - 1));
    const int32 m = recs.k - done < room ? recs.k - done : room;
    if (MgErr err = AppendPiece(log, bytes, &recs.sizes[size_t(done)], m)) return err;
    if (MgErr err = counted()) return err;
    for (int32 j = 0; j < m; ++j) bytes += recs.sizes[size_t(done + j)];
    done += m;
  }
  return kNoErr;
}

// Reads records r ... into an array of records without a fixed size,
// moving through the index at each group start.
MgErr ReadVariable(const Log& log, const TypeDescriptor* rec, int32 r, int32 want, UHandle* out,
                   int32 flags, int32* got) {
  *got = 0;
  int32 room = want < kFirstRoom ? want : kFirstRoom;
  if (MgErr err = FileArrayResize(rec, out, room)) return err;
  MgErr err = kNoErr;
  for (int32 i = 0; i < want; ++i) {
    if (i > 0 && ((r + i) & (kDatalogFanOut - 1)) == 0) {
      int32 at = 0;
      if ((err = log.RecordAt(r + i, &at)) != kNoErr || (err = FMSeek(log.f, at, kFStart)) != kNoErr) break;
    }
    if (i == room) {
      room = room > want / 2 ? want : room * 2;
      if ((err = FileArrayResize(rec, out, room)) != kNoErr) break;
    }
    if ((err = UnFlattenFromStream(rec, FileArrayElement(*out, rec, i), &FPStreamRead, log.f, flags)) != kNoErr)
      break;
    *got = i + 1;
  }
  if (MgErr e2 = FileArrayResize(rec, out, *got)) return e2;
  return err;
}

// The type stored in the file, in memory order with current booleans: 0, or
// 71 for a file that is not a datalog.
MgErr StoredType(FileRef f, std::vector<uChar>* td, int32* version) {
  int32 size = 0;
  uChar b[kCheckBytes];
  if (FGetEOF(f, &size) || size < kCheckBytes || ReadAt(f, 0, b, kCheckBytes)) return kDatalogIncompatibleErr;
  *version = int32(GetBE32(b + 4));
  const int32 n = GetBE16(b + kDatalogHeaderSize);
  if (std::memcmp(b, kSignature, 4) != 0 || (*version != kDatalogVersion && *version != kDatalogOldVersion) ||
      n < 4 || n > size - kDatalogHeaderSize)
    return kDatalogIncompatibleErr;
  td->assign(size_t(n), 0);
  if (ReadAt(f, kDatalogHeaderSize, td->data(), n)) return kDatalogIncompatibleErr;
  if (StandardizeTDBounded(td->data(), kToMemoryOrder, 0, n) || TDCheckBounds(td->data(), n))
    return kDatalogIncompatibleErr;
  SetBooleanTDCode(reinterpret_cast<TypeDescriptor*>(td->data()), kTDBoolean);
  return kNoErr;
}

// ---- The refnum side --------------------------------------------------------------------------

MgErr RefnumLog(FileRefnum refnum, const TypeDescriptor* rec, Log* log, int32* current) {
  FileRef f = nullptr;
  if (FRefNumToFD(refnum, &f) || !f || FRefNumGetRecord(refnum, current)) return kArgErr;
  return Load(f, rec, log);
}

int32 Target(const Log& log, int32 mode, int32 offset, int32 current) {
  const int64 base = mode == 0 ? 0 : mode == 1 ? log.count : current;
  const int64 t = base + offset;
  return t < INT32_MIN ? INT32_MIN : t > INT32_MAX ? INT32_MAX : int32(t);
}

MgErr ProcCheck(FileRef f, const TypeDescriptor* rec, int32* version) { return CheckDatalogType(f, rec, version); }
Bool32 ProcValid(const TypeDescriptor* rec) { return rec && TDIsValid(rec) ? 1 : 0; }

MgErr ProcRead(FileRefnum refnum, const TypeDescriptor* rec, int32 mode, int32 offset, const int32* count,
               void* data, int32 options, int32* positionOut) {
  Log log;
  int32 current = 0;
  MgErr err = RefnumLog(refnum, rec, &log, &current);
  int32 r = current;
  if (!err) {
    err = DatalogRead(log.f, rec, Target(log, mode, offset, current), count, data, options, &r);
    FRefNumSetRecord(refnum, r);
  }
  if (positionOut) *positionOut = r;
  return err;
}

MgErr ProcWrite(FileRefnum refnum, const TypeDescriptor* rec, const TypeDescriptor* dataType, const void* data,
                int32 /*flags*/, int32* positionOut) {
  FileRef f = nullptr;
  if (FRefNumToFD(refnum, &f) || !f) return kArgErr;
  int32 count = 0;
  MgErr err = DatalogAppend(f, rec, dataType, data, &count);
  if (!err) FRefNumSetRecord(refnum, count);
  if (positionOut) FRefNumGetRecord(refnum, positionOut);
  return err;
}

MgErr ProcSeek(FileRefnum refnum, const TypeDescriptor* rec, int32 mode, int32 offset, int32* positionOut) {
  Log log;
  int32 current = 0;
  MgErr err = RefnumLog(refnum, rec, &log, &current);
  int32 r = current;
  if (!err) err = Position(log, Target(log, mode, offset, current), &r);
  if (!err || err == kEOFErr) FRefNumSetRecord(refnum, r);
  if (positionOut) *positionOut = r;
  return err;
}

MgErr ProcCount(FileRefnum refnum, const TypeDescriptor* rec, int32* countOut) {
  FileRef f = nullptr;
  int32 count = 0;
  MgErr err = FRefNumToFD(refnum, &f) || !f ? kArgErr : DatalogCount(f, rec, &count);
  if (countOut) *countOut = err ? 0 : count;
  return err;
}

const DatalogProcs kProcs{&ProcValid, &ProcCheck,  &ConvertDatalog, &DatalogCreate,
                          &ProcRead,  &ProcWrite,  &ProcSeek,       &ProcCount};

// Numbers the temporary files of conversions running at once.
std::atomic<uInt32> gTempSerial{0};

// Creates "tmp%ld.log" in the folder exclusively.
MgErr CreateTemp(Path dir, Path temp, FileRef* file) {
  for (int32 tries = 0; tries < 1000; ++tries) {
    const long serial = long(PlatProcessId() % 100000) * 1000 + long(gTempSerial.fetch_add(1) % 1000);
    char name[32];
    std::snprintf(name, sizeof name, "tmp%ld.log", serial);
    Str255 pname;
    pname[0] = uChar(std::strlen(name));
    std::memcpy(pname + 1, name, pname[0]);
    if (MgErr err = FPathCpy(temp, dir)) return err;
    if (MgErr err = FAppendName(temp, pname)) return err;
    const MgErr err = FCreate(file, temp, FGetDefPerm(0666), kAccessReadWrite, kDenyReadWrite, nullptr);
    if (err != kDupPathErr) return err;
  }
  return kDupPathErr;
}

// Copies the records of the old log into the new one, in order, leaving out
// those whose mark is non-zero (records past the marks count as unmarked).
MgErr CopyRecords(const Log& from, const TypeDescriptor* rec, FileRef to, const uChar* marks, int32 markCount,
                  int32* kept) {
  Log dst;
  if (MgErr err = Load(to, rec, &dst)) return err;
  std::vector<uChar> datum(size_t(DataSize(rec)) + 1, 0);
  if (MgErr err = InitEmptyData(rec, datum.data())) return err;
  MgErr err = kNoErr;
  int32 n = 0;
  for (int32 r = 0; r < from.count && !err; ++r) {
    if (marks && r < markCount && marks[r]) continue;
    int32 at = 0;
    if ((err = from.RecordAt(r, &at)) || (err = FMSeek(from.f, at, kFStart))) break;
    if ((err = UnFlattenFromStream(rec, datum.data(), &FPStreamRead, from.f, from.flags))) break;
    FlatRecords one;
    if ((err = Flatten(rec, rec, datum.data(), 0, &one))) break;
    if (!(err = Append(&dst, one))) ++n;
  }
  DisposeData(rec, datum.data(), datum.data() + DataSize(rec));
  if (kept) *kept = n;
  return err;
}

// Writes the kept records of the log open in `old` into a new datalog made
// exclusively next to it, flushes and closes that, and puts it in the log's
// place in one step.  Until the replace the log is not touched; any failure
// removes the new file.
MgErr RewriteLog(FileRef old, const TypeDescriptor* rec, Path path, const uChar* marks, int32 markCount,
                 int32* kept) {
  Log from;
  if (MgErr err = Load(old, rec, &from)) return err;
  Path dir = FEmptyPath(nullptr), temp = FEmptyPath(nullptr);
  FileRef made = nullptr;
  MgErr err = dir && temp ? FDirName(path, dir) : kMemFullErr;
  if (!err) err = CreateTemp(dir, temp, &made);
  if (!err) {
    err = DatalogCreate(made, rec);
    if (!err) err = CopyRecords(from, rec, made, marks, markCount, kept);
    if (!err) err = FFlush(made);
    const MgErr closeErr = FMClose(made);
    if (!err) err = closeErr;
    char fromText[kHostTextBufSize], toText[kHostTextBufSize];
    if (!err) err = FPathToHostText(temp, fromText);
    if (!err) err = FPathToHostText(path, toText);
    if (!err && PlatFileReplace(fromText, toText) != 0) err = FLastErrorToMgErr();
    if (err) FRemove(temp);
  }
  for (Path p : {dir, temp})
    if (p) FDisposePath(p);
  return err;
}

}  // namespace

int32 IndexLevel(int32 n) {
  int32 level = 0;
  while ((n >>= 7) > 0) ++level;
  return level;
}

MgErr CheckDatalogType(FileRef file, const TypeDescriptor* recordType, int32* version) {
  int32 pos = 0;
  if (!file || !recordType || FMTell(file, &pos)) return kArgErr;
  std::vector<uChar> td;
  int32 v = 0;
  MgErr err = StoredType(file, &td, &v);
  if (!err && !SameType(reinterpret_cast<const TypeDescriptor*>(td.data()), recordType))
    err = kDatalogIncompatibleErr;
  FMSeek(file, pos, kFStart);
  if (!err && version) *version = v;
  return err;
}

MgErr DatalogCreate(FileRef file, const TypeDescriptor* recordType) {
  if (!file || !recordType || recordType->size < 4 || recordType->size == 0xFFFF) return kArgErr;
  std::vector<uChar> b(kDatalogHeaderSize + size_t(recordType->size));
  std::memcpy(b.data(), kSignature, 4);
  PutBE32(&b[4], kDatalogVersion);
  std::memcpy(&b[kDatalogHeaderSize], recordType, recordType->size);
  if (MgErr err = TDStandardize(reinterpret_cast<TypeDescriptor*>(&b[kDatalogHeaderSize]), kToFileOrder))
    return err;
  if (MgErr err = WriteAt(file, 0, b.data(), int32(b.size()))) return err;
  return FSetEOF(file, int32(b.size()));
}

MgErr DatalogCount(FileRef file, const TypeDescriptor* recordType, int32* count) {
  Log log;
  MgErr err = Load(file, recordType, &log);
  if (count) *count = err ? 0 : log.count;
  return err;
}

MgErr DatalogPosition(FileRef file, const TypeDescriptor* recordType, int32 r, int32* at) {
  Log log;
  if (at) *at = 0;
  if (MgErr err = Load(file, recordType, &log)) return err;
  int32 got = 0;
  MgErr err = Position(log, r, &got);
  if (at) *at = got;
  return err;
}

MgErr DatalogAppend(FileRef file, const TypeDescriptor* recordType, const TypeDescriptor* dataType,
                    const void* data, int32* count) {
  if (!dataType || !data) return kArgErr;
  Log log;
  if (MgErr err = Load(file, recordType, &log)) return err;
  FlatRecords recs;
  if (MgErr err = Flatten(recordType, dataType, data, log.flags, &recs)) return err;
  MgErr err = recs.k ? Append(&log, recs) : kNoErr;
  if (count) *count = log.count;
  return err;
}

MgErr DatalogRead(FileRef file, const TypeDescriptor* recordType, int32 r, const int32* count, void* data,
                  int32 options, int32* next) {
  if (!data || (count && *count < 0)) return kArgErr;
  Log log;
  MgErr err = Load(file, recordType, &log);
  int32 at = r;
  if (!err) err = Position(log, r, &at);
  if (next) *next = at;
  if (err && err != kEOFErr) return err;
  const MgErr clamp = err;
  const int32 flags = options | log.flags;
  const int32 left = log.count - at;
  int32 got = 0;
  if (!count) {
    err = left > 0 ? UnFlattenFromStream(recordType, data, &FPStreamRead, file, flags) : kEOFErr;
    got = err ? 0 : 1;
  } else {
    const int32 want = *count < left ? *count : left;
    UHandle* out = static_cast<UHandle*>(data);
    if (log.fixed && log.recordSize > 0 && want > 0) {
      err = FileReadFixedArray(file, recordType, log.recordSize, want, out, flags);
      got = *out && **out ? *reinterpret_cast<int32*>(**out) : 0;
    } else if (log.fixed) {
      err = FileArrayResize(recordType, out, want);
      if (!err) got = want;
    } else {
      err = ReadVariable(log, recordType, at, want, out, flags, &got);
    }
    if (!err && want < *count) err = kEOFErr;
  }
  if (next) *next = at + got;
  return err ? err : clamp;
}

MgErr ConvertDatalog(FileRefnum refnum, int32 access, int32 deny) {
  FileRef old = nullptr;
  if (FRefNumToFD(refnum, &old) || !old) return kArgErr;
  std::vector<uChar> tdBytes;
  int32 version = 0;
  if (MgErr err = StoredType(old, &tdBytes, &version)) return err;
  if (version == kDatalogVersion) return kNoErr;
  const TypeDescriptor* rec = reinterpret_cast<const TypeDescriptor*>(tdBytes.data());
  Path path = FEmptyPath(nullptr);
  MgErr err = path ? FRefNumToPath(refnum, path) : kMemFullErr;
  if (!err) err = RewriteLog(old, rec, path, nullptr, 0, nullptr);
  if (!err) {
    FileRef reopened = nullptr;
    err = FMOpen(&reopened, path, access, deny);
    if (!err) {
      FRefNumSetFD(refnum, reopened);
      FRefNumSetRecord(refnum, 0);
      FMClose(old);
    }
  }
  if (path) FDisposePath(path);
  return err;
}

MgErr DatalogPurge(FileRef file, const TypeDescriptor* recordType, Path path, const uChar* marks, int32 markCount,
                   int32* kept) {
  if (!file || !recordType || !path || markCount < 0 || (markCount && !marks)) return kArgErr;
  int32 n = 0;
  const MgErr err = RewriteLog(file, recordType, path, marks, markCount, &n);
  if (kept) *kept = err ? 0 : n;
  return err;
}

const DatalogProcs& DatalogFileProcs() { return kProcs; }
