#include "panel/clipmenu.h"

void ShowClipboardWindow() {}

