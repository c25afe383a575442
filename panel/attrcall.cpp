// The frame of a property call, the selector's way down the class chain and
// the value procedures the classes' property procedures share.
#include "panel/attrcall.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <emmintrin.h>

#include "engine/exec/codeentry.h"
#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/printf.h"
#include "mgsource/rects.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrlops.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel/transact.h"

using ctrl::Flags;
using ctrl::IsObj;

const TypeDescriptor* AttrTypeTable[kAttrTableCount] = {};

namespace {

const char kSource[] = "attrcall";

constexpr int32 kActCtrlOp = 27;
constexpr uInt32 kVIFlagInPropertyCall = 0x2000000;
constexpr uInt32 kHeapFlagTracking = 0x200000;  // drawing clipped to the content
constexpr int32 kSizeMin = 5, kSizeMax = 16000;
constexpr uInt32 kTransparent = 0x1000000;
constexpr int16 kPartPlotArea = 28, kPartGraphFrame = 9;

AttrProc gProcs[kAttrTableCount] = {};
// Each table's entry count, counted at its first use and kept with the
// table it counts: a property call walks the class chain's tables on every
// call.  Tables are set at start-up; one set anew is counted anew.
std::atomic<const TypeDescriptor*> gCounted[kAttrTableCount] = {};
std::atomic<int32> gCounts[kAttrTableCount] = {};

int32 CountOf(int32 table) {
  const TypeDescriptor* td = AttrTypeTable[table];
  if (!td) return 0;
  if (gCounted[table].load(std::memory_order_acquire) == td) return gCounts[table].load(std::memory_order_relaxed);
  const int32 n = CountAttrEntries(td);
  gCounted[table].store(nullptr, std::memory_order_relaxed);
  gCounts[table].store(n, std::memory_order_relaxed);
  gCounted[table].store(td, std::memory_order_release);
  return n;
}
uInt32 gNodeRedraw = 0;
// The extension block the last property call checked: a call on the same
// heap again reads its header back while no block's layout has changed.
thread_local OHBlockMemo gCallExt;
int32 gSizingPlot = -1;

uInt32 Ext(ObjHeap heap, int32 at) { return ctrl::Ext(heap, at); }

// The number type of a descriptor's code: plain numerics, enumerations and
// numerics with units; 0 for anything else.
int32 NumCodeOf(const TypeDescriptor* td) {
  if (!td) return 0;
  const int32 c = td->code;
  if (c >= kTDI8 && c <= kTDCXT) return c;
  if (c >= kTDEnumU8 && c <= kTDEnumU32) return c - kTDEnumU8 + kTDU8;
  if (c >= kTDUnitSGL && c <= kTDUnitCXT) return c - kTDUnitSGL + kTDSGL;
  return 0;
}

// The size of the type list, -1 when the handle is none of either zone.
int32 ListSize(UHandle h) {
  if (!h) return -1;
  // One check for a data-zone handle, which sizes it too.
  if (const int32 size = DSHandleSizeOrNone(h); size >= 0) return size;
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(h);
  return -1;
}

// The call's record holder cleared by sixteen-byte stores written out (the
// library clear of its size runs a string store once per word).
template <typename Holder>
void ClearHolder(Holder* holder) {
  static_assert(sizeof(Holder) >= 16, "a holder of at least one store");
  auto* const bytes = reinterpret_cast<char*>(holder);
  const __m128i zero = _mm_setzero_si128();
#pragma GCC unroll 32
  for (size_t at = 0; at + 16 <= sizeof(Holder); at += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + at), zero);
  if (sizeof(Holder) % 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + sizeof(Holder) - 16), zero);
}

}  // namespace

// ---- Tables ------------------------------------------------------------------------------

MgErr SetAttrTable(int32 number, const TypeDescriptor* table, AttrProc proc) {
  if (number < 0 || number >= kAttrTableCount) return kArgErr;
  AttrTypeTable[number] = table;
  gProcs[number] = proc;
  return kNoErr;
}

int32 CountAttrEntries(const TypeDescriptor* table) {
  if (!table) return 0;
  table = SkipTypedefs(table);
  if (!table || table->code != kTDCluster) {
    DBAssert(kSource, __LINE__, "CountAttrEntries: not a cluster");
    return 0;
  }
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(table) + 4));
  int32 count = n;
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* el = SkipTypedefs(ElemTD(table, i));
    if (el && el->code == kTDCluster) count += CountAttrEntries(el);
  }
  return count;
}

uInt32 AttrNodeRedrawFlag() { return gNodeRedraw; }
int32 AttrSizingPlot() { return gSizingPlot; }

int32 AttrChainOf(ObjHeap heap, int32 object, int32 tables[3], int32 counts[3]) {
  int32 n = 0;
  auto add = [&](int32 table, int32 extra) {
    const int32 c = AttrTypeTable[table] ? CountOf(table) + extra : 0;
    tables[n] = table;
    counts[n++] = c;
  };
  switch (ObjClass(heap, object)) {
    case kClsBoolean: add(1, 0); break;
    case kClsNumeric: add(4, 0); break;
    case kClsColorBox: add(49, 0); break;
    case kClsColorRamp: add(15, 0); break;
    case kClsString: add(2, 0); break;
    case kClsPath: case kClsTag: add(3, 0); break;
    case kClsRing: add(5, 0); break;
    case kClsKnob: add(6, 0); break;
    case kClsSlide: add(6, 0); add(19, 0); break;
    case kClsArray: add(8, 0); break;
    case kClsPicture: add(29, 0); break;
    case kClsTable: add(20, 0); break;
    case kClsListbox: add(31, 0); break;
    case kClsGraphChart: {
      const int32 style = ctrl::Has(heap, object, kPanelGraphRecSize)
                              ? int32(GetNative16(*heap + object + kPanelGraphKindByte))
                              : 0;
      if (style >= 104 && style <= 106) add(7, 0);
      else if (style >= 101 && style <= 199) add(9, 1);
      else if (style == 3 || style == 4) add(17, 0);
      else add(10, 0);
      if (style < 101) add(16, 0);
      break;
    }
    default: break;
  }
  return n;
}

// ---- The class chain -------------------------------------------------------------------

namespace {

// One level: the selector in 0..count-1 runs the table's procedure and is
// taken (-1); above, the next level sees it less count.
int32 RunLevel(ObjHeap heap, int32 object, AttrCallRec* rec, int32 op, int32 table, int32 count) {
  const int32 s = rec->selector;
  if (s < 0) return 0;
  if (s >= count) {
    rec->selector = s - count;
    return 0;
  }
  int32 reply = 0;
  if (op != 1) {
    DBAssert(kSource, __LINE__, "a control operation other than a property call");
  } else if (table == 0) {
    reply = ddoattr(heap, object, rec);
  } else if (gProcs[table]) {
    reply = gProcs[table](heap, object, rec);
  }
  rec->selector = -1;
  return reply;
}

// The data display level, the first of every chain.
inline int32 DDOLevel(ObjHeap heap, int32 object, AttrCallRec* rec, int32 op) {
  if (!op || !rec) return 0;
  return RunLevel(heap, object, rec, op, 0, kDDOAttrCount);
}

int32 ChainOCtrlOpMethod(ObjHeap heap, int32 object, AttrCallRec* rec, int32 op) {
  int32 reply = DDOLevel(heap, object, rec, op);
  // A selector the shared level took leaves nothing for the class chain
  // (outside a property call a chart's history selector is still mapped).
  if (!op || !rec || (op != 2 && rec->selector < 0) || !IsObj(heap, object)) return reply;
  int32 tables[3], counts[3];
  const int32 n = AttrChainOf(heap, object, tables, counts);
  // Outside a property call a chart's last selector (its history) stands
  // for the set's first.
  if (op == 2 && n > 0 && (tables[0] == 9 || tables[0] == 7) && rec->selector == counts[0] - 1) rec->selector = 0;
  for (int32 i = 0; i < n && rec->selector >= 0; ++i) reply |= RunLevel(heap, object, rec, op, tables[i], counts[i]);
  return reply;
}

}  // namespace

int32 DDOOCtrlOpMethod(ObjHeap heap, int32 object, AttrCallRec* rec, int32 op) { return DDOLevel(heap, object, rec, op); }

int32 OCtrlOpChecked(ObjHeap heap, int32 object, AttrCallRec* rec) {
  // The class word the dispatcher reads and the header word of the block
  // the caller checked.
  int32 cls, word;
  std::memcpy(&cls, *heap + object - 4, sizeof cls);
  std::memcpy(&word, *heap + object - int32(kOHBlockHeader), sizeof word);
  const ObjMethodAddr method = OClassMethodAsSent(cls, kMsgOCtrlOp);
  if (!rec || rec->selector < 0 || rec->selector >= kDDOAttrCount ||
      (method != reinterpret_cast<ObjMethodAddr>(&ChainOCtrlOpMethod) &&
       method != reinterpret_cast<ObjMethodAddr>(&DDOOCtrlOpMethod)))
    return OCtrlOp(heap, object, rec, 1);
  // What RunLevel does with a selector the data display level takes.
  // Its usable bytes as OHUsedBlockRead gives them.
  const int32 usable = int32((uInt32(word) & ~3u) - kOHBlockHeader - ((word & 2) ? 2 : 0));
  const int32 reply = DDOAttrChecked(heap, object, usable, cls, rec);
  rec->selector = -1;
  return reply;
}

ObjMethodAddr OCtrlOpMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsFrontPanel: case kClsCluster: case kClsRefNum: case kClsUserItem:
    case kClsTypeDefinition: case kClsOleVariant:
      return reinterpret_cast<ObjMethodAddr>(&DDOOCtrlOpMethod);
    case kClsBoolean: case kClsNumeric: case kClsColorBox: case kClsColorRamp: case kClsString: case kClsPath:
    case kClsTag: case kClsRing: case kClsKnob: case kClsSlide: case kClsArray: case kClsPicture: case kClsTable:
    case kClsListbox: case kClsGraphChart:
      return reinterpret_cast<ObjMethodAddr>(&ChainOCtrlOpMethod);
    default:
      return nullptr;
  }
}

// ---- Paths -------------------------------------------------------------------------------

namespace {

// The child a panel step names (mode 1 the object list, 3 the controllers).
int32 PanelStepChild(ObjHeap heap, const TransactionFrame& step) {
  if (step.kind != kCatFPSC || !IsObj(heap, step.object)) return 0;
  const int32 word = step.mode == 1 ? kRootObjectListWord : step.mode == 3 ? 10 : -1;
  if (word < 0 || !ctrl::Has(heap, step.object, 4 * (word + 1))) return 0;
  const int32 list = ObjWord(heap, step.object, word);
  if (list <= 0 || !OHIsUsedBlock(heap, list)) return 0;
  const int32 n = ObjListCount(heap, list);
  if (step.index < 0 || step.index >= n || 4 + int64(4) * n > OHBlockSize(heap, list)) return 0;
  return ObjListGet(heap, list, step.index);
}

}  // namespace

int32 CompareAttrPath(ObjHeap heap, const TransactionFrame* p) {
  if (!heap || !*heap || !p || !Ext(heap, kHeapExtKeyFocus)) return 0;
  const UHandle saved = reinterpret_cast<UHandle>(uintptr_t(Ext(heap, kHeapExtSavedFrames)));
  if (!saved || AZCheckHandle(saved) != kNoErr) return 0;
  const int32 count = AZGetHandleSize(saved) / int32(sizeof(TransactionFrame));
  const auto* f = reinterpret_cast<const TransactionFrame*>(*saved);
  const auto* end = reinterpret_cast<const TransactionFrame*>(TRStackBlock() + kTransactionStackBytes);
  int32 i = 0;
  for (; i < count && p + i < end && p[i].kind && f[i].kind; ++i) {
    const TransactionFrame &a = p[i], &b = f[i];
    bool match = a.mode == b.mode && a.index == b.index;
    if (!match && i + 1 < count && p + i + 1 < end && p[i + 1].kind && f[i + 1].kind)
      match = p[i + 1].object && p[i + 1].object == f[i + 1].object;
    if (!match && a.kind == kCatFPSC && b.kind == kCatFPSC) {
      const int32 item = PanelStepChild(heap, a);
      match = item && item == PanelStepChild(heap, b);
    }
    if (!match && a.mode == 2) match = true;
    if (!match) return 0;
  }
  const bool pLeft = p + i < end && p[i].kind;
  const bool fEnded = i >= count || !f[i].kind;
  return pLeft && fEnded ? 0 : 1;
}

// ---- One entry -----------------------------------------------------------------------------

void DoDDOAttrCall(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                   int32 selector, void* value) {
  if (PanelPropertyObserved()) PanelObserveProperty(heap, object, types, typeOffset, read, last, selector, value);
  if (!heap || !*heap) return;
  // The heap's extension block checked once, for its owner VI and for the
  // words read before the walk (nothing on the way there changes the heap).
  const int32 ext = int32(OHWord(heap, kOHExtension));
  int32 extSize = 0, extClass = 0;
  if (ext <= 0 || !OHUsedBlockReadMemo(&gCallExt, heap, ext, &extSize, &extClass)) extSize = -1;
  auto extWord = [&](int32 at) { return at + 4 <= extSize ? GetNative32(*heap + ext + at) : 0u; };
  // A used extension block's usable size is the size the owner look-up reads;
  // any other goes through the look-up (and its report).
  const UHandle vi = extSize < 0 ? PanelHeapOwner(heap)
                     : OHWord(heap, kOHKind) == kPanelHeapKind ? reinterpret_cast<UHandle>(uintptr_t(extWord(kHeapExtOwner)))
                                                              : nullptr;
  void* const previous = TRPushFrame();
  int32 reply = 0;
  int32 hidden = 0, greyed = 0;
  AttrPathFacts walk;
  // The path's top: the walk writes at it and leaves it as it is.
  auto* const path = static_cast<TransactionFrame*>(TRStackTop());
  if (path && GetObjAttrPath(heap, object, path, &hidden, &greyed, &walk)) {
    uInt32 viFlags = 0;
    uInt32 savedVIWord = 0, savedExtWord = 0;
    const bool keepWords = vi && *vi && CtrlVIGetSetupFlag13(vi);
    if (vi && *vi) {
      viFlags = VIRec(vi)->flags;
      VIRec(vi)->flags = viFlags | kVIFlagInPropertyCall;
      if (keepWords) {
        savedVIWord = VIRec(vi)->flags2;
        savedExtWord = Ext(heap, kHeapExtConfirm);
      }
    }
    // The record travels as an action record: the methods along the path may
    // touch an action record's further words, which lie in this holder.
    union {
      AttrCallRec rec;
      ActionParams words;
    } holder;
    ClearHolder(&holder);
    AttrCallRec& rec = holder.rec;
    rec.types = types;
    rec.typeOffset = uInt32(typeOffset);
    rec.read = uInt32(read);
    rec.last = gNodeRedraw ? 0 : uInt32(last);
    rec.selector = selector;
    rec.value = value;
    rec.hidden = uInt32(hidden);
    rec.greyed = uInt32(greyed);
    const WindowRef window = WindowRef(extWord(kHeapExtWindow));
    // A panel without a window draws into the shell's hidden one, when
    // there is one.
    const WindowRef drawIn = window ? window : PanelClosedWindow();
    WPortState port;
    if (drawIn) WSetup(drawIn, &port);
    Rect savedClip{0, 0, 0, 0};
    const bool clipped = window && (OHWord(heap, kOHFlags) & kHeapFlagTracking);
    if (clipped) {
      Rect content;
      const uInt32 corners[2] = {extWord(kHeapExtContentRect), extWord(kHeapExtContentRect + 4)};
      std::memcpy(&content, corners, sizeof content);
      WSetClipRect(&content, &savedClip);
    }
    const int32 root = int32(extWord(kHeapExtRoot));
    if (path->kind == kCatFPSC && path->mode == 2) {
      // The panel itself has no properties: its do-it would take the action
      // for a programming error, but the node comes from a VI's code.
      DBPrintf("supcodoit action=%lx?", long(kActCtrlOp));
    } else if (int32 rootSize = walk.topSize, rootClass = walk.topClass;
               root > 0 && (root == walk.top || OHUsedBlockRead(heap, root, &rootSize, &rootClass)) &&
               rootSize >= int32(sizeof(ObjLeadingFields))) {
      // (The root the walk reached was checked there: nothing since has
      // changed the heap.)  The panel root's own do-it is entered past the
      // checks just made (the path written at the top holds at least the
      // object's frame and the end), with the child the walk found in the
      // root's object list when the path starts at this root; any other
      // method the class names takes the action by the send.
      if (OClassMethodAsSent(rootClass, kMsgODoit) == reinterpret_cast<ObjMethodAddr>(&PanelODoitMethod)) {
        rec.firstWord = 0;  // the send's result word
        reply = PanelODoitChecked(heap, root, path, kActCtrlOp,
                                  reinterpret_cast<ActionParams*>(&rec), path->object == root ? walk.rootChild : 0);
      } else {
        reply = ODoit(heap, root, path, kActCtrlOp, reinterpret_cast<int32*>(&rec));
      }
    }
    if (window) {
      if (reply & kAttrReplyRedrawn) {
        DoDDOAttrCallDone();
        gNodeRedraw = 1;
      }
      if (clipped) WRestoreClip(&savedClip);
      if (gFlushDrawing) DFlush();
    }
    if (drawIn) WRestore(&port);
    if (vi && *vi) {
      if (keepWords) {
        VIRec(vi)->flags2 = savedVIWord;
        if (ctrl::Has(heap, int32(OHWord(heap, kOHExtension)), kHeapExtConfirm + 4))
          PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtConfirm, savedExtWord);
      }
      VIRec(vi)->flags = (VIRec(vi)->flags & ~kVIFlagInPropertyCall) | (viFlags & kVIFlagInPropertyCall);
    }
    if (reply & kAttrReplyMemFull) DBPrintf("!!! not enough memory for attribute to change");
  }
  TRSetStackTop(previous);
  if (last) gNodeRedraw = 0;
  if (reply & kAttrReplyResized) PanelInvalBounds(heap);
}

// ---- Values --------------------------------------------------------------------------------

const TypeDescriptor* AttrValueTD(const AttrCallRec* rec) {
  if (!rec) return nullptr;
  const int32 size = ListSize(rec->types);
  if (size < 0 || rec->typeOffset > uInt32(size) || uInt32(size) - rec->typeOffset < 4) return nullptr;
  const uChar* at = *rec->types + rec->typeOffset;
  const int32 room = size - int32(rec->typeOffset);
  // A numeric or Boolean without a name is its header alone, and no
  // typedef: the bounds check accepts it when its size fits.
  const uChar code = at[2];
  if (((code >= kTDI8 && code <= kTDCXT) || code == kTDBoolean || code == kTDBooleanOld) && !(at[3] & kTDFlagName)) {
    const int32 len = GetNative16(at);
    if (len == kTDSizeInHolder || (len >= 4 && len <= room)) return reinterpret_cast<const TypeDescriptor*>(at);
  }
  if (TDCheckBounds(at, room) != kNoErr) return nullptr;
  return SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(at));
}

bool AttrGetNum(const TypeDescriptor* td, void* value, int32 internalCode, const void* internal) {
  const int32 code = NumCodeOf(td);
  if (!code || !value) return false;
  ConvertNum(internalCode, internal, code, value);
  return true;
}

bool AttrPutNum(const TypeDescriptor* td, const void* value, int32 internalCode, void* internal) {
  // A 32-bit integer value of the internal type is copied.
  if (td && value && internal && td->code == internalCode && (internalCode == kTDI32 || internalCode == kTDU32)) {
    std::memcpy(internal, value, 4);
    return true;
  }
  const int32 code = NumCodeOf(td);
  if (!code || !value) return false;
  ConvertNum(code, value, internalCode, internal);
  return true;
}

bool AttrGetBool(const TypeDescriptor* td, const void* value, bool* on) {
  if (!td || !value) return false;
  if (td->code == kTDBoolean) {
    *on = *static_cast<const uChar*>(value) != 0;
    return true;
  }
  if (td->code == kTDBooleanOld) {
    uInt16 w;
    std::memcpy(&w, value, 2);
    *on = (w & 0x8000) != 0;
    return true;
  }
  return false;
}

bool AttrPutBool(const TypeDescriptor* td, void* value, bool on) {
  if (!td || !value) return false;
  if (td->code == kTDBoolean) {
    *static_cast<uChar*>(value) = on ? 1 : 0;
    return true;
  }
  if (td->code == kTDBooleanOld) {
    const uInt16 w = on ? 0x8000 : 0;
    std::memcpy(value, &w, 2);
    return true;
  }
  return false;
}

bool AttrSplitPair(const TypeDescriptor* td, void* value, int32 mode, AttrPair* out) {
  *out = AttrPair{};
  if (!td || !value) return false;
  if (mode == 1 || mode == 2) {
    out->td[mode - 1] = td;
    out->value[mode - 1] = value;
    return true;
  }
  if (mode != 0 || td->code != kTDCluster) return false;
  if (int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) < 2) return false;
  const TypeDescriptor* first = ElemTD(td, 0);
  const TypeDescriptor* second = ElemTD(td, 1);
  if (!first || !second) return false;
  out->td[0] = SkipTypedefs(first);
  out->td[1] = SkipTypedefs(second);
  out->value[0] = value;
  const int32 after = int32(uintptr_t(value)) + DataSize(out->td[0]);
  out->value[1] = reinterpret_cast<void*>(uintptr_t(uInt32(AlignDatum(out->td[1], after))));
  return true;
}

namespace {

Rect PartRect(ObjHeap heap, int32 part) {
  Rect r{0, 0, 0, 0};
  OGetRect(heap, part, &r, kRectBounds);
  return r;
}

// The new pair taken from the value: the elements the mode names replace
// the current ones (as signed 32-bit numbers).
void TakePair(const AttrPair& pair, int32 current[2]) {
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrPutNum(pair.td[k], pair.value[k], kTDI32, &current[k]);
}
void GivePair(const AttrPair& pair, const uInt32 v[2], int32 internal) {
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrGetNum(pair.td[k], pair.value[k], internal, &v[k]);
}

TRecord TextRecordOf(ObjHeap heap, int32 part) {
  return IsObj(heap, part) && ctrl::Has(heap, part, 40) ? PartTextRecord(heap, part) : nullptr;
}

}  // namespace

int32 GetPartSizeAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                      const TypeDescriptor* td, void* value) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, partOrder) : 0;
  if (!IsObj(heap, part) || !AttrSplitPair(td, value, mode, &pair)) return 0;
  const Rect r = PartRect(heap, part);
  const uInt32 v[2] = {uInt32(r.right - r.left), uInt32(r.bottom - r.top)};
  GivePair(pair, v, kTDU32);
  return 0;
}

int32 SetPartSizeByIdAttr(ObjHeap heap, int32 object, int32 partId, int32, int32 mode, const TypeDescriptor* td,
                          void* value, AttrCallRec* rec) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, 0) : 0;
  if (!IsObj(heap, part) || !AttrSplitPair(td, value, mode, &pair)) return 0;
  Rect r = PartRect(heap, part);
  int32 size[2] = {r.right - r.left, r.bottom - r.top};
  const int32 old[2] = {size[0], size[1]};
  TakePair(pair, size);
  for (int32& s : size) s = std::clamp(s, kSizeMin, kSizeMax);
  const int32 dh = size[0] - old[0], dv = size[1] - old[1];
  if (!dh && !dv) return 0;
  r.right = int16(r.right + dh);
  r.bottom = int16(r.bottom + dv);
  OInval(heap, object, kInvalAll);
  OSize(heap, part, &r, 0);
  if (rec) rec->partId = partId;
  OInval(heap, object, kInvalAll);
  return 0x30080;
}

int32 SetPartSizeAttr(ObjHeap heap, int32 object, int32, int32 partOrder, int32 mode, const TypeDescriptor* td,
                      void* value, AttrCallRec* rec) {
  AttrPair pair;
  if (partOrder < 0) partOrder = 0;
  const int32 plot = IsObj(heap, object) ? FindPart(heap, object, kPartPlotArea, partOrder) : 0;
  const int32 frame = IsObj(heap, object) ? FindPart(heap, object, kPartGraphFrame, 0) : 0;
  if (!IsObj(heap, plot) || !IsObj(heap, frame) || !AttrSplitPair(td, value, mode, &pair)) return 0;
  const Rect measured = PartRect(heap, plot);
  int32 size[2] = {measured.right - measured.left, measured.bottom - measured.top};
  const int32 old[2] = {size[0], size[1]};
  TakePair(pair, size);
  for (int32& s : size) s = std::clamp(s, kSizeMin, kSizeMax);
  const int32 dh = size[0] - old[0], dv = size[1] - old[1];
  if (!dh && !dv) return 0;
  Rect r = PartRect(heap, frame);
  r.right = int16(r.right + dh);
  r.bottom = int16(r.bottom + dv);
  OInval(heap, object, kInvalAll);
  gSizingPlot = partOrder;
  OSize(heap, frame, &r, 0);
  gSizingPlot = -1;
  if (rec) {
    rec->partId = kPartGraphFrame;
    rec->partOrder = 0;
  }
  OInval(heap, object, kInvalAll);
  return 0x30080;
}

int32 GetTextColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                        const TypeDescriptor* td, void* value) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, partOrder) : 0;
  const TRecord text = TextRecordOf(heap, part);
  if (!text || !AttrSplitPair(td, value, mode, &pair)) return 0;
  DColor fore = 0, back = 0;
  TGetColors(text, &fore, &back);
  const uInt32 v[2] = {fore, back};
  GivePair(pair, v, kTDU32);
  return 0;
}

int32 SetTextColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                        const TypeDescriptor* td, void* value, AttrCallRec*) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, partOrder) : 0;
  const TRecord text = TextRecordOf(heap, part);
  if (!text || !AttrSplitPair(td, value, mode, &pair)) return 0;
  DColor fore = 0, back = 0;
  TGetColors(text, &fore, &back);
  uInt32 next[2] = {fore, back};
  for (int32 k = 0; k < 2; ++k)
    if (pair.td[k]) AttrPutNum(pair.td[k], pair.value[k], kTDU32, &next[k]);
  // An invisible text colour is refused; a transparent background is not.
  if (next[0] >= kTransparent) next[0] = fore;
  if (next[1] > kTransparent) next[1] = back;
  if (next[0] == fore && next[1] == back) return 0;
  int32 start = 0, end = 0;
  TGetSelection(text, &start, &end);
  TSelectText(text, 0, 0x7FFFFFFF);
  const DColor f = next[0], b = next[1];
  TSetColors(text, &f, &b, 0);
  TSelectText(text, start, end);
  ctrl::SetPartColours(heap, part, ctrl::PartFore(heap, part), b);
  OInval(heap, part, kInvalAll);
  return 0x20100;
}

int32 GetPartColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                        const TypeDescriptor* td, void* value) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, partOrder) : 0;
  if (!IsObj(heap, part) || !AttrSplitPair(td, value, mode, &pair)) return 0;
  const uInt32 v[2] = {ctrl::PartFore(heap, part), ctrl::PartBack(heap, part)};
  GivePair(pair, v, kTDI32);
  return 0;
}

int32 SetPartColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                        const TypeDescriptor* td, void* value, AttrCallRec* rec) {
  AttrPair pair;
  const int32 part = IsObj(heap, object) ? FindPart(heap, object, partId, partOrder) : 0;
  if (!IsObj(heap, part) || !AttrSplitPair(td, value, mode, &pair)) return 0;
  const uInt32 old[2] = {ctrl::PartFore(heap, part), ctrl::PartBack(heap, part)};
  int32 next[2] = {int32(old[0]), int32(old[1])};
  TakePair(pair, next);
  int32 bits = 0;
  if (uInt32(next[0]) <= kTransparent && uInt32(next[0]) != old[0]) bits |= kColorFore;
  else next[0] = int32(old[0]);
  if (uInt32(next[1]) <= kTransparent && uInt32(next[1]) != old[1]) bits |= kColorBack;
  else next[1] = int32(old[1]);
  if (!bits) return 0;
  OColorChange(heap, part, 0, 0, next[0], next[1], bits | kColorProperty);
  OColorChange(heap, object, partId, partOrder, next[0], next[1], bits | kColorProperty);
  if (rec) {
    rec->partId = partId;
    rec->partOrder = partOrder;
  }
  return 0x20100;
}

int32 SetPartVisibleAttr(ObjHeap heap, int32 object, int32 partId, const TypeDescriptor* td, const void* value) {
  bool on = false;
  if (!IsObj(heap, object) || !AttrGetBool(td, value, &on)) return 0;
  if (on == !PartIdAllHidden(heap, object, partId)) return 0;
  SetPartIdVisible(heap, object, partId, on ? 1 : 0);
  return 0x30080;
}

int32 AttrNumTypeCheck(int32 typeCode, int32 formatCode) {
  if (typeCode >= 1 && typeCode <= 30) {
    const int32 base = typeCode > 14 ? (typeCode & 0xF) : typeCode;
    const int32 cls = base >= 1 && base <= 14 ? NumClass(base) : kNumClassNone;
    if (cls == kNumClassSigned || cls == kNumClassUnsigned) return 1;
  }
  return formatCode < 64 || formatCode > 68 ? 1 : 0;
}

void InvalPanelRect(ObjHeap heap, const Rect* rect) {
  if (!heap || !*heap || !rect) return;
  const WindowRef window = WindowRef(Ext(heap, kHeapExtWindow));
  if (!window) return;
  Rect content;
  const uInt32 corners[2] = {Ext(heap, kHeapExtContentRect), Ext(heap, kHeapExtContentRect + 4)};
  std::memcpy(&content, corners, sizeof content);
  Rect clipped;
  if (DEmptyRect(&content)) {
    clipped = *rect;
  } else if (!DSectRect(rect, &content, &clipped)) {
    return;
  }
  if (!DEmptyRect(&clipped)) WInvalRect(window, &clipped);
}

void InvalRectFrame(ObjHeap heap, const Rect* rect, int32 width) {
  if (!rect || width <= 0) return;
  const Rect& r = *rect;
  const int16 w = int16(std::min<int32>(width, 32767));
  const Rect bands[4] = {{r.top, r.left, int16(std::min<int32>(r.top + w, r.bottom)), r.right},
                         {int16(std::max<int32>(r.bottom - w, r.top)), r.left, r.bottom, r.right},
                         {r.top, r.left, r.bottom, int16(std::min<int32>(r.left + w, r.right))},
                         {r.top, int16(std::max<int32>(r.right - w, r.left)), r.bottom, r.right}};
  for (const Rect& b : bands) InvalPanelRect(heap, &b);
}
