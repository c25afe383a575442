// Picture files to images (metafiles of four forms, bitmap files), and
// images to the clipboard.
#include "mgsource/draw/imagefile.h"

#include <algorithm>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_blit.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_dc.h"
#include "platform/qx_display.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_read.h"

const char kImportAlertText[] =
    "Quenlix could not import the picture.  Possible reasons include:\r"
    "the file may not contain a valid picture type, "
    "the file may be in use by another application, "
    "the file may be corrupt, "
    "or there may not be enough available memory.";

namespace {

constexpr uInt32 kPlaceableKey = 0x9AC6CDD7;
constexpr int32 kPlaceableHeader = 22;
constexpr int32 kWmfHeader = 18;
// The first read of a file: room for a bitmap file's headers and colour
// table; rows are then read in bands of about kBandBytes.
constexpr int32 kBitmapHeadBytes = 14 + 40 + 256 * 4;
constexpr int32 kBandBytes = 256 * 1024;

void PlatformAlert(const char* text) { PlatAlert("", text, kPlatOK, kPlatIconStop); }
IImportAlertProc gAlert = &PlatformAlert;

uInt32 LE32(const uInt8* p) { return uInt32(p[0]) | uInt32(p[1]) << 8 | uInt32(p[2]) << 16 | uInt32(p[3]) << 24; }
uInt32 LE16(const uInt8* p) { return uInt32(p[0]) | uInt32(p[1]) << 8; }

// Whether [offset, offset + length) lies in size bytes.
bool Within(uInt32 offset, uInt32 length, int32 size) {
  return offset <= uInt32(size) && length <= uInt32(size) - offset;
}

// A placeable metafile: the key, then a plain metafile from byte 22.
PlatMetafile Placeable(const uInt8* b, int32 size) {
  if (size < 4 || LE32(b) != kPlaceableKey) return 0;
  if (size < kPlaceableHeader + kWmfHeader) {
    DBPrintf("GetPlaceableMetaFile: Unable to read metafile header");
    return 0;
  }
  return PlatMetafileFromWmf(b + kPlaceableHeader, uInt32(size - kPlaceableHeader));
}

// A clipboard file's metafile: the plain metafile of format 3 (after its
// 8-byte picture header) in files of id 50000, the enhanced one of format
// 14 in those of ids 50001 and 50002.
PlatMetafile ClipboardFile(const uInt8* b, int32 size) {
  if (size < 2) return 0;
  const uInt32 id = LE16(b);
  if (id != 50000 && id != 50001 && id != 50002) return 0;
  if (size < 4) {
    DBPrintf("read of clipboard header failed");
    return 0;
  }
  const uInt32 count = LE16(b + 2);
  const bool old = id == 50000;
  const int32 entryBytes = old ? 89 : 172;
  for (uInt32 i = 0; i < count; ++i) {
    const int64 at = 4 + int64(i) * entryBytes;
    if (at + entryBytes > size) {
      DBPrintf("GetClipMetaFile: FMRead returned error");
      return 0;
    }
    const uInt8* e = b + at;
    const uInt32 format = old ? LE16(e) : LE32(e);
    const uInt32 length = LE32(e + (old ? 2 : 4)), offset = LE32(e + (old ? 6 : 8));
    if (format != (old ? 3u : 14u)) continue;
    if (old ? (length < 8 || !Within(offset, length, size)) : !Within(offset, length, size)) {
      DBPrintf("ConvertClipMetaToEnhMeta: Unable to read clipboard's metafile bits");
      return 0;
    }
    const PlatMetafile mf = old ? PlatMetafileFromWmf(b + offset + 8, length - 8) : PlatMetafileFromEmf(b + offset, length);
    if (!mf) DBPrintf("ConvertClipMetaToEnhMeta: Unable to set clipboard's metafile bits into metafile");
    return mf;
  }
  DBPrintf("Unable to render metafile format from clipboard file");
  return 0;
}

// A bitmap file read: its header fields and where its colour table and
// rows lie in the file.
struct BitmapFile {
  int32 width = 0, height = 0, depth = 0, colours = 0;
  const uInt8* table = nullptr;  // colours entries of entryBytes (blue, green, red[, 0])
  int32 entryBytes = 0;
  uInt32 bitsOffset = 0;  // of the rows: bottom row first, 32-bit padded
  int32 stride = 0;
};

// The header of a bitmap file of fileSize bytes whose first size bytes are
// b: 16 when it is no bitmap file this reader takes, or the file is too
// short for its rows.
MgErr ReadBitmap(const uInt8* b, int32 size, int32 fileSize, BitmapFile* f) {
  if (size < 14 || b[0] != 'B' || b[1] != 'M') {
    if (size >= 2 && b[0] == 'B' && b[1] == 'M') DBPrintf("GetBitmap: FMRead err=%ld when reading file header", 4L);
    return kImageNotFoundErr;
  }
  const uInt32 bitsOffset = LE32(b + 10);
  if (size < 18) return kImageNotFoundErr;
  const uInt32 headerSize = LE32(b + 14);
  if (headerSize != 12 && headerSize != 40) {
    DBPrintf("GetBitmap: bad header size --> %ld", long(headerSize));
    return kImageNotFoundErr;
  }
  if (int64(14) + headerSize > size) {
    DBPrintf("GetBitmap: FMRead err=%ld when reading header, colors, & bits", 4L);
    return kImageNotFoundErr;
  }
  const uInt8* h = b + 14;
  const bool core = headerSize == 12;
  f->depth = int32(LE16(b + (core ? 24 : 28)));
  switch (f->depth) {
    case 1: f->colours = 2; break;
    case 4: f->colours = 16; break;
    case 8: f->colours = 256; break;
    case 24: f->colours = 0; break;
    case 16:
    case 32: DBPrintf("GetBitmap: unsupported depth --> d=%d", f->depth); return kImageNotFoundErr;
    default: DBPrintf("DIBToDSIM: bad depth --> d=%d", f->depth); return kImageNotFoundErr;
  }
  if (core) {
    f->width = int32(LE16(h + 4));
    f->height = int32(LE16(h + 6));
  } else {
    f->width = int32(LE32(h + 4));
    f->height = int32(LE32(h + 8));
    // Compressed rows and top-first rows are other layouts.
    if (LE32(h + 16) != 0) return kImageNotFoundErr;
  }
  // The picture's bounds are 16-bit.
  if (f->width <= 0 || f->height <= 0 || f->width > 32767 || f->height > 32767) return kImageNotFoundErr;
  f->entryBytes = core ? 3 : 4;
  const int64 tableEnd = 14 + int64(headerSize) + int64(f->colours) * f->entryBytes;
  const int64 stride = (int64(f->width) * f->depth + 31) / 32 * 4;
  if (tableEnd > size || bitsOffset > uInt32(fileSize) || int64(fileSize) - bitsOffset < stride * f->height) {
    DBPrintf("GetBitmap: FMRead err=%ld when reading header, colors, & bits", 4L);
    return kImageNotFoundErr;
  }
  f->table = b + 14 + headerSize;
  f->bitsOffset = bitsOffset;
  f->stride = int32(stride);
  return kNoErr;
}

// The picture of one pixel block of the bitmap: rows top first in the
// system's format, one-bit rows inverted (a set bit black), 24-bit pixels
// as red, green, blue.  rowsOf(first, count) gives the file's rows first to
// first + count - 1 (bottom row first), read in that order, or null when
// they cannot be read.
template <typename RowsOf>
MgErr BitmapToPicture(const BitmapFile& f, int32 rowsAtOnce, RowsOf rowsOf, int32* image) {
  const int32 rowBytes = ISystemRowBytes(f.width, f.depth);
  const int64 pixels = int64(rowBytes) * f.height;
  const int64 tableBytes = f.colours ? 2 + 8 * int64(f.colours) : 0;
  const int64 dataSize = 24 + tableBytes + pixels;
  if (rowBytes <= 0 || 4 + 6 + dataSize > 0x7FFFFFFF) return kMemFullErr;
  UHandle h = AZNewHandle(int32(4 + 6 + dataSize));
  if (!h) return kMemFullErr;
  uInt8* p = reinterpret_cast<uInt8*>(*h);
  PutBE16(p + 4, uInt16(kPictOpPixels));
  PutBE32(p + 6, uInt32(dataSize));
  uInt8* d = p + 10;
  PutBE32(d, uInt32(pixels));
  PutBE16(d + 4, 0);
  PutBE16(d + 6, 0);
  PutBE16(d + 8, uInt16(f.height));
  PutBE16(d + 10, uInt16(f.width));
  PutBE16(d + 12, uInt16(f.depth));
  PutBE32(d + 14, kBlackColor);
  PutBE32(d + 18, kWhiteColor);
  PutBE16(d + 22, uInt16(f.colours ? f.colours - 1 : 0));
  uInt8* out = d + 24;
  if (f.colours) {
    PutBE16(out, 0);
    out += 2;
    for (int32 i = 0; i < f.colours; ++i, out += 8) {
      const uInt8* e = f.table + i * f.entryBytes;
      PutBE16(out, 0);
      PutBE16(out + 2, uInt16(e[2] * 0x101));
      PutBE16(out + 4, uInt16(e[1] * 0x101));
      PutBE16(out + 6, uInt16(e[0] * 0x101));
    }
  }
  const int32 used = int32((int64(f.width) * f.depth + 7) / 8);
  for (int32 first = 0; first < f.height; first += rowsAtOnce) {
    const int32 count = std::min(rowsAtOnce, f.height - first);
    const uInt8* in = rowsOf(first, count);
    if (!in) {
      AZDisposeHandle(h);
      return kImageNotFoundErr;
    }
    for (int32 k = 0; k < count; ++k, in += f.stride) {
      uInt8* row = out + int64(f.height - 1 - (first + k)) * rowBytes;
      if (f.depth == 24) {
        for (int32 x = 0; x < f.width; ++x) {
          row[3 * x] = in[3 * x + 2];
          row[3 * x + 1] = in[3 * x + 1];
          row[3 * x + 2] = in[3 * x];
        }
        continue;
      }
      std::memcpy(row, in, size_t(used));
      std::memset(row + used, 0, size_t(rowBytes - used));
      if (f.depth == 1) IInvertBytes(row, rowBytes);
    }
  }
  const Rect bounds{0, 0, int16(f.height), int16(f.width)};
  const MgErr err = ICreatePict(0, &bounds, f.depth, h, kImageAppZone, image);
  if (err != kNoErr) {
    AZDisposeHandle(h);
    return err == kMemFullErr ? kImageMemErr : kMemFullErr;  // no entry: 17; no memory: 2
  }
  return kNoErr;
}

}  // namespace

IImportAlertProc ISetImportAlertProc(IImportAlertProc proc) {
  const IImportAlertProc old = gAlert;
  gAlert = proc ? proc : &PlatformAlert;
  return old;
}

MgErr IImageFromFileBytes(const uInt8* b, int32 size, int32* image) {
  *image = 0;
  if (!b || size <= 0) return kImageNotFoundErr;
  PlatMetafile mf = PlatMetafileFromEmf(b, uInt32(size));
  if (!mf && !(size >= 4 && LE32(b) == kPlaceableKey)) mf = PlatMetafileFromWmf(b, uInt32(size));
  if (!mf) mf = Placeable(b, size);
  if (!mf) mf = ClipboardFile(b, size);
  if (mf) {
    const MgErr err = ICreatePCMetaFile(0, 0, mf, image, nullptr);
    if (err != kNoErr) {
      DBPrintf("IGetFile: ICreatePCMetaFile returned err=%ld", long(err));
      PlatDeleteMetafile(mf);
    }
    return err;
  }
  BitmapFile f;
  if (ReadBitmap(b, size, size, &f) != kNoErr) return kImageNotFoundErr;
  return BitmapToPicture(f, f.height, [&](int32 first, int32) { return b + f.bitsOffset + int64(first) * f.stride; },
                         image);
}

MgErr IGetFile(Path path, int32* image, Bool32 alert) {
  if (!image) return kArgErr;
  *image = 0;
  MgErr err = kImageNotFoundErr;
  FileRef ref = nullptr;
  if (MgErr open = FMOpen(&ref, path, kAccessRead, kDenyNone)) {
    DBPrintf("GetBitmap: FMOpen err=%ld", long(open));
  } else {
    int32 size = 0;
    std::vector<uInt8> bytes;
    if (FGetEOF(ref, &size) == kNoErr && size > 0) {
      // A bitmap file (no metafile form starts with "BM") is read header
      // first, then its rows a band at a time, straight into the picture.
      bytes.resize(size_t(std::min(size, kBitmapHeadBytes)));
      int32 actual = 0;
      MgErr read = FMRead(ref, int32(bytes.size()), &actual, bytes.data());
      const bool bitmap = actual >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
      if (bitmap) {
        BitmapFile f;
        if ((read == kNoErr || read == kEOFErr) && ReadBitmap(bytes.data(), actual, size, &f) == kNoErr) {
          const int32 band = std::max<int32>(1, kBandBytes / std::max(f.stride, 1));
          std::vector<uInt8> rows(size_t(std::min(band, f.height)) * size_t(f.stride));
          bool placed = FMSeek(ref, int32(f.bitsOffset), kFStart) == kNoErr;
          err = BitmapToPicture(
              f, band,
              [&](int32, int32 count) -> const uInt8* {
                int32 got = 0;
                const int32 want = count * f.stride;
                if (!placed || FMRead(ref, want, &got, rows.data()) != kNoErr || got != want) {
                  DBPrintf("GetBitmap: FMRead err=%ld when reading header, colors, & bits", long(kFileIOErr));
                  return nullptr;
                }
                return rows.data();
              },
              image);
        }
      } else if (read == kNoErr || read == kEOFErr) {
        if (actual == int32(bytes.size()) && size > actual) {
          bytes.resize(size_t(size));
          int32 rest = 0;
          read = FMRead(ref, size - actual, &rest, bytes.data() + actual);
          actual += rest;
        }
        if ((read == kNoErr || read == kEOFErr) && actual > 0) err = IImageFromFileBytes(bytes.data(), actual, image);
      } else {
        DBPrintf("GetBitmap: FMRead err=%ld when reading file header", long(read));
      }
    }
    FMClose(ref);
  }
  if (*image == 0) {
    if (err == kNoErr) err = kImageNotFoundErr;
    DBPrintf("IGetFile: we could not obtain an image from the file.");
    if (alert) gAlert(kImportAlertText);
  }
  return err;
}

MgErr ISetClipboard(int32 image) {
  if (!PlatOpenClipboard(PlatGetFrameWindow())) return kGenericErr;
  PlatEmptyClipboard();
  MgErr err = kNoErr;
  const ImageEntry e = IEntryOf(image);
  if (e.kind == kImagePixmap) {
    Rect src{0, 0, 0, 0};
    int32 depth = 0;
    const PlatObj bitmap = ILockHost(image, &src, &depth);
    PlatObjInfo oi{};
    PlatObj copy = 0;
    if (bitmap && PlatDescribeObject(bitmap, &oi))
      copy = PlatCreateBitmap(oi.width, oi.height, oi.planes * oi.bitsPerPixel, nullptr, 0);
    const PlatObj from = PlatCreateMemoryDc(), to = PlatCreateMemoryDc();
    bool ok = copy && from && to;
    if (ok) {
      const PlatObj oldFrom = PlatSelectObject(from, bitmap), oldTo = PlatSelectObject(to, copy);
      ok = PlatBitBlt(to, 0, 0, oi.width, oi.height, from, 0, 0, kPlatSrcCopy);
      PlatSelectObject(from, oldFrom);
      PlatSelectObject(to, oldTo);
    }
    if (from) PlatDeleteDc(from);
    if (to) PlatDeleteDc(to);
    if (ok && PlatSetClipboardData(kPlatClipBitmap, copy)) {
      copy = 0;
      if (oi.planes * oi.bitsPerPixel <= 8) {
        // The system palette goes with bitmaps of 8 bits or fewer.
        std::vector<uint32_t> colours(256);
        for (int32 i = 0; i < 256; ++i) colours[size_t(i)] = DColorToGDIColor(MIndexToDColor(i, 8));
        const PlatObj palette = PlatCreatePalette(colours.data(), 256);
        if (!palette || !PlatSetClipboardData(kPlatClipPalette, palette)) {
          if (palette) PlatDeleteObject(palette);
          err = kMemFullErr;
        }
      }
    } else {
      err = kMemFullErr;
    }
    if (copy) PlatDeleteObject(copy);
  } else if (e.kind == kImageMeta) {
    const PlatMetafile copy = e.data ? PlatCopyMetafile(PlatMetafile(e.data)) : 0;
    if (!copy || !PlatSetClipboardData(kPlatClipMetafile, copy)) {
      DBPrintf("ISetClipboard: Copying Enhanced Metafile for Clipboard failed!!");
      if (copy) PlatDeleteMetafile(copy);
      err = kMemFullErr;
    }
  }
  PlatCloseClipboard();
  return err;
}

MgErr IGetClipboard(int32* image) {
  if (image) *image = 0;
  return kFileNotFoundErr;
}
