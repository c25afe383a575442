#include "textoffset.h"

#include "mgsource/draw/fonts.h"
#include "platform/qx_codepage.h"

namespace {

bool DoubleByte(int32 font) {
  const FontEntry* e = TFontEntry(font);
  return e && (e->widthFlags & kFontNotAnsi);
}

}  // namespace

int32 TNextCharOffset(const uChar* text, int32 offset, int32 font) {
  if (!text || !DoubleByte(font)) return offset + 1;
  const char* p = reinterpret_cast<const char*>(text) + offset;
  const int32 step = int32(PlatCharNext(p) - p);
  return offset + (step < 1 ? 1 : step > 2 ? 2 : step);
}

int32 TPrevCharOffset(const uChar* text, int32 offset, int32 font) {
  if (offset <= 0) return 0;
  if (!text || !DoubleByte(font)) return offset - 1;
  const char* s = reinterpret_cast<const char*>(text);
  const int32 at = int32(PlatCharPrev(s, s + offset) - s);
  return at < offset - 2 ? offset - 2 : at >= offset ? offset - 1 : at;
}

int32 TStepCharOffset(const uChar* text, int32 length, int32 offset, int32 step, int32 font) {
  if (length < 0) length = 0;
  offset = offset < 0 ? 0 : offset > length ? length : offset;
  if (step < 0) return TPrevCharOffset(text, offset, font);
  if (step > 0 && offset < length) {
    if (offset + 1 >= length) return length;  // no byte past the text is read
    const int32 next = TNextCharOffset(text, offset, font);
    return next > length ? length : next;
  }
  return offset;
}

void TGetFontCharInfo(int32 font, int32* maxCharBytes, Bool32* singleByte) {
  const bool wide = DoubleByte(font);
  if (maxCharBytes) *maxCharBytes = wide ? 2 : 1;
  if (singleByte) *singleByte = wide ? 0 : 1;
}
