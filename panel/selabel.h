// The names a selection label (a Tag's text part) chooses from: the
// record the owner's data holds for it, completion of typed text from the
// names, and the drop-down list of them.
#pragma once
#include "mgsource/window/menus.h"
#include "panel/objects.h"

// The item callback of a name source: with index -1 and null outputs the
// number of names; with index i the characters of name i in *text, its
// symbol number in *symbol (when not null), and its length.
typedef int32 (*SelItemProc)(ObjHeap heap, int32 owner, uInt32 context, const uChar** text, int32* symbol,
                             int32 index);
// The record the owning control's data holds for its selection label.
struct SelListSource {
  uInt32 flags;
  uInt32 context;
  SelItemProc getItem;
};
static_assert(sizeof(void*) != 4 || sizeof(SelListSource) == 12, "selection list source: three words");
enum : uInt32 {
  kSelNaturalHeight = 0x1,
  kSelComplete = 0x4,
  kSelCaseSensitive = 0x8,
  kSelFreeText = 0x10,
  kSelPending = 0x20,
  kSelListEvent = 0x40,
};
// Label flag bits: the list opens from the keyboard, a line feed ends list
// tracking, the label sizes itself, a name is being typed.
enum : uInt32 { kSelLabelKeys = 0x2, kSelLabelLineFeed = 0x200000, kSelLabelAutoSize = 0x60000,
                kSelLabelTyping = 0x20000000 };
constexpr int32 kSelMaxName = 253;
constexpr int32 kReplyEndEdit = 0x8000000;

// The owner's (or, for 0, the label's owner's) record for the label; null
// when it has none, or when its callback is not one the program accepted:
// the record lies in a heap loaded from a file, and a stored address is
// never called unless the program put it there.
QX_EXTERN_C SelListSource* SelLabelSource(ObjHeap heap, int32 label, int32 owner);
// The number of names the owner's selection label offers: a null label
// stands for the owner's part 11; a null owner or label is reported (0).
QX_EXTERN_C int32 SelLabelItemCount(ObjHeap heap, int32 owner, int32 label);
// Characters equal from the start, up to the shorter length; both lowered
// unless caseSensitive.
QX_EXTERN_C int32 CommonPrefixLength(const uChar* a, int32 aLength, const uChar* b, int32 bLength,
                                     Bool32 caseSensitive);
// The longest common prefix of a name with the text: the first name that
// holds the whole text wins, ties keep the earlier name.  Outputs (each
// optional) start as null, 0 and -1.
QX_EXTERN_C int32 SelLabelBestMatch(ObjHeap heap, int32 label, const uChar* text, int32 length,
                                    const uChar** name, int32* nameLength, int32* index);
// The index of the name that best matches the label's whole text; 0 when
// none shares a first character.
QX_EXTERN_C int32 SelLabelMatchIndex(ObjHeap heap, int32 label);
// Ends the typing of a name: the label's bit 29 cleared; 0x8000000.
QX_EXTERN_C int32 SelLabelEndEdit(ObjHeap heap, int32 label);
// The names as a list menu of a new pop-up id: each "__" and the name (cut
// to 253, tabs and line feeds as spaces), item i + 1 with the image of the
// name's symbol.  Null when no id or no menu can be had.
QX_EXTERN_C MenuHandle BuildSelLabelMenu(ObjHeap heap, int32 owner, SelListSource* source, int32* menuId);
// The shell's menu ids and the listbox's symbol images.
struct SelLabelHooks {
  int32 (*newPopupMenuID)() = nullptr;
  void (*releaseMenuID)(int32 id) = nullptr;
  int32 (*symbolImage)(int32 symbol) = nullptr;
  // The menu bar of the panel's window (null for none) and its rectangle
  // (empty when the bar is not shown in the window).
  MenuHandle (*panelMenuBar)(ObjHeap heap, Rect* rect) = nullptr;
};
void SetSelLabelHooks(const SelLabelHooks& hooks);
// Accepts an item callback for the records (at most eight).
void AcceptSelItemProc(SelItemProc proc);
// Opens the list under the owner's part 9 on item startIndex + 1 (the
// label's whole text selected first with commitFirst): a chosen name becomes
// the label's text (0x40), Escape ends the typing; the key focus ends unless
// a key was handed back to the window.
QX_EXTERN_C int32 SelLabelPopup(ObjHeap heap, int32 label, int32 startIndex, Bool32 commitFirst);
// Tracks the open list: the chosen menu id and item; result bits 1 Escape,
// 2 a key handed back, 4 ended by a key.  A missing panel window or
// drop-down button is reported and nothing opens.
QX_EXTERN_C int32 SelLabelTrack(ObjHeap heap, int32 label, MenuHandle menu, const Rect* anchor, int32* menuId,
                                int32* chosen, int32 startItem);
// The label's do-it: the Label's handling, then completion of the typed
// range (action 15: the record's event and its selStart, selEnd) from the
// names; Up and Down open the list when the label allows it.
QX_EXTERN_C int32 SelLabelODoitMethod(ObjHeap heap, int32 label, TransactionFrame* frame, int32 action,
                                      ActionParams* block);
