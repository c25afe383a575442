// PNG files of surfaces: screenshots and test goldens.
//
// The writer is deterministic: 8-bit RGB, no time or text chunks, so the same
// pixels always give the same bytes.  The reader gives an Rgb32 surface of
// the stored samples (alpha dropped, 16-bit samples scaled by >> 8, no gamma
// or colour-space conversion: screenshots and goldens compare byte for
// byte); it checks the file as libpng does and refuses images larger than
// maxPixels.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/qx_surface.h"

constexpr uint32_t kPlatPngMaxPixels = 1u << 26;

// 0 or a host error (kPlatErrInvalidParam, kPlatErrNoMemory, kPlatErrGeneral
// for a file that cannot be written).
int32_t PlatPngWriteMemory(const PlatSurface* s, std::vector<uint8_t>* out);
int32_t PlatPngWriteFile(const PlatSurface* s, const char* path);
// A 1-bit greyscale PNG: a pixel is white when its red, green and blue add
// up to 384 or more (the rule mono printer pages follow), else black.
int32_t PlatPngWriteMonoMemory(const PlatSurface* s, std::vector<uint8_t>* out);

// Null on failure, with the host error in PlatLastError (kPlatErrInvalidParam
// for bytes that are not a readable PNG, kPlatErrNoMemory for one too large).
PlatSurface* PlatPngReadMemory(const void* data, size_t size,
                               uint32_t maxPixels = kPlatPngMaxPixels);
PlatSurface* PlatPngReadFile(const char* path, uint32_t maxPixels = kPlatPngMaxPixels);
