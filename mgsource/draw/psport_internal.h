// What the PostScript port's two source files share.
#pragma once
#include "mgsource/draw/psport.h"

// One line of output being built; what does not fit is dropped (no line
// the writer builds comes near the capacity).
class PSLine {
 public:
  PSLine& I(long v);                      // decimal integer
  PSLine& F(double v, int32 decimals);    // fixed decimals, decimal point
  PSLine& S(const char* s);
  PSLine& Raw(const char* s, int32 n);
  PSLine& C(char c) {
    if (n_ < kCap) b_[n_++] = c;
    return *this;
  }
  const char* Data() const { return b_; }
  int32 Size() const { return n_; }
  void Clear() { n_ = 0; }

 private:
  static constexpr int32 kCap = 1024;
  char b_[kCap];
  int32 n_ = 0;
};

// Appends bytes to the page's spool file.
void PSWriteBytes(const char* bytes, int32 n);
// Sets the job error (and the printer's job error word).
void PSSetJobError(MgErr err);
Bool32 PSWindowsNT();
// The colour's operands ("0 ", "1 " or three components), with their
// operator when asked.
void PSColour(PSLine& o, DColor c, bool withOperator);
// Writes the port's clip when it differs from the one last written.
void PSClipUpdate();
// Nothing of pen and clip is known to be in effect any more.
void PSForgetPenAndClip();
// The font last assigned is forgotten (a page starts).
void PSResetFontState();
// Slots 26 and 27.
int32 PSTextBox(const Rect* r, int32 flags, const uChar* text, int32 length, int32 font, DColor fore, DColor back,
                DColor bwFore, DColor bwBack);
int32 PSTextDraw(UHandle record);
// Slot 15 (text boxes paint their background with it).
int32 PSPaintRectSlot(const Rect* r);
// The prolog's page matrix ("concat" included) for the page written.
void PSPageMatrix(PSLine& o);
// Slots 24 and 25 (psimage.cpp).
int32 PSDrawImage(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                  DColor bwBack);
int32 PSDrawBits(const void* descriptor, const void* colourTable, const void* bits);
// The page being written: its depth, print record (null: none) and the
// printer's device context.
int32 PSPageDepth();
UHandle PSPageRecord();
PlatObj PSPrinterDc();
