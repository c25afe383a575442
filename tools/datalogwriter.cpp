#include "tools/datalogwriter.h"

#include "engine/flatten.h"
#include "mgsource/byteorder.h"

namespace dlw {

namespace {

void Put32(std::vector<uChar>& out, size_t at, uInt32 v) { PutBE32(&out[at], v); }

uInt32 Get32(const std::vector<uChar>& in, size_t at) { return GetBE32(&in[at]); }

// Appends a zeroed block; its position.
uInt32 Block(std::vector<uChar>& out, uInt32* first) {
  const uInt32 at = uInt32(out.size());
  out.resize(out.size() + 512, 0);
  if (!*first) *first = at;
  return at;
}

int32 Level(int64 n) {
  int32 l = 0;
  while ((n >>= 7) > 0) ++l;
  return l;
}

}  // namespace

std::vector<uChar> Write(int32 version, const tdb::TD& type, const std::vector<std::vector<uChar>>& records,
                         bool fixed, Corruption corrupt) {
  std::vector<uChar> out = {'D', 'T', 'L', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put32(out, 4, uInt32(version));
  const std::vector<uChar> td = type.Bytes(tdb::Order::kFile);
  out.insert(out.end(), td.begin(), td.end());
  uInt32 root = 0, firstBlock = 0;
  size_t lastRecord = 0;
  for (size_t i = 0; i < records.size(); ++i) {
    const int64 r = int64(i);
    uInt32 leaf = 0;
    if (!fixed) {
      // The blocks covering record r, made as a single append makes them.
      if (r == 0) {
        root = leaf = Block(out, &firstBlock);
      } else {
        const int32 depth = Level(r);
        if (depth > Level(r - 1)) {
          const uInt32 grown = Block(out, &firstBlock);
          Put32(out, grown, root);
          root = grown;
        }
        uInt32 p = root;
        for (int32 l = depth; l >= 1; --l) {
          const size_t entry = p + 4 * ((r >> (7 * l)) & 127);
          if ((r & ((int64(1) << (7 * l)) - 1)) == 0) Put32(out, entry, Block(out, &firstBlock));
          p = Get32(out, entry);
        }
        leaf = p;
      }
      Put32(out, leaf + 4 * (r & 127), uInt32(out.size()));
    }
    lastRecord = out.size();
    out.insert(out.end(), records[i].begin(), records[i].end());
  }
  Put32(out, 8, uInt32(records.size()));
  Put32(out, 12, root);
  switch (corrupt.field) {
    case Field::kNone: break;
    case Field::kCount: Put32(out, 8, corrupt.value); break;
    case Field::kRoot: Put32(out, 12, corrupt.value); break;
    case Field::kIndexEntry:
      if (firstBlock) Put32(out, firstBlock, corrupt.value);
      break;
    case Field::kTypeSize: PutBE16(&out[16], uInt16(corrupt.value)); break;
    case Field::kRecordLength:
      if (!records.empty() && records.back().size() >= 4) Put32(out, lastRecord, corrupt.value);
      break;
  }
  return out;
}

std::vector<uChar> FlatRecord(const TypeDescriptor* type, const void* data, bool oldBooleans) {
  const int32 flags = oldBooleans ? kFlatOldBooleans : 0;
  const int32 n = FlatSizeWalk(type, data, flags);
  std::vector<uChar> out(size_t(n > 0 ? n : 0));
  if (n > 0) FlattenDataWalk(out.data(), type, data, flags);
  return out;
}

std::vector<uChar> FlatString(const std::vector<uChar>& text) {
  std::vector<uChar> out(4);
  PutBE32(out.data(), uInt32(text.size()));
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

}  // namespace dlw
