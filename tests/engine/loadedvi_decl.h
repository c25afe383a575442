// The loaded-VI list for tests that use the compiled-code header, which
// cannot share a unit with the VI instances' header.
#pragma once
#include "mgsource/extcode.h"

QX_EXTERN_C void InsertLoadedVI(UHandle vi);
QX_EXTERN_C Bool32 RemoveLoadedVI(UHandle vi);
