// A writer of resource files for tests, fixtures and application builds.
//
//   rsrcw::Writer w(FourCC("APPL"), FourCC("????"));
//   w.Add(rsrcfmt::kTypeStrList, 1, rsrcw::StrList({"one", "two"}), "texts");
//   std::vector<uChar> file = w.Write();
//
// Types stand in the order of their first resource, ids sorted within a type,
// names in the order the resources were added, records in type order and
// id order: for the same content these are the bytes that creating a file
// with the resource manager, adding the resources in the same order and
// closing it give.  Options write older or unusual layouts (a version-2
// header, the map before the data, foreign bytes before the file and the
// application trailer after it), and Layout reports where every part lies so
// tests can corrupt one field at a time.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "mgsource/rsrc_format.h"

namespace rsrcw {

typedef std::vector<uChar> Bytes;

struct Options {
  int16 version = rsrcfmt::kVersion;
  uChar lineEnd[2] = {rsrcfmt::kLineEnd0, rsrcfmt::kLineEnd1};
  bool mapFirst = false;    // header | map | data instead of header | data | map
  Bytes leading;            // foreign bytes before the resource file
  bool trailer = false;     // the application trailer after it, pointing at its start
  uInt32 trailerFlags = 1;  // flags word of the trailer (bit 0: a built application)
  uInt32 mapAttrs = rsrcfmt::kMapAttrChanged;  // the stored run-time attribute word
};

// Offsets in the written bytes (not relative to the resource file).
struct Layout {
  uInt32 base = 0;                    // the resource file's first byte
  uInt32 map = 0, mapSize = 0;
  uInt32 data = 0, dataSize = 0;
  uInt32 typeList = 0;                // the count word
  uInt32 nameList = 0;                // 0 when no resource is named
  std::vector<uInt32> typeEntries;    // per type, in type order
  // Per resource, in the order of Add:
  std::vector<uInt32> refEntries;
  std::vector<uInt32> names;          // the length byte; 0 for an unnamed resource
  std::vector<uInt32> records;        // the record's length word
  uInt32 trailer = 0;                 // 0 without one
};

class Writer {
 public:
  Writer(uInt32 fileType, uInt32 creator) : fileType_(fileType), creator_(creator) {}
  // Adds a resource; false (and nothing added) when the type already has the id.
  bool Add(uInt32 type, int32 id, const Bytes& data, std::optional<std::string> name = std::nullopt,
           uInt32 attrs = 0);
  Bytes Write(const Options& options = Options(), Layout* layout = nullptr) const;

  struct Rsrc {
    uInt32 type;
    int32 id;
    Bytes data;
    std::optional<std::string> name;
    uInt32 attrs;
  };
  // The resources added so far, in the order of Add.
  const std::vector<Rsrc>& Resources() const { return rsrcs_; }

 private:
  uInt32 fileType_, creator_;
  std::vector<Rsrc> rsrcs_;
};

// The bodies of list resources.
Bytes StrList(const std::vector<std::string>& strings);    // "STR#"
Bytes LStrList(const std::vector<std::string>& entries);   // "LST#"
Bytes PathList(const std::vector<Bytes>& flatPaths);       // "PTH#": each entry "PTH0", length, body
// A flattened path: "PTH0", the body length, type, count and components.
Bytes FlatPath(int16 type, const std::vector<std::string>& components);
// The 20-byte application trailer.
Bytes AppTrailer(uInt32 offset, uInt32 flags = 1);
// The bytes of a text as a vector.
Bytes BytesOf(const std::string& text);

// Writes bytes to a host file; false on failure.
bool WriteHostFile(const std::string& hostPath, const Bytes& bytes);
Bytes ReadHostFile(const std::string& hostPath);

}  // namespace rsrcw
