// A writer of a VI's saved types: the 'DTHP' resource, an object heap in file
// order holding the VI's type list and the descriptors it names.
//
//   auto image = thw::TypeHeapImage({tdb::I32(), std::nullopt, tdb::String()});
//
// The heap has the type heap's kind and extension (class 126, 132 bytes),
// whose shared-list word (byte 104) names the saved type list (class 7); each
// entry is the offset of a descriptor object (class 131) or 0 for an empty
// slot (std::nullopt).  The blocks lie back to back with no free space:
// extension, list, then the descriptors in the order of their first entry.
// Layout reports where every part lies so tests can corrupt one field at a
// time.
#pragma once
#include <optional>
#include <vector>

#include "tools/rsrcwriter.h"
#include "tools/tdbuilder.h"

namespace thw {

typedef std::vector<uChar> Bytes;

struct Options {
  bool shareEqual = true;  // equal descriptors are written once and named by every entry
};

// Offsets in the image (data offsets for blocks: the block header is 12 bytes before).
struct Layout {
  uInt32 extension = 0;
  uInt32 list = 0;
  std::vector<uInt32> entries;  // per entry, the descriptor object's offset or 0
  uInt32 size = 0;
};

Bytes TypeHeapImage(const std::vector<std::optional<tdb::TD>>& types, const Options& options = Options(),
                    Layout* layout = nullptr);

// Adds the image to a resource file as the 'DTHP' resource of a VI's
// resource id; false when the file already has one of that id.
bool AddTypeHeap(rsrcw::Writer& file, int32 rsrcId, const std::vector<std::optional<tdb::TD>>& types,
                 const Options& options = Options(), Layout* layout = nullptr);

}  // namespace thw
