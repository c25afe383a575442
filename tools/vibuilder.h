// Test tooling: VI records with a data space, as loading leaves them, and
// front-panel heaps with objects.
//
//   UHandle vi = vib::NewVI({tdb::String().WithFlags(kDSEntryStored)});
//   ObjHeap panel = vib::NewPanel(vi);
//   ...
//   vib::DisposeVI(vi);
#pragma once
#include <vector>

#include "engine/dsalloc.h"
#include "engine/vi/virecord.h"
#include "tools/tdbuilder.h"

namespace vib {

// The DataSpaceTD of a data space: the 528-byte header block, then the entries.
tdb::TD DataSpaceType(const std::vector<tdb::TD>& entries);

// A cleared VI record (of a type-heap index of -1) whose dsTypeMap is a
// data-zone handle of DataSpaceType(entries).  With a data space, its first
// data space holds the entries' empty values and has its type, size and
// recorded address set.
UHandle NewVI(const std::vector<tdb::TD>& entries = {}, bool withDataSpace = true);

// A front-panel heap owned by the VI (the record's panelHeap names it).
ObjHeap NewPanel(UHandle vi);

// Disposes the panel heap, the data space with its data, the DataSpaceTD and
// the record.
void DisposeVI(UHandle vi);

// A panel object: a block of `size` bytes of the class, its owner word and
// part id and order set; appended to the owner's part list when it has an
// owner (a panel's root: its object list, word 11).  0 when memory is short.
int32 NewObject(ObjHeap heap, int32 cls, int32 size, int32 owner = 0, int16 partId = 0, int16 order = 0);
// An offset list of the values, for the list words of objects.
int32 NewList(ObjHeap heap, const std::vector<int32>& values);

}  // namespace vib
