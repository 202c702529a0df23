// Code-page conversion: code pages 1252, 932 (Shift-JIS), 850 and UTF-8.
//
// The system's ANSI code page (GetACP, and CP_ACP wherever a code page is
// taken) is a setting of the platform: 1252 unless the environment variable
// QLPR_ANSI_CODE_PAGE names 932 or 850; any other value is ignored. The
// driver's single-byte texts (job names, text of TrueType fonts) are
// converted with it.
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
// with ERROR_INSUFFICIENT_BUFFER. Code pages CP_ACP, 1252, 932, 850 and
// CP_UTF8. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D of code page 1252 map to
// the same control characters U+0081 ... as on the platform. Code pages 932
// and 850 are those of the C library's converters: a byte or byte pair
// without a character becomes the code page's default character (U+30FB in
// 932), or fails with ERROR_NO_UNICODE_TRANSLATION under
// MB_ERR_INVALID_CHARS; a lead byte followed by a byte that cannot trail
// stands alone. Invalid UTF-8 becomes U+FFFD, or fails with
// ERROR_NO_UNICODE_TRANSLATION under MB_ERR_INVALID_CHARS. A null source, a
// source length of 0 or an unknown code page: ERROR_INVALID_PARAMETER.
QLPR_EXPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                                           int sourceLength, LPWSTR dest, int destLength);
// Characters without a code in the code page become the default character
// ('?' unless given) and set *usedDefault; there is no best-fit mapping
// beyond the few look-alikes the C library's 932 converter takes (U+00A2 ->
// 0x8191) (a surrogate pair is one character). For CP_UTF8, defaultChar and
// usedDefault must be null (else ERROR_INVALID_PARAMETER); an unpaired
// surrogate becomes U+FFFD, or fails with ERROR_NO_UNICODE_TRANSLATION
// under WC_ERR_INVALID_CHARS.
QLPR_EXPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                                           int sourceLength, LPSTR dest, int destLength,
                                           LPCSTR defaultChar, BOOL* usedDefault);
}
