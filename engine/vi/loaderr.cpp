#include "engine/vi/loaderr.h"

int32 gQXLoadErrorCode = 0;
