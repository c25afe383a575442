// What the font table shares with the scaling and stored-reference code.
#pragma once
#include "mgsource/draw/fonts.h"
#include "platform/qx_font.h"

namespace fontsinternal {

extern UHandle gTable;
extern int32 gFcnt;
extern int32 gWidthOverride;
extern float32 gTTMultiplier;
extern float32 gBitmapMultiplier;

FontEntry* Entry(int32 i);
bool Valid(int32 font);
// The current application font (the table made first when there is none).
int32 AppFont();
void EnsureFonts();
// The screen's context, the context measuring uses (the current port's or
// the screen's) and the printer's (the screen's while none is open).
PlatObj ScreenDc();
PlatObj MeasureDc();
PlatObj PrinterDc();
bool EnumFontsProc(const PlatFontDesc& desc, void* data);
void ComputeWidths(int32 i);

// The fonts one stored object (a picture, a file's font table) may make
// anew: a font table's distinct fonts, a picture's font records.  Sharing a
// font that exists already is free.
constexpr int32 kMaxStoredObjectFonts = 256;
// While one lives, requests that would make a font anew past `most` are
// refused: they get the application font (with a reference) and font error
// 4, and are counted; `most` below 0 lifts the limit.  Limits nest: the
// previous one is back afterwards.
class NewFontLimit {
 public:
  explicit NewFontLimit(int32 most);
  ~NewFontLimit();
  NewFontLimit(const NewFontLimit&) = delete;
  NewFontLimit& operator=(const NewFontLimit&) = delete;
  int32 Refused() const;

 private:
  int32 saved_left_, saved_refused_;
};

}  // namespace fontsinternal
