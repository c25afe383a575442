// Link information: the resources LIvi (a VI's diagram), LIfp (its panel
// heap), LIds (its data space) and LIsb (an external subroutine) name their
// item and list, one record per referenced item, what the item refers to and
// the sites where the referenced item's address goes.
//
// Layout (big-endian numbers, codes as their four characters in order, every
// record at an even offset, no gaps):
//
//   item       +0 tag 1  +2 class  +6 name (length byte, characters, one pad
//              byte when 1 + n is odd)  c (16 bits)  2c bytes  r (32 bits)
//   reference  tag 2  class  name (padded)  s (32 bits)  4s bytes of sites
//              c (16 bits)  2c bytes  the target's flattened path  pad to even
//   end        tag 3
//
// In memory a reference's type block is the count word and its words with
// the count replaced by the byte length 2c + 2, converted from file order as
// a type descriptor; a GENH block is the length 10, the resource type's four
// characters as stored and the 32-bit id in native order.
//
// The resources come from files: the whole resource is read and checked
// before anything is entered in the link table or loaded.
#pragma once
#include <string>
#include <vector>

#include "engine/link/linker.h"

// The four resource types.
constexpr uInt32 kLinkInfoVI = FourCC("LIvi");
constexpr uInt32 kLinkInfoPanel = FourCC("LIfp");
constexpr uInt32 kLinkInfoDataSpace = FourCC("LIds");
constexpr uInt32 kLinkInfoSubr = FourCC("LIsb");

enum : int32 { kLinkInfoItemTag = 1, kLinkInfoRefTag = 2, kLinkInfoEndTag = 3 };
// Offset of the item's name in the resource.
constexpr int32 kLinkInfoNameOffset = 6;
// The in-memory GENH type block: length, resource type, id.
enum : int32 { kGenhBlockSize = 10, kGenhBlockType = 2, kGenhBlockId = 6 };
// The largest count word: the block's byte length 2c + 2 fits its 16-bit
// length word.
constexpr int32 kLinkInfoMaxWords = 32766;

// One reference record as read: its type block in memory order (empty when
// c is 0) and its target's flattened path as stored.
struct LinkInfoRef {
  uInt32 classCode = 0;
  std::string name;
  std::vector<int32> sites;
  std::vector<uChar> typeBlock;
  std::vector<uChar> flatPath;
  bool operator==(const LinkInfoRef&) const = default;
};

// A whole resource as read.  itemWords are the 2c bytes after the item's
// count word, kept as stored; the reader does not use them.
struct LinkInfoRecords {
  uInt32 classCode = 0;
  std::string name;
  std::vector<uChar> itemWords;
  std::vector<LinkInfoRef> refs;
  bool operator==(const LinkInfoRecords&) const = default;
};

// The load error of a malformed resource of the type: LIfp 2, LIds 16,
// LIvi 17; 0 for LIsb (the subroutine's load fails instead).
int32 LinkInfoLoadError(uInt32 infoType);

// Reads and checks a resource of the type from size bytes: tags, names,
// counts and paths inside the bytes, known class codes, the item's class
// the type's, reference classes whose methods serve the item's class,
// exactly r references and the end tag.  kNoErr with *out filled and
// *used the bytes through the end tag; kArgErr with *why (when given) saying
// what is wrong.  Reads nothing outside data[0, size) and allocates nothing
// from the memory manager.
MgErr ParseLinkInfo(const uChar* data, int32 size, uInt32 infoType, LinkInfoRecords* out, int32* used = nullptr,
                    const char** why = nullptr);

// Enters an item and its references from the link-information handle of the
// type, loads the targets that are not in the table through their classes'
// load methods, binds what can be bound and leaves the rest waiting.
// Returns 1 when no load was needed, else the last load's result (a target
// present with a recorded path counts as 1): 5 ends reading at once; after
// 6 nothing more is loaded and 6 is returned.  0 when the item is in the
// table already, or when nothing could be entered: then *err (when given)
// is kArgErr for malformed link information or a duplicate item, kMemFullErr
// for memory; the table is left as it was and gQXLoadErrorCode is set to the
// type's load error (23 for memory; a duplicate panel heap, which its
// disposal prevents, sets none).
QX_EXTERN_C int32 ReadLinkInfo(const void* item, UHandle linkInfo, Path basePath, uInt32 infoType, MgErr* err);

// Renames the item of a link-information handle in place: the name at
// offset 6 is replaced and the rest moved, the handle growing or shrinking
// by the difference of the padded name lengths.  kArgErr for a handle that
// does not start with a whole item record, kMemFullErr when it cannot grow;
// the handle is then unchanged.
QX_EXTERN_C MgErr RenameLinkInfoItem(UHandle linkInfo, ConstPStr name);
