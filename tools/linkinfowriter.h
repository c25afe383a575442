// A writer of link-information resources (LIvi, LIfp, LIds, LIsb) in the
// layout the engine's reader takes, from the same constants and records.
//
//   LinkInfoRecords info{FourCC("VIDS"), "Main.vi"};
//   info.refs.push_back({FourCC("GENH"), "Res", {540}, liw::GenhBlock(FourCC("TEXT"), 0)});
//   std::vector<uChar> bytes = liw::Write(info);
//
// Type blocks are given in memory order, as the reader leaves them, and are
// converted to file order here; flattened paths are written as given (see
// FlatPath).  Layout reports where the parts lie, so tests can corrupt one
// field at a time.
#pragma once
#include <vector>

#include "engine/link/linkinfo.h"

namespace liw {

struct Layout {
  int32 countAt = 0;          // the item's reference count r
  std::vector<int32> refAt;   // each reference record's tag
  std::vector<int32> pathAt;  // each reference's flattened path
  int32 endAt = 0;            // the end tag
};

// The resource's bytes; empty when a type block cannot be converted to file
// order or a field does not fit its count.
std::vector<uChar> Write(const LinkInfoRecords& info, Layout* layout = nullptr);

// A GENH reference's type block in memory order: length 10, the resource
// type's characters, the id (0: found by the reference's name).
std::vector<uChar> GenhBlock(uInt32 rsrcType, int32 id);

// The flattened form of a path; for null, the 12 bytes that stand for no path.
std::vector<uChar> FlatPath(Path p);

}  // namespace liw
