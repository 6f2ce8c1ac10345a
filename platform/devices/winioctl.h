// Control codes of DeviceIoControl and the file functions that reach devices. Device code
// includes this header to talk to a stream driver ("VCU1:", "MSC0:", "SSP0:", ...).
//
// A control code packs four fields: device type in bits 16..31, required access in 14..15,
// function number in 2..13 and transfer method in 0..1. The host passes buffers to the driver
// as given whatever the method says; drivers must check sizes themselves.
#pragma once

#include "fileapi.h"

#define CTL_CODE(DeviceType, Function, Method, Access) \
  ((DWORD)(((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method)))
#define DEVICE_TYPE_FROM_CTL_CODE(code) (((DWORD)(code) & 0xffff0000u) >> 16)
#define METHOD_FROM_CTL_CODE(code) ((DWORD)(code) & 3u)

#define FILE_DEVICE_UNKNOWN 0x00000022
#define FILE_DEVICE_HAL 0x00000101

#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3

#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
