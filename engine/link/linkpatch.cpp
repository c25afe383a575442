// The methods of the reference classes (what each writes at the sites of a
// reference), the connection of subVIs to their callers, and the clones of
// reentrant VIs.
#include <cstring>

#include "engine/dsalloc.h"
#include "engine/exec/codeentry.h"
#include "engine/link/hierarchy.h"
#include "engine/link/link_internal.h"
#include "engine/link/linker.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "engine/shellsvc.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "mgsource/printf.h"
#include "mgsource/rsrc.h"
#include "mgsource/walert.h"
#include "platform/qx_vmem.h"

using namespace linkint;

namespace {

constexpr uInt32 kTypeDefRecursive = 0x40000;
constexpr uInt32 kTypeDefBad = 0x10000;
constexpr char kCloneFailedText[] = "Reentrant data space could not be Cloned!!";
constexpr int32 kUserEventHierarchy = 5;
constexpr uInt32 kMarkConnected = 0x100;
constexpr uInt32 kMarkDisposing = 0x10;
constexpr uInt32 kFlags2SubVIBusy = 0x800 | 0x400000;
constexpr uChar kTypeCodeRefnumF1 = 0xF1;
constexpr uChar kTypeCodeCluster = 0x50;
constexpr int32 kEmptyClusterTDSize = 6;

// The size of a handle of either zone; -1 for anything else.
int32 AnySize(UHandle h) {
  if (!h) return -1;
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(h);
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(h);
  return -1;
}

void FreeAny(UHandle h) {
  if (AZCheckHandle(h) == kNoErr) AZDisposeHandle(h);
  else if (DSCheckHandle(h) == kNoErr) DSDisposeHandle(h);
}

template <typename T>
T* As(uInt32 word) {
  return reinterpret_cast<T*>(uintptr_t(word));
}
UHandle HandleOf(uInt32 word) { return reinterpret_cast<UHandle>(uintptr_t(word)); }
uInt32 WordOf(const void* p) { return uInt32(uintptr_t(p)); }

void MarkBad(UHandle vi) {
  if (vi && LinkServices().setVIBad) LinkServices().setVIBad(vi);
}

int32 OwnerOf(int32 ref) { return int32(LE(ref).owner); }
int32 OwnerClass(int32 ref) { return LinkEntryClass(LE(OwnerOf(ref))); }
uInt32 OwnerObject(int32 ref) { return LE(OwnerOf(ref)).owner; }

// The public entry a reference's target stands for (an alias: its entry).
int32 Aliased(int32 target) {
  if (Used(target) && (LE(target).classFlags & kLinkFlagAlias) && Used(int32(LE(target).owner)))
    return int32(LE(target).owner);
  return target;
}

void DropPath(int32 ref) {
  if (LE(ref).path) {
    FDisposePath(LE(ref).path);
    LE(ref).path = nullptr;
  }
}

// Calls fn(site) for the reference's sites: all for index -1, else the one.
// The list is re-read for every site, since a method may allocate.
template <typename Fn>
void ForSites(int32 ref, int32 siteIndex, Fn fn) {
  const int32 n = ListCount(LE(ref).sites);
  if (siteIndex >= 0) {
    if (siteIndex < n) fn(ListGet(LE(ref).sites, siteIndex));
    else DBAssert(__FILE__, __LINE__, "link site index out of its list");
    return;
  }
  for (int32 i = 0; i < ListCount(LE(ref).sites); ++i) fn(ListGet(LE(ref).sites, i));
}

// Writes `count` words at a data-space site, after checking the site and the
// data space.  The old first word goes to *old when asked.
bool DSWrite(UHandle ds, int32 site, const uInt32* values, int32 count, bool allow176, uInt32* old = nullptr) {
  const int64 size = AnySize(ds);
  if (size < kDataSpaceHeaderSize) {
    DBAssert(__FILE__, __LINE__, "link site in no data space");
    return false;
  }
  const bool inHeader = allow176 && site == kDSLinkSite176;
  if ((site < kDataSpaceHeaderSize && !inHeader) || int64(site) + 4 * count > size) {
    DBAssert(__FILE__, __LINE__, "invalid data-space link site");
    return false;
  }
  if (reinterpret_cast<DataSpaceHeader*>(*ds)->headerFixed != 0) {
    DBPrintf("linker: no write at site %d of a data space whose header was corrected", site);
    return false;
  }
  if (old) *old = GetNative32(*ds + site);
  for (int32 i = 0; i < count; ++i) PutNative32(*ds + site + 4 * i, values[i]);
  return true;
}

// Writes a word at a site of a loaded subroutine.  Site 0 is skipped
// silently; a site in the header or past the loaded block is refused.
bool SubrWrite(uInt32 record, int32 site, uInt32 value) {
  if (site == 0) return false;
  uChar* rec = As<uChar>(record);
  const int32 size = ExtCodeBlockSize(rec);
  if (!rec || site < kSubrRecordHeader || int64(site) + 4 > size) {
    DBAssert(__FILE__, __LINE__, "invalid subroutine link site");
    return false;
  }
  const bool written = LinkServices().writeCodeWord ? LinkServices().writeCodeWord(rec + site, value) != 0
                                                     : PlatCodeWriteWord(rec + site, value);
  if (!written) DBAssert(__FILE__, __LINE__, "subroutine code could not be opened for a patch");
  return written;
}

bool HeapWrite(uInt32 heapWord, int32 site, uInt32 value) {
  const UHandle heap = HandleOf(heapWord);
  if (site < int32(kOHHeaderSize) || int64(site) + 4 > AnySize(heap)) {
    DBAssert(__FILE__, __LINE__, "invalid panel-heap link site");
    return false;
  }
  PutNative32(*heap + site, value);
  return true;
}

void WrongOwner() { DBAssert(__FILE__, __LINE__, "link method for an owner of a class it does not serve"); }

// Shows "The recursive use of "%p" is not allowed." with the VI's name.
void RecursiveUseAlert(ConstPStr name) {
  UHandle fmt = nullptr;
  if (RGetString(RunTimeRsrcFile(), kRecursiveUseStrId, &fmt) != kNoErr || !fmt || AnySize(fmt) < 1) {
    DBAssert(__FILE__, __LINE__, "the recursive-use text is missing");
    return;
  }
  int32 n = (*fmt)[0];
  if (n > AnySize(fmt) - 1) n = AnySize(fmt) - 1;
  std::string f(reinterpret_cast<const char*>(*fmt + 1), size_t(n));
  char text[1024];
  const int32 len = SPrintf(nullptr, f.c_str(), name);
  if (len < 0 || len >= int32(sizeof text)) return;
  SPrintf(text, f.c_str(), name);
  text[len] = 0;
  OneButtonAlert(kAlertCStr, text, nullptr, kAlertDefaultPos, kAlertDefaultPos);
}

// ---- lists of VIs -------------------------------------------------------------------
// A list of VIs: a handle of a count, then the VI handles.
int32 VIListCount(UHandle list) {
  if (!list || !*list || AnySize(list) < 4) return 0;
  const int32 n = int32(GetNative32(*list));
  return n < 0 || int64(n) * 4 + 4 > AnySize(list) ? 0 : n;
}
int32 VIListFind(UHandle list, UHandle vi) {
  for (int32 i = 0, n = VIListCount(list); i < n; ++i)
    if (GetNative32(*list + 4 + 4 * i) == WordOf(vi)) return i;
  return -1;
}
bool VIListAdd(UHandle list, UHandle vi) {
  if (!list || VIListFind(list, vi) >= 0) return false;
  const int32 n = VIListCount(list);
  if (AnySize(list) < 8 + 4 * n && AZSetHandleSize(list, 8 + 4 * n) != kNoErr) return false;
  PutNative32(*list + 4 + 4 * n, WordOf(vi));
  PutNative32(*list, uInt32(n + 1));
  return true;
}
bool VIListRemove(UHandle list, UHandle vi) {
  const int32 i = VIListFind(list, vi);
  if (i < 0) return false;
  const int32 n = VIListCount(list);
  std::memmove(*list + 4 + 4 * i, *list + 8 + 4 * i, size_t(4 * (n - i - 1)));
  PutNative32(*list, uInt32(n - 1));
  return true;
}

void ReinsertLoaded(UHandle callee, UHandle caller) {
  const LinkerServices& s = LinkServices();
  if (!s.removeLoadedVI || !s.insertLoadedVI) return;
  const bool calleeIn = s.removeLoadedVI(callee);
  const bool callerIn = caller != callee && s.removeLoadedVI(caller);
  if (calleeIn) s.insertLoadedVI(callee);
  if (callerIn) s.insertLoadedVI(caller);
}

// ---- connector types ----------------------------------------------------------------
// Byte-for-byte over the recorded block's length.
bool SameOverRecorded(const uChar* callee, int32 calleeSize, const uChar* recorded, int32 recordedSize) {
  if (!callee && !recorded) return true;
  if (!callee || !recorded) return false;
  return recordedSize <= calleeSize && std::memcmp(callee, recorded, size_t(recordedSize)) == 0;
}

// The size word of a type block, bounded by what holds it.
int32 TDSize(const uChar* td, int32 room) {
  if (!td || room < 2) return 0;
  const int32 n = GetNative16(td);
  return n <= room ? n : room;
}

void ClearF1Word(uChar* td, int32 size) {
  if (td && size >= 8 && td[2] == kTypeCodeRefnumF1) std::memset(td + 4, 0, 4);
}

bool ConnectorTypesEqual(UHandle callee, int32 refTypeBlock, bool proxy) {
  VIRecord* cv = VIRec(callee);
  UHandle pane = cv->connPane;
  uChar* calleeTD = pane && *pane && AnySize(pane) >= 2 ? *pane : nullptr;
  int32 calleeSize = calleeTD ? TDSize(calleeTD, AnySize(pane)) : 0;
  uChar* rec = refTypeBlock ? *gLinkNameHeap + refTypeBlock : nullptr;
  int32 recSize = rec ? TDSize(rec, OHBlockSize(gLinkNameHeap, refTypeBlock)) : 0;
  if (cv->viKind == kVIKindControl) {
    ClearF1Word(calleeTD, calleeSize);
    ClearF1Word(rec, recSize);
  }
  if (cv->viKind == kVIKindDatalog && proxy) {
    // The recorded block is a cluster of the datalog record type and the connector type.
    UHandle log = cv->logRecord;
    UHandle recTDh = log && *log && AnySize(log) >= int32(sizeof(DatalogBindingRec))
                         ? reinterpret_cast<DatalogBindingRec*>(*log)->recordTD
                         : nullptr;
    const uChar* recordTD = recTDh && *recTDh ? *recTDh : nullptr;
    const int32 recordSize = recordTD ? TDSize(recordTD, AnySize(recTDh)) : 0;
    if (!rec || recSize < kEmptyClusterTDSize || rec[2] != kTypeCodeCluster || GetNative16(rec + 4) != 2 ||
        recSize != kEmptyClusterTDSize + recordSize + calleeSize)
      return false;
    const uChar* first = rec + kEmptyClusterTDSize;
    const int32 firstSize = TDSize(first, recSize - kEmptyClusterTDSize);
    if (!recordTD || firstSize != recordSize || std::memcmp(first, recordTD, size_t(recordSize)) != 0) return false;
    const uChar* second = first + firstSize;
    const int32 secondSize = TDSize(second, recSize - kEmptyClusterTDSize - firstSize);
    return SameOverRecorded(calleeTD, calleeSize, second, secondSize);
  }
  return SameOverRecorded(calleeTD, calleeSize, rec, recSize);
}

}  // namespace

namespace linkint {
Bool32 CodeUsesMissingRTEntries(UHandle vi) {
  VICodeRec* code = vi && *vi ? VICodeRecord(VIRec(vi)->codeHandle) : nullptr;
  if (!code) return 0;
  const uInt32 list = GetNative32(code->start + 4 * kCodeWordPatchList);
  if (list == 0 || list >= uInt32(code->size)) return 0;
  return UsesMissingRTEntries(reinterpret_cast<const CodePatchList*>(code->start + list), code->size - int32(list));
}
}  // namespace linkint

// ---- subVI connections --------------------------------------------------------------
void ConnectSubVI(UHandle callee, UHandle caller, const void*, int32 refTypeBlock, Bool32 proxy) {
  if (!callee || !caller || !*callee || !*caller) return;
  Str255 calleeName;
  std::memcpy(calleeName, VIRec(callee)->name, size_t(VIRec(callee)->name[0]) + 1);
  const bool recursive = VIHierarchyHasName(caller, calleeName) != 0;
  bool different = recursive;
  if (!recursive) {
    bool changed = VIListAdd(VIRec(caller)->subVIs, callee);
    changed = VIListAdd(VIRec(callee)->callers, caller) || changed;
    if (proxy && VIRec(callee)->logBinding) changed = VIListAdd(VIRec(callee)->logBinding, caller) || changed;
    if (changed && LinkServices().postUserEvent) LinkServices().postUserEvent(kUserEventHierarchy, caller);
    ReinsertLoaded(callee, caller);
    if (LinkServices().propagatePriority) LinkServices().propagatePriority(callee);
    different = !ConnectorTypesEqual(callee, refTypeBlock, proxy);
    if (!different && (VIRec(caller)->flags & kVIFlagSubroutine) && !(VIRec(callee)->flags & kVIFlagSubroutine) &&
        VIRec(callee)->viKind == kVIKindDatalog)
      different = true;
  }
  VIRecord* c = VIRec(caller);
  const VIRecord* e = VIRec(callee);
  bool bad = false;
  if (different) {
    c->flags |= e->viKind == kVIKindControl ? kVIFlagExtSubMissing : kVIFlagSubVIMissing;
    c->marks &= ~kMarkConnected;
    bad = true;
  }
  const uInt32 state = e->eState & kVIStateMask;
  if (state == kVIStateBroken) {
    c->flags |= kVIFlagSubVINotExec;
    bad = true;
  }
  if (state == 2 || (e->flags & kVIFlagSubVIRunning) || (e->flags2 & kFlags2SubVIBusy)) {
    c->flags |= kVIFlagSubVIRunning;
    bad = true;
  }
  if (bad) MarkBad(caller);
}

void UnconnectSubVI(UHandle callee, UHandle caller, Bool32 proxy) {
  if (!callee || !caller || !*callee || !*caller) return;
  bool changed = VIListRemove(VIRec(caller)->subVIs, callee);
  changed = VIListRemove(VIRec(callee)->callers, caller) || changed;
  if (proxy) changed = VIListRemove(VIRec(callee)->logBinding, caller) || changed;
  if (changed && LinkServices().postUserEvent) LinkServices().postUserEvent(kUserEventHierarchy, caller);
  ReinsertLoaded(callee, caller);
  if (LinkServices().propagatePriority) LinkServices().propagatePriority(callee);
  if (!(VIRec(caller)->marks & kMarkDisposing) && LinkServices().reevalSubVIState)
    LinkServices().reevalSubVIState(caller);
}

// ---- VI references ------------------------------------------------------------------
int32 InstPatchMethod(int32 target, int32 ref, int32 siteIndex) {
  if (!Used(target) || !Used(ref)) return 0;
  if ((LE(target).classFlags & kLinkFlagAlias) && (LE(target).classFlags & kLinkFlagPublic)) {
    const int32 to = Aliased(target);
    DBPrintf("InstPatchMethod: public: %p, %d; alias: %p, %d", LinkNameOf(LE(target).name), target,
             LinkNameOf(LE(to).name), to);
    target = to;
  }
  DropPath(ref);
  const UHandle callee = HandleOf(LE(target).owner);
  const int32 ownerClass = OwnerClass(ref);
  const bool proxy = LinkEntryClass(LE(ref)) == kLinkClassProxy;
  switch (ownerClass) {
    case kLinkClassVI:
    case kLinkClassCustomCtl:
    case kLinkClassProxy: {
      const UHandle caller = HandleOf(OwnerObject(ref));
      ForSites(ref, siteIndex, [&](int32) {
        ConnectSubVI(callee, caller, nullptr, LE(ref).typeBlock, proxy);
      });
      break;
    }
    case kLinkClassPanel: {
      const int32 owner = OwnerOf(ref);
      ForSites(ref, siteIndex, [&](int32 site) {
        const ObjHeap heap = HandleOf(LE(owner).owner);
        const UHandle panelVI = OwnerVI(owner);
        Str255 name;
        std::memcpy(name, VIRec(callee)->name, size_t(VIRec(callee)->name[0]) + 1);
        const LinkPanelHooks& s = LinkPanel();
        if (panelVI && (panelVI == callee || VIHierarchyHasName(panelVI, name))) {
          RecursiveUseAlert(name);
          if (s.typeDefSetLink) s.typeDefSetLink(heap, site, nullptr);
          if (s.objectFlags) s.objectFlags(heap, site, kTypeDefRecursive, 0);
          MarkBad(panelVI);
        } else {
          if (s.typeDefSetLink) s.typeDefSetLink(heap, site, callee);
          const uInt32 old = s.objectFlags ? s.objectFlags(heap, site, 0, kTypeDefRecursive) : 0;
          if (old & kTypeDefBad) MarkBad(panelVI);
        }
      });
      break;
    }
    default:
      WrongOwner();
  }
  return 0;
}

int32 InstUnpatchMethod(int32 ref, int32 siteIndex) {
  if (!Used(ref)) return 0;
  const int32 owner = OwnerOf(ref);
  const int32 refClass = LinkEntryClass(LE(ref));
  switch (OwnerClass(ref)) {
    case kLinkClassPanel:
      if (refClass == kLinkClassCustomCtl && LinkPanel().typeDefSetLink) {
        ForSites(ref, siteIndex, [&](int32 site) { LinkPanel().typeDefSetLink(HandleOf(LE(owner).owner), site, nullptr); });
      }
      return 0;
    case kLinkClassVI:
    case kLinkClassCustomCtl:
    case kLinkClassProxy:
      break;
    default:
      WrongOwner();
      return 0;
  }
  const UHandle caller = HandleOf(LE(owner).owner);
  const int32 target = LE(ref).chain;
  const bool bound = !(LE(ref).classFlags & kLinkFlagUnresolved) && Used(target);
  const bool waiting = !bound || !InReferrers(target, ref);
  if (bound) {
    const UHandle callee = HandleOf(LE(Aliased(target)).owner);
    // The owner may reach the same VI through a reference of the other VI
    // class recorded with site -1: then the VIs stay connected.
    bool other = false;
    if (OwnerClass(ref) == kLinkClassVI && (refClass == kLinkClassVI || refClass == kLinkClassProxy)) {
      const int32 otherClass = refClass == kLinkClassVI ? kLinkClassProxy : kLinkClassVI;
      int32 guard = LinkTableCapacity();
      for (int32 r = LE(owner).ownRefs; r && guard-- > 0 && !other; r = LE(r).ownRefs)
        other = r != ref && LE(r).name == LE(ref).name && LinkEntryClass(LE(r)) == otherClass &&
                OHListFind(gLinkHeap, LE(r).sites, -1) >= 0;
    }
    if (!other) UnconnectSubVI(callee, caller, refClass == kLinkClassProxy);
    else if (refClass == kLinkClassProxy) VIListRemove(VIRec(callee)->logBinding, caller);
    if (waiting && (LE(target).classFlags & kLinkFlagAlias) && !LE(target).referrers) {
      Str255 alias;
      std::memcpy(alias, LinkNameOf(LE(target).name), size_t(LinkNameOf(LE(target).name)[0]) + 1);
      int32 e = 0;
      if (LookupLinkItem(alias, kLinkClassCodes[kLinkClassVI], &e)) UnlinkItemByName(alias, kLinkClassCodes[kLinkClassVI]);
      if (LookupLinkItem(alias, kLinkClassCodes[kLinkClassDataSpace], &e))
        UnlinkItemByName(alias, kLinkClassCodes[kLinkClassDataSpace]);
    }
  }
  if (waiting && caller && *caller) {
    VIRec(caller)->flags |= refClass == kLinkClassCustomCtl ? kVIFlagExtSubMissing : kVIFlagSubVIMissing;
    MarkBad(caller);
  }
  return 0;
}

// ---- data spaces --------------------------------------------------------------------
int32 CloneReentrantDS(int32 target, int32 ref, int32 siteIndex) {
  if (!Used(target) || !Used(ref)) return 0;
  DropPath(ref);
  if (OwnerClass(ref) != kLinkClassDataSpace) {
    WrongOwner();
    return 0;
  }
  ForSites(ref, siteIndex, [&](int32 site) {
    const UHandle calleeDS = HandleOf(LE(target).owner);
    const UHandle callerDS = HandleOf(OwnerObject(ref));
    UHandle vi = AnySize(calleeDS) >= kDataSpaceHeaderSize
                     ? reinterpret_cast<DataSpaceHeader*>(*calleeDS)->owner
                     : nullptr;
    const bool reentrant = vi && *vi && (VIRec(vi)->flags & kVIFlagReentrant);
    UHandle value = calleeDS;
    if (reentrant && VIRec(vi)->codeHandle) {
      // Check the site before a clone is made for it.
      if (site != kDSLinkSite176 && site < kDataSpaceHeaderSize) {
        DBAssert(__FILE__, __LINE__, "invalid data-space link site");
        return;
      }
      UHandle clone = LinkNewDataSpace(vi, target);
      if (clone) value = clone;
      else {
        Str255 text;
        text[0] = uChar(sizeof kCloneFailedText - 1);
        std::memcpy(text + 1, kCloneFailedText, sizeof kCloneFailedText - 1);
        WAlert(text, 0);
      }
    }
    const uInt32 word = WordOf(value);
    if (DSWrite(callerDS, site, &word, 1, true) && reentrant && value && *value)
      reinterpret_cast<DataSpaceHeader*>(*value)->cloneCaller = reinterpret_cast<DataSpace>(callerDS);
  });
  return 0;
}

int32 VIDSUnpatchMethod(int32 ref, int32 siteIndex) {
  if (!Used(ref)) return 0;
  if (OwnerClass(ref) != kLinkClassDataSpace) {
    WrongOwner();
    return 0;
  }
  const int32 target = LE(ref).chain;
  const bool bound = !(LE(ref).classFlags & kLinkFlagUnresolved) && Used(target);
  ForSites(ref, siteIndex, [&](int32 site) {
    const uInt32 zero = 0;
    uInt32 old = 0;
    if (!DSWrite(HandleOf(OwnerObject(ref)), site, &zero, 1, true, &old) || !old || !bound) return;
    const int32 clones = CloneListOf(target);
    if (OHListFind(gLinkHeap, clones, int32(old)) < 0) return;
    const UHandle clone = HandleOf(old);
    reinterpret_cast<DataSpaceHeader*>(*clone)->cloneCaller = nullptr;
    const UHandle vi = reinterpret_cast<DataSpaceHeader*>(*clone)->owner;
    if (vi && *vi && (VIRec(vi)->flags & kVIFlagReentrant)) LinkDisposeDataSpace(clone, target);
  });
  return 0;
}

// ---- subroutines, resource handles, library functions -------------------------------
int32 SubrPatchMethod(int32 target, int32 ref, int32 siteIndex) {
  if (!Used(target) || !Used(ref)) return 0;
  DropPath(ref);
  const uInt32 record = LE(target).owner;
  switch (OwnerClass(ref)) {
    case kLinkClassDataSpace:
      ForSites(ref, siteIndex, [&](int32 site) {
        if (site == 0) return;
        const UHandle ds = HandleOf(OwnerObject(ref));
        if (!DSWrite(ds, site, &record, 1, false)) return;
        const UHandle vi = reinterpret_cast<DataSpaceHeader*>(*ds)->owner;
        if (vi && *vi && (VIRec(vi)->flags & kVIFlagSubroutine) && LinkServices().subrHasUnitAccess &&
            LinkServices().subrHasUnitAccess(As<void>(record)))
          MarkBad(vi);
      });
      break;
    case kLinkClassSubr: {
      const CodeBlockHeader* h = As<CodeBlockHeader>(record);
      if (!h || ExtCodeBlockSize(h) < int32(sizeof(CodeBlockHeader))) {
        DBAssert(__FILE__, __LINE__, "subroutine link to no loaded subroutine");
        break;
      }
      const uInt32 entry = h->version >= 4 && h->entry ? GetNative32(As<void>(h->entry)) : h->entry;
      ForSites(ref, siteIndex, [&](int32 site) { SubrWrite(OwnerObject(ref), site, entry); });
      break;
    }
    default:
      WrongOwner();
  }
  return 0;
}

int32 SubrUnpatchMethod(int32 ref, int32 siteIndex) {
  if (!Used(ref)) return 0;
  const int32 cls = OwnerClass(ref);
  ForSites(ref, siteIndex, [&](int32 site) {
    const uInt32 zero = 0;
    if (cls == kLinkClassPanel) HeapWrite(OwnerObject(ref), site, 0);
    else if (cls == kLinkClassDataSpace) {
      if (site != 0) DSWrite(HandleOf(OwnerObject(ref)), site, &zero, 1, false);
    } else if (cls == kLinkClassSubr) SubrWrite(OwnerObject(ref), site, 0);
    else WrongOwner();
  });
  return 0;
}

namespace {
int32 WriteHandleWord(int32 ref, int32 siteIndex, uInt32 value) {
  const int32 cls = OwnerClass(ref);
  ForSites(ref, siteIndex, [&](int32 site) {
    if (cls == kLinkClassDataSpace) DSWrite(HandleOf(OwnerObject(ref)), site, &value, 1, false);
    else if (cls == kLinkClassSubr) SubrWrite(OwnerObject(ref), site, value);
    else WrongOwner();
  });
  return 0;
}
}  // namespace

int32 GenhPatchMethod(int32 target, int32 ref, int32 siteIndex) {
  if (!Used(target) || !Used(ref)) return 0;
  DropPath(ref);
  return WriteHandleWord(ref, siteIndex, LE(target).owner);
}

int32 GenhUnpatchMethod(int32 ref, int32 siteIndex) {
  if (!Used(ref)) return 0;
  return WriteHandleWord(ref, siteIndex, 0);
}

int32 XFunPatchMethod(int32 target, int32 ref, int32 siteIndex) {
  if (!Used(target) || !Used(ref)) return 0;
  if (OwnerClass(ref) != kLinkClassDataSpace) {
    WrongOwner();
    return 0;
  }
  // The library-function record: module, function address, unit-access record.
  const UHandle rec = HandleOf(LE(target).owner);
  if (AnySize(rec) < 12) {
    DBAssert(__FILE__, __LINE__, "library-function link to no function record");
    return 0;
  }
  const uInt32 words[2] = {GetNative32(*rec + 4), GetNative32(*rec + 8)};
  ForSites(ref, siteIndex, [&](int32 site) {
    const UHandle ds = HandleOf(OwnerObject(ref));
    if (!DSWrite(ds, site, words, 2, false)) return;
    const UHandle vi = reinterpret_cast<DataSpaceHeader*>(*ds)->owner;
    if (vi && LinkServices().usesMissingRTEntries && LinkServices().usesMissingRTEntries(vi)) MarkBad(vi);
  });
  return 0;
}

int32 XFunUnpatchMethod(int32 ref, int32 siteIndex) {
  if (!Used(ref)) return 0;
  if (OwnerClass(ref) != kLinkClassDataSpace) {
    WrongOwner();
    return 0;
  }
  const uInt32 zeros[2] = {0, 0};
  ForSites(ref, siteIndex, [&](int32 site) { DSWrite(HandleOf(OwnerObject(ref)), site, zeros, 2, false); });
  return 0;
}

// ---- reentrant clones ---------------------------------------------------------------
UHandle NewDSFromDefaults(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  UHandle defaults = DeflateDataSpace(vi);
  if (!defaults) return nullptr;
  UHandle ds = InflateDataSpace(vi, defaults, 0);
  AZDisposeHandle(defaults);
  if (AnySize(ds) >= kDataSpaceHeaderSize) reinterpret_cast<DataSpaceHeader*>(*ds)->owner = vi;
  return ds;
}

namespace {
// Calls the patch (or unpatch) of every bound reference the data-space
// entry holds, with its object replaced by ds.
void ForBoundRefsWith(int32 entry, UHandle ds, bool patch) {
  const uInt32 saved = LE(entry).owner;
  LE(entry).owner = WordOf(ds);
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry).ownRefs; r && guard-- > 0; r = LE(r).ownRefs) {
    if (LE(r).classFlags & kLinkFlagUnresolved) continue;
    const int32 cls = LinkEntryClass(LE(r));
    if (patch && gLinkClasses[cls].patch) gLinkClasses[cls].patch(Aliased(LE(r).chain), r, -1);
    if (!patch && gLinkClasses[cls].unpatch) gLinkClasses[cls].unpatch(r, -1);
  }
  LE(entry).owner = saved;
}
}  // namespace

UHandle LinkNewDataSpace(UHandle vi, int32 dsEntry) {
  if (!dsEntry) dsEntry = DataSpaceEntryOf(vi);
  if (!Used(dsEntry)) return nullptr;
  UHandle clone = NewDSFromDefaults(vi);
  if (!clone) return nullptr;
  if (OHListInsert(gLinkHeap, &LE(dsEntry).sites, int32(WordOf(clone)), kObjListAppend) != kNoErr) {
    DBAssert(__FILE__, __LINE__, "no room for a clone in its clone list");
    if (LinkServices().disposeDataSpace) LinkServices().disposeDataSpace(clone);
    else FreeAny(clone);
    return nullptr;
  }
  ForBoundRefsWith(dsEntry, clone, true);
  if (LinkServices().initClone) LinkServices().initClone(vi, clone);
  return clone;
}

int32 LinkDisposeDataSpace(UHandle ds, int32 dsEntry) {
  if (AnySize(ds) < kDataSpaceHeaderSize) return -1;
  if (!dsEntry) {
    dsEntry = DataSpaceEntryOf(reinterpret_cast<DataSpaceHeader*>(*ds)->owner);
    if (!dsEntry) {
      DBAssert(__FILE__, __LINE__, "LinkDisposeDataSpace: no data-space entry");
      return -1;
    }
  }
  const int32 at = OHListFind(gLinkHeap, CloneListOf(dsEntry), int32(WordOf(ds)));
  if (at < 0) return -1;
  if (LinkServices().callDisposeProc) LinkServices().callDisposeProc(ds);
  ForBoundRefsWith(dsEntry, ds, false);
  OHListRemove(gLinkHeap, LE(dsEntry).sites, at);
  if (LinkServices().disposeDataSpace) LinkServices().disposeDataSpace(ds);
  else FreeAny(ds);
  return 0;
}

void RelinkReentrantCallers(UHandle vi, Bool32 makeReentrant) {
  if (!vi || !*vi || !VIRec(vi)->dataSpace) return;
  const int32 entry = DataSpaceEntryOf(vi);
  if (!entry) {
    DBAssert(__FILE__, __LINE__, "RelinkReentrantCallers: no data-space entry");
    return;
  }
  const UHandle first = VIRec(vi)->dataSpace;
  if (makeReentrant && AnySize(first) >= kDataSpaceHeaderSize &&
      reinterpret_cast<DataSpaceHeader*>(*first)->nextClone) {
    DBAssert(__FILE__, __LINE__, "RelinkReentrantCallers: the data space has clones already");
    return;
  }
  const uInt32 oldFlag = VIRec(vi)->flags & kVIFlagReentrant;
  const uInt32 newFlag = makeReentrant ? uInt32(kVIFlagReentrant) : 0u;
  int32 guard = LinkTableCapacity();
  for (int32 r = LE(entry).referrers; r && guard-- > 0; r = LE(r).referrers) {
    VIRec(vi)->flags = (VIRec(vi)->flags & ~kVIFlagReentrant) | oldFlag;
    ForEachCloneOfOwner(r, [&] { VIDSUnpatchMethod(r, -1); });
    VIDSUnpatchMethod(r, -1);
    VIRec(vi)->flags = (VIRec(vi)->flags & ~kVIFlagReentrant) | newFlag;
    ForEachCloneOfOwner(r, [&] { CloneReentrantDS(entry, r, -1); });
    CloneReentrantDS(entry, r, -1);
  }
  VIRec(vi)->flags = (VIRec(vi)->flags & ~kVIFlagReentrant) | newFlag;
}
