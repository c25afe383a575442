// Property calls: one entry of a diagram's property node read from or
// written to a panel object.  The frame finds the object, writes its path
// from the panel's root on the transaction stack, sends it down that path as
// action 27 and lets the classes' control-operation methods (slot 11)
// renumber the selector level by level until one class's property procedure
// takes it.  The value procedures shared by the property procedures of the
// classes, the colour-change message (slot 19) and its forwarding rules are
// here too.  User-interface thread only.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/draw/dcolor.h"
#include "panel/objects.h"

// ---- The call record ---------------------------------------------------------------------
// Lives in the frame of DoDDOAttrCall for one entry; passed down the path
// as the action record and to the property procedure.
struct AttrCallRec {
  uInt32 firstWord;   // not used by property calls
  int32 partId;       // the part whose geometry a write changed (0 before the call)
  int32 partOrder;
  UHandle types;      // the node's type list
  uInt32 typeOffset;  // the entry's value descriptor inside types
  uInt32 read;        // nonzero: read the property into the value
  uInt32 last;        // the node's last entry (0 once an earlier entry redrew)
  int32 selector;     // renumbered at every class level; -1 once taken
  void* value;        // the entry's value inside the node's data
  uInt32 words[2];    // not used by property calls
  uInt32 hidden;      // the object or an owner is hidden
  uInt32 greyed;      // the object or an owner is greyed out
};
static_assert(sizeof(void*) != 4 ||
                  (sizeof(AttrCallRec) == 52 && offsetof(AttrCallRec, partId) == 4 &&
                   offsetof(AttrCallRec, partOrder) == 8 && offsetof(AttrCallRec, types) == 12 &&
                   offsetof(AttrCallRec, typeOffset) == 16 && offsetof(AttrCallRec, read) == 20 &&
                   offsetof(AttrCallRec, last) == 24 && offsetof(AttrCallRec, selector) == 28 &&
                   offsetof(AttrCallRec, value) == 32 && offsetof(AttrCallRec, hidden) == 44 &&
                   offsetof(AttrCallRec, greyed) == 48),
              "property call record");
// The record travels as an action record: the part words must meet.
static_assert(offsetof(AttrCallRec, partId) == offsetof(ActionParams, partId) &&
                  offsetof(AttrCallRec, partOrder) == offsetof(ActionParams, partOrder),
              "property call record as an action record");
typedef AttrCallRec* AttrSelector;

// Reply flags of property procedures.
enum : int32 {
  kAttrReplyMemFull = 0x10,
  kAttrReplyResized = 0x80,
  kAttrReplyCosmetic = 0x100,
  kAttrReplyState = 0x10000,
  kAttrReplyRedrawn = 0x20000,
  kAttrReplyForbidden = 0xCC426,  // never in a property reply
};

// ---- Running one entry ---------------------------------------------------------------------
// One entry of a property node on the object: read (nonzero) or write of the
// selector, with the value's descriptor at typeOffset of types and the value
// at value; last set for the node's final entry.  Nothing comes back:
// failures are debug texts and the memory-full alert.
QX_EXTERN_C void DoDDOAttrCall(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                               int32 selector, void* value);
// 1 when the panel's key-focus object lies at or inside the object the path
// (on the transaction stack) addresses, else 0; 0 without a key focus.
QX_EXTERN_C int32 CompareAttrPath(ObjHeap heap, const TransactionFrame* path);
// The selectors of a property table: its elements, each cluster counted
// before its own elements.  An assertion and 0 for a descriptor that is no
// cluster.
QX_EXTERN_C int32 CountAttrEntries(const TypeDescriptor* table);

// ---- Property tables -----------------------------------------------------------------------
// The tables by number: a cluster descriptor whose depth-first elements are
// a class's selectors, and the procedure that runs them (with the record's
// selector the index inside the table).  An empty entry counts no selectors.
typedef int32 (*AttrProc)(ObjHeap heap, int32 object, AttrCallRec* rec);
constexpr int32 kAttrTableCount = 64;
extern const TypeDescriptor* AttrTypeTable[kAttrTableCount];
// Enters a table (start-up of the layer that owns it); kArgErr for a number
// outside the table.
MgErr SetAttrTable(int32 number, const TypeDescriptor* table, AttrProc proc);
// The table numbers of the class chain (after the data display level), at
// most three, by class id; a graph's follow its style word.  The count.
int32 AttrChainOf(ObjHeap heap, int32 object, int32 tables[3], int32 counts[3]);
// The control-operation method of the data display level and of the
// classes' chains (slot 11); null for a class without one.
QX_EXTERN_C int32 DDOOCtrlOpMethod(ObjHeap heap, int32 object, AttrCallRec* rec, int32 op);
ObjMethodAddr OCtrlOpMethodFor(int32 cls);
// The data display object's table (0): its twelve selectors.
QX_EXTERN_C int32 ddoattr(ObjHeap heap, int32 object, AttrCallRec* rec);
constexpr int32 kDDOAttrCount = 12;
// ddoattr on an object whose used block its caller read (usable bytes at
// least the leading fields, class cls), with nothing changed since.
int32 DDOAttrChecked(ObjHeap heap, int32 object, int32 usable, int32 cls, AttrCallRec* rec);
// The control operation of a property call (OCtrlOp with operation 1) to
// an object whose block the caller checked as an object (a used block that
// holds the leading fields), with nothing changed since: when the method
// the message would reach starts with the data display level and that
// level takes the selector, the level runs here on the checked block;
// otherwise the message is sent.
int32 OCtrlOpChecked(ObjHeap heap, int32 object, AttrCallRec* rec);
// The node-redraw flag: set when an entry of a node redraws, cleared at the
// node's last entry.
uInt32 AttrNodeRedrawFlag();

// ---- Values --------------------------------------------------------------------------------
// The descriptor of the record's value: at its type offset inside its type
// list, checked to lie whole inside the handle; null otherwise.
const TypeDescriptor* AttrValueTD(const AttrCallRec* rec);
// A number moved between an internal representation (a type code) and the
// value's numeric type; false (nothing moved) when the value is no number.
bool AttrGetNum(const TypeDescriptor* td, void* value, int32 internalCode, const void* internal);
bool AttrPutNum(const TypeDescriptor* td, const void* value, int32 internalCode, void* internal);
// A Boolean value read or written (one byte; the old 16-bit form: top bit).
bool AttrGetBool(const TypeDescriptor* td, const void* value, bool* on);
bool AttrPutBool(const TypeDescriptor* td, void* value, bool on);
// The two elements of a cluster selector by mode (0 both, 1 the first, 2 the
// second): their descriptors and value addresses, null where not taken.
struct AttrPair {
  const TypeDescriptor* td[2];
  void* value[2];
};
bool AttrSplitPair(const TypeDescriptor* td, void* value, int32 mode, AttrPair* out);

// The shared value procedures (mode 0 both elements of a pair, 1 the first,
// 2 the second).
QX_EXTERN_C int32 GetPartSizeAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                  const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 SetPartSizeByIdAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                      const TypeDescriptor* td, void* value, AttrCallRec* rec);
QX_EXTERN_C int32 SetPartSizeAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                  const TypeDescriptor* td, void* value, AttrCallRec* rec);
// The plot whose area SetPartSizeAttr is sizing, -1 otherwise.
int32 AttrSizingPlot();
QX_EXTERN_C int32 GetTextColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                    const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 SetTextColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                    const TypeDescriptor* td, void* value, AttrCallRec* rec);
QX_EXTERN_C int32 GetPartColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                    const TypeDescriptor* td, void* value);
QX_EXTERN_C int32 SetPartColorsAttr(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 mode,
                                    const TypeDescriptor* td, void* value, AttrCallRec* rec);
QX_EXTERN_C int32 SetPartVisibleAttr(ObjHeap heap, int32 object, int32 partId, const TypeDescriptor* td,
                                     const void* value);
// Whether a numeric display format code may be given to data of the type.
QX_EXTERN_C int32 AttrNumTypeCheck(int32 typeCode, int32 formatCode);
// Invalidates the rectangle clipped to the panel's content.
QX_EXTERN_C void InvalPanelRect(ObjHeap heap, const Rect* rect);
// Invalidates the four edge bands of the rectangle, each width pixels wide
// (top, bottom, left, right), through InvalPanelRect.
QX_EXTERN_C void InvalRectFrame(ObjHeap heap, const Rect* rect, int32 width);

// ---- Colour change ---------------------------------------------------------------------------
// The request of message 19 (heap, object, part id, part order, foreground,
// background, flags); the reply is 0x100 when a colour word changed.
struct ColorChangePart {
  int32 partId;
  int32 partOrder;
  DColor foreground;
  DColor background;
  int32 flags;
};
enum : int32 {
  kColorFore = 0x100,
  kColorBack = 0x200,
  kColorBoth = 0x300,
  kColorFinal = 0x10000,
  kColorDialogChosen = 0x20000,
  kColorWasTransparent = 0x40000,
  kColorProperty = 0x50000,
};
// Root flags of the transparency bookkeeping: a part is or was transparent;
// the panel must be redrawn.
constexpr uInt32 kRootFlagTransparent = 0x800000, kRootFlagRedrawAll = 0x80000;
// Sends the request to the object's first part of the id (and order, unless
// negative) as part 0, order 0; its reply, 0 without flags or part.
QX_EXTERN_C int32 ColorChangePartById(ObjHeap heap, int32 object, int32 partId, int32 partOrder, DColor fore,
                                      DColor back, int32 flags);
// The multi-state storing step: the colours into the state's pair (and the
// part's own words for the current state).
QX_EXTERN_C int32 SetMultiCosmeticStateColors(ObjHeap heap, int32 object, DColor fore, DColor back, int32 flags,
                                              int32 state);
// The colour-change methods of the panel classes (slot 19); null for the
// classes whose method the controls give.
ObjMethodAddr OColorChangeMethodFor(int32 cls);
// The storing method of cosmetic parts, for the controls' classes.
QX_EXTERN_C int32 CosmeticOColorChangeMethod(ObjHeap heap, int32 object, int32 partId, int32 partOrder, DColor fore,
                                             DColor back, int32 flags);
