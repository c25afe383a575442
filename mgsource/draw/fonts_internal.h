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

}  // namespace fontsinternal
