// The VI server's status line of the about box: empty until the server
// reports its connections.
#pragma once
#include "mgsource/extcode.h"

QX_EXTERN_C void SrvStatusText(PStr text);
