// The VI Info dialog: a VI's name, description, path, size on disk and
// memory use, shown and never written back.  User-interface thread only.
#pragma once
#include "mgsource/extcode.h"

// Runs the dialog as the transactions' VI action 56 (no heap): its answer.
QX_EXTERN_C int32 VIInfoCommand(UHandle vi, int32 reserved);
// Runs the dialog: 1 for OK, 0 for Cancel or the close box; flag 0 puts the
// keyboard focus into the description with its text selected.  -1 when
// the dialog cannot be loaded (reported).
QX_EXTERN_C int32 VIInfoDialog(UHandle vi, int32 flag);
// The dialog loaded and filled for the VI, not yet shown (null when it
// cannot be loaded, reported).
UHandle VIInfoLoad(UHandle vi, int32 flag);
// "%.1fK" of count / 1024 into text, count added to *total; a negative
// count gives "-" and adds nothing.
QX_EXTERN_C void FormatKBytes(int32 count, int32* total, PStr text);
// 2 when the VI's flags word has 0x2000; else, with the option that honours
// the VI's marks on, bit 13 of its marks (0 or 1); else 0.
QX_EXTERN_C int32 VIGetSetupFlag13(UHandle vi);
// The option VIGetSetupFlag13 reads (off unless set).
void SetVIMarksOptionHonoured(Bool32 on);
constexpr int32 kVIInfoAction = 56;
