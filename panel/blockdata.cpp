#include "panel/blockdata.h"

#include <algorithm>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/walert.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/rangecheck.h"

namespace {

constexpr char kSource[] = "blockdata.cpp";
constexpr int32 kReplyFail = 0x10, kReplyData = 0x8;
constexpr int32 kTDCompareMask = 0x7FC0;
constexpr int32 kMaxRank = 64;

int32 RankOf(const TypeDescriptor* td) {
  return td && td->code == kTDArray ? int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) : 0;
}

// The insertion or deletion of counts at positions: memory (2) fails the
// command; anything else is reported and the command goes on.
int32 Resize(const TypeDescriptor* td, UHandle* value, std::vector<int32> positions, std::vector<int32> counts,
             const char* what) {
  if (std::all_of(counts.begin(), counts.end(), [](int32 c) { return c == 0; })) return 0;
  const MgErr err = ArrayInsertDeleteNDim(td, value, positions.data(), counts.data(), nullptr);
  if (err == kMemFullErr) return kReplyFail;
  if (err) DBMgErr(kSource, __LINE__, err, what);
  return 0;
}

bool Empty(const DataBlock& b) {
  for (size_t k = 0; k < b.start.size(); ++k)
    if (b.start[k] == b.end[k]) return true;
  return false;
}

}  // namespace

bool BlockValueSizes(UHandle value, int32 rank, std::vector<int32>* sizes) {
  sizes->assign(size_t(std::max(rank, 0)), 0);
  if (!value) return true;
  if (!*value || rank <= 0 || DSGetHandleSize(value) < 4 * rank) return false;
  for (int32 k = 0; k < rank; ++k) {
    (*sizes)[size_t(k)] = int32(GetNative32(*value + 4 * k));
    if ((*sizes)[size_t(k)] < 0) return false;
  }
  return true;
}

void PinDataBlock(DataBlock* block, const std::vector<int32>& sizes) {
  block->start.resize(sizes.size(), 0);
  block->end.resize(sizes.size(), 0);
  for (size_t k = 0; k < sizes.size(); ++k) {
    int32 a = std::clamp(block->start[k], 0, sizes[k]), b = std::clamp(block->end[k], 0, sizes[k]);
    block->start[k] = std::min(a, b);
    block->end[k] = std::max(a, b);
  }
}

int32 BlockCut(const TypeDescriptor* td, UHandle* value, DataBlock* block) {
  std::vector<int32> sizes;
  const int32 rank = RankOf(td);
  if (!value || !BlockValueSizes(*value, rank, &sizes) || rank == 0) return 0;
  PinDataBlock(block, sizes);
  std::vector<int32> counts(static_cast<size_t>(rank));
  bool someWhole = false, somePart = false;
  for (int32 k = 0; k < rank; ++k) {
    const bool whole = block->start[size_t(k)] == 0 && block->end[size_t(k)] == sizes[size_t(k)];
    (whole ? someWhole : somePart) = true;
  }
  for (int32 k = 0; k < rank; ++k) {
    const size_t i = size_t(k);
    const bool whole = block->start[i] == 0 && block->end[i] == sizes[i];
    counts[i] = someWhole && somePart && whole ? 0 : block->start[i] - block->end[i];
  }
  const int32 reply = Resize(td, value, block->start, counts, "a block cannot be cut");
  if (reply) return reply;
  for (int32 k = 0; k < rank; ++k)
    if (counts[size_t(k)] < 0) block->end[size_t(k)] = block->start[size_t(k)];
  return 0;
}

int32 BlockTrim(const TypeDescriptor* td, UHandle* value, DataBlock* block) {
  std::vector<int32> sizes;
  const int32 rank = RankOf(td);
  if (!value || !BlockValueSizes(*value, rank, &sizes) || rank == 0) return 0;
  PinDataBlock(block, sizes);
  if (Empty(*block)) return 0;
  std::vector<int32> before(static_cast<size_t>(rank)), after(static_cast<size_t>(rank)), at(static_cast<size_t>(rank)), origin(static_cast<size_t>(rank), 0);
  for (size_t k = 0; k < size_t(rank); ++k) {
    before[k] = -block->start[k];
    after[k] = -(sizes[k] - block->end[k]);
    at[k] = block->end[k] - block->start[k];
  }
  if (const int32 r = Resize(td, value, origin, before, "the copy cannot be trimmed")) return r;
  if (const int32 r = Resize(td, value, at, after, "the copy cannot be trimmed")) return r;
  for (size_t k = 0; k < size_t(rank); ++k) {
    block->end[k] -= block->start[k];
    block->start[k] = 0;
  }
  return 0;
}

int32 BlockPaste(const TypeDescriptor* td, UHandle* value, DataBlock* block, UHandle source) {
  std::vector<int32> sizes, from;
  const int32 rank = RankOf(td);
  if (!value || rank == 0 || !BlockValueSizes(*value, rank, &sizes) || !BlockValueSizes(source, rank, &from))
    return 0;
  PinDataBlock(block, sizes);
  std::vector<int32> change(static_cast<size_t>(rank));
  bool grow = false, shrink = false;
  for (size_t k = 0; k < size_t(rank); ++k) {
    change[k] = from[k] - (block->end[k] - block->start[k]);
    grow |= change[k] > 0;
    shrink |= change[k] < 0;
  }
  if (grow && shrink) {
    // Insertions and deletions do not mix in one call: a dimension at a time.
    for (size_t k = size_t(rank); k-- > 0;) {
      std::vector<int32> one(static_cast<size_t>(rank), 0);
      one[k] = change[k];
      if (const int32 r = Resize(td, value, block->start, one, "a block cannot be resized")) return r;
    }
  } else if (const int32 r = Resize(td, value, block->start, change, "a block cannot be resized")) {
    return r;
  }
  for (size_t k = 0; k < size_t(rank); ++k) block->end[k] = block->start[k] + from[k];
  if (!source || !*value) return 0;
  if (const MgErr err = ArrayReplaceSubsetNDim(td, *value, block->start.data(), source)) {
    if (err == kMemFullErr) return kReplyFail;
    DBMgErr(kSource, __LINE__, err, "a block cannot be written");
  }
  return 0;
}

namespace {

// The array's selection start and end vectors (the second and third handle
// of its record in the panel data), each a count of rank then the indexes;
// null when the record or a vector does not hold them.
bool SelectionVectors(ObjHeap heap, int32 array, int32 rank, UHandle out[2]) {
  UHandle* ds = OHBlockSize(heap, array) >= 4 * (kPWArrayPrivate + 1) ? FPGetDataSpace(heap) : nullptr;
  const int32 at = ds ? ObjWord(heap, array, kPWArrayPrivate) : 0;
  if (!ds || !*ds || !**ds || at <= 0 || at > DSGetHandleSize(*ds) - 12) return false;
  for (int32 i = 0; i < 2; ++i) {
    out[i] = reinterpret_cast<UHandle>(uintptr_t(GetNative32(**ds + at + 4 * (i + 1))));
    if (!out[i] || !*out[i] || DSGetHandleSize(out[i]) < 4 + 4 * rank || int32(GetNative32(*out[i])) != rank)
      return false;
  }
  return true;
}

const TypeDescriptor* TypeOfObject(ObjHeap heap, int32 o) {
  const TypeID id = OGetType(heap, o);
  return id ? TypeIDToTD(heap, id) : nullptr;
}

}  // namespace

int32 ArrayBlockData(ObjHeap heap, int32 array, int32 code, EditMsgRecord* rec) {
  const TypeDescriptor* td = TypeOfObject(heap, array);
  const int32 rank = RankOf(td);
  auto* value = reinterpret_cast<UHandle*>(uintptr_t(uInt32(OGetDataPtr(heap, array, 0, kDataPtrPlain, nullptr))));
  UHandle vectors[2];
  if (rank < 1 || rank > kMaxRank || !value || !SelectionVectors(heap, array, rank, vectors)) return 0;
  DataBlock block;
  for (int32 k = 0; k < rank; ++k) {
    block.start.push_back(int32(GetNative32(*vectors[0] + 4 + 4 * k)));
    block.end.push_back(int32(GetNative32(*vectors[1] + 4 + 4 * k)));
  }
  int32 reply = 0;
  UHandle converted = nullptr;
  switch (code) {
    case kEditCutData: reply = BlockCut(td, value, &block); break;
    case kEditCopyData: reply = BlockTrim(td, value, &block); break;
    case kEditPasteData: {
      const TypeDescriptor* src =
          rec && rec->sourceHeap && rec->sourceType ? TypeIDToTD(rec->sourceHeap, rec->sourceType) : nullptr;
      if (!src || !rec->sourceData || RankOf(src) != rank || (TDCompare(td, src) & kTDCompareMask)) {
        WBeep();
        return 0;
      }
      UHandle source;
      std::memcpy(&source, rec->sourceData, sizeof source);
      if (TDCompare(td, src)) {
        // Other element types: the source converted first, so that a
        // conversion that fails leaves the value as it was.
        const MgErr err = CopyConvertArray(src, td, source, &converted);
        if (err) {
          if (converted) DSDisposeHandle(converted);
          if (err == kMemFullErr) return kReplyFail;
          WBeep();
          return 0;
        }
        source = converted;
      }
      reply = BlockPaste(td, value, &block, source);
      break;
    }
    default: return 0;
  }
  if (converted) DSDisposeHandle(converted);
  // The vectors live in the data space's record: written back as they are.
  for (int32 k = 0; k < rank; ++k) {
    PutNative32(*vectors[0] + 4 + 4 * k, uInt32(block.start[size_t(k)]));
    PutNative32(*vectors[1] + 4 + 4 * k, uInt32(block.end[size_t(k)]));
  }
  if (reply & kReplyFail) return reply;
  reply |= kReplyData;
  if (code != kEditCopyData && (RangeWord(heap, array) & kRangeChecked)) reply |= UpdateRangeFlags(heap, array, value);
  return reply;
}
