#include "platform/qx_png.h"

#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/qx_file.h"

namespace {

// The surface as packed 8-bit RGB rows.
bool ToRgb(const PlatSurface* s, std::vector<uint8_t>* rgb) {
  int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  rgb->resize(size_t(w) * size_t(h) * 3);
  uint8_t* o = rgb->data();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = PlatSurfaceGetPixel(s, x, y);
      *o++ = uint8_t(p >> 16);
      *o++ = uint8_t(p >> 8);
      *o++ = uint8_t(p);
    }
  return true;
}

void Describe(png_image* image, const PlatSurface* s) {
  std::memset(image, 0, sizeof *image);
  image->version = PNG_IMAGE_VERSION;
  image->width = png_uint_32(PlatSurfaceWidth(s));
  image->height = png_uint_32(PlatSurfaceHeight(s));
  image->format = PNG_FORMAT_RGB;
}

bool Writable(const PlatSurface* s) {
  // PNG has no empty images.
  return s && PlatSurfaceWidth(s) > 0 && PlatSurfaceHeight(s) > 0 &&
         uint64_t(PlatSurfaceWidth(s)) * 3 <= INT32_MAX;
}

// The bytes a reader is fed from.
struct Source {
  const uint8_t* data;
  size_t size, at;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<Source*>(png_get_io_ptr(png));
  if (n > src->size - src->at) png_error(png, "truncated");
  std::memcpy(out, src->data + src->at, n);
  src->at += n;
}

void Quiet(png_structp, png_const_charp) {}
[[noreturn]] void Fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Reads the stored samples: palettes and grey expanded to 8-bit RGB,
// 16-bit samples scaled by >> 8, alpha and transparency dropped, and no
// gamma or colour-space conversion whatever the file's chunks say, so a
// file reads the bytes that were written.
PlatSurface* Read(const uint8_t* data, size_t size, uint32_t maxPixels) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Quiet);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    PlatSetLastError(kPlatErrNoMemory);
    return nullptr;
  }
  Source src{data, size, 0};
  // Only plain volatile locals live across the jump: no destructor is skipped.
  PlatSurface* volatile s = nullptr;
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    PlatSurfaceDestroy(s);
    std::free(rows);
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  png_set_read_fn(png, &src, ReadBytes);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, type = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &type, &interlace, nullptr, nullptr);
  if (w == 0 || h == 0 || w > INT32_MAX || h > INT32_MAX || uint64_t(w) * h > maxPixels) {
    png_destroy_read_struct(&png, &info, nullptr);
    PlatSetLastError(kPlatErrNoMemory);
    return nullptr;
  }
  png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, transparency to alpha
  png_set_strip_16(png);
  png_set_strip_alpha(png);
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // words in memory: B, G, R, A
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(w) * 4) png_error(png, "unexpected row format");
  s = PlatSurfaceCreate(int32_t(w), int32_t(h), kPlatRgb32);
  if (!s) {
    png_destroy_read_struct(&png, &info, nullptr);
    PlatSetLastError(kPlatErrNoMemory);
    return nullptr;
  }
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
  if (!rows) png_error(png, "no memory for rows");
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = PlatSurfaceBits(s) + size_t(y) * size_t(PlatSurfaceStride(s));
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(rows);
  return s;
}

}  // namespace

int32_t PlatPngWriteMemory(const PlatSurface* s, std::vector<uint8_t>* out) {
  if (!Writable(s) || !out) return kPlatErrInvalidParam;
  std::vector<uint8_t> rgb;
  ToRgb(s, &rgb);
  png_image image;
  Describe(&image, s);
  png_alloc_size_t size = 0;
  png_int_32 stride = png_int_32(image.width * 3);
  if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), stride, nullptr))
    return kPlatErrNoMemory;
  out->resize(size);
  if (!png_image_write_to_memory(&image, out->data(), &size, 0, rgb.data(), stride, nullptr)) {
    out->clear();
    return kPlatErrGeneral;
  }
  out->resize(size);
  return 0;
}

namespace {

void AppendBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void NoFlush(png_structp) {}

}  // namespace

int32_t PlatPngWriteMonoMemory(const PlatSurface* s, std::vector<uint8_t>* out) {
  if (!Writable(s) || !out) return kPlatErrInvalidParam;
  int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  std::vector<uint8_t> rows(size_t((w + 7) / 8) * size_t(h), 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = PlatSurfaceGetPixel(s, x, y);
      if ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF) >= 3 * 128)
        rows[size_t(y) * size_t((w + 7) / 8) + size_t(x / 8)] |= uint8_t(0x80 >> (x & 7));
    }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return kPlatErrNoMemory;
  }
  out->clear();
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    out->clear();
    return kPlatErrGeneral;
  }
  png_set_write_fn(png, out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < h; ++y) png_write_row(png, rows.data() + size_t(y) * size_t((w + 7) / 8));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return 0;
}

int32_t PlatPngWriteFile(const PlatSurface* s, const char* path) {
  if (!path) return kPlatErrInvalidParam;
  std::vector<uint8_t> bytes;
  if (int32_t err = PlatPngWriteMemory(s, &bytes)) return err;
  FILE* f = std::fopen(path, "wb");
  if (!f) return PlatErrnoToError(errno);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok ? 0 : kPlatErrGeneral;
}

PlatSurface* PlatPngReadMemory(const void* data, size_t size, uint32_t maxPixels) {
  if (!data || size == 0) {
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  return Read(static_cast<const uint8_t*>(data), size, maxPixels);
}

PlatSurface* PlatPngReadFile(const char* path, uint32_t maxPixels) {
  if (!path) {
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    PlatSetLastError(PlatErrnoToError(errno));
    return nullptr;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  bool bad = std::ferror(f);
  std::fclose(f);
  if (bad) {
    PlatSetLastError(kPlatErrGeneral);
    return nullptr;
  }
  return PlatPngReadMemory(bytes.data(), bytes.size(), maxPixels);
}
