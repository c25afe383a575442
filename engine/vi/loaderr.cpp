#include "engine/vi/loaderr.h"

LoadErrorCode gQXLoadErrorCode = 0;
