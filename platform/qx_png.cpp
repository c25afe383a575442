#include "platform/qx_png.h"

#include <png.h>

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

// Reads the begun image into a new surface and ends it.
PlatSurface* Finish(png_image* image, uint32_t maxPixels) {
  if (image->width == 0 || image->height == 0 || image->width > INT32_MAX ||
      image->height > INT32_MAX || uint64_t(image->width) * image->height > maxPixels) {
    png_image_free(image);
    PlatSetLastError(kPlatErrNoMemory);
    return nullptr;
  }
  image->format = PNG_FORMAT_BGRA;
  PlatSurface* s = PlatSurfaceCreate(int32_t(image->width), int32_t(image->height), kPlatRgb32);
  if (!s) {
    png_image_free(image);
    return nullptr;
  }
  if (!png_image_finish_read(image, nullptr, PlatSurfaceBits(s), PlatSurfaceStride(s), nullptr)) {
    png_image_free(image);
    PlatSurfaceDestroy(s);
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  // Words in memory are B, G, R, A: the surface keeps its alpha at 0xFF.
  auto* w = reinterpret_cast<uint32_t*>(PlatSurfaceBits(s));
  for (uint32_t i = 0; i < PlatSurfaceByteSize(s) / 4; ++i) w[i] |= kPlatOpaque;
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
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!data || size == 0 || !png_image_begin_read_from_memory(&image, data, size)) {
    png_image_free(&image);
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  return Finish(&image, maxPixels);
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
