// VI-library directories come from files: any bytes as an ADir, read by the
// checked view, listed in every sort mode, and read again inside a library
// opened from memory.  Every source lies in a block of exactly its size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/vi/archive.h"
#include "engine/vi/archive_internal.h"
#include "fuzz_support.h"
#include "rsrc_image.h"
#include "mgsource/counted_strings.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "tools/rsrcwriter.h"

namespace {

using namespace archfmt;

bool Init() { return FuzzStartManagers() && ThInit() == kNoErr && RInitResources() == kNoErr; }

void CheckListing(const uChar* bytes, const archive::ArchiveDir& dir) {
  for (int32 mode : {0, 1, 2, 3}) {
    std::vector<archive::ListRecord> recs;
    FUZZ_CHECK(archive::SortedListing(bytes, dir, mode, &recs) == kNoErr);
    FUZZ_CHECK(int32(recs.size()) == dir.Count());
    std::vector<bool> seen(recs.size(), false);
    for (size_t i = 0; i < recs.size(); ++i) {
      // Every record names an entry, each once.
      int32 k = 0;
      while (k < dir.Count() && dir.Offset(k) + kEntryName != recs[i].nameOffset) ++k;
      FUZZ_CHECK(k < dir.Count() && !seen[size_t(k)]);
      seen[size_t(k)] = true;
      FUZZ_CHECK(recs[i].id == dir.Id(k) && recs[i].type == dir.Type(k));
      FUZZ_CHECK((recs[i].flags & ~0x10) == 3);
      if (mode == 0) FUZZ_CHECK(k == int32(i));
      if (i > 0 && mode != 0) {
        const bool top0 = recs[i - 1].flags & 0x10, top1 = recs[i].flags & 0x10;
        if (mode == 2) FUZZ_CHECK(top0 || !top1);
        if (mode == 3) FUZZ_CHECK(!top0 || top1);
        if (top0 == top1 || mode == 1)
          FUZZ_CHECK(PStrCaseCmp(bytes + recs[i - 1].nameOffset, bytes + recs[i].nameOffset) <= 0);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size > 1 << 16) return 0;
  std::unique_ptr<uChar[]> bytes(new uChar[size ? size : 1]);
  if (size) std::memcpy(bytes.get(), data, size);
  archive::ArchiveDir dir;
  const MgErr err = dir.Attach(bytes.get(), int32(size));
  FUZZ_CHECK(err == kNoErr || err == kRsrcFileNotFoundErr);
  if (!err) {
    uInt32 end = kDirHeaderSize;
    for (int32 i = 0; i < dir.Count(); ++i) {
      FUZZ_CHECK(dir.Offset(i) == end);
      end += uInt32(dir.Size(i));
      FUZZ_CHECK(end <= size);
      FUZZ_CHECK(dir.Find(dir.Name(i)) <= i);
    }
    CheckListing(bytes.get(), dir);
  } else {
    FUZZ_CHECK(dir.Count() == 0);
  }

  // The same directory inside a library opened from memory.
  rsrcw::Writer w(kFileType, kCreator);
  w.Add(kRsrcDir, kDirId, rsrcw::Bytes(data, data + size));
  const RsrcFileRef ref = FuzzOpenRsrcImage(w.Write());
  if (!ref) return 0;
  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  UHandle records = AZNewHandle(0);
  const MgErr listed = ArchiveDirListRef(ref, names, records, 2, 0);
  FUZZ_CHECK(listed == err);
  if (!listed) {
    FUZZ_CHECK((*names)->cnt == dir.Count());
    FUZZ_CHECK(AZGetHandleSize(records) == 12 * dir.Count());
  }
  // A library without compressed members has nothing to extract.
  if (dir.Count() > 0) FUZZ_CHECK(ArchiveExtractToTmpFile(ref, dir.Name(0), nullptr, nullptr, kTypeVI) == kRsrcNotFoundErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(names));
  AZDisposeHandle(records);
  RCloseFile(ref);
  return 0;
}
