// The test stream driver's contract with device_test.cpp: prefix "TST", its control codes,
// and the counters it keeps (read through the export TST_StateForTesting).
#pragma once

#include "winioctl.h"

// Copies the input to the output; FALSE with ERROR_INSUFFICIENT_BUFFER when it does not fit.
#define IOCTL_TEST_ECHO CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)
// Input: one DWORD status. Returns FALSE with that status as the last error.
#define IOCTL_TEST_FAIL CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS)

struct TestDriverState {
  LONG inits, deinits, opens, closes;
  WCHAR init_path[128];  // the registry path of the last Init
  DWORD access, share;   // of the last Open
};

typedef TestDriverState* (*PFN_TEST_DRIVER_STATE)();
