// Reading link information: the whole resource is checked first, then the
// item and its references are entered, the missing targets loaded and the
// references bound.  A failure before anything is loaded leaves the table
// untouched; a memory failure later removes what this call entered.
#include "engine/link/linkinfo.h"

#include <algorithm>
#include <cstring>

#include "engine/datatype.h"
#include "engine/link/link_internal.h"
#include "engine/objswap.h"
#include "engine/stdize.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/loaderr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/walert.h"

using namespace linkint;

namespace {

// The classes an item of the type may have.
bool ItemClassFits(uInt32 infoType, int32 cls) {
  if (infoType == kLinkInfoVI) return cls == kLinkClassVI || cls == kLinkClassCustomCtl;
  if (infoType == kLinkInfoPanel) return cls == kLinkClassPanel;
  if (infoType == kLinkInfoDataSpace) return cls == kLinkClassDataSpace;
  if (infoType == kLinkInfoSubr) return cls == kLinkClassSubr;
  return false;
}

// True when the methods of the reference's class serve an owner of the
// item's class (the others report the owner as wrong and write nothing).
bool RefClassServes(int32 refCls, int32 itemCls) {
  switch (refCls) {
    case kLinkClassVI:
    case kLinkClassCustomCtl:
    case kLinkClassProxy:
      return itemCls == kLinkClassVI || itemCls == kLinkClassCustomCtl || itemCls == kLinkClassPanel;
    case kLinkClassDataSpace:
    case kLinkClassLibFunc:
      return itemCls == kLinkClassDataSpace;
    case kLinkClassSubr:
    case kLinkClassGenH:
      return itemCls == kLinkClassDataSpace || itemCls == kLinkClassSubr;
    case kLinkClassPanel:
      return true;  // the class has no methods
    default:
      return false;
  }
}

// A cursor over the resource's bytes; every read is checked against the end.
struct Reader {
  const uChar* data;
  int64 size;
  int64 at = 0;
  const char* why = nullptr;

  bool Fail(const char* text) {
    if (!why) why = text;
    return false;
  }
  bool Has(int64 n, const char* text) { return (n >= 0 && at + n <= size) || Fail(text); }
  bool U16(uInt32* v, const char* text) {
    if (!Has(2, text)) return false;
    *v = GetBE16(data + at);
    at += 2;
    return true;
  }
  bool U32(uInt32* v, const char* text) {
    if (!Has(4, text)) return false;
    *v = GetBE32(data + at);
    at += 4;
    return true;
  }
  bool Code(uInt32* v, int32* cls) {
    if (!Has(4, "class code past the end")) return false;
    std::memcpy(v, data + at, 4);  // the characters in reading order
    at += 4;
    *cls = LinkClassIndex(*v);
    return (*cls >= 0 && *cls < kLinkClassCount) || Fail("unknown class code");
  }
  // A name: its length byte, its characters and a pad byte when 1 + n is odd.
  bool Name(std::string* name) {
    if (!Has(1, "name past the end")) return false;
    const int64 n = data[at];
    if (!Has((1 + n + 1) & ~int64(1), "name past the end")) return false;
    name->assign(reinterpret_cast<const char*>(data + at + 1), size_t(n));
    at += (1 + n + 1) & ~int64(1);
    return true;
  }
  bool Bytes(int64 n, std::vector<uChar>* out, const char* text) {
    if (!Has(n, text)) return false;
    out->assign(data + at, data + at + n);
    at += n;
    return true;
  }
};

// A reference's type block: the count word and its words, the count
// replaced by the byte length and converted to memory order (a GENH block:
// only its id).  An empty block for c = 0.
bool ReadTypeBlock(Reader* r, int32 refCls, std::vector<uChar>* block) {
  uInt32 c = 0;
  if (!r->U16(&c, "type block count past the end")) return false;
  block->clear();
  if (c == 0) return true;
  if (c > uInt32(kLinkInfoMaxWords)) return r->Fail("type block too long");
  const int64 len = 2 * int64(c) + 2;
  if (!r->Has(len - 2, "type block past the end")) return false;
  block->resize(size_t(len));
  PutBE16(block->data(), uInt16(len));
  std::memcpy(block->data() + 2, r->data + r->at, size_t(len - 2));
  r->at += len - 2;
  if (refCls == kLinkClassGenH) {
    if (len != kGenhBlockSize) return r->Fail("resource key of the wrong length");
    PutNative16(block->data(), uInt16(len));
    PutNative32(block->data() + kGenhBlockId, GetBE32(block->data() + kGenhBlockId));
    return true;
  }
  if (StandardizeTDBounded(block->data(), kToMemoryOrder, 0, int32(len)) != kNoErr ||
      TDCheckBounds(block->data(), int32(len)) != kNoErr)
    return r->Fail("type block is not a type descriptor");
  return true;
}

bool ReadRef(Reader* r, int32 itemCls, LinkInfoRef* ref) {
  int32 cls = -1;
  if (!r->Code(&ref->classCode, &cls)) return false;
  if (!RefClassServes(cls, itemCls)) return r->Fail("reference class does not serve the item's class");
  if (!r->Name(&ref->name)) return false;
  uInt32 s = 0;
  if (!r->U32(&s, "site count past the end")) return false;
  if (!r->Has(4 * int64(s), "sites past the end")) return false;
  ref->sites.resize(s);
  for (uInt32 i = 0; i < s; ++i) ref->sites[i] = int32(GetBE32(r->data + r->at + 4 * int64(i)));
  r->at += 4 * int64(s);
  if (!ReadTypeBlock(r, cls, &ref->typeBlock)) return false;
  const int64 left = r->size - r->at;
  const int32 avail = left > 0x7FFFFFFE ? 0x7FFFFFFE : int32(left);
  const int32 used = FUnFlattenPathData(r->data + r->at, nullptr, avail);
  if (used < 0 || used > avail) return r->Fail("bad flattened path");
  if (!r->Bytes(used, &ref->flatPath, "path past the end")) return false;
  if ((r->at & 1) && !r->Has(1, "pad byte past the end")) return false;
  r->at += r->at & 1;
  return true;
}

}  // namespace

int32 LinkInfoLoadError(uInt32 infoType) {
  if (infoType == kLinkInfoPanel) return kLoadErrFPLinkInfo;
  if (infoType == kLinkInfoDataSpace) return kLoadErrDSLinkInfo;
  if (infoType == kLinkInfoVI) return kLoadErrVILinkInfo;
  return 0;
}

MgErr ParseLinkInfo(const uChar* data, int32 size, uInt32 infoType, LinkInfoRecords* out, int32* used,
                    const char** why) {
  Reader r{data, size < 0 || !data ? 0 : size};
  LinkInfoRecords recs;
  uInt32 tag = 0, c = 0, count = 0;
  int32 itemCls = -1;
  bool ok = r.U16(&tag, "empty") && (tag == kLinkInfoItemTag || r.Fail("first record is not the item")) &&
            r.Code(&recs.classCode, &itemCls) &&
            (ItemClassFits(infoType, itemCls) || r.Fail("item class does not fit the resource")) &&
            r.Name(&recs.name) && r.U16(&c, "item type block past the end") &&
            (c == 0 || itemCls == kLinkClassVI || itemCls == kLinkClassCustomCtl ||
             r.Fail("type block on an item that has none")) &&
            r.Bytes(2 * int64(c), &recs.itemWords, "item type block past the end") &&
            r.U32(&count, "reference count past the end");
  while (ok) {
    ok = r.U16(&tag, "no end record");
    if (!ok || tag == kLinkInfoEndTag) break;
    if (tag != kLinkInfoRefTag) ok = r.Fail("unknown record tag");
    else if (recs.refs.size() >= count) ok = r.Fail("more references than counted");
    else {
      recs.refs.emplace_back();
      ok = ReadRef(&r, itemCls, &recs.refs.back());
    }
  }
  if (ok && recs.refs.size() != count) ok = r.Fail("fewer references than counted");
  if (why) *why = r.why;
  if (!ok) return kArgErr;
  if (out) *out = std::move(recs);
  if (used) *used = int32(r.at);
  return kNoErr;
}

// ---- entering -----------------------------------------------------------------------
namespace {

// Sizes of handles of either zone; -1 for anything else.
int32 InfoSize(UHandle h) {
  if (!h) return -1;
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(h);
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(h);
  return -1;
}

void PStrOf(const std::string& s, Str255 out) {
  out[0] = uChar(s.size());
  std::memcpy(out + 1, s.data(), s.size());
}

int32 CollectBlock(ObjHeap, int32 offset, void* used) {
  static_cast<std::vector<int32>*>(used)->push_back(offset);
  return 0;
}

// The sites a file gives are checked against the item they name before
// anything is entered: the patch methods write through them, and a site
// that names no place of the item is damage in the file, not a broken
// invariant of the linker.  Data-space sites lie past the header (176 also
// for a data-space reference) with room for the words the class writes;
// panel sites of VI references name type-definition objects, the others
// lie in the heap's block area; subroutine sites lie in the loaded block.
bool SitesFit(const void* item, int32 itemCls, const LinkInfoRecords& recs) {
  const UHandle h = static_cast<UHandle>(const_cast<void*>(item));
  std::vector<int32> blocks;
  int64 size = 0;
  if (itemCls == kLinkClassDataSpace || itemCls == kLinkClassPanel) {
    size = InfoSize(h);
    if (size < 0) return false;
  } else if (itemCls == kLinkClassSubr) {
    size = item ? ExtCodeBlockSize(item) : 0;
  } else {
    return true;  // a VI's sites are not written through
  }
  for (const LinkInfoRef& ref : recs.refs) {
    const int32 cls = LinkClassIndex(ref.classCode);
    for (const int32 site : ref.sites) {
      bool fits = false;
      if (itemCls == kLinkClassDataSpace) {
        const int32 width = cls == kLinkClassLibFunc ? 8 : 4;
        fits = (site >= kDataSpaceHeaderSize || (site == kDSLinkSite176 && cls == kLinkClassDataSpace)) &&
               int64(site) + width <= size;
      } else if (itemCls == kLinkClassPanel) {
        if ((cls == kLinkClassVI || cls == kLinkClassCustomCtl || cls == kLinkClassProxy) && blocks.empty())
          OHForEachBlockWith(h, &CollectBlock, &blocks);
        if (cls == kLinkClassVI || cls == kLinkClassCustomCtl || cls == kLinkClassProxy)
          fits = std::binary_search(blocks.begin(), blocks.end(), site) &&
                 OHBlockClass(h, site) == kClsTypeDefinition && OHBlockSize(h, site) >= kTypeDefMinSize;
        else
          fits = site >= int32(kOHHeaderSize) && int64(site) + 4 <= size;
      } else {
        fits = site == 0 || (site >= kSubrRecordHeader && int64(site) + 4 <= size);
      }
      if (!fits) return false;
    }
  }
  return true;
}

void ReleaseIfUnused(int32 nameBlock) {
  if (nameBlock && LinkNameRefCount(nameBlock) == 0) ReleaseLinkName(nameBlock);
}

// One call of ReadLinkInfo from the item's entry on.
class LinkInfoPass {
 public:
  LinkInfoPass(const void* item, Path basePath, const LinkInfoRecords& recs)
      : item_(item), basePath_(basePath), recs_(recs) {}

  // 0 entered (*result set), kArgErr duplicate, kMemFullErr memory.
  MgErr Run(int32* result);

 private:
  MgErr EnterRef(const LinkInfoRef& rec);
  int32 FindOwnRef(int32 nameBlock, int32 cls) const;
  MgErr MergeSites(int32 ref, const LinkInfoRef& rec);
  void Undo();

  const void* item_;
  Path basePath_;
  const LinkInfoRecords& recs_;
  Str255 itemName_{};
  int32 itemCls_ = -1, entry_ = 0, result_ = 1;
  bool stop_ = false, continueWithout_ = false;
};

int32 LinkInfoPass::FindOwnRef(int32 nameBlock, int32 cls) const {
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry_).ownRefs; r && guard-- > 0; r = LE(r).ownRefs)
    if (LE(r).name == nameBlock && LinkEntryClass(LE(r)) == cls) return r;
  return 0;
}

// Adds the record's sites that the reference lacks; a bound reference has
// each new site patched at once, so no bound site stays cleared.
MgErr LinkInfoPass::MergeSites(int32 ref, const LinkInfoRef& rec) {
  const int32 cls = LinkEntryClass(LE(ref));
  for (int32 site : rec.sites) {
    if (OHListFind(gLinkHeap, LE(ref).sites, site) >= 0) continue;
    if (OHListInsert(gLinkHeap, &LE(ref).sites, site, kObjListAppend) != kNoErr) return kMemFullErr;
    if (LE(ref).classFlags & kLinkFlagUnresolved) continue;
    int32 target = LE(ref).chain;
    if ((LE(target).classFlags & (kLinkFlagPublic | kLinkFlagAlias)) == (kLinkFlagPublic | kLinkFlagAlias) &&
        Used(int32(LE(target).owner)))
      target = int32(LE(target).owner);
    if (gLinkClasses[cls].patch) gLinkClasses[cls].patch(target, ref, ObjListCount(gLinkHeap, LE(ref).sites) - 1);
  }
  return kNoErr;
}

MgErr LinkInfoPass::EnterRef(const LinkInfoRef& rec) {
  Str255 name;
  PStrOf(rec.name, name);
  const int32 cls = LinkClassIndex(rec.classCode);
  int32 nameBlock = 0;
  const int32 bucket = InternLinkName(name, &nameBlock);
  if (!nameBlock) return kMemFullErr;
  int32 ref = FindOwnRef(nameBlock, cls);
  Path recorded = nullptr;
  std::vector<uChar> typeBlock;
  if (ref) {
    // A redundant record: its sites join the first record's reference, its
    // path is dropped and a load uses that reference's own type block.
    static const uChar kPurging[] = "\033Purging redundant reference";
    WAlert(kPurging, 0);
    if (MergeSites(ref, rec) != kNoErr) return kMemFullErr;
    if (const int32 tb = LE(ref).typeBlock) {
      const uChar* at = *gLinkNameHeap + tb;
      typeBlock.assign(at, at + GetNative16(at));
    }
  } else {
    typeBlock = rec.typeBlock;
    if (!rec.flatPath.empty() &&
        FUnFlattenPathData(rec.flatPath.data(), &recorded, int32(rec.flatPath.size())) > int32(rec.flatPath.size())) {
      ReleaseIfUnused(nameBlock);
      return kMemFullErr;
    }
    const int32 n = int32(rec.sites.size());
    ref = NewRefEntry(cls, nameBlock, entry_, rec.sites.data(), n, 4 * n + 4,
                      typeBlock.empty() ? nullptr : typeBlock.data(), recorded);
    if (!ref) {
      if (recorded) FDisposePath(recorded);
      ReleaseIfUnused(nameBlock);
      return kMemFullErr;
    }
    AddOwnRef(entry_, ref);
    WaitInChain(bucket, ref);
  }
  int32 target = FindLinkEntry(bucket, cls, nameBlock);
  if (!target) {
    if (!continueWithout_) {
      const int32 got = gLinkClasses[cls].load(name, basePath_, recorded, kLinkClassCodes[itemCls_],
                                               typeBlock.empty() ? nullptr : typeBlock.data(), 0);
      result_ = got;
      stop_ = got == 5;
      continueWithout_ = got == 6;
      if (got == 1 || got == 2 || got == 6) target = FindLinkEntry(bucket, cls, nameBlock);
    }
  } else if (recorded && !continueWithout_) {
    result_ = 1;
  }
  if (target) Resolve(bucket, target);
  else if (Used(ref) && gLinkClasses[cls].unpatch) gLinkClasses[cls].unpatch(ref, -1);
  if (recorded) FDisposePath(recorded);
  return kNoErr;
}

// Removes the item's entry with every reference it holds; references of
// other items bound to it wait again.  Names interned for nothing go too.
void LinkInfoPass::Undo() {
  int32 e = 0;
  if (entry_ && LookupLinkItem(itemName_, kLinkClassCodes[itemCls_], &e) && e == entry_)
    UnlinkItemByName(itemName_, kLinkClassCodes[itemCls_]);
  for (const LinkInfoRef& rec : recs_.refs) {
    Str255 name;
    PStrOf(rec.name, name);
    LookupLinkItem(name, rec.classCode, &e);  // releases a name block of no entry
  }
  LookupLinkItem(itemName_, kLinkClassCodes[itemCls_], &e);
}

MgErr LinkInfoPass::Run(int32* result) {
  PStrOf(recs_.name, itemName_);
  itemCls_ = LinkClassIndex(recs_.classCode);
  int32 nameBlock = 0;
  const int32 bucket = InternLinkName(itemName_, &nameBlock);
  if (!nameBlock) return kMemFullErr;
  if (FindLinkEntry(bucket, itemCls_, nameBlock)) {
    DBPrintf("ReadLinkInfo: \"%p\" is in the link table already", itemName_);
    return kArgErr;
  }
  if (!SitesFit(item_, itemCls_, recs_)) {
    DBPrintf("ReadLinkInfo: a site of \"%p\" names no place of the item", itemName_);
    ReleaseIfUnused(nameBlock);
    return kArgErr;
  }
  entry_ = NewLinkEntry(itemCls_, nameBlock, uInt32(uintptr_t(item_)), nullptr, basePath_);
  if (!entry_) {
    ReleaseIfUnused(nameBlock);
    return kMemFullErr;
  }
  EnterPublicInChain(bucket, entry_);
  for (const LinkInfoRef& rec : recs_.refs) {
    if (EnterRef(rec) != kNoErr) {
      Undo();
      return kMemFullErr;
    }
    if (!Used(entry_) || LE(entry_).owner != uInt32(uintptr_t(item_))) {
      DBPrintf("ReadLinkInfo: the entry of \"%p\" went during a load", itemName_);
      *result = result_;
      return kNoErr;
    }
    if (stop_) break;
  }
  Resolve(bucket, entry_);
  *result = result_;
  return kNoErr;
}

}  // namespace

int32 ReadLinkInfo(const void* item, UHandle linkInfo, Path basePath, uInt32 infoType, MgErr* err) {
  if (err) *err = kNoErr;
  const int32 size = InfoSize(linkInfo);
  LinkInfoRecords recs;
  const char* why = "not a handle";
  MgErr e = size < 0 || !gLinkTable ? kArgErr : ParseLinkInfo(*linkInfo, size, infoType, &recs, nullptr, &why);
  if (e != kNoErr) {
    DBPrintf("ReadLinkInfo: malformed link information: %s", why ? why : "");
    gQXLoadErrorCode = LinkInfoLoadError(infoType);
    if (err) *err = kArgErr;
    return 0;
  }
  LinkInfoPass pass(item, basePath, recs);
  int32 result = 0;
  e = pass.Run(&result);
  if (e == kMemFullErr) gQXLoadErrorCode = kLoadErrMemory;
  else if (e != kNoErr && infoType != kLinkInfoPanel) gQXLoadErrorCode = LinkInfoLoadError(infoType);
  if (err) *err = e;
  return e == kNoErr ? result : 0;
}

// ---- renaming -----------------------------------------------------------------------
MgErr RenameLinkInfoItem(UHandle linkInfo, ConstPStr name) {
  const int32 size = InfoSize(linkInfo);
  if (size < kLinkInfoNameOffset + 1 || !name || GetBE16(*linkInfo) != kLinkInfoItemTag) return kArgErr;
  const int32 oldLen = ((*linkInfo)[kLinkInfoNameOffset] + 2) & ~1;
  const int32 newLen = (name[0] + 2) & ~1;
  const int32 tailAt = kLinkInfoNameOffset + oldLen;
  if (tailAt > size) return kArgErr;
  Str255 own;
  std::memcpy(own, name, size_t(name[0]) + 1);
  const int32 tail = size - tailAt;
  const int32 newSize = size - oldLen + newLen;
  const bool az = AZCheckHandle(linkInfo) == kNoErr;
  auto resize = [&](int32 n) { return az ? AZSetHandleSize(linkInfo, n) : DSSetHandleSize(linkInfo, n); };
  if (newSize > size && resize(newSize) != kNoErr) return kMemFullErr;
  std::memmove(*linkInfo + kLinkInfoNameOffset + newLen, *linkInfo + tailAt, size_t(tail));
  std::memcpy(*linkInfo + kLinkInfoNameOffset, own, size_t(own[0]) + 1);
  if (newLen > own[0] + 1) (*linkInfo)[kLinkInfoNameOffset + newLen - 1] = 0;
  if (newSize < size) resize(newSize);  // shrinking in place does not fail
  return kNoErr;
}
