// Metafiles from bytes: enhanced metafiles, and plain metafiles (bare or
// with the 22-byte placeable header) converted record by record.
//
// The bytes come from files, resources and the clipboard and are not
// trusted: a header or record shorter than its fixed part, a record size
// that is not a multiple of its unit or runs past the end, a count or
// offset that points outside its record, an object index outside the
// table, a bitmap that the DIB reader refuses (qx_dib.h) and a transfer
// whose source rectangle leaves its bitmap all fail the
// whole import (0, kPlatErrInvalidParam); nothing is read outside the
// given bytes.  Records the layer does not draw are skipped.
//
// Enhanced metafiles (all fields little-endian): the header's picture
// frame, in 0.01 mm, becomes the frame in pixels of the header's reference
// device (frame x pixels / (millimetres x 100), rounded halves up); the
// bounds are the header's.  Records are read in their mapping mode (text,
// the metric and English modes, isotropic and anisotropic with their
// window and viewport origins and extents) and kept in reference-device
// pixels.  Shapes, 16- and 32-bit lines and polygons, pens, brushes, fonts,
// clipping, save and restore, block transfers and DIBs, ANSI and wide text
// (code page 1252) and palettes are read.
//
// Plain metafiles are taken as pictures of mapping mode 8 (anisotropic)
// with extents 3000 x 3000: their records stay in their window
// coordinates and the frame is the window (origin and extent); without a
// window extent the frame is the box of what they draw.
#pragma once
#include <cstdint>

#include "platform/qx_metafile.h"

PlatMetafile PlatMetafileFromEmf(const void* data, uint32_t size);
// A plain metafile, or a placeable one (key 0x9AC6CDD7).
PlatMetafile PlatMetafileFromWmf(const void* data, uint32_t size);
// Enhanced, then plain, then placeable: the first that reads.
PlatMetafile PlatMetafileFromBytes(const void* data, uint32_t size);

// The extents a plain metafile's picture is given, in 0.01 mm.
constexpr int32_t kPlatWmfPictureExtent = 3000;
