// The data commands on a block of an array's elements or of a table's
// cells: cut the block out of the value, trim the clipboard's copy of the
// value to the block, and paste a value over the block, resizing it to the
// pasted value first.  The block is a start and an end index per dimension
// (the end exclusive), taken from the object's run-time record; the value
// is an array handle in the panel's data space.
//
// Indexes and values come from data spaces loaded from files: the block is
// ordered and pinned to the value's dimensions before anything is read, and
// a pasted value's type is checked before anything is written.
// User-interface thread only.
#pragma once
#include <vector>

#include "engine/datatype.h"
#include "panel/editmsg.h"

struct DataBlock {
  std::vector<int32> start, end;  // one per dimension, end exclusive
};

// The sizes of the value's dimensions (rank of them); false when the handle
// does not hold them (null is the empty array).
bool BlockValueSizes(UHandle value, int32 rank, std::vector<int32>* sizes);
// Orders each dimension's start and end and pins both to 0..size.
void PinDataBlock(DataBlock* block, const std::vector<int32>& sizes);

// Cuts the block out of *value: in every dimension the elements from start
// to end go, except that when some dimensions are selected whole and others
// are not, the whole ones are left alone.  The ends of the dimensions that
// lost elements become their starts.  0, or 0x10 when memory runs out; other
// failures are reported and the command goes on.
int32 BlockCut(const TypeDescriptor* td, UHandle* value, DataBlock* block);
// Trims *value to the block (only when the block is non-empty in every
// dimension): what lies before the start goes, then what lies after the
// end; the block becomes 0..its size.  0 or 0x10.
int32 BlockTrim(const TypeDescriptor* td, UHandle* value, DataBlock* block);
// Writes source (a value of td's type) over the block: the block is resized
// to the source's sizes at its start first (with changes of both signs the
// dimensions one at a time, the last first), its end becomes start + the
// source's sizes.  0 or 0x10.
int32 BlockPaste(const TypeDescriptor* td, UHandle* value, DataBlock* block, UHandle source);

// The Array class's data codes on its selected block: 24 cut, 25 trim (on
// the clipboard's copy), 26 paste of the record's value (converted when the
// element types differ; an incompatible one beeps and changes nothing).
// The range flags are refreshed after 24 and 26 when the array checks its
// range.  0x8, with 0x1000 when the value is newly out of range, 0x10 on
// memory failure, 0 when nothing was done.
int32 ArrayBlockData(ObjHeap heap, int32 array, int32 code, EditMsgRecord* rec);
