#include "platform/qx_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_ADVANCES_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/qx_codepage.h"
#include "platform/qx_file.h"
#include "platform/qx_font_internal.h"

namespace qxfont {

// One face file, read whole and checked once; fonts open their own FreeType
// face over its bytes.
struct FaceFile {
  std::vector<uint8_t> bytes;
  int32_t units = 0, winAscent = 0, winDescent = 0, avgWidth = 0;
  int32_t underPos = 0, underThick = 0, strikePos = 0, strikeSize = 0;
  uint32_t glyph[256] = {};
  int32_t advUnits[256] = {};
  std::string version;
};

namespace {

const char* const kFamilies[kPlatFamilyCount] = {"DejaVu Sans", "DejaVu Sans Condensed", "DejaVu Serif",
                                                 "DejaVu Serif Condensed", "DejaVu Sans Mono"};

// Files by family, then regular, bold, oblique or italic, bold oblique or
// italic.
const char* const kFiles[kPlatFamilyCount * 4] = {
    "DejaVuSans.ttf",          "DejaVuSans-Bold.ttf",          "DejaVuSans-Oblique.ttf",
    "DejaVuSans-BoldOblique.ttf",
    "DejaVuSansCondensed.ttf", "DejaVuSansCondensed-Bold.ttf", "DejaVuSansCondensed-Oblique.ttf",
    "DejaVuSansCondensed-BoldOblique.ttf",
    "DejaVuSerif.ttf",          "DejaVuSerif-Bold.ttf",          "DejaVuSerif-Italic.ttf",
    "DejaVuSerif-BoldItalic.ttf",
    "DejaVuSerifCondensed.ttf", "DejaVuSerifCondensed-Bold.ttf", "DejaVuSerifCondensed-Italic.ttf",
    "DejaVuSerifCondensed-BoldItalic.ttf",
    "DejaVuSansMono.ttf",       "DejaVuSansMono-Bold.ttf",       "DejaVuSansMono-Oblique.ttf",
    "DejaVuSansMono-BoldOblique.ttf",
};

// The font-name map: normalised face name, printer family, and the row of
// that family among the printer families (0 Helvetica, 1 Times, 2 Courier,
// 3 AvantGarde, 4 Helvetica-Narrow, 5 NewCenturySchlbk, 6 Bookman,
// 7 Palatino, 8 Symbol, 9 ZapfChancery, 10 ZapfDingbats, 11 Helvetica-Bold,
// 12 Times-Bold).
struct MapRow {
  const char* face;
  const char* family;
  int32_t variant;
};
const MapRow kMap[kPlatFontMapRows] = {
    {"helvetica", "Helvetica", 0},
    {"times", "Times", 1},
    {"courier", "Courier", 2},
    {"nhelveticanarrow", "Helvetica-Narrow", 4},
    {"avantgarde", "AvantGarde", 3},
    {"newcenturyschlbk", "NewCenturySchlbk", 5},
    {"newcenturyschoolbook", "NewCenturySchlbk", 5},
    {"bookman", "Bookman", 6},
    {"palatino", "Palatino", 7},
    {"symbol", "Symbol", 8},
    {"zapfchancery", "ZapfChancery", 9},
    {"zapfdingbats", "ZapfDingbats", 10},
    {"geneva", "Helvetica", 0},
    {"chicago", "Helvetica-Bold", 11},
    {"monaco", "Courier", 2},
    {"centschbka", "NewCenturySchlbk", 5},
    {"newyork", "NewCenturySchlbk", 5},
    {"matrix", "Courier", 2},
    {"monaco", "Courier", 2},
    {"8x13", "Helvetica", 0},
    {"vt8x13", "Helvetica", 0},
    {"arial", "Helvetica", 0},
    {"arial-super", "Helvetica", 0},
    {"couriernew", "Courier", 2},
    {"fixedsys", "Helvetica-Bold", 11},
    {"mssansserif", "Helvetica", 0},
    {"msserif", "Times-Bold", 12},
    {"modern", "Helvetica-Narrow", 4},
    {"roman", "Times", 1},
    {"smallfonts", "Helvetica-Bold", 11},
    {"system", "Helvetica-Bold", 11},
    {"timesnewroman", "Times", 1},
    {"lucidabright", "Times", 1},
    {"lucidasans", "Helvetica", 0},
    {"lucida", "Helvetica", 0},
    {"lucidasanstypriter", "Courier", 2},
    {"lucidatypewriter", "Courier", 2},
};

constexpr int32_t kMaxHeight = 2048, kMaxWidth = 2048;
constexpr size_t kMaxFileBytes = 64u << 20;
constexpr size_t kGlyphKeepBytes = 64u << 10, kFontCacheBytes = 8u << 20;

// The library, the face files and the folder.  Guarded by mx, the FreeType
// library mutex (taken after a font's own mutex, never before).
struct Faces {
  std::mutex mx;
  FT_Library lib = nullptr;
  bool started = false, dirOk = false;
  std::string dir;
  bool loaded[kPlatFamilyCount * 4] = {};
  std::shared_ptr<FaceFile> files[kPlatFamilyCount * 4];
  int32_t errors[kPlatFamilyCount * 4] = {};
};
Faces* const gFaces = new Faces;  // lives as long as the process, as stock fonts do

int Lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// The name's bytes: up to length, the first NUL or 31 bytes.
int32_t NameBytes(const char* name, int32_t length, char out[kPlatFaceNameSize]) {
  int32_t n = 0;
  if (name)
    while (n < length && n < kPlatFaceNameSize - 1 && name[n] != 0) {
      out[n] = name[n];
      ++n;
    }
  out[n] = 0;
  return n;
}

// True when the len bytes of n are the family name in any letter case.
bool SameName(const char* n, int32_t len, const char* family) {
  if (int32_t(std::strlen(family)) != len) return false;
  for (int32_t i = 0; i < len; ++i)
    if (Lower(uint8_t(n[i])) != Lower(uint8_t(family[i]))) return false;
  return true;
}

void Start(Faces& g, const char* dir) {
  // Called with g.mx held.
  if (!g.lib && FT_Init_FreeType(&g.lib) != 0) g.lib = nullptr;
  const char* env = std::getenv("QX_FONT_DIR");
  g.dir = dir ? dir : env && *env ? env : "/usr/share/fonts/truetype/dejavu";
  std::FILE* probe = nullptr;
  std::string any = g.dir + "/.";
  g.dirOk = (probe = std::fopen(any.c_str(), "r")) != nullptr;
  if (probe) std::fclose(probe);
  if (!g.dirOk) std::fprintf(stderr, "qx: font folder %s not found: text is not drawn\n", g.dir.c_str());
  for (auto& f : g.files) f.reset();
  for (bool& l : g.loaded) l = false;
  for (int32_t& e : g.errors) e = 0;
  g.started = true;
}

// 0, kPlatErrFileNotFound, or kPlatErrGeneral for a file that cannot be
// read whole or is empty or too large.
int32_t ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return kPlatErrFileNotFound;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  long size = ok ? std::ftell(f) : -1;
  ok = ok && size > 0 && size_t(size) <= kMaxFileBytes && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    out->resize(size_t(size));
    ok = std::fread(out->data(), 1, out->size(), f) == out->size();
  }
  std::fclose(f);
  return ok ? 0 : kPlatErrGeneral;
}

int32_t Clamp(int64_t v, int64_t lo, int64_t hi) { return int32_t(v < lo ? lo : v > hi ? hi : v); }

// Checks the bytes of a face file and takes its metrics, glyphs and
// advances; 0 or kPlatErrGeneral.  Called with g.mx held.
int32_t CheckFace(Faces& g, FaceFile* file) {
  FT_Face face = nullptr;
  if (!g.lib || file->bytes.empty() ||
      FT_New_Memory_Face(g.lib, file->bytes.data(), FT_Long(file->bytes.size()), 0, &face) != 0)
    return kPlatErrGeneral;
  bool ok = false;
  do {
    if (!FT_IS_SCALABLE(face) || !FT_IS_SFNT(face) || face->num_glyphs < 1) break;
    int32_t u = face->units_per_EM;
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (u < 16 || u > 16384 || !os2 || os2->version == 0xFFFF) break;
    int32_t a = os2->usWinAscent, d = os2->usWinDescent, avg = os2->xAvgCharWidth;
    if (a + d < 1 || a > 4 * u || d > 4 * u || avg < 1 || avg > 4 * u) break;
    file->units = u;
    file->winAscent = a;
    file->winDescent = d;
    file->avgWidth = avg;
    file->underPos = Clamp(face->underline_position, -4 * u, 4 * u);
    file->underThick = Clamp(face->underline_thickness, 0, u);
    file->strikePos = Clamp(os2->yStrikeoutPosition, -4 * u, 4 * u);
    file->strikeSize = Clamp(os2->yStrikeoutSize, 0, u);
    bool unicode = FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0;
    for (int32_t b = 0; b < 256; ++b) {
      uint32_t gi = 0;
      if (unicode && !PlatCp1252IsControl(uint8_t(b))) gi = FT_Get_Char_Index(face, PlatCp1252ToUnicode(uint8_t(b)));
      if (gi >= uint32_t(face->num_glyphs)) gi = 0;
      FT_Fixed adv = 0;
      if (FT_Get_Advance(face, gi, FT_LOAD_NO_SCALE, &adv) != 0) adv = 0;
      file->glyph[b] = gi;
      file->advUnits[b] = Clamp(adv, 0, 4 * u);
    }
    if (auto* head = static_cast<TT_Header*>(FT_Get_Sfnt_Table(face, FT_SFNT_HEAD))) {
      int64_t rev = head->Font_Revision;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%d.%02d", int(rev >> 16), int(((rev & 0xFFFF) * 100 + 0x8000) >> 16));
      file->version = buf;
    }
    ok = true;
  } while (false);
  FT_Done_Face(face);
  return ok ? 0 : kPlatErrGeneral;
}

// Reads and checks face file i.  Called with g.mx held.
std::shared_ptr<FaceFile> LoadFace(Faces& g, int32_t i) {
  auto file = std::make_shared<FaceFile>();
  g.errors[i] = g.dirOk ? ReadFile(g.dir + "/" + kFiles[i], &file->bytes) : kPlatErrFileNotFound;
  if (g.errors[i] == 0) g.errors[i] = CheckFace(g, file.get());
  return g.errors[i] == 0 ? file : nullptr;
}

// The checked face file i (loaded on first use), or null with the error set.
std::shared_ptr<FaceFile> Face(int32_t i) {
  Faces& g = *gFaces;
  std::lock_guard<std::mutex> lock(g.mx);
  if (!g.started) Start(g, nullptr);
  if (!g.loaded[i]) {
    g.files[i] = LoadFace(g, i);
    g.loaded[i] = true;
  }
  if (!g.files[i]) PlatSetLastError(g.errors[i]);
  return g.files[i];
}

// round(num / den), halves up, for den > 0.
int64_t RoundDiv(int64_t num, int64_t den) {
  int64_t q = num / den, r = num % den;
  if (r < 0) {
    r += den;
    --q;
  }
  return 2 * r >= den ? q + 1 : q;
}
// floor(num / den) and ceil(num / den), for den > 0.
int64_t FloorDiv(int64_t num, int64_t den) { return num / den - (num % den < 0 ? 1 : 0); }
int64_t CeilDiv(int64_t num, int64_t den) { return -FloorDiv(-num, den); }

// Sizes and advances of a font from the request and its face file.
void Measure(const FaceFile& file, FontImpl* f) {
  int64_t u = file.units, a = file.winAscent, d = file.winDescent;
  int64_t h = f->desc.height;
  if (h < 0) {
    f->emV26 = int32_t(-h * 64);
    f->ascent = int32_t(CeilDiv(-h * a, u));
    f->descent = int32_t(CeilDiv(-h * d, u));
  } else {
    f->ascent = int32_t(RoundDiv(h * a, a + d));
    f->descent = int32_t(h - f->ascent);
    f->emV26 = Clamp(h * u * 64 / (a + d), 1, 16384 * 64);
  }
  f->emH26 = f->emV26;
  if (f->desc.width > 0) f->emH26 = Clamp(int64_t(f->desc.width) * u * 64 / file.avgWidth, 1, 16384 * 64);
  int64_t scale = u * 64;
  f->aveWidth = int32_t(RoundDiv(int64_t(file.avgWidth) * f->emH26, scale));
  for (int32_t b = 0; b < 256; ++b) f->advance[b] = int32_t(RoundDiv(int64_t(file.advUnits[b]) * f->emH26, scale));
  // Underline: its centre lies underPos below the baseline; strike-out: its
  // top strikePos above it.  Both at least one pixel thick.
  int64_t ut = RoundDiv(int64_t(file.underThick) * f->emV26, scale);
  int64_t st = RoundDiv(int64_t(file.strikeSize) * f->emV26, scale);
  f->underThick = int32_t(ut < 1 ? 1 : ut);
  f->strikeThick = int32_t(st < 1 ? 1 : st);
  f->underTop = int32_t(RoundDiv(-int64_t(file.underPos) * f->emV26, scale)) - f->underThick / 2;
  f->strikeTop = -int32_t(RoundDiv(int64_t(file.strikePos) * f->emV26, scale));
}

// Fills f from the request; false with the host error when the face is
// missing or unusable.
bool Build(const PlatFontDesc& in, FontImpl* f, std::shared_ptr<FaceFile> given = nullptr) {
  PlatFontDesc& d = f->desc;
  d = in;
  d.height = in.height == 0 ? 13 : Clamp(in.height, -kMaxHeight, kMaxHeight);
  d.width = Clamp(in.width, 0, kMaxWidth);
  d.weight = Clamp(in.weight, 0, 1000);
  d.charSet = PlatDoubleByteCodePage() ? kPlatDoubleByteCharSet : 0;
  f->family = PlatResolveFamily(in.face, kPlatFaceNameSize);
  std::memset(d.face, 0, sizeof d.face);
  std::memcpy(d.face, kFamilies[f->family], std::strlen(kFamilies[f->family]));
  bool bold = in.weight >= 600;
  f->weight = bold ? 700 : 400;
  f->file = f->family * 4 + (bold ? 1 : 0) + (in.italic ? 2 : 0);
  f->face = given ? std::move(given) : Face(f->file);
  if (!f->face) return false;
  Measure(*f->face, f);
  Faces& g = *gFaces;
  std::lock_guard<std::mutex> lock(g.mx);
  FT_Face ft = nullptr;
  if (!g.lib ||
      FT_New_Memory_Face(g.lib, f->face->bytes.data(), FT_Long(f->face->bytes.size()), 0, &ft) != 0) {
    PlatSetLastError(kPlatErrGeneral);
    return false;
  }
  f->ft = ft;
  if (FT_Set_Char_Size(ft, f->emH26, f->emV26, 72, 72) != 0) {
    PlatSetLastError(kPlatErrGeneral);
    return false;  // the destructor closes the face
  }
  f->drawable = true;
  return true;
}

// A font without a face: a cell of the described height, every byte half
// as wide, nothing drawn.
void CellOnly(FontImpl* f) {
  int32_t h = f->desc.height < 0 ? -f->desc.height : f->desc.height;
  f->descent = h / 5;
  f->ascent = h - f->descent;
  f->aveWidth = h / 2;
  for (int32_t& a : f->advance) a = h / 2;
  f->underTop = 1;
  f->strikeTop = -(f->ascent / 3);
  f->drawable = false;
}

std::shared_ptr<FontImpl> ImplOfHandle(PlatObj h) {
  auto o = qxdraw::Get<qxdraw::Font>(h, kPlatObjFont);
  return o ? o->impl : nullptr;
}

}  // namespace

FontImpl::~FontImpl() {
  if (!ft) return;
  std::lock_guard<std::mutex> lock(gFaces->mx);
  FT_Done_Face(static_cast<FT_Face>(ft));
}

const Glyph* FontImpl::GlyphOf(uint8_t byte, Glyph* scratch) {
  if (tried[byte]) return glyphs[byte].get();
  if (!drawable) return nullptr;
  auto ftFace = static_cast<FT_Face>(ft);
  if (FT_Load_Glyph(ftFace, face->glyph[byte], FT_LOAD_TARGET_MONO) != 0 ||
      FT_Render_Glyph(ftFace->glyph, FT_RENDER_MODE_MONO) != 0) {
    tried[byte] = true;
    return nullptr;
  }
  const FT_Bitmap& bm = ftFace->glyph->bitmap;
  int32_t pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
  size_t bytes = size_t(pitch) * bm.rows;
  if (bm.pixel_mode != FT_PIXEL_MODE_MONO || bm.width == 0 || bm.rows == 0 || !bm.buffer ||
      size_t(pitch) * 8 < bm.width || bytes > (64u << 20)) {
    tried[byte] = true;
    return nullptr;
  }
  bool keep = bytes <= kGlyphKeepBytes && cachedBytes + bytes <= kFontCacheBytes;
  Glyph* g = scratch;
  if (keep) {
    glyphs[byte].reset(new Glyph);
    g = glyphs[byte].get();
    tried[byte] = true;
    cachedBytes += bytes;
  }
  g->left = ftFace->glyph->bitmap_left;
  g->top = ftFace->glyph->bitmap_top;
  g->width = int32_t(bm.width);
  g->rows = int32_t(bm.rows);
  g->pitch = pitch;
  g->bits.resize(bytes);
  for (uint32_t r = 0; r < bm.rows; ++r) {
    const uint8_t* src = bm.pitch < 0 ? bm.buffer + size_t(bm.rows - 1 - r) * pitch : bm.buffer + size_t(r) * pitch;
    std::memcpy(&g->bits[size_t(r) * pitch], src, size_t(pitch));
  }
  return g;
}

std::shared_ptr<FontImpl> ImplOf(const std::shared_ptr<qxdraw::Object>& obj) {
  if (!obj || obj->kind != kPlatObjFont) return nullptr;
  return static_cast<qxdraw::Font*>(obj.get())->impl;
}

std::shared_ptr<qxdraw::Object> MakeStockFont(int32_t which) {
  PlatFontDesc d{};
  d.height = which == kPlatStockFont2 ? 16 : 13;
  d.weight = which == kPlatStockFont2 ? 700 : 400;
  PlatSetFaceName(&d, kFamilies[kPlatFamilySansCondensed], kPlatFaceNameSize);
  auto impl = std::make_shared<FontImpl>();
  if (!Build(d, impl.get())) CellOnly(impl.get());
  auto font = std::make_shared<qxdraw::Font>();
  font->impl = impl;
  return font;
}

void MetricsOf(const FontImpl& f, PlatTextMetrics* tm) {
  *tm = PlatTextMetrics{};
  tm->ascent = f.ascent;
  tm->descent = f.descent;
  tm->height = f.ascent + f.descent;
  tm->aveCharWidth = f.aveWidth;
  tm->weight = f.weight;
  tm->italic = f.desc.italic;
  tm->underlined = f.desc.underline;
  tm->struckOut = f.desc.strikeOut;
  // Outline faces (0x06); proportional 0x01; sans 0x20, serif 0x10, mono 0x30.
  static const uint8_t kKind[kPlatFamilyCount] = {0x21, 0x21, 0x11, 0x11, 0x30};
  tm->pitchAndFamily = uint8_t(0x06 | kKind[f.family]);
  tm->charSet = f.desc.charSet;
}

int32_t Extent(const FontImpl& f, const uint8_t* bytes, int32_t n, int32_t extra) {
  // Advances stay below 2^17, so up to 2^14 of them sum in 32 bits.
  int64_t w = int64_t(n) * extra;
  for (int32_t at = 0; at < n;) {
    int32_t end = n - at > 16384 ? at + 16384 : n;
    // Four sums at once: the loads do not wait on one another.
    uint32_t p0 = 0, p1 = 0, p2 = 0, p3 = 0;
    for (; at + 4 <= end; at += 4) {
      p0 += uint32_t(f.advance[bytes[at]]);
      p1 += uint32_t(f.advance[bytes[at + 1]]);
      p2 += uint32_t(f.advance[bytes[at + 2]]);
      p3 += uint32_t(f.advance[bytes[at + 3]]);
    }
    for (; at < end; ++at) p0 += uint32_t(f.advance[bytes[at]]);
    w += int64_t(p0) + p1 + p2 + p3;
  }
  return Clamp(w, INT32_MIN, INT32_MAX);
}

std::shared_ptr<FontImpl> FontFromBytes(std::vector<uint8_t> bytes, const PlatFontDesc& desc, int32_t* error) {
  auto file = std::make_shared<FaceFile>();
  file->bytes = std::move(bytes);
  {
    std::lock_guard<std::mutex> lock(gFaces->mx);
    if (!gFaces->started) Start(*gFaces, nullptr);
    *error = CheckFace(*gFaces, file.get());
  }
  auto impl = std::make_shared<FontImpl>();
  if (*error == 0 && !Build(desc, impl.get(), file)) *error = PlatLastError();
  return *error == 0 ? impl : nullptr;
}

void ReloadFaces(const char* dir) {
  std::lock_guard<std::mutex> lock(gFaces->mx);
  Start(*gFaces, dir);
}

std::string FreeTypeVersion() {
  Faces& g = *gFaces;
  std::lock_guard<std::mutex> lock(g.mx);
  if (!g.started) Start(g, nullptr);
  if (!g.lib) return "";
  FT_Int a = 0, b = 0, c = 0;
  FT_Library_Version(g.lib, &a, &b, &c);
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

std::string FaceVersion(int32_t file) {
  if (file < 0 || file >= kPlatFamilyCount * 4) return "";
  auto f = Face(file);
  return f ? f->version : "";
}

}  // namespace qxfont

using namespace qxfont;

void PlatSetFaceName(PlatFontDesc* desc, const char* name, int32_t length) {
  NameBytes(name, length, desc->face);
  std::memset(desc->face + std::strlen(desc->face), 0, kPlatFaceNameSize - std::strlen(desc->face));
}

int32_t PlatResolveFamily(const char* name, int32_t length) {
  char n[kPlatFaceNameSize];
  int32_t len = NameBytes(name, length, n);
  for (int32_t f = 0; f < kPlatFamilyCount; ++f)
    if (SameName(n, len, kFamilies[f])) return f;
  int32_t v = kMap[PlatFontMapRow(n, len)].variant;
  if (v == 2) return kPlatFamilySansMono;
  if (v == 1 || v == 5 || v == 6 || v == 7 || v == 12) return kPlatFamilySerifCondensed;
  return kPlatFamilySansCondensed;
}

const char* PlatFamilyName(int32_t family) {
  return family >= 0 && family < kPlatFamilyCount ? kFamilies[family] : "";
}

int32_t PlatFontMapRow(const char* name, int32_t length) {
  char n[kPlatFaceNameSize], norm[kPlatFaceNameSize];
  int32_t len = NameBytes(name, length, n), k = 0;
  for (int32_t i = 0; i < len; ++i)
    if (n[i] != ' ') norm[k++] = char(Lower(uint8_t(n[i])));
  norm[k] = 0;
  for (int32_t r = 0; r < kPlatFontMapRows; ++r)
    if (std::strcmp(kMap[r].face, norm) == 0) return r;
  return 0;
}

const char* PlatFontMapFamily(int32_t row) {
  return row >= 0 && row < kPlatFontMapRows ? kMap[row].family : nullptr;
}

PlatObj PlatCreateFont(const PlatFontDesc& desc) {
  auto impl = std::make_shared<FontImpl>();
  if (!Build(desc, impl.get())) return 0;
  auto font = std::make_shared<qxdraw::Font>();
  font->impl = impl;
  return qxdraw::Register(font);
}

namespace {
// The font's record when the out-pointer is given too.
std::shared_ptr<FontImpl> ImplWithOut(PlatObj font, const void* out) {
  auto f = ImplOfHandle(font);
  if (f && !out) {
    PlatSetLastError(kPlatErrInvalidParam);
    return nullptr;
  }
  return f;
}
}  // namespace

bool PlatGetFontDesc(PlatObj font, PlatFontDesc* desc) {
  auto f = ImplWithOut(font, desc);
  if (f) *desc = f->desc;
  return f != nullptr;
}

bool PlatGetFontMetrics(PlatObj font, PlatTextMetrics* tm) {
  auto f = ImplWithOut(font, tm);
  if (f) MetricsOf(*f, tm);
  return f != nullptr;
}

int32_t PlatGetCharAdvance(PlatObj font, uint8_t byte) {
  auto f = ImplOfHandle(font);
  return f ? f->advance[byte] : 0;
}

int32_t PlatEnumFonts(const char* face, int32_t length, PlatFontEnumProc proc, void* data) {
  char n[kPlatFaceNameSize];
  int32_t len = NameBytes(face, length, n), calls = 0;
  for (int32_t f = 0; f < kPlatFamilyCount; ++f) {
    if (len > 0 && !SameName(n, len, kFamilies[f])) continue;
    PlatFontDesc d{};
    d.weight = 400;
    PlatSetFaceName(&d, kFamilies[f], kPlatFaceNameSize);
    ++calls;
    if (!proc || !proc(d, data)) break;
  }
  return calls;
}

namespace {
void SystemFont(PlatFontDesc* desc) {
  *desc = PlatFontDesc{};
  desc->height = -11;
  desc->weight = 400;
  PlatSetFaceName(desc, kFamilies[kPlatFamilySansCondensed], kPlatFaceNameSize);
}
}  // namespace

void PlatGetIconTitleFont(PlatFontDesc* desc) { SystemFont(desc); }
void PlatGetMenuFont(PlatFontDesc* desc) { SystemFont(desc); }

bool PlatFontsAvailable() {
  Faces& g = *gFaces;
  std::lock_guard<std::mutex> lock(g.mx);
  if (!g.started) Start(g, nullptr);
  return g.dirOk;
}
