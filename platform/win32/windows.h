// The device's <windows.h>: types, status numbers, kernel services and wide strings.
#pragma once

#include "winbase.h"
#include "winerror.h"
#include "wintypes.h"
#include "wstring.h"
