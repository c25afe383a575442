// Shared parts of the VI-library code: the checked readers of the stored
// directory, compressed members and palettes (also used by the fuzz
// targets), the library mutex and the open-library cache.
#pragma once
#include <string>
#include <vector>

#include "archive.h"
#include "archive_format.h"

namespace archive {

// ------------------------------------------------------------------ directory

// ArchiveDir: a checked look at the bytes of an ADir resource.  Attach walks
// the whole directory and refuses (13) a header that is short or not "adir"
// version 2, a count that the bytes can't hold, and an entry or name that
// runs past the end.  The bytes must not move while the view is used.
class ArchiveDir {
 public:
  MgErr Attach(const uChar* bytes, int32 size);
  void Clear() {
    p_ = nullptr;
    at_.clear();
  }
  int32 Count() const { return int32(at_.size()); }
  uInt32 Offset(int32 i) const { return at_[size_t(i)]; }
  int32 Id(int32 i) const { return int32(GetBE32(p_ + at_[size_t(i)] + archfmt::kEntryId)); }
  uInt32 Type(int32 i) const { return GetNative32(p_ + at_[size_t(i)] + archfmt::kEntryType); }
  uInt32 Version(int32 i) const { return GetBE32(p_ + at_[size_t(i)] + archfmt::kEntryVersion); }
  uInt32 Flags(int32 i) const { return GetBE32(p_ + at_[size_t(i)] + archfmt::kEntryFlags); }
  uInt32 ModDate(int32 i) const { return GetBE32(p_ + at_[size_t(i)] + archfmt::kEntryModDate); }
  uInt32 Date2(int32 i) const { return GetBE32(p_ + at_[size_t(i)] + archfmt::kEntryDate2); }
  ConstPStr Name(int32 i) const { return p_ + at_[size_t(i)] + archfmt::kEntryName; }
  int32 Size(int32 i) const { return archfmt::EntrySize(Name(i)[0]); }
  // The entry whose name equals name (case ignored), or -1.
  int32 Find(ConstPStr name) const;
  // The largest id in use, 0 for an empty directory.
  int32 LargestId() const;

 private:
  const uChar* p_ = nullptr;
  std::vector<uInt32> at_;
};

// The bytes of an empty directory.
std::vector<uChar> EmptyDir();

// One listing record (20 bytes, as the listing sorts them).
struct ListRecord {
  uInt32 nameOffset;  // of the name inside the directory
  int32 flags;        // (entry flags & 0x10) | 3
  uInt32 type;
  int32 id;
  int32 spare;
};
static_assert(sizeof(ListRecord) == 20, "listing record");
// The directory's records in the order of the sort mode.
MgErr SortedListing(const uChar* dirBytes, const ArchiveDir& dir, int32 sortMode, std::vector<ListRecord>* out);

// ------------------------------------------------------------------ CPRF

// A checked reader of a CPRF resource.  Open refuses size 0 with 13, and
// with 4 a bitmap that does not fit or fewer data bytes than the bitmap has
// set bits; Next then writes the next bytes of the file and never reads past
// the resource.
class CprfReader {
 public:
  MgErr Open(const uChar* bytes, int32 size);
  uInt32 Size() const { return size_; }
  uInt32 Remaining() const { return size_ - done_; }
  // Writes the next n bytes (at most Remaining()) to out.
  void Next(uChar* out, uInt32 n);

 private:
  const uChar* bitmap_ = nullptr;
  const uChar* data_ = nullptr;
  uInt32 size_ = 0, done_ = 0, taken_ = 0;
};

// Builds a CPRF resource from a file's bytes, fed in chunks.
class CprfWriter {
 public:
  // A handle with room for the worst case; 2 when it can't be had or the
  // result would not fit 2 GB, 13 for size 0.
  MgErr Begin(uInt32 size);
  void Feed(const uChar* bytes, uInt32 n);
  // The finished handle (shrunk to its bytes); the writer lets go of it.
  UHandle Finish();
  ~CprfWriter();

 private:
  UHandle h_ = nullptr;
  uInt32 size_ = 0, done_ = 0, out_ = 0;
};

// ------------------------------------------------------------------ palettes

struct PaletteEntry {
  int32 id = 0;  // the member's entry id; 0 a free slot
  int32 flags = 0;
  int32 kind = 0;
  int32 marker = 0;
  std::string text;
};
struct Palette {
  int32 columns = 0;
  std::vector<PaletteEntry> entries;
  std::vector<std::string> names;  // one per entry
};
// Reads a PLM2 and its CPST; 13 when an entry or name runs past its bytes or
// the two counts differ.
MgErr ReadPalette(const uChar* entries, int32 entriesSize, const uChar* names, int32 namesSize, Palette* out);
// Reads an old PALM (entries without the marker, which becomes -1); the
// names are left empty, one per entry.  13 when it runs past its bytes.
MgErr ReadOldPalette(const uChar* bytes, int32 size, Palette* out);
std::vector<uChar> PaletteBytes(const Palette& p);
std::vector<uChar> PaletteNameBytes(const Palette& p);
// Puts a member in the palette: the first free slot, else a new entry (the
// column rule); false when the entry id does not fit 16 bits.
bool PalettePut(Palette* p, int32 entryId, uInt32 memberType, const std::string& name);
// Frees every member entry of that name; then cuts the palette after its
// last used entry.  The number of entries freed.
int32 PaletteFree(Palette* p, const std::string& name);

// ------------------------------------------------------------------ library state

// The library mutex, held for one library operation and counting it; when
// the outermost ends, the cached library is closed.
class Scope {
 public:
  Scope();
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

// Opens a library read-only through the cache (the executable itself, in a
// built application, is the run-time resource file and is not opened again).
MgErr OpenCached(Path library, RsrcFileRef* ref);
// Opens a library read-write (after closing a cached copy of it) and gives
// its file type.
MgErr OpenWritable(Path library, RsrcFileRef* ref, uInt32* fileType);
// Closes the cache's copy of a library that is about to be written or replaced.
void DropCachedCopy(Path library);
// The library the cache holds open, 0 when none.
RsrcFileRef CachedLibrary();

// The ADir handle of an open library (kept by its map), null when it has
// none, and the checked view over it.
MgErr LoadDir(RsrcFileRef library, UHandle* handle, ArchiveDir* dir);
// Splits a path inside a library into the library's path (a new path the
// caller disposes) and the member's name; 1 for a path that is not absolute.
MgErr SplitMemberPath(Path member, Path* library, PStr name);
// Opens, through the cache, the library of a path inside one, and gives the
// member's name.
MgErr OpenMemberLibrary(Path member, RsrcFileRef* ref, PStr name);
// Looks a member up: its type and id; 7 when absent.
MgErr FindMember(RsrcFileRef library, ConstPStr name, uInt32* type, int32* id);

// The shared chunk buffer (kChunkSize bytes), made on first use; null when
// memory is short.  Used under the library mutex only.
uChar* ChunkBuffer();
// Frees the chunk buffer and forgets the temporary files (shut-down).
void FreeChunkBuffer();

// A new application-zone handle holding the bytes.
MgErr NewHandleOf(const std::vector<uChar>& bytes, UHandle* out);
// Replaces a handle's bytes (either zone).
MgErr SetHandleBytes(UHandle h, const std::vector<uChar>& bytes);

// Appends a text as a Pascal string (at most 255 characters).
void AppendPStr(std::vector<uChar>* bytes, const std::string& text);

// Removes a resource of an open library when it is there (0 when absent).
MgErr RemoveResource(RsrcFileRef library, uInt32 type, int32 id);
// Adds a copy of the bytes as a resource, named when name is not null.
MgErr AddResource(RsrcFileRef library, uInt32 type, int32 id, ConstPStr name, const std::vector<uChar>& bytes);

}  // namespace archive
