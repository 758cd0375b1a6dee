// The one process-wide handle: written once by the shell, read below it.
#include "base/types.h"

HWND g_hwnd = nullptr;
