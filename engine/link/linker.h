// The linker's tables and its name table.
//
// Every item the linker knows is named by a Pascal string compared without
// regard to letter case.  Names are interned once in the NAME heap, an object
// sub-heap whose heap extension is a table of 751 chain heads; a name block
// (class 2) holds the offset of the next block of its chain, a reference
// count and the name:
//
//   +0 next block offset (0 ends the chain)   +4 reference count   +8 PStr
//
// Chains are sorted ascending by PStrCaseCmp, so two link entries name the
// same item exactly when their name words hold the same block offset.  The
// bucket of a name selects both its name chain and its link hash chain.
//
// The tables (the NAME heap, the LinkTable of 36-byte entries and the link
// bucket array) are made by the linker's start-up; they have no lock and are
// used only on the thread that loads and links VIs.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/path.h"

// ---- the NAME heap ------------------------------------------------------------------
constexpr uInt32 kNameHeapKind = FourCC("NAME");
constexpr int32 kNameHeapDataSize = 16382;
constexpr int32 kLinkBucketCount = 751;
// The heap extension: the chain heads, one 32-bit offset per bucket.
constexpr int32 kNameTableSize = kLinkBucketCount * 4;  // 3,004 bytes
constexpr int32 kNameTableClass = 6;
// Name blocks.
constexpr int32 kNameBlockClass = 2;
enum : int32 { kNameBlockNext = 0, kNameBlockRefCount = 4, kNameBlockName = 8 };
constexpr int32 kNameBlockOverhead = 9;  // a name of n characters takes n + 9 bytes

// ---- the link table -----------------------------------------------------------------
// One record of the LinkTable.  Index fields name records by their index;
// record 0 is the table's header, so index 0 also means no entry.
struct LinkEntry {
  uInt32 classFlags;  // bits 31-24 class index, bits 7-0 flags (kLinkFlag*)
  int32 name;         // the interned name block in the NAME heap
  uInt32 owner;       // public: the item; alias: the public entry; reference: the holder's entry
  int32 sites;        // LKHP heap: site list of a reference, clone list of a public entry
  int32 typeBlock;    // NAME heap: copy of the type block, or 0
  int32 referrers;    // public: first bound reference; reference: next to the same target
  int32 ownRefs;      // public: first reference held; reference: next held by the same owner
  int32 chain;        // next in the hash chain; a bound reference: its target
  Path path;          // the item's file, or the path recorded for the target
};
static_assert(sizeof(LinkEntry) == 36, "link entry size");
static_assert(offsetof(LinkEntry, name) == 4 && offsetof(LinkEntry, owner) == 8 &&
              offsetof(LinkEntry, sites) == 12 && offsetof(LinkEntry, typeBlock) == 16 &&
              offsetof(LinkEntry, referrers) == 20 && offsetof(LinkEntry, ownRefs) == 24 &&
              offsetof(LinkEntry, chain) == 28 && offsetof(LinkEntry, path) == 32,
              "link entry offsets");

enum : uInt32 {
  kLinkFlagPublic = 0x80,      // the item itself
  kLinkFlagReference = 0x40,   // a reference to an item
  kLinkFlagUnresolved = 0x20,  // a reference whose target is not in the table
  kLinkFlagIncomplete = 0x08,  // the target has unresolved or incomplete references
  kLinkFlagAlias = 0x01,
  kLinkFlagsMask = 0xFF,
  kLinkRecordFree = 0xFF000000,
  kLinkRecordHeader = 0xFE000000,
};
inline int32 LinkEntryClass(const LinkEntry& e) { return int32(e.classFlags >> 24); }

// ---- reference classes --------------------------------------------------------------
enum : int32 {
  kLinkClassVI = 0,         // QXIN
  kLinkClassDataSpace = 1,  // VIDS
  kLinkClassPanel = 2,      // FPHP
  kLinkClassSubr = 3,       // QXSB
  kLinkClassGenH = 4,       // GENH
  kLinkClassCustomCtl = 5,  // QXCC
  kLinkClassLibFunc = 6,    // XFun
  kLinkClassProxy = 7,      // QXPR
  kLinkClassCount = 8,
  kLinkClassNone = 8,       // "NONE": no class
};
// The codes of the class table, by index.
constexpr uInt32 kLinkClassCodes[kLinkClassCount] = {
    FourCC("QXIN"), FourCC("VIDS"), FourCC("FPHP"), FourCC("QXSB"),
    FourCC("GENH"), FourCC("QXCC"), FourCC("XFun"), FourCC("QXPR"),
};
constexpr uInt32 kLinkClassNoneCode = FourCC("NONE");

// ---- the linker's tables ------------------------------------------------------------
// The NAME heap, the LinkTable (a handle of LinkEntry records) and the link
// bucket array (751 entry indices, the 3,004-byte start-up block of
// AZPBlocks); null until the linker starts.
extern ObjHeap gLinkNameHeap;
extern UHandle gLinkTable;
extern int32* gLinkBuckets;

// ---- the name table -----------------------------------------------------------------
// The bucket of a name, 0 to 750 (the empty or null name: 0).  Only the
// letters A to Z are folded to lower case.
QX_EXTERN_C int32 LinkNameHash(ConstPStr name);
// Finds the block of a name equal to `name` ignoring case, or links a new one
// (reference count 0) into its chain before the first greater block.  Returns
// the bucket; *nameBlock is the block, or 0 when the heap could not grow (a
// failure report is made and the chain is left as it was).
QX_EXTERN_C int32 InternLinkName(ConstPStr name, int32* nameBlock);
// Unlinks a name block from its chain and frees it; an offset that is not a
// block of its chain is left alone.
QX_EXTERN_C void ReleaseLinkName(int32 nameBlock);
// The class index of a code: 0 to 7, 8 for "NONE", -1 for any other code.
QX_EXTERN_C int32 LinkClassIndex(uInt32 classCode);
// The public entry of the bucket's chain with that name block and class, or
// 0.  A request for class 7 (a VI reached as a proxy) looks for class 0.
QX_EXTERN_C int32 FindLinkEntry(int32 bucket, int32 classIndex, int32 nameBlock);

// The name of a name block (valid until the next allocation in the heap).
ConstPStr LinkNameOf(int32 nameBlock);
// The reference count word of a name block.
int32 LinkNameRefCount(int32 nameBlock);
void LinkNameSetRefCount(int32 nameBlock, int32 count);
