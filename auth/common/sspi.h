// Security-support records shared by the NTLM service and its provider library: the status
// type and values, and the buffer descriptors that message and token calls take.
//
// Plain records; whoever fills one owns it. The layouts are the device's, so they cross the
// call buffer between the two libraries unchanged.
#pragma once

#include "windows.h"

typedef LONG SECURITY_STATUS;

// Status values (0 is success).
#define SEC_E_OK ((SECURITY_STATUS)0x00000000L)
#define SEC_I_CONTINUE_NEEDED ((SECURITY_STATUS)0x00090312L)
#define SEC_E_INSUFFICIENT_MEMORY ((SECURITY_STATUS)0x80090300L)
#define SEC_E_INVALID_HANDLE ((SECURITY_STATUS)0x80090301L)
#define SEC_E_UNSUPPORTED_FUNCTION ((SECURITY_STATUS)0x80090302L)
#define SEC_E_TARGET_UNKNOWN ((SECURITY_STATUS)0x80090303L)
#define SEC_E_INTERNAL_ERROR ((SECURITY_STATUS)0x80090304L)
#define SEC_E_SECPKG_NOT_FOUND ((SECURITY_STATUS)0x80090305L)
#define SEC_E_INVALID_TOKEN ((SECURITY_STATUS)0x80090308L)
#define SEC_E_LOGON_DENIED ((SECURITY_STATUS)0x8009030CL)
#define SEC_E_UNKNOWN_CREDENTIALS ((SECURITY_STATUS)0x8009030DL)
#define SEC_E_NO_CREDENTIALS ((SECURITY_STATUS)0x8009030EL)
#define SEC_E_MESSAGE_ALTERED ((SECURITY_STATUS)0x8009030FL)
#define SEC_E_OUT_OF_SEQUENCE ((SECURITY_STATUS)0x80090310L)
#define SEC_E_NO_AUTHENTICATING_AUTHORITY ((SECURITY_STATUS)0x80090311L)
#define SEC_E_BUFFER_TOO_SMALL ((SECURITY_STATUS)0x80090321L)

// A buffer of a security call. The low byte of BufferType names the kind; the top bits are
// attributes (SECBUFFER_READONLY: the callee must not write the bytes).
typedef struct _SecBuffer {
  ULONG cbBuffer;   // length of pvBuffer in bytes
  ULONG BufferType;
  PVOID pvBuffer;   // borrowed from the caller for the call
} SecBuffer, *PSecBuffer;

typedef struct _SecBufferDesc {
  ULONG ulVersion;  // SECBUFFER_VERSION
  ULONG cBuffers;
  PSecBuffer pBuffers;  // cBuffers records, borrowed from the caller for the call
} SecBufferDesc, *PSecBufferDesc;

#define SECBUFFER_VERSION 0
#define SECBUFFER_EMPTY 0
#define SECBUFFER_DATA 1
#define SECBUFFER_TOKEN 2
#define SECBUFFER_STREAM 10
#define SECBUFFER_READONLY 0x80000000u
#define SECBUFFER_ATTRMASK 0xF0000000u
