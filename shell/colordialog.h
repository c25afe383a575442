// The R, G, B dialog of the colour palette, run by the dialog manager.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

constexpr int32 kColorsDialogId = 1200;
// Items of the dialog: OK, Cancel, the three parts, the colour box, the
// caption.
enum : int32 { kColorsOK = 1, kColorsCancel, kColorsRed, kColorsGreen, kColorsBlue, kColorsBox, kColorsCaption };
// Shows the colour's parts (0-255 each) and the caption; 1 with *out the
// colour of the parts when confirmed, else 0 and *out unchanged.
QX_EXTERN_C int32 ShellColorDialog(ConstPStr caption, DColor colour, DColor* out);
