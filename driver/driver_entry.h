// The driver's entry points: the three driver-level exports and the 27
// functions of the table it hands to the engine.
#pragma once

#include "host/winddi.h"

extern "C" {
QLPR_EXPORT BOOL DllMain(HINSTANCE module, DWORD reason, void* reserved);
QLPR_EXPORT BOOL DrvQueryDriverInfo(DWORD which, PVOID buffer, DWORD size, DWORD* needed);
QLPR_EXPORT BOOL DrvEnableDriver(ULONG engineVersion, ULONG size, DRVENABLEDATA* data);
QLPR_EXPORT void DrvDisableDriver();
}

// Device instance
DHPDEV DrvEnablePDEV(DEVMODEW* devmode, LPWSTR logAddress, ULONG patternCount, HSURF* patterns,
                     ULONG gdiInfoSize, ULONG* gdiInfo, ULONG devInfoSize, DEVINFO* devInfo,
                     HDEV hdev, LPWSTR deviceName, HANDLE printer);
void DrvCompletePDEV(DHPDEV pdev, HDEV hdev);
BOOL DrvResetPDEV(DHPDEV oldPdev, DHPDEV newPdev);
void DrvDisablePDEV(DHPDEV pdev);
ULONG DrvDitherColor(DHPDEV pdev, ULONG mode, ULONG rgb, ULONG* dither);

// Surface, banding and page pipeline
HSURF DrvEnableSurface(DHPDEV pdev);
void DrvDisableSurface(DHPDEV pdev);
BOOL DrvStartDoc(SURFOBJ* surface, LPWSTR documentName, DWORD jobId);
BOOL DrvStartPage(SURFOBJ* surface);
BOOL DrvStartBanding(SURFOBJ* surface, POINTL* origin);
BOOL DrvNextBand(SURFOBJ* surface, POINTL* origin);
BOOL DrvSendPage(SURFOBJ* surface);
BOOL DrvEndDoc(SURFOBJ* surface, FLONG flags);
ULONG DrvEscape(SURFOBJ* surface, ULONG escape, ULONG inputSize, PVOID input, ULONG outputSize,
                PVOID output);

// Drawing
BOOL DrvRealizeBrush(BRUSHOBJ* brush, SURFOBJ* target, SURFOBJ* pattern, SURFOBJ* mask,
                     XLATEOBJ* xlate, ULONG hatch);
BOOL DrvStretchBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* xlate,
                   COLORADJUSTMENT* colourAdjust, POINTL* halftoneOrigin, RECTL* destRect,
                   RECTL* sourceRect, POINTL* maskOrigin, ULONG mode);
BOOL DrvBitBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* xlate,
               RECTL* destRect, POINTL* sourceOrigin, POINTL* maskOrigin, BRUSHOBJ* brush,
               POINTL* brushOrigin, ROP4 rop4);
BOOL DrvTextOut(SURFOBJ* surface, STROBJ* string, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra,
                RECTL* opaqueRect, BRUSHOBJ* foreground, BRUSHOBJ* opaqueBrush, POINTL* origin,
                MIX mix);
BOOL DrvStrokePath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* xform,
                   BRUSHOBJ* brush, POINTL* brushOrigin, LINEATTRS* line, MIX mix);
BOOL DrvFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush,
                 POINTL* brushOrigin, MIX mix, FLONG options);
BOOL DrvStrokeAndFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* xform,
                          BRUSHOBJ* strokeBrush, LINEATTRS* line, BRUSHOBJ* fillBrush,
                          POINTL* brushOrigin, MIX fillMix, FLONG options);
BOOL DrvCopyBits(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate, RECTL* destRect,
                 POINTL* sourceOrigin);
BOOL DrvAlphaBlend(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                   RECTL* destRect, RECTL* sourceRect, BLENDOBJ* blend);
BOOL DrvQueryDeviceSupport(SURFOBJ* surface, XLATEOBJ* xlate, XFORMOBJ* xform, ULONG type,
                           ULONG inputSize, PVOID input, ULONG outputSize, PVOID output);

// Device fonts
IFIMETRICS* DrvQueryFont(DHPDEV pdev, ULONG_PTR file, ULONG face, ULONG_PTR* id);
PVOID DrvQueryFontTree(DHPDEV pdev, ULONG_PTR file, ULONG face, ULONG mode, ULONG_PTR* id);
LONG DrvQueryFontData(DHPDEV pdev, FONTOBJ* font, ULONG mode, HGLYPH glyph, GLYPHDATA* data,
                      PVOID buffer, ULONG size);
