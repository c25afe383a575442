// What the operate-mode methods of slides, knobs and colour ramps ask of
// their scales (the mouse mapped to the active slider's value is in
// controls/scaleobj.h): the scale of
// a slide with text labels fitted to its label count, and the sliders that
// colour the two sides of a two-coloured slide.  User-interface thread only.
#pragma once
#include "panel/objects.h"

// For a slide whose scale has text labels (flag 0x100000): the scale's
// range becomes 0 .. the label count less one (1 for one label or none).
// Then for any control its scale (part 17) is recounted and redrawn and the
// control sized again; 0x80 (0 for no object).
QX_EXTERN_C int32 ScaleFitToItemCount(ObjHeap heap, int32 slide);
// For a slide with flag 0x800000: the orders of the first fill (part 31)
// whose slider (part 23 of that order) fills with style 2 and of the first
// with style 1, exchanged on a reversed scale; -1 for none and for a slide
// without the flag.
QX_EXTERN_C void SlideColorChangeSliders(ObjHeap heap, int32 slide, int32* first, int32* second);

// Gives the slide methods of the panel these routines; called at start-up.
void ControlsInstallSlideOpsHooks();
