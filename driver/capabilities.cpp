#include "driver/capabilities.h"

#include <cstring>
#include <numeric>

#include "driver/driver_log.h"
#include "platform/wide.h"

namespace {

constexpr FLONG kCapsMono = 0x10808430;
constexpr FLONG kCapsColour = 0x1C;
constexpr FLONG kCapsNoJournal = 0x2000;
constexpr DWORD kDitherType8x8 = 258;

// The colour description of a one-bit device.
constexpr COLORINFO kMonoColourInfo = {
    {6400, 3300, 0}, {3000, 6000, 0}, {1500, 600, 0}, {0, 0, 65534}, {0, 0, 0}, {0, 0, 0},
    {3457, 3585, 10000}, 9000, 9000, 9000, 1275, 185, 216, 105, 38, 121,
};

bool DepthIsKnown(WORD bits) { return bits == 1 || bits == 8 || bits == 24; }

void SetFont(LOGFONTW* font, LONG height, BYTE charSet, BYTE pitchAndFamily, const char16_t* face) {
    std::memset(font, 0, sizeof *font);
    font->lfHeight = height;
    font->lfWeight = 400;
    font->lfCharSet = charSet;
    font->lfPitchAndFamily = pitchAndFamily;
    platform::WideCopy(font->lfFaceName, 32, face);
}

}  // namespace

ULONG AspectXY(ULONG x, ULONG y) {
    unsigned long long c = x > y ? x : y;
    unsigned long long square = c * c;
    const unsigned long long target = 1ULL * x * x + 1ULL * y * y;
    while (square < target) {
        square += 2 * c + 1;
        ++c;
    }
    return static_cast<ULONG>(c);
}

bool FillGdiInfo(const DeviceInstance& instance, GDIINFO* info) {
    const PageGeometry& g = instance.geometry;
    if (!DepthIsKnown(g.bitsPerPixel)) return false;
    // The engine divides by the printable size in millimetres: a paper
    // without one (a custom size of 0, margins as wide as the paper) is refused.
    if (g.printableWidthMm10 < 10 || g.printableHeightMm10 < 10) {
        DriverLog(instance.module, &instance.printerData, instance.printer, kLogLevelOrdinary,
                  " ERROR:PrintableSize(%d,%d).\n", static_cast<int>(g.printableWidthMm10),
                  static_cast<int>(g.printableHeightMm10));
        return false;
    }
    const bool mono = g.bitsPerPixel == 1;
    const Devmode& dm = instance.devmode;
    std::memset(info, 0, sizeof *info);
    info->ulVersion = 0x400;
    info->ulTechnology = DT_RASPRINTER;
    info->ulHorzSize = static_cast<ULONG>(g.printableWidthMm10) / 10;
    info->ulVertSize = static_cast<ULONG>(g.printableHeightMm10) / 10;
    info->ulHorzRes = static_cast<ULONG>(g.horzRes);
    info->ulVertRes = static_cast<ULONG>(g.vertRes);
    info->cBitsPixel = mono ? 1 : 24;
    info->cPlanes = 1;
    info->ulNumColors = mono ? 2 : 256;
    info->flRaster = 0;
    info->ulLogPixelsX = static_cast<ULONG>(g.dpiX);
    info->ulLogPixelsY = static_cast<ULONG>(g.dpiY);
    info->flTextCaps = TC_RA_ABLE;
    info->ulAspectX = static_cast<ULONG>(g.dpiY);
    info->ulAspectY = static_cast<ULONG>(g.dpiX);
    info->ulAspectXY = AspectXY(info->ulAspectX, info->ulAspectY);
    const LONG x = g.dpiX, y = g.dpiY;
    if (x == y) {
        info->xStyleStep = 1;
        info->yStyleStep = 1;
        info->denStyleStep = x / 50 != 0 ? x / 50 : 1;
    } else {
        LONG divisor = std::gcd(x, y);
        if (divisor == 0) divisor = 1;
        info->xStyleStep = y / divisor;
        info->yStyleStep = x / divisor;
        info->denStyleStep = (x / divisor) * (y / divisor) / 2;
    }
    info->ptlPhysOffset = g.physOffset;
    info->szlPhysSize = g.physSize;
    info->ulNumPalReg = mono ? 2 : 0;
    info->ciDevice = mono ? kMonoColourInfo : instance.printerData.colourInfo;
    info->ulDevicePelsDPI = static_cast<ULONG>(static_cast<LONG>(dm.pub.dmPrintQuality));
    info->ulPrimaryOrder = PRIMARY_ORDER_CBA;
    info->ulHTPatternSize =
        mono ? (dm.pub.dmDitherType == kDitherType8x8 ? HT_PATSIZE_8x8 : HT_PATSIZE_4x4) : HT_PATSIZE_8x8;
    info->ulHTOutputFormat = mono ? 0 : HT_FORMAT_24BPP;
    info->flHTFlags = HT_FLAG_HAS_BLACK_DYE;
    info->ulPanningHorzRes = static_cast<ULONG>(g.dpiX);
    info->ulPanningVertRes = static_cast<ULONG>(g.dpiY);
    return true;
}

bool FillDevInfo(const DeviceInstance& instance, DEVINFO* info) {
    const PageGeometry& g = instance.geometry;
    if (!DepthIsKnown(g.bitsPerPixel)) return false;
    const bool mono = g.bitsPerPixel == 1;
    const Devmode& dm = instance.devmode;
    std::memset(info, 0, sizeof *info);
    info->flGraphicsCaps = mono ? kCapsMono : kCapsColour;
    if ((dm.priv.optionFlags & kOptionJournal) == 0 || (instance.printerData.flags & kFlagNoJournal) != 0)
        info->flGraphicsCaps |= kCapsNoJournal;
    // 11 points at the device resolution, rounded half up.
    const LONG height = -((static_cast<LONG>(dm.pub.dmPrintQuality) * 11 + 36) / 72);
    SetFont(&info->lfDefaultFont, height, 128, 0x31, u"System");
    SetFont(&info->lfAnsiVarFont, height, 0, 0x12, u"");
    SetFont(&info->lfAnsiFixFont, height, 0, 0x31, u"");
    info->cFonts = instance.deviceFontCount;
    info->iDitherFormat = mono ? BMF_1BPP : BMF_24BPP;
    const bool pattern8x8 = dm.pub.dmDitherType == kDitherType8x8;
    info->cxDither = mono ? (pattern8x8 ? 4 : 8) : 0;
    info->cyDither = info->cxDither;
    info->hpalDefault = instance.palette.hpal;
    info->flGraphicsCaps2 = 0;
    return true;
}

void LogGdiInfo(const DeviceInstance& instance, const GDIINFO& i) {
    const auto line = [&](const char* format, auto... values) {
        DriverLog(instance.module, &instance.printerData, instance.printer, kLogLevelDetail, format,
                  values...);
    };
    line("[GDIINFO]\n");
    line("ulVersion:       0x%x\n", i.ulVersion);
    line("ulTechnology:    0x%x\n", i.ulTechnology);
    line("ulHorzSize:      %d\n", i.ulHorzSize);
    line("ulVertSize:      %d\n", i.ulVertSize);
    line("ulHorzRes:       %d\n", i.ulHorzRes);
    line("ulVertRes:       %d\n", i.ulVertRes);
    line("cBitsPixel:      %d\n", i.cBitsPixel);
    line("cPlanes:         %d\n", i.cPlanes);
    line("ulNumColors:     %d\n", i.ulNumColors);
    line("flRaster:        0x%x\n", i.flRaster);
    line("ulLogPixelsX:    %d\n", i.ulLogPixelsX);
    line("ulLogPixelsY:    %d\n", i.ulLogPixelsY);
    line("flTextCaps:      0x%x\n", i.flTextCaps);
    line("ulAspectX:       %d\n", i.ulAspectX);
    line("ulAspectY:       %d\n", i.ulAspectY);
    line("ulAspectXY:      %d\n", i.ulAspectXY);
    line("xStyleStep:      %d\n", i.xStyleStep);
    line("yStyleStep:      %d\n", i.yStyleStep);
    line("denStyleStep:    %d\n", i.denStyleStep);
    line("ptlPhysOffset:   [%d,%d]\n", i.ptlPhysOffset.x, i.ptlPhysOffset.y);
    line("szlPhysSize:     [%d,%d]\n", i.szlPhysSize.cx, i.szlPhysSize.cy);
    line("ulNumPalReg:     %d\n", i.ulNumPalReg);
    line("ulDevicePelsDPI: %d\n", i.ulDevicePelsDPI);
    line("ulPrimaryOrder:  %d\n", i.ulPrimaryOrder);
    line("ulHTPatternSize: %d\n", i.ulHTPatternSize);
    line("ulHTOutputFormat:%d\n", i.ulHTOutputFormat);
    line("flHTFlags:       0x%x\n", i.flHTFlags);
}
