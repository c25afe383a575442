#include "engine/link/linker.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

ObjHeap gLinkNameHeap = nullptr;
UHandle gLinkTable = nullptr;
int32* gLinkBuckets = nullptr;

namespace {

// Words of the NAME heap, by offset from its start; the handle may move on
// every allocation, so nothing keeps an address across one.
inline int32 Word(int32 at) { return int32(GetNative32(*gLinkNameHeap + at)); }
inline void SetWord(int32 at, int32 v) { PutNative32(*gLinkNameHeap + at, uInt32(v)); }

// The offset of the word that holds the head of a bucket's chain, or 0 when
// the heap has no name table.
int32 HeadAt(int32 bucket) {
  int32 ext = int32(OHWord(gLinkNameHeap, kOHExtension));
  if (ext <= 0 || OHBlockSize(gLinkNameHeap, ext) < kNameTableSize) {
    DBAssert(__FILE__, __LINE__, "NAME heap without its name table");
    return 0;
  }
  return ext + bucket * 4;
}

// A block offset that can be read as a name block: inside the block area,
// word-aligned, with its whole name inside the heap.
bool Readable(int32 block) {
  if (!gLinkNameHeap || block < int32(kOHHeaderSize + kOHBlockHeader) || (block & 3)) return false;
  const int64 size = AZGetHandleSize(gLinkNameHeap);
  if (int64(block) + kNameBlockOverhead > size) return false;
  return int64(block) + kNameBlockOverhead + (*gLinkNameHeap)[block + kNameBlockName] <= size;
}

}  // namespace

int32 LinkNameHash(ConstPStr name) {
  uInt32 h = 0;
  const int32 n = name ? name[0] : 0;
  for (int32 i = 1; i <= n; ++i) {
    uInt32 c = name[i];
    if (c >= 'A' && c <= 'Z') c += 32;
    h = h * 16 + c;
    if (uInt32 g = h & 0xF0000000u) h = (h ^ ((g >> 24) & 0xF0)) & 0x0FFFFFFFu;
  }
  return int32(h % uInt32(kLinkBucketCount));
}

int32 InternLinkName(ConstPStr name, int32* nameBlock) {
  // The name may lie in the heap itself, which moves when it grows.
  Str255 own;
  own[0] = 0;
  if (name) std::memcpy(own, name, size_t(name[0]) + 1);
  const int32 bucket = LinkNameHash(own);
  if (nameBlock) *nameBlock = 0;
  if (!gLinkNameHeap) {
    DBAssert(__FILE__, __LINE__, "the linker's NAME heap does not exist");
    return bucket;
  }
  const int32 head = HeadAt(bucket);
  if (!head) return bucket;
  // link: the word that will point at the new block (the head, or the
  // previous block's next word); at: the block the new one goes before.
  int32 link = head, at = Word(head);
  while (at) {
    const int32 cmp = PStrCaseCmp(*gLinkNameHeap + at + kNameBlockName, own);
    if (cmp == 0) {
      if (nameBlock) *nameBlock = at;
      return bucket;
    }
    if (cmp > 0) break;
    link = at + kNameBlockNext;
    at = Word(link);
  }
  const int32 block = OHNewBlock(gLinkNameHeap, own[0] + kNameBlockOverhead, kNameBlockClass);
  if (!block) {
    DBAssert(__FILE__, __LINE__, "no room for a name in the NAME heap");
    return bucket;
  }
  std::memcpy(*gLinkNameHeap + block + kNameBlockName, own, size_t(own[0]) + 1);
  SetWord(block + kNameBlockRefCount, 0);
  SetWord(block + kNameBlockNext, at);
  SetWord(link, block);
  if (nameBlock) *nameBlock = block;
  return bucket;
}

void ReleaseLinkName(int32 nameBlock) {
  if (!Readable(nameBlock)) return;
  const int32 head = HeadAt(LinkNameHash(*gLinkNameHeap + nameBlock + kNameBlockName));
  if (!head) return;
  for (int32 link = head, at = Word(head); at; link = at + kNameBlockNext, at = Word(link)) {
    if (at != nameBlock) continue;
    SetWord(link, Word(at + kNameBlockNext));
    OHDisposeBlock(gLinkNameHeap, at);
    return;
  }
}

int32 LinkClassIndex(uInt32 classCode) {
  for (int32 i = 0; i < kLinkClassCount; ++i)
    if (kLinkClassCodes[i] == classCode) return i;
  return classCode == kLinkClassNoneCode ? kLinkClassNone : -1;
}

int32 FindLinkEntry(int32 bucket, int32 classIndex, int32 nameBlock) {
  if (!gLinkTable || !gLinkBuckets || bucket < 0 || bucket >= kLinkBucketCount) {
    DBAssert(__FILE__, __LINE__, "FindLinkEntry without a link table or with a bad bucket");
    return 0;
  }
  const int32 want = classIndex == kLinkClassProxy ? kLinkClassVI : classIndex;
  const int32 capacity = AZGetHandleSize(gLinkTable) / int32(sizeof(LinkEntry));
  // A chain never holds more entries than the table; a longer walk is a loop.
  int32 steps = 0;
  for (int32 i = gLinkBuckets[bucket]; i; ++steps) {
    if (i < 1 || i >= capacity || steps >= capacity) {
      DBAssert(__FILE__, __LINE__, "broken link hash chain");
      return 0;
    }
    const LinkEntry& e = reinterpret_cast<const LinkEntry*>(*gLinkTable)[i];
    if (e.classFlags & kLinkFlagReference) return 0;  // references follow the public entries
    if (e.name == nameBlock && LinkEntryClass(e) == want) return i;
    i = e.chain;
  }
  return 0;
}

ConstPStr LinkNameOf(int32 nameBlock) {
  return Readable(nameBlock) ? *gLinkNameHeap + nameBlock + kNameBlockName : nullptr;
}

int32 LinkNameRefCount(int32 nameBlock) {
  return Readable(nameBlock) ? Word(nameBlock + kNameBlockRefCount) : 0;
}

void LinkNameSetRefCount(int32 nameBlock, int32 count) {
  if (Readable(nameBlock)) SetWord(nameBlock + kNameBlockRefCount, count);
}
