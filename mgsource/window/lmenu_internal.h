// Walking the item records of a list menu, shared by the item calls, the
// procedure and the drawing.
#pragma once
#include <vector>

#include "mgsource/window/lmenu.h"

namespace lmenu {

int32 ItemsStart(MenuHandle menu);
int32 RecordSize(const LItemRecord* item);
// The byte offset of item n (count + 1: the end of the items), -1 when the
// records do not fit the handle.
int32 OffsetOf(MenuHandle menu, int32 n);
// Forgets where walks of the menu stopped (its records moved or it goes).
void Forget(MenuHandle menu);
LItemRecord* At(MenuHandle menu, int32 offset);
// Item n of a list menu, null (unreported) outside 1..count.
LItemRecord* Item(MenuHandle menu, int32 n);
bool IsSeparator(const LItemRecord* item);
void SetMnemonic(LItemRecord* fields, ConstPStr shown, int32 position, int32 font);
void Delete(MenuHandle menu, int32 first, int32 length);

// Draws visible row `row` (0-based) of an open menu: an arrow row, an item
// (highlighted when it is the current item) or an empty row.
void DrawVisibleRow(MenuHandle menu, int32 row);

// Items from `first` on, one record after the other.  It keeps an offset,
// so the handle may move between steps (but must not change).
class Walk {
 public:
  explicit Walk(MenuHandle menu, int32 first = 1) : menu_(menu), at_(OffsetOf(menu, first)), n_(first) {}
  bool Valid() const;
  int32 Index() const { return n_; }
  LItemRecord* Get() const { return At(menu_, at_); }
  void Next() {
    at_ += RecordSize(Get());
    ++n_;
  }

 private:
  MenuHandle menu_;
  int32 at_, n_;
};

}  // namespace lmenu
