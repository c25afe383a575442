#include "textoffset.h"

int32 TNextCharOffset(const uChar* /*text*/, int32 offset, int32 /*font*/) { return offset + 1; }
