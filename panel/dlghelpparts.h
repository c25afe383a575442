// The parts through which a described dialog item shows: the first of its
// parts 82 and 16 made transparent, and a hidden one of a Boolean taking the
// text its states share.
#pragma once
#include "mgsource/objheap.h"

QX_EXTERN_C void DlgHelpPartsTransparent(ObjHeap heap, int32 object);
