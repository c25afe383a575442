// Host port procedures whose drawing is not built yet: each reports one
// assertion failure and returns 0, so a caller sees the missing piece
// without anything being drawn wrongly.  While a picture is recorded a text
// box and a text record already become their records.
#include "mgsource/draw/hostslots.h"

#include "mgsource/debug.h"
#include "mgsource/draw/picture.h"

namespace {
int32 Pending(int32 line) { return DBAssert(__FILE__, line, "host drawing procedure not available"); }
}  // namespace

int32 HostTextBox(const Rect* r, int32 justification, const uChar* text, int32 length, int32 font, DColor fore,
                  DColor back, DColor bwFore, DColor bwBack) {
  if (gDrawState.recording) {
    if (length < 0 || (length && !text)) return DBAssert(__FILE__, __LINE__, "TBox: bad text");
    PictOpArgs a;
    a.rect = *r;
    a.a = justification;
    a.bytes = text;
    a.count = length;
    a.ref = uInt32(font);
    a.colours[0] = fore;
    a.colours[1] = back;
    a.colours[2] = bwFore;
    a.colours[3] = bwBack;
    DRecordPictOp(kPictOpTextBox, &a);
    return 0;
  }
  return Pending(__LINE__);
}
int32 HostTextDraw(UHandle record) {
  if (gDrawState.recording) {
    DRecordTextRecord(record);
    return 0;
  }
  return Pending(__LINE__);
}
