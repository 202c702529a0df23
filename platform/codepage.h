// Code-page conversion. The ANSI code page of this platform is 1252: the
// driver's single-byte texts (job names, font names) are converted with it.
#pragma once

#include "platform/types.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
inline constexpr UINT CP_1252 = 1252;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

extern "C" {
QLPR_EXPORT UINT WINAPI GetACP();
// Whether the byte starts a two-byte character in the code page (CP_ACP is
// GetACP()). The double-byte code pages 932, 936, 949 and 950 have lead
// bytes; every other code page has none.
QLPR_EXPORT BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE testChar);
// The platform's conventions: a source length of -1 includes the terminating
// zero; an output size of 0 asks for the length needed; a short output fails
// with ERROR_INSUFFICIENT_BUFFER. Code pages CP_ACP, 1252 and CP_UTF8.
// Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D of code page 1252 map to the same
// control characters U+0081 ... as on the platform. Invalid UTF-8 becomes
// U+FFFD, or fails with ERROR_NO_UNICODE_TRANSLATION under
// MB_ERR_INVALID_CHARS. A null source, a source length of 0 or an unknown
// code page: ERROR_INVALID_PARAMETER.
QLPR_EXPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                                           int sourceLength, LPWSTR dest, int destLength);
// Characters without a code in the code page become the default character
// ('?' unless given) and set *usedDefault; there is no best-fit mapping
// (a surrogate pair is one character). For CP_UTF8, defaultChar and
// usedDefault must be null (else ERROR_INVALID_PARAMETER); an unpaired
// surrogate becomes U+FFFD, or fails with ERROR_NO_UNICODE_TRANSLATION
// under WC_ERR_INVALID_CHARS.
QLPR_EXPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                                           int sourceLength, LPSTR dest, int destLength,
                                           LPCSTR defaultChar, BOOL* usedDefault);
}
