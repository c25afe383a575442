#include "tools/typeheapwriter.h"

#include <algorithm>

#include "mgsource/byteorder.h"
#include "engine/objswap.h"
#include "mgsource/objheap.h"
#include "mgsource/objlist.h"

namespace thw {

namespace {

constexpr uInt32 kExtensionSize = 132;
constexpr uInt32 kSharedListWord = 104;
constexpr uInt32 kHeapKind = FourCC("DTHP");

// Appends a used block of n usable bytes with its header in file order and
// returns its data offset.
uInt32 AddBlock(Bytes& out, uInt32 n, int32 cls, const Bytes& data) {
  uInt32 usable = (n + 1) & ~1u;
  uInt32 total = (usable + kOHBlockHeader + 3) & ~3u;
  uInt32 pad = total - (usable + kOHBlockHeader) == 2 ? 2 : 0;
  uInt32 at = uInt32(out.size());
  out.resize(out.size() + total, 0);
  PutBE32(&out[at], total | pad);
  PutBE32(&out[at + 8], uInt32(cls));
  std::copy(data.begin(), data.end(), out.begin() + at + kOHBlockHeader);
  return at + kOHBlockHeader;
}

}  // namespace

Bytes TypeHeapImage(const std::vector<std::optional<tdb::TD>>& types, const Options& options, Layout* layout) {
  Bytes out(kOHHeaderSize, 0);
  uInt32 ext = AddBlock(out, kExtensionSize, kClsObjHeapHdrExtension, Bytes());
  uInt32 n = uInt32(types.size());
  uInt32 list = AddBlock(out, 4 + 4 * std::max(n, 1u), kObjClassList, Bytes());
  PutBE32(&out[list], n);

  std::vector<Bytes> written;
  std::vector<uInt32> offsets, entries;
  for (const auto& t : types) {
    if (!t) {
      entries.push_back(0);
      continue;
    }
    Bytes bytes = t->Bytes(tdb::Order::kFile);
    auto same = std::find(written.begin(), written.end(), bytes);
    uInt32 off;
    if (options.shareEqual && same != written.end()) {
      off = offsets[size_t(same - written.begin())];
    } else {
      off = AddBlock(out, uInt32(bytes.size()), kClsTypeDescriptor, bytes);
      written.push_back(bytes);
      offsets.push_back(off);
    }
    entries.push_back(off);
  }
  for (uInt32 i = 0; i < n; ++i) PutBE32(&out[list + 4 + 4 * i], entries[i]);
  PutBE32(&out[ext + kSharedListWord], list);

  // The header: words in file order, the kind in memory order (it is never swapped).
  PutBE32(&out[kOHFlags], 0);
  PutNative32(&out[kOHKind], kHeapKind);
  PutBE32(&out[kOHExtension], ext);
  PutBE32(&out[kOHBlockStart], kOHHeaderSize);
  PutBE32(&out[kOHBlockStart2], kOHHeaderSize);
  PutBE32(&out[kOHFreeHead], 0);
  PutBE32(&out[kOHEndOffset], uInt32(out.size()) - 1);
  if (layout) {
    layout->extension = ext;
    layout->list = list;
    layout->entries = entries;
    layout->size = uInt32(out.size());
  }
  return out;
}

bool AddTypeHeap(rsrcw::Writer& file, int32 rsrcId, const std::vector<std::optional<tdb::TD>>& types,
                 const Options& options, Layout* layout) {
  return file.Add(kHeapKind, rsrcId, TypeHeapImage(types, options, layout));
}

}  // namespace thw
