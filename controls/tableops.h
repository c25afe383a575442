// Working a table on a running panel: hit tests over the grid, the cell
// selection, the one edit text laid over the edit cell, keys that move the
// edit cell, scroll-bar and index-display tracking; and the table's
// properties.  User-interface thread only.
//
// Rows, columns, origins and counts come from panel data and property
// values: every walk is bounded by the cell area (or 16000 pixels), and
// selection ends, origins plus counts and edit cells are computed in 64
// bits and pinned before they are stored.
#pragma once
#include "controls/table.h"
#include "panel/attrcall.h"
#include "panel/transact.h"

// The table's words in the action record while it tracks (its class state
// after the record's shared words).
struct TableTrackWords {
  int32 flags;        // kTableTrack* bits
  int32 anchorRow;    // -1: the drag keeps the selection's rows
  int32 anchorColumn;
  int32 visible;      // a scroll bar's page and total
  int32 total;
};
inline TableTrackWords* TableTrackOf(ActionParams* p) { return reinterpret_cast<TableTrackWords*>(p->words20); }
// Tracking flags: the click goes into the edit text, the drag extends the
// selection, the drag scrolls when the mouse leaves the cell area.
enum : int32 { kTableTrackEdit = 0x20, kTableTrackSelect = 0x40, kTableTrackScroll = 0x80 };

// Hit kinds: a cell, a vertical or horizontal grid line, the double line
// after the row-header column, the double line below the column-header row.
enum : int32 { kTableHitCell = 0, kTableHitVLine = 1, kTableHitHLine = 2, kTableHitRowHeaderLine = 3,
               kTableHitColumnHeaderLine = 4 };
// Hit-test modes: lines everywhere, lines of the header with "Show
// Selection", no lines (tracking).
enum : int32 { kTableHitLines = 0, kTableHitHeaderLines = 1, kTableHitNoLines = 2 };
// Cursors of the feedback.
enum : int32 { kTableCursorCell = 11, kTableCursorVLine = 46, kTableCursorHLine = 47, kTableCursorColumnSep = 48,
               kTableCursorRowSep = 49, kTableCursorCorner = 50 };
// TableKey's flags: the panel's focus has a text part.
constexpr int32 kTableKeyFocusPart = 0x1;

// The hit kind at the point; the zone's rectangle (cut to the cell area)
// and the row and column walked to.
QX_EXTERN_C int32 TableHitTest(ObjHeap heap, int32 table, Point point, Rect* rect, int32* row, int32* column,
                               int32 mode);
// Stores the selection (first row, first column, end row, end column; the
// first corner at least 0) and redraws the marks that change; 0 when it is
// unchanged, else 0x10000.
QX_EXTERN_C int32 TableSetSelection(ObjHeap heap, int32 table, const int32 selection[4], Bool32 noDraw,
                                    Bool32 defer);
// Lays the edit text over the cell with its text and look.
QX_EXTERN_C void TablePrepareEdit(ObjHeap heap, int32 table, int32 row, int32 column, const Rect* rect,
                                  Bool32 drawNow);
// Starts entry in the edit cell: the text selected (range: start and end,
// null all of it) and active, the panel's key focus on the table.
QX_EXTERN_C void TableActivateEdit(ObjHeap heap, int32 table, const Rect* rect, const int32* range);
// Stores the typed text in the edit cell (force: even when unchanged);
// reply flags (0x8 a data cell changed, 0x10000 a header, 0x10 memory).
QX_EXTERN_C int32 TableCommitEdit(ObjHeap heap, int32 table, Bool32 force);
// Moves the origin so that the edit cell shows; 1 when the origin moved.
QX_EXTERN_C int32 TableScrollToEditCell(ObjHeap heap, int32 table, Bool32 noScroll);
// The origin after a scroll-bar tracker's result: 2 and 4 one back, 3 and
// 5 one on, 6 and 8 back by visible + 1, 7 and 9 on by visible - 1, bit 31
// the thumb position in the low 30 bits; never below 0.
int32 TableScrollStep(int32 result, int32 origin, int32 visible);
// A moving key (arrows, Return, Tab, Shift+Tab, Ctrl+Down, the focus keys)
// at the table; frame is the table's frame on the transaction stack.
QX_EXTERN_C int32 TableKey(ObjHeap heap, int32 table, int32 reply, int32 flags, TransactionFrame* frame,
                           ActionParams* p);
QX_EXTERN_C int32 TableOClickMethod(ObjHeap heap, int32 table, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* p);
QX_EXTERN_C int32 TableODoitMethod(ObjHeap heap, int32 table, TransactionFrame* frame, int32 action,
                                   ActionParams* p);

// ---- Properties -----------------------------------------------------------------------------
// The table's property function (indices 0 to 29 of its table).
QX_EXTERN_C int32 TableAttr(ObjHeap heap, int32 table, AttrCallRec* rec);
// Shows a change: 0x10000 alone when deferred; with the value display
// (and drawing allowed) 0x10000 and oDisplayVal's reply; else the table
// is invalidated, 0x30000.
QX_EXTERN_C int32 TableShowChange(ObjHeap heap, int32 table, Bool32 displayValue, Bool32 defer, Bool32 noDisplay);
// Shows or hides a scroll bar (38 or 39), moving the cell area's and the
// other bar's edge.
QX_EXTERN_C void TableShowScrollBar(ObjHeap heap, int32 table, int32 bar, Bool32 show);

// Enters the property table (number 20) with TableAttr.
void TableEnterAttrTable();
// Enters the click and do-it methods and the property table (start-up).
void ControlsJoinTableOpSlots();
