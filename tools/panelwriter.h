// Test tooling: panel objects, panel resources and scraps written wholly in
// file order, from the same field tables the engine converts with.
#pragma once
#include <vector>

#include "engine/objswap.h"

namespace panelwriter {

// The file-order bytes of an object of class cls given in memory order;
// empty when the layout doesn't fit the bytes.
std::vector<uChar> ObjectInFileOrder(std::vector<uChar> memoryBytes, int32 cls);
// The same for a panel resource of the given type and for a scrap.
std::vector<uChar> RsrcInFileOrder(uInt32 type, std::vector<uChar> memoryBytes);
std::vector<uChar> ScrapInFileOrder(std::vector<uChar> memoryBytes);

// A per-object procedure for OHByteSwapHeap that writes every field of each
// object in file order (direction 1), by the class of its block.
MgErr SwapObjectAllToFile(ObjHeap heap, int32 offset, int32 direction);

}  // namespace panelwriter
