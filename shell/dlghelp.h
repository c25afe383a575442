// The item descriptions of a dialog: its 'DHLP' resource, a big-endian
// count, then per entry a 32-bit length, the text and padding to a multiple
// of 4 bytes; entry N - 1 describes item N.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"

constexpr uInt32 kDialogHelpType = FourCC("DHLP");

// Hands take() the text of every item 1..itemCount whose entry exists and
// is not empty, in item order; take() answering non-zero stops the reading
// with that error.  The resource is checked whole first: a count or a
// length that runs past its bytes is reported and answers kArgErr with
// nothing taken.
typedef MgErr (*DlgHelpTake)(void* context, int32 item, const uChar* text, int32 length);
MgErr DlgReadHelpTexts(const uChar* bytes, int32 size, int32 itemCount, DlgHelpTake take, void* context);
