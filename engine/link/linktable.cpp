// The link table: its records, entering and removing items, binding and
// unbinding references, and the exported entries for external code.
#include <cstring>

#include "engine/link/linker.h"
#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/link/link_internal.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"

LinkClass* gLinkClasses = nullptr;
ObjHeap gLinkHeap = nullptr;

namespace linkint {

bool Used(int32 i) {
  return gLinkTable && i > 0 && i < LinkTableCapacity() && (LE(i).classFlags & 0xFF000000u) != kLinkRecordFree &&
         (LE(i).classFlags & 0xFF000000u) != kLinkRecordHeader;
}

int32 ListCount(int32 list) { return list && gLinkHeap ? ObjListCount(gLinkHeap, list) : 0; }
int32 ListGet(int32 list, int32 i) { return ObjListGet(gLinkHeap, list, i); }

int32 CloneListOf(int32 entry) {
  if (!Used(entry) || !(gLinkClasses[LinkEntryClass(LE(entry))].flags & kLinkClassHasClones)) return 0;
  return LE(entry).sites;
}

int32 VIEntryOfName(int32 entry) {
  if (!Used(entry)) return 0;
  const int32 bucket = LinkNameHash(LinkNameOf(LE(entry).name));
  const int32 vi = FindLinkEntry(bucket, kLinkClassVI, LE(entry).name);
  return vi ? vi : FindLinkEntry(bucket, kLinkClassCustomCtl, LE(entry).name);
}

UHandle OwnerVI(int32 ownerEntry) {
  if (!Used(ownerEntry)) return nullptr;
  switch (LinkEntryClass(LE(ownerEntry))) {
    case kLinkClassVI:
    case kLinkClassCustomCtl:
    case kLinkClassProxy:
      return reinterpret_cast<UHandle>(uintptr_t(LE(ownerEntry).owner));
    case kLinkClassPanel: {
      const int32 vi = VIEntryOfName(ownerEntry);
      return vi ? reinterpret_cast<UHandle>(uintptr_t(LE(vi).owner)) : nullptr;
    }
    case kLinkClassDataSpace: {
      const UHandle ds = reinterpret_cast<UHandle>(uintptr_t(LE(ownerEntry).owner));
      const int32 size = !ds ? -1
                         : AZCheckHandle(ds) == kNoErr ? AZGetHandleSize(ds)
                         : DSCheckHandle(ds) == kNoErr ? DSGetHandleSize(ds) : -1;
      if (size < kDataSpaceHeaderSize) return nullptr;
      return reinterpret_cast<DataSpaceHeader*>(*ds)->owner;
    }
    default:
      return nullptr;
  }
}

int32 DataSpaceEntryOf(UHandle vi) {
  if (!vi || !*vi) return 0;
  Str255 name;
  std::memcpy(name, VIRec(vi)->name, size_t(VIRec(vi)->name[0]) + 1);
  int32 e = 0;
  LookupLinkItem(name, kLinkClassCodes[kLinkClassDataSpace], &e);
  return e;
}

bool InReferrers(int32 target, int32 ref) {
  int32 guard = LinkTableCapacity();
  for (int32 i = LE(target).referrers; i && guard-- > 0; i = LE(i).referrers)
    if (i == ref) return true;
  return false;
}

}  // namespace linkint

using namespace linkint;

namespace {

int32 LoadAnswersNone(ConstPStr, Path, Path, uInt32, const void*, int32) { return 0; }

int16 EnterForVI(void* item, ConstPStr name, const void* typeBlock, uInt32 classCode, Path path) {
  return AddLinkEntry(item, name, typeBlock, classCode, path);
}
int32 CallerTest(UHandle vi) { return VIHasLoadedCaller(vi); }

// The services the engine answers itself.
UHandle EngineRootVI() { return RootVI(); }
void EnginePostUserEvent(int32 subCode, UHandle vi) {
  if (auto post = VIShell().postUserEvent)
    post(kWRootWindow, subCode, int32(reinterpret_cast<intptr_t>(vi)), 0, 0, 0, 0, 0, 0);
}
// A clone's start: its initialisation, its compiled initialisation and its
// procedure slot 17.  The normal procedures leave slot 17 of a clone empty,
// and the guarded caller asserts on an empty slot: a clone whose compiled
// initialisation installed none is not asked.
MgErr EngineInitClone(UHandle, UHandle ds) {
  auto d = reinterpret_cast<DataSpace>(ds);
  InitDataSpace(d);
  DSRunInitProc(d);
  if (*d && DSProc(*d, 17)) DSCallProc17(d, 0);
  return kNoErr;
}
void EngineCallDisposeProc(UHandle ds) { DSCallDisposeProc(reinterpret_cast<DataSpace>(ds)); }
void EngineDisposeDataSpace(UHandle ds) { DisposeDataSpace(reinterpret_cast<DataSpace>(ds), 0); }
LinkLoadMethods gLoad{};
LinkerServices gServices{};
LinkPanelHooks gPanel{};

// The id of the entry being removed by UnlinkItemByName, so that a method
// called during its removal does not remove it a second time.
int32 gRemoving = 0;

uInt32 HdrWord(int32 w) { return reinterpret_cast<uInt32*>(*gLinkTable)[w]; }
void SetHdrWord(int32 w, uInt32 v) { reinterpret_cast<uInt32*>(*gLinkTable)[w] = v; }

uInt32 Flags(int32 i) { return LE(i).classFlags & kLinkFlagsMask; }
bool IsRef(int32 i) { return (LE(i).classFlags & kLinkFlagReference) != 0; }
bool IsAlias(int32 i) { return (LE(i).classFlags & (kLinkFlagPublic | kLinkFlagAlias)) == (kLinkFlagPublic | kLinkFlagAlias); }


// Class codes from callers: unknown codes are reported and refused.
int32 ClassOf(uInt32 code, bool allowNone = false) {
  const int32 c = LinkClassIndex(code);
  if (c < 0 || (c == kLinkClassNone && !allowNone)) {
    DBAssert(__FILE__, __LINE__, "unknown link class code");
    return -1;
  }
  return c;
}

// The NAME-heap copy of a type block: its byte length first, class 6.
int32 CopyTypeBlock(const void* typeBlock, bool* failed) {
  *failed = false;
  if (!typeBlock) return 0;
  const int32 len = GetNative16(typeBlock);
  if (len < 2) return 0;
  const int32 block = OHNewBlock(gLinkNameHeap, len, kLinkListClass);
  if (!block) {
    *failed = true;
    return 0;
  }
  std::memcpy(*gLinkNameHeap + block, typeBlock, size_t(len));
  return block;
}

// Removes index `item` from the singly linked list whose head word is *head
// and whose link word is chosen by `next`.  True when found.
template <typename Next>
bool RemoveFromList(int32* headWord, int32 item, Next next) {
  // headWord may lie in the table; re-read through indices, never across calls.
  int32 prev = 0;
  int32 guard = LinkTableCapacity();
  for (int32 i = *headWord; i && guard-- > 0; prev = i, i = next(i)) {
    if (i != item) continue;
    if (prev) next(prev) = next(i);
    else *headWord = next(i);
    next(i) = 0;
    return true;
  }
  return false;
}

int32& ReferrersNext(int32 i) { return LE(i).referrers; }
int32& OwnRefsNext(int32 i) { return LE(i).ownRefs; }
int32& ChainNext(int32 i) { return LE(i).chain; }

void AppendTo(int32* headWord, int32 item, int32& (*next)(int32)) {
  next(item) = 0;
  if (!*headWord) {
    *headWord = item;
    return;
  }
  int32 i = *headWord;
  for (int32 guard = LinkTableCapacity(); next(i) && guard-- > 0;) i = next(i);
  next(i) = item;
}

// The bucket of an entry's name.
int32 BucketOf(int32 entry) { return LinkNameHash(LinkNameOf(LE(entry).name)); }


// An entry with an unresolved or incomplete reference among its own.
bool HasIncompleteRefs(int32 entry) {
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry).ownRefs; r && guard-- > 0; r = LE(r).ownRefs)
    if (Flags(r) & (kLinkFlagUnresolved | kLinkFlagIncomplete)) return true;
  return false;
}



LinkPatchProc PatchOf(int32 cls) { return gLinkClasses[cls].patch; }
LinkUnpatchProc UnpatchOf(int32 cls) { return gLinkClasses[cls].unpatch; }

void CallUnload(int32 target) {
  if (!Used(target) || LE(target).referrers) return;
  const int32 cls = LinkEntryClass(LE(target));
  if (cls == kLinkClassSubr && gLoad.unloadSubr) gLoad.unloadSubr(target);
  else if (cls == kLinkClassLibFunc && gLoad.unloadLibFunc) gLoad.unloadLibFunc(target);
}

// Own copy of a name that may lie in the NAME heap.
void CopyName(ConstPStr name, Str255 out) {
  out[0] = 0;
  if (name) std::memcpy(out, name, size_t(name[0]) + 1);
}

void ReleaseIfUnused(int32 nameBlock) {
  if (nameBlock && LinkNameRefCount(nameBlock) == 0) ReleaseLinkName(nameBlock);
}

void AddNameRef(int32 nameBlock, int32 delta) {
  const int32 n = LinkNameRefCount(nameBlock) + delta;
  LinkNameSetRefCount(nameBlock, n);
  if (n <= 0) ReleaseLinkName(nameBlock);
}

}  // namespace

// ---- hooks --------------------------------------------------------------------------
void SetLinkLoadMethods(const LinkLoadMethods* methods) {
  gLoad = methods ? *methods : LinkLoadMethods{};
  if (!gLinkClasses) return;
  for (int32 c = 0; c < kLinkClassCount; ++c) {
    const int32 from = c == kLinkClassProxy ? kLinkClassVI : c;
    gLinkClasses[c].load = gLoad.load[from] ? gLoad.load[from] : &LoadAnswersNone;
  }
}

void SetLinkerServices(const LinkerServices* services) { gServices = services ? *services : LinkerServices{}; }
const LinkerServices& LinkServices() { return gServices; }
void SetLinkPanelHooks(const LinkPanelHooks* hooks) { gPanel = hooks ? *hooks : LinkPanelHooks{}; }
const LinkPanelHooks& LinkPanel() { return gPanel; }

// ---- start-up -----------------------------------------------------------------------
void InstallLinkerHooks() {
  // The VI instances enter and remove their VIs here; the loaded-VI list
  // is theirs.
  const VILinkHooks viHooks{&EnterForVI, &UnlinkItemByName, &CallerTest, &UnlinkItemOwnedBy};
  SetVILinkHooks(&viHooks);
  if (!gServices.isVILoaded) {
    gServices.isVILoaded = &IsVILoaded;
    gServices.insertLoadedVI = &InsertLoadedVI;
    gServices.removeLoadedVI = &RemoveLoadedVI;
  }
  if (!gServices.rootVI) gServices.rootVI = &EngineRootVI;
  if (!gServices.postUserEvent) gServices.postUserEvent = &EnginePostUserEvent;
  if (!gServices.initClone) gServices.initClone = &EngineInitClone;
  if (!gServices.callDisposeProc) gServices.callDisposeProc = &EngineCallDisposeProc;
  if (!gServices.disposeDataSpace) gServices.disposeDataSpace = &EngineDisposeDataSpace;
  if (!gServices.usesMissingRTEntries) gServices.usesMissingRTEntries = &CodeUsesMissingRTEntries;
}

void InitLinker() {
  const AZPAllocBlocks* blocks = AZPBlocks();
  if (!blocks->linkerNames || !blocks->linkerTable) {
    DBAssert(__FILE__, __LINE__, "InitLinker before the start-up blocks");
    return;
  }
  gLinkClasses = reinterpret_cast<LinkClass*>(blocks->linkerNames);
  gLinkBuckets = reinterpret_cast<int32*>(blocks->linkerTable);
  static const LinkPatchProc patches[kLinkClassCount] = {
      &InstPatchMethod, &CloneReentrantDS, nullptr, &SubrPatchMethod,
      &GenhPatchMethod, &InstPatchMethod, &XFunPatchMethod, &InstPatchMethod};
  static const LinkUnpatchProc unpatches[kLinkClassCount] = {
      &InstUnpatchMethod, &VIDSUnpatchMethod, nullptr, &SubrUnpatchMethod,
      &GenhUnpatchMethod, &InstUnpatchMethod, &XFunUnpatchMethod, &InstUnpatchMethod};
  for (int32 c = 0; c < kLinkClassCount; ++c)
    gLinkClasses[c] = LinkClass{kLinkClassCodes[c], patches[c], &LoadAnswersNone, unpatches[c],
                                c == kLinkClassDataSpace ? kLinkClassHasClones : 0u};
  SetLinkLoadMethods(&gLoad);
  InstallLinkerHooks();
  std::memset(gLinkBuckets, 0, kLinkBucketCount * 4);
  gLinkHeap = OHNewHeap(kLinkHeapDataSize, kLinkHeapKind, 0, 0);
  if (!gLinkHeap) DBAssert(__FILE__, __LINE__, "InitLinker: no LKHP heap");
  gLinkNameHeap = OHNewHeap(kNameHeapDataSize, kNameHeapKind, kNameTableSize, kNameTableClass);
  if (!gLinkNameHeap) DBAssert(__FILE__, __LINE__, "InitLinker: no NAME heap");
  gLinkTable = AZNewHClr(kLinkTableInitial * int32(sizeof(LinkEntry)));
  if (!gLinkTable) {
    DBAssert(__FILE__, __LINE__, "InitLinker: no link table");
    return;
  }
  for (int32 i = 1; i < kLinkTableInitial; ++i) LE(i).classFlags = kLinkRecordFree;
  SetHdrWord(0, kLinkRecordHeader);
  SetHdrWord(kLinkHdrNextFree, 1);
  SetHdrWord(kLinkHdrCapacity, kLinkTableInitial);
  SetHdrWord(kLinkHdrFreeCount, kLinkTableInitial - 1);
  SetHdrWord(kLinkHdrTag, kLinkHdrTag1);
  SetHdrWord(kLinkHdrTag + 1, kLinkHdrTag2);
}

void FinishLinker() {
  if (gLinkTable) AZDisposeHandle(gLinkTable);
  gLinkTable = nullptr;
  if (gLinkNameHeap) OHDisposeHeap(gLinkNameHeap);
  gLinkNameHeap = nullptr;
  if (gLinkHeap) OHDisposeHeap(gLinkHeap);
  gLinkHeap = nullptr;
  if (gLinkBuckets) std::memset(gLinkBuckets, 0, kLinkBucketCount * 4);
}

int32 LinkTableCapacity() { return gLinkTable ? int32(HdrWord(kLinkHdrCapacity)) : 0; }

// ---- records ------------------------------------------------------------------------
int32 AllocLinkRecord() {
  if (!gLinkTable) return 0;
  int32 cap = int32(HdrWord(kLinkHdrCapacity));
  if (HdrWord(kLinkHdrFreeCount) == 0) {
    const int32 grown = cap + kLinkTableGrowth;
    if (AZSetHandleSize(gLinkTable, grown * int32(sizeof(LinkEntry))) != kNoErr) return 0;
    for (int32 i = cap; i < grown; ++i) {
      std::memset(&LE(i), 0, sizeof(LinkEntry));
      LE(i).classFlags = kLinkRecordFree;
    }
    SetHdrWord(kLinkHdrFreeCount, kLinkTableGrowth);
    SetHdrWord(kLinkHdrNextFree, uInt32(cap));
    SetHdrWord(kLinkHdrCapacity, uInt32(grown));
    cap = grown;
  }
  const int32 idx = int32(HdrWord(kLinkHdrNextFree));
  if (idx <= 0 || idx >= cap || LE(idx).classFlags != kLinkRecordFree) {
    DBAssert(__FILE__, __LINE__, "link table: no free record at the next-free index");
    return 0;
  }
  std::memset(&LE(idx), 0, sizeof(LinkEntry));
  const uInt32 left = HdrWord(kLinkHdrFreeCount) - 1;
  SetHdrWord(kLinkHdrFreeCount, left);
  if (left == 0) {
    SetHdrWord(kLinkHdrNextFree, 0);
    return idx;
  }
  int32 next = 0;
  for (int32 i = idx + 1; i < cap && !next; ++i)
    if (LE(i).classFlags == kLinkRecordFree) next = i;
  for (int32 i = 1; i < idx && !next; ++i)
    if (LE(i).classFlags == kLinkRecordFree) next = i;
  if (!next) DBAssert(__FILE__, __LINE__, "link table: free count without a free record");
  SetHdrWord(kLinkHdrNextFree, uInt32(next));
  return idx;
}

void FreeLinkRecord(int32 index) {
  if (!Used(index)) {
    DBAssert(__FILE__, __LINE__, "freeing a link record that is not in use");
    return;
  }
  std::memset(&LE(index), 0, sizeof(LinkEntry));
  LE(index).classFlags = kLinkRecordFree;
  SetHdrWord(kLinkHdrNextFree, uInt32(index));
  SetHdrWord(kLinkHdrFreeCount, HdrWord(kLinkHdrFreeCount) + 1);
}

int32 NewLinkEntry(int32 classIndex, int32 nameBlock, uInt32 owner, const void* typeBlock, Path path) {
  if (classIndex < 0 || classIndex >= kLinkClassCount || !nameBlock) return 0;
  bool failed = false;
  const int32 tb = CopyTypeBlock(typeBlock, &failed);
  if (failed) return 0;
  int32 clones = 0;
  if (gLinkClasses[classIndex].flags & kLinkClassHasClones) {
    clones = OHNewBlock(gLinkHeap, kCloneListNewSize, kLinkListClass);
    if (!clones) {
      if (tb) OHDisposeBlock(gLinkNameHeap, tb);
      return 0;
    }
    PutNative32(*gLinkHeap + clones, 0);
  }
  const int32 e = AllocLinkRecord();
  if (!e) {
    if (tb) OHDisposeBlock(gLinkNameHeap, tb);
    if (clones) OHDisposeBlock(gLinkHeap, clones);
    return 0;
  }
  LE(e).classFlags = (uInt32(classIndex) << 24) | kLinkFlagPublic;
  LE(e).name = nameBlock;
  LE(e).owner = owner;
  LE(e).typeBlock = tb;
  LE(e).sites = clones;
  LE(e).path = path;
  LinkNameSetRefCount(nameBlock, LinkNameRefCount(nameBlock) + 1);
  return e;
}

int32 NewRefEntry(int32 classIndex, int32 nameBlock, int32 ownerEntry, const int32* sites, int32 siteCount,
                  int32 listSize, const void* typeBlock, Path path) {
  if (classIndex < 0 || classIndex >= kLinkClassCount || !nameBlock || siteCount < 0) return 0;
  if (listSize < 4 + 4 * siteCount) listSize = 4 + 4 * siteCount;
  const int32 list = OHNewBlock(gLinkHeap, listSize, kLinkListClass);
  if (!list) return 0;
  PutNative32(*gLinkHeap + list, uInt32(siteCount));
  for (int32 i = 0; i < siteCount; ++i) PutNative32(*gLinkHeap + list + 4 + 4 * i, uInt32(sites[i]));
  bool failed = false;
  const int32 tb = CopyTypeBlock(typeBlock, &failed);
  Path copy = nullptr;
  if (!failed && path) {
    copy = FEmptyPath(nullptr);
    if (!copy || FPathCpy(copy, path) != kNoErr) failed = true;
  }
  const int32 e = failed ? 0 : AllocLinkRecord();
  if (!e) {
    if (copy) FDisposePath(copy);
    if (tb) OHDisposeBlock(gLinkNameHeap, tb);
    OHDisposeBlock(gLinkHeap, list);
    return 0;
  }
  LE(e).classFlags = (uInt32(classIndex) << 24) | kLinkFlagReference | kLinkFlagUnresolved;
  LE(e).name = nameBlock;
  LE(e).owner = uInt32(ownerEntry);
  LE(e).sites = list;
  LE(e).typeBlock = tb;
  LE(e).path = copy;
  LinkNameSetRefCount(nameBlock, LinkNameRefCount(nameBlock) + 1);
  return e;
}

void DisposeLinkEntry(int32 entry) {
  if (!Used(entry)) {
    DBAssert(__FILE__, __LINE__, "disposing a link entry that is not in use");
    return;
  }
  const LinkEntry e = LE(entry);
  if (e.sites) OHDisposeBlock(gLinkHeap, e.sites);
  if (e.typeBlock) OHDisposeBlock(gLinkNameHeap, e.typeBlock);
  if ((e.classFlags & kLinkFlagReference) && e.path) FDisposePath(e.path);
  FreeLinkRecord(entry);
  AddNameRef(e.name, -1);
}

// ---- chains -------------------------------------------------------------------------
namespace {

// Pushes a public entry at the head of its bucket's chain.
void PushPublic(int32 bucket, int32 entry) {
  LE(entry).chain = gLinkBuckets[bucket];
  gLinkBuckets[bucket] = entry;
}

// Appends a reference at the tail of its bucket's chain.
void AppendToChain(int32 bucket, int32 ref) { AppendTo(&gLinkBuckets[bucket], ref, &ChainNext); }

bool RemoveFromChain(int32 bucket, int32 entry) { return RemoveFromList(&gLinkBuckets[bucket], entry, &ChainNext); }

bool ClassesBind(int32 refClass, int32 entryClass) {
  if (refClass == entryClass) return true;
  return (refClass == kLinkClassVI && entryClass == kLinkClassProxy) ||
         (refClass == kLinkClassProxy && entryClass == kLinkClassVI);
}

void ResolveDepth(int32 bucket, int32 entry, int32 depth) {
  if (!Used(entry) || depth > 64) {
    if (depth > 64) DBAssert(__FILE__, __LINE__, "Resolve: alias chain too deep");
    return;
  }
  int32 onBehalf = entry;
  if (IsAlias(entry)) {
    onBehalf = int32(LE(entry).owner);
    if (!Used(onBehalf)) {
      DBAssert(__FILE__, __LINE__, "Resolve: alias of no entry");
      return;
    }
    DBPrintf("Resolve: public: %p, %d; alias: %p, %d", LinkNameOf(LE(entry).name), entry,
             LinkNameOf(LE(onBehalf).name), onBehalf);
  }
  const int32 entryClass = LinkEntryClass(LE(entry));
  // The position before the first reference of the chain.
  int32 prev = 0, i = gLinkBuckets[bucket];
  int32 guard = LinkTableCapacity();
  while (i && !IsRef(i) && guard-- > 0) {
    prev = i;
    i = LE(i).chain;
  }
  while (i && guard-- > 0) {
    const int32 next = LE(i).chain;
    if (LE(i).name != LE(entry).name || !ClassesBind(LinkEntryClass(LE(i)), entryClass)) {
      prev = i;
      i = next;
      continue;
    }
    if (prev) LE(prev).chain = next;
    else gLinkBuckets[bucket] = next;
    AppendTo(&LE(entry).referrers, i, &ReferrersNext);
    LE(i).chain = entry;
    LE(i).classFlags &= ~uInt32(kLinkFlagUnresolved);
    if (HasIncompleteRefs(entry)) {
      LE(i).classFlags |= kLinkFlagIncomplete;
    } else {
      LE(i).classFlags &= ~uInt32(kLinkFlagIncomplete);
      LE(entry).classFlags &= ~uInt32(kLinkFlagIncomplete);
    }
    const int32 cls = LinkEntryClass(LE(i));
    const bool refAlias = (Flags(i) & kLinkFlagAlias) != 0;
    if (!refAlias && PatchOf(cls)) PatchOf(cls)(onBehalf, i, -1);
    if (PatchOf(cls)) {
      const int32 ref = i;
      ForEachCloneOfOwner(ref, [&] { PatchOf(cls)(onBehalf, ref, -1); });
    }
    if (refAlias) {
      const int32 owner = int32(LE(i).owner);
      if (Used(owner)) ResolveDepth(BucketOf(owner), owner, depth + 1);
    }
    i = next;  // prev stays: the bound reference left the chain
  }
}

}  // namespace

void Resolve(int32 bucket, int32 entry) { ResolveDepth(bucket, entry, 0); }

void UnbindLinkRef(int32 ref) {
  if (!Used(ref) || !IsRef(ref)) return;
  const int32 target = LE(ref).chain;
  if ((Flags(ref) & kLinkFlagUnresolved) || !Used(target) || !InReferrers(target, ref)) return;
  const int32 cls = LinkEntryClass(LE(ref));
  if (UnpatchOf(cls)) ForEachCloneOfOwner(ref, [&] { UnpatchOf(cls)(ref, -1); });
  RemoveFromList(&LE(target).referrers, ref, &ReferrersNext);
  if (UnpatchOf(cls)) UnpatchOf(cls)(ref, -1);
  LE(ref).chain = 0;
  LE(ref).referrers = 0;
  LE(ref).classFlags |= kLinkFlagUnresolved;
}

// ---- entering and removing items ----------------------------------------------------
int16 AddLinkEntry(const void* object, ConstPStr name, const void* typeBlock, uInt32 classCode, Path path) {
  Str255 own;
  CopyName(name, own);
  const int32 cls = ClassOf(classCode);
  if (cls < 0 || !gLinkTable) return 0;
  int32 nameBlock = 0;
  const int32 bucket = InternLinkName(own, &nameBlock);
  if (!nameBlock) return kMemFullErr;
  if (FindLinkEntry(bucket, cls, nameBlock)) return 1;
  const int32 e = NewLinkEntry(cls, nameBlock, uInt32(uintptr_t(object)), typeBlock, path);
  if (!e) {
    ReleaseIfUnused(nameBlock);
    return kMemFullErr;
  }
  PushPublic(bucket, e);
  Resolve(bucket, e);
  return 0;
}

void UnlinkItemByName(ConstPStr name, uInt32 classCode) {
  Str255 own;
  CopyName(name, own);
  const int32 cls = ClassOf(classCode);
  if (cls < 0 || !gLinkTable) return;
  int32 nameBlock = 0;
  const int32 bucket = InternLinkName(own, &nameBlock);
  const int32 entry = nameBlock ? FindLinkEntry(bucket, cls, nameBlock) : 0;
  if (!entry || entry == gRemoving) {
    if (!entry) DBAssert(__FILE__, __LINE__, "UnlinkItemByName: no such entry");
    ReleaseIfUnused(nameBlock);
    return;
  }
  const int32 outer = gRemoving;
  gRemoving = entry;
  int32 guard = LinkTableCapacity() * 2;
  while (LE(entry).referrers && guard-- > 0) {
    const int32 ref = LE(entry).referrers;
    UnbindLinkRef(ref);
    if (InReferrers(entry, ref)) RemoveFromList(&LE(entry).referrers, ref, &ReferrersNext);
    AppendToChain(bucket, ref);
  }
  while (LE(entry).ownRefs && guard-- > 0) {
    const int32 ref = LE(entry).ownRefs;
    const bool bound = !(Flags(ref) & kLinkFlagUnresolved);
    const int32 target = bound ? LE(ref).chain : 0;
    if (bound) UnbindLinkRef(ref);
    else RemoveFromChain(BucketOf(ref), ref);
    RemoveFromList(&LE(entry).ownRefs, ref, &OwnRefsNext);
    DisposeLinkEntry(ref);
    if (bound && target != entry) CallUnload(target);
  }
  RemoveFromChain(bucket, entry);
  DisposeLinkEntry(entry);
  gRemoving = outer;
}

Bool32 UnlinkItemOwnedBy(ConstPStr name, uInt32 classCode, const void* owner) {
  int32 entry = 0;
  if (!owner || !LookupLinkItem(name, classCode, &entry) || !entry) return 0;
  if (LE(entry).owner != uInt32(uintptr_t(owner))) return 0;
  UnlinkItemByName(name, classCode);
  return 1;
}

int32 LookupLinkItem(ConstPStr name, uInt32 classCode, int32* entry) {
  if (entry) *entry = 0;
  const int32 cls = LinkClassIndex(classCode);
  if (cls < 0 || cls >= kLinkClassCount || !gLinkTable) return 0;
  Str255 own;
  CopyName(name, own);
  int32 nameBlock = 0;
  const int32 bucket = InternLinkName(own, &nameBlock);
  const int32 e = nameBlock ? FindLinkEntry(bucket, cls, nameBlock) : 0;
  ReleaseIfUnused(nameBlock);
  if (entry) *entry = e;
  return e ? 1 : 0;
}

int32 FindOrLoadLinkItem(ConstPStr name, uInt32 classCode, uInt32* object) {
  if (object) *object = 0;
  Str255 own;
  CopyName(name, own);
  if (gPanel.classIdByName) {
    const int32 id = gPanel.classIdByName(own);
    if (id > 0) {
      if (object) *object = uInt32(id);
      return 1;
    }
  }
  const int32 cls = LinkClassIndex(classCode);
  if (cls < 0 || cls >= kLinkClassCount || !gLinkTable) return 0;
  int32 e = 0;
  if (!LookupLinkItem(own, classCode, &e)) {
    if (gLinkClasses[cls].load(own, nullptr, nullptr, kLinkClassNoneCode, nullptr, 0) != 0)
      LookupLinkItem(own, classCode, &e);
  }
  if (!e) return 0;
  if (object) *object = LE(e).owner;
  return 1;
}

int32 GetLinkItemName(ConstPStr ownerName, uInt32 ownerClass, int32 site, uInt32 refClass, PStr name) {
  int32 owner = 0;
  const int32 rc = LinkClassIndex(refClass);
  if (!LookupLinkItem(ownerName, ownerClass, &owner) || rc < 0) return 0;
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(owner).ownRefs; r && guard-- > 0; r = LE(r).ownRefs) {
    if (LinkEntryClass(LE(r)) != rc || !LE(r).sites || OHListFind(gLinkHeap, LE(r).sites, site) < 0) continue;
    if (name) CopyName(LinkNameOf(LE(r).name), name);
    return 1;
  }
  return 0;
}

Bool32 VIHasLoadedCaller(UHandle vi) {
  if (!vi || !*vi || !gLinkTable) return 0;
  const bool custom = VIRec(vi)->viKind == kVIKindControl;
  int32 entry = 0;
  Str255 name;
  CopyName(VIRec(vi)->name, name);
  if (!LookupLinkItem(name, custom ? kLinkClassCodes[kLinkClassCustomCtl] : kLinkClassCodes[kLinkClassVI],
                      &entry))
    return 0;
  const UHandle root = gServices.rootVI ? gServices.rootVI() : nullptr;
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry).referrers; r && guard-- > 0; r = LE(r).referrers) {
    const int32 owner = int32(LE(r).owner);
    if (!Used(owner)) continue;
    if (!custom && LinkEntryClass(LE(owner)) != kLinkClassVI) continue;
    const UHandle caller = linkint::OwnerVI(owner);
    if (!caller || caller == vi) continue;
    if ((root && caller == root) || (gServices.isVILoaded && gServices.isVILoaded(caller))) return 1;
  }
  return 0;
}

// ---- references of external code ----------------------------------------------------
namespace {

// The owner's reference of class cls to the name: among the target's
// referrers when there is a target, else among the waiting references of
// the chain.
int32 FindOwnersRef(int32 bucket, int32 target, int32 nameBlock, int32 cls, int32 ownerEntry) {
  int32 guard = LinkTableCapacity();
  if (target) {
    for (int32 r = LE(target).referrers; r && guard-- > 0; r = LE(r).referrers)
      if (LinkEntryClass(LE(r)) == cls && int32(LE(r).owner) == ownerEntry) return r;
    return 0;
  }
  for (int32 r = gLinkBuckets[bucket]; r && guard-- > 0; r = LE(r).chain)
    if (IsRef(r) && LE(r).name == nameBlock && LinkEntryClass(LE(r)) == cls && int32(LE(r).owner) == ownerEntry)
      return r;
  return 0;
}

// The owner's public entry, when the object is its item or one of its clones.
int32 OwnerEntryFor(const void* owner, ConstPStr ownerName, uInt32 ownerClass) {
  int32 entry = 0;
  if (!LookupLinkItem(ownerName, ownerClass, &entry)) {
    DBAssert(__FILE__, __LINE__, "extern reference: no entry of its owner");
    return 0;
  }
  const uInt32 obj = uInt32(uintptr_t(owner));
  if (LE(entry).owner == obj) return entry;
  const int32 clones = CloneListOf(entry);
  for (int32 k = 0; k < ListCount(clones); ++k)
    if (uInt32(ListGet(clones, k)) == obj) return entry;
  DBAssert(__FILE__, __LINE__, "extern reference: the object is not its owner's");
  return 0;
}

// What both extern calls start with: the classes, the owner's entry and the
// reference's interned name.
struct ExternCall {
  Str255 refName;
  int32 rc = -1, ownerEntry = 0, nameBlock = 0, bucket = 0;
  bool Begin(const void* owner, ConstPStr ownerName, uInt32 ownerClass, ConstPStr ref, uInt32 refClass) {
    Str255 own;
    CopyName(ownerName, own);
    CopyName(ref, refName);
    rc = ClassOf(refClass);
    if (rc < 0 || ClassOf(ownerClass) < 0 || !gLinkTable) return false;
    ownerEntry = OwnerEntryFor(owner, own, ownerClass);
    if (!ownerEntry) return false;
    bucket = InternLinkName(refName, &nameBlock);
    return nameBlock != 0;
  }
};

}  // namespace

int16 AddExtern(const void* owner, int32 site, ConstPStr ownerName, uInt32 ownerClass, ConstPStr refName,
                const void* typeBlock, uInt32 refClass, Path basePath, Path refPath) {
  ExternCall x;
  if (!x.Begin(owner, ownerName, ownerClass, refName, refClass)) return 0;
  const int32 rc = x.rc, ownerEntry = x.ownerEntry, bucket = x.bucket;
  int32& nameBlock = x.nameBlock;
  const uChar* refOwn = x.refName;
  int32 target = FindLinkEntry(bucket, rc, nameBlock);
  if (!target) {
    gLinkClasses[rc].load(refOwn, basePath, refPath, ownerClass, typeBlock, 0);
    // The load may have released and re-made the name block.
    InternLinkName(refOwn, &nameBlock);
    if (!nameBlock) return 0;
    target = FindLinkEntry(bucket, rc, nameBlock);
  }
  int32 ref = FindOwnersRef(bucket, target, nameBlock, rc, ownerEntry);
  int32 siteIndex;
  if (ref) {
    siteIndex = OHListFind(gLinkHeap, LE(ref).sites, site);
    if (siteIndex >= 0) {
      if (site != -1) DBAssert(__FILE__, __LINE__, "AddExtern: duplicate site");
      if (site != -1) return 0;
    } else {
      if (OHListInsert(gLinkHeap, &LE(ref).sites, site, kObjListAppend) != kNoErr) return 0;
      siteIndex = ListCount(LE(ref).sites) - 1;
    }
  } else {
    ref = NewRefEntry(rc, nameBlock, ownerEntry, &site, 1, kExternSiteListSize, typeBlock, refPath);
    if (!ref) {
      ReleaseIfUnused(nameBlock);
      return 0;
    }
    siteIndex = 0;
    AppendTo(&LE(ownerEntry).ownRefs, ref, &OwnRefsNext);
    if (target) {
      AppendTo(&LE(target).referrers, ref, &ReferrersNext);
      LE(ref).chain = target;
    } else {
      AppendToChain(bucket, ref);
    }
  }
  if (!target) return 0;
  LE(ref).classFlags &= ~uInt32(kLinkFlagUnresolved);
  if (HasIncompleteRefs(target)) LE(ref).classFlags |= kLinkFlagIncomplete;
  else LE(ref).classFlags &= ~uInt32(kLinkFlagIncomplete);
  const int32 onBehalf = IsAlias(target) && Used(int32(LE(target).owner)) ? int32(LE(target).owner) : target;
  if (PatchOf(rc)) PatchOf(rc)(onBehalf, ref, siteIndex);
  return 1;
}

int16 RemExtern(const void* owner, int32 site, ConstPStr ownerName, uInt32 ownerClass, ConstPStr refName,
                uInt32 refClass) {
  ExternCall x;
  if (!x.Begin(owner, ownerName, ownerClass, refName, refClass)) return 0;
  const int32 rc = x.rc, ownerEntry = x.ownerEntry, bucket = x.bucket, nameBlock = x.nameBlock;
  const int32 target = FindLinkEntry(bucket, rc, nameBlock);
  int32 ref = ownerEntry ? FindOwnersRef(bucket, target, nameBlock, rc, ownerEntry) : 0;
  if (!ref && target && IsAlias(target) && Used(int32(LE(target).owner)))
    ref = FindOwnersRef(bucket, int32(LE(target).owner), nameBlock, rc, ownerEntry);
  if (!ref) {
    ReleaseIfUnused(nameBlock);
    return 0;
  }
  const int32 siteIndex = OHListFind(gLinkHeap, LE(ref).sites, site);
  const bool bound = !(Flags(ref) & kLinkFlagUnresolved);
  if (bound && siteIndex >= 0 && UnpatchOf(rc)) UnpatchOf(rc)(ref, siteIndex);
  if (siteIndex >= 0 && site != 0) OHListRemove(gLinkHeap, LE(ref).sites, siteIndex);
  if (ListCount(LE(ref).sites) != 0) return 0;
  const int32 boundTo = bound ? LE(ref).chain : 0;
  RemoveFromList(&LE(ownerEntry).ownRefs, ref, &OwnRefsNext);
  if (bound) {
    UnbindLinkRef(ref);
  } else {
    RemoveFromChain(bucket, ref);
  }
  DisposeLinkEntry(ref);
  if (bound) CallUnload(boundTo);
  return 1;
}

namespace linkint {
void EnterPublicInChain(int32 bucket, int32 entry) { PushPublic(bucket, entry); }
void WaitInChain(int32 bucket, int32 ref) { AppendToChain(bucket, ref); }
void AddOwnRef(int32 owner, int32 ref) { AppendTo(&LE(owner).ownRefs, ref, &OwnRefsNext); }
}  // namespace linkint
