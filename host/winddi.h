// The graphics engine's driver interface: the records a printer graphics
// driver and the engine exchange, and the driver's entry point types.
// Records that pass between the two keep their 32-bit Windows layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/devmode.h"
#include "platform/types.h"

struct HDEV__;
using HDEV = HDEV__*;
struct DHPDEV__;
using DHPDEV = DHPDEV__*;
using HGLYPH = ULONG;
using PFN = void (*)();
using ROP4 = ULONG;
using MIX = ULONG;

// Engine objects the drawing entries receive.
struct SURFOBJ;
struct CLIPOBJ;
struct XLATEOBJ;
struct BRUSHOBJ;
struct STROBJ;
struct FONTOBJ;
struct PATHOBJ;
struct XFORMOBJ;
struct LINEATTRS;
struct BLENDOBJ;
struct COLORADJUSTMENT;
struct GLYPHDATA;

// ---- capability records -------------------------------------------------

struct CIECHROMA {
    LDECI4 x;
    LDECI4 y;
    LDECI4 Y;
};
struct COLORINFO {
    CIECHROMA Red;
    CIECHROMA Green;
    CIECHROMA Blue;
    CIECHROMA Cyan;
    CIECHROMA Magenta;
    CIECHROMA Yellow;
    CIECHROMA AlignmentWhite;
    LDECI4 RedGamma;
    LDECI4 GreenGamma;
    LDECI4 BlueGamma;
    LDECI4 MagentaInCyanDye;
    LDECI4 YellowInCyanDye;
    LDECI4 CyanInMagentaDye;
    LDECI4 YellowInMagentaDye;
    LDECI4 CyanInYellowDye;
    LDECI4 MagentaInYellowDye;
};
static_assert(sizeof(COLORINFO) == 120);

struct GDIINFO {
    ULONG ulVersion;
    ULONG ulTechnology;
    ULONG ulHorzSize;
    ULONG ulVertSize;
    ULONG ulHorzRes;
    ULONG ulVertRes;
    ULONG cBitsPixel;
    ULONG cPlanes;
    ULONG ulNumColors;
    ULONG flRaster;
    ULONG ulLogPixelsX;
    ULONG ulLogPixelsY;
    ULONG flTextCaps;
    ULONG ulDACRed;
    ULONG ulDACGreen;
    ULONG ulDACBlue;
    ULONG ulAspectX;
    ULONG ulAspectY;
    ULONG ulAspectXY;
    LONG xStyleStep;
    LONG yStyleStep;
    LONG denStyleStep;
    POINTL ptlPhysOffset;
    SIZEL szlPhysSize;
    ULONG ulNumPalReg;
    COLORINFO ciDevice;
    ULONG ulDevicePelsDPI;
    ULONG ulPrimaryOrder;
    ULONG ulHTPatternSize;
    ULONG ulHTOutputFormat;
    ULONG flHTFlags;
    ULONG ulVRefresh;
    ULONG ulBltAlignment;
    ULONG ulPanningHorzRes;
    ULONG ulPanningVertRes;
    ULONG xPanningAlignment;
    ULONG yPanningAlignment;
    ULONG cxHTPat;
    ULONG cyHTPat;
    std::uint32_t pHTPatA;  // pattern pointers of 32-bit layouts; never used here
    std::uint32_t pHTPatB;
    std::uint32_t pHTPatC;
    ULONG flShadeBlend;
    ULONG ulPhysicalPixelCharacteristics;
    ULONG ulPhysicalPixelGamma;
};
static_assert(sizeof(GDIINFO) == 304);
static_assert(offsetof(GDIINFO, ptlPhysOffset) == 88);
static_assert(offsetof(GDIINFO, ciDevice) == 108);
static_assert(offsetof(GDIINFO, ulDevicePelsDPI) == 228);
static_assert(offsetof(GDIINFO, ulPanningHorzRes) == 256);

struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[32];
};
static_assert(sizeof(LOGFONTW) == 92);

struct DEVINFO {
    FLONG flGraphicsCaps;
    LOGFONTW lfDefaultFont;
    LOGFONTW lfAnsiVarFont;
    LOGFONTW lfAnsiFixFont;
    ULONG cFonts;
    ULONG iDitherFormat;
    USHORT cxDither;
    USHORT cyDither;
    HPALETTE hpalDefault;
    FLONG flGraphicsCaps2;
};
static_assert(sizeof(DEVINFO) == 300);
static_assert(offsetof(DEVINFO, cFonts) == 280);
static_assert(offsetof(DEVINFO, hpalDefault) == 292);

inline constexpr ULONG GDI_DRIVER_VERSION = 0x4000;
inline constexpr ULONG DT_RASPRINTER = 2;
inline constexpr ULONG TC_RA_ABLE = 0x2000;
inline constexpr ULONG HT_PATSIZE_4x4 = 2;
inline constexpr ULONG HT_PATSIZE_8x8 = 6;
inline constexpr ULONG HT_FORMAT_24BPP = 6;
inline constexpr ULONG HT_FLAG_HAS_BLACK_DYE = 2;
inline constexpr ULONG PRIMARY_ORDER_CBA = 4;
inline constexpr ULONG BMF_1BPP = 1;
inline constexpr ULONG BMF_4BPP = 2;
inline constexpr ULONG BMF_8BPP = 3;
inline constexpr ULONG BMF_16BPP = 4;
inline constexpr ULONG BMF_24BPP = 5;
inline constexpr ULONG BMF_32BPP = 6;
inline constexpr ULONG BMF_4RLE = 7;
inline constexpr ULONG BMF_8RLE = 8;
inline constexpr ULONG BMF_JPEG = 9;
inline constexpr ULONG BMF_PNG = 10;
// Bits per pixel of a BMF_ bitmap format; 0 for the run-length and
// compressed formats and anything else.
inline constexpr ULONG BitsPerPixel(ULONG format) {
    switch (format) {
        case BMF_1BPP:
            return 1;
        case BMF_4BPP:
            return 4;
        case BMF_8BPP:
            return 8;
        case BMF_16BPP:
            return 16;
        case BMF_24BPP:
            return 24;
        case BMF_32BPP:
            return 32;
        default:
            return 0;
    }
}
inline constexpr ULONG DCR_SOLID = 0;
inline constexpr ULONG DCR_DRIVER = 1;
inline constexpr ULONG DCR_HALFTONE = 2;

// ---- surfaces ---------------------------------------------------------------

struct DHSURF__;
using DHSURF = DHSURF__*;

// What the engine tells a driver about a surface. pvScan0 is the first scan
// line; lDelta the bytes from one line to the next (negative bottom-up).
struct SURFOBJ {
    DHSURF dhsurf;
    HSURF hsurf;
    DHPDEV dhpdev;
    HDEV hdev;
    SIZEL sizlBitmap;
    ULONG cjBits;
    PVOID pvBits;
    PVOID pvScan0;
    LONG lDelta;
    ULONG iUniq;
    ULONG iBitmapFormat;
    USHORT iType;
    USHORT fjBitmap;
};

inline constexpr USHORT STYPE_BITMAP = 0;
inline constexpr USHORT STYPE_DEVICE = 1;
inline constexpr USHORT STYPE_DEVBITMAP = 3;

// EngCreateBitmap flags
inline constexpr FLONG BMF_TOPDOWN = 0x0001;
inline constexpr FLONG BMF_NOZEROINIT = 0x0002;
inline constexpr FLONG BMF_DONTCACHE = 0x0004;
inline constexpr FLONG BMF_USERMEM = 0x0008;

// Hooks of EngAssociateSurface
inline constexpr FLONG HOOK_BITBLT = 0x00000001;
inline constexpr FLONG HOOK_STRETCHBLT = 0x00000002;
inline constexpr FLONG HOOK_PLGBLT = 0x00000004;
inline constexpr FLONG HOOK_TEXTOUT = 0x00000008;
inline constexpr FLONG HOOK_PAINT = 0x00000010;
inline constexpr FLONG HOOK_STROKEPATH = 0x00000020;
inline constexpr FLONG HOOK_FILLPATH = 0x00000040;
inline constexpr FLONG HOOK_STROKEANDFILLPATH = 0x00000080;
inline constexpr FLONG HOOK_LINETO = 0x00000100;
inline constexpr FLONG HOOK_COPYBITS = 0x00000400;
inline constexpr FLONG HOOK_ALPHABLEND = 0x00010000;

// Stretching modes
inline constexpr ULONG BLACKONWHITE = 1;
inline constexpr ULONG WHITEONBLACK = 2;
inline constexpr ULONG COLORONCOLOR = 3;
inline constexpr ULONG HALFTONE = 4;

// Escapes
inline constexpr ULONG QUERYESCSUPPORT = 8;
inline constexpr ULONG SETCOPYCOUNT = 17;

// ---- engine objects of the drawing calls -----------------------------------

// Clip regions. iDComplexity tells how to read the clip: DC_TRIVIAL (no
// clipping needed), DC_RECT (rclBounds is the clip), DC_COMPLEX (enumerate).
struct CLIPOBJ {
    ULONG iUniq;
    RECTL rclBounds;
    BYTE iDComplexity;
    BYTE iFComplexity;
    BYTE iMode;
    BYTE fjOptions;
};
inline constexpr BYTE DC_TRIVIAL = 0;
inline constexpr BYTE DC_RECT = 1;
inline constexpr BYTE DC_COMPLEX = 3;
inline constexpr BYTE FC_RECT = 1;
inline constexpr BYTE FC_RECT4 = 2;
inline constexpr BYTE FC_COMPLEX = 3;
inline constexpr BYTE TC_RECTANGLES = 4;
inline constexpr ULONG CT_RECTANGLES = 0;
inline constexpr ULONG CD_ANY = 4;
inline constexpr ULONG CD_RIGHTDOWN = 0;

// What CLIPOBJ_bEnum fills: a count and as many rectangles as the caller's
// buffer holds (the record is declared with one; callers pass larger ones).
struct ENUMRECTS {
    ULONG c;
    RECTL arcl[1];
};

// Colour translation from a source surface's colours to the target's.
// flXlate: XO_TRIVIAL (indices pass unchanged), XO_TABLE (pulXlate holds
// cEntries target colours, one per source index).
struct XLATEOBJ {
    ULONG iUniq;
    FLONG flXlate;
    USHORT iSrcType;
    USHORT iDstType;
    ULONG cEntries;
    ULONG* pulXlate;
};
inline constexpr FLONG XO_TRIVIAL = 0x1;
inline constexpr FLONG XO_TABLE = 0x2;
inline constexpr FLONG XO_TO_MONO = 0x4;

// A brush: a solid colour (0x00BBGGRR), or 0xFFFFFFFF with the driver's
// realization reached through BRUSHOBJ_pvGetRbrush.
struct BRUSHOBJ {
    ULONG iSolidColor;
    PVOID pvRbrush;
    FLONG flColorType;
};
inline constexpr ULONG kPatternBrush = 0xFFFFFFFF;

// Paths: points in 28.4 fixed point (FIX, 1/16 of a pixel). PATHOBJ_bEnum
// hands out one subpath record at a time: its flags (PD_BEGINSUBPATH on the
// first record of a figure, PD_ENDSUBPATH on its last, PD_CLOSEFIGURE when
// the figure is closed), its point count and its points.
using FIX = LONG;
struct POINTFIX {
    FIX x;
    FIX y;
};
struct RECTFX {
    FIX xLeft;
    FIX yTop;
    FIX xRight;
    FIX yBottom;
};
struct PATHOBJ {
    FLONG fl;
    ULONG cCurves;
};
struct PATHDATA {
    FLONG flags;
    ULONG count;
    POINTFIX* pptfx;
};
inline constexpr FLONG PD_BEGINSUBPATH = 0x1;
inline constexpr FLONG PD_ENDSUBPATH = 0x2;
inline constexpr FLONG PD_RESETSTYLE = 0x4;
inline constexpr FLONG PD_CLOSEFIGURE = 0x8;
inline constexpr FLONG PD_BEZIERS = 0x10;

// Fill options of the path entries: the winding rule, else even-odd.
inline constexpr FLONG FP_ALTERNATEMODE = 0x1;
inline constexpr FLONG FP_WINDINGMODE = 0x2;

// A stroke's pen: cosmetic (one pixel wide) unless LA_GEOMETRIC; styled by
// pstyle (cstyle dash lengths, in pixels for cosmetic pens) when given, or
// LA_ALTERNATE (every other pixel).
union FLOAT_LONG {
    float e;  // geometric pens: width and dash lengths in device units
    LONG l;   // cosmetic pens
};
struct LINEATTRS {
    FLONG fl;
    ULONG iJoin;
    ULONG iEndCap;
    FLOAT_LONG elWidth;
    float eMiterLimit;
    ULONG cstyle;
    FLOAT_LONG* pstyle;
    FLOAT_LONG elStyleState;
};
inline constexpr FLONG LA_GEOMETRIC = 0x1;
inline constexpr FLONG LA_ALTERNATE = 0x2;
inline constexpr FLONG LA_STARTGAP = 0x4;
inline constexpr FLONG LA_STYLED = 0x8;
inline constexpr ULONG JOIN_ROUND = 0;
inline constexpr ULONG JOIN_BEVEL = 1;
inline constexpr ULONG JOIN_MITER = 2;
inline constexpr ULONG ENDCAP_ROUND = 0;
inline constexpr ULONG ENDCAP_SQUARE = 1;
inline constexpr ULONG ENDCAP_BUTT = 2;

// ---- text -------------------------------------------------------------------

// Transforms: a 2x2 matrix and an offset, applied as x' = x*eM11 + y*eM21 + eDx,
// y' = x*eM12 + y*eM22 + eDy. A font's transform maps its notional (em)
// space to device pixels; it has no offset.
using FLOATL = float;
struct XFORML {
    FLOATL eM11;
    FLOATL eM12;
    FLOATL eM21;
    FLOATL eM22;
    FLOATL eDx;
    FLOATL eDy;
};
struct XFORMOBJ {
    ULONG ulReserved;
};
// XFORMOBJ_iGetXform's kinds
inline constexpr ULONG GX_IDENTITY = 0;
inline constexpr ULONG GX_OFFSET = 1;
inline constexpr ULONG GX_SCALE = 2;
inline constexpr ULONG GX_GENERAL = 3;
// XFORMOBJ_bApplyXform's modes: POINTL to POINTL, its inverse, POINTL to
// POINTFIX, POINTFIX to POINTL through the inverse.
inline constexpr ULONG XF_LTOL = 0;
inline constexpr ULONG XF_INV_LTOL = 1;
inline constexpr ULONG XF_LTOFX = 2;
inline constexpr ULONG XF_INV_FXTOL = 3;

struct FD_XFORM {
    FLOATL eXX;
    FLOATL eXY;
    FLOATL eYX;
    FLOATL eYY;
};
struct POINTE {
    FLOATL x;
    FLOATL y;
};
struct POINTQF {
    std::int64_t x;
    std::int64_t y;
};

// A glyph's image: 1 bit per pixel, rows of (cx + 7) / 8 bytes, most
// significant bit leftmost; ptlOrigin is the image's top left relative to
// the glyph's position (its baseline origin).
struct GLYPHBITS {
    POINTL ptlOrigin;
    SIZEL sizlBitmap;
    BYTE aj[1];
};
union GLYPHDEF {
    GLYPHBITS* pgb;
    PATHOBJ* ppo;
};
// One glyph of a string: its handle, its image or path once asked for, and
// the position of its baseline origin in device coordinates.
struct GLYPHPOS {
    HGLYPH hg;
    GLYPHDEF* pgdf;
    POINTL ptl;
};
struct GLYPHDATA {
    GLYPHDEF gdf;
    HGLYPH hg;
    FIX fxD;
    FIX fxA;
    FIX fxAB;
    FIX fxInkTop;
    FIX fxInkBottom;
    RECTL rclInk;
    POINTQF ptqD;
};

// A string: cGlyphs glyphs, the background rectangle of its cells, and its
// Unicode text (pwszOrg, one character per glyph). pgp is null when the
// glyphs come in runs through STROBJ_bEnum.
struct STROBJ {
    ULONG cGlyphs;
    FLONG flAccel;
    ULONG ulCharInc;
    RECTL rclBkGround;
    GLYPHPOS* pgp;
    LPWSTR pwszOrg;
};
inline constexpr FLONG SO_FLAG_DEFAULT_PLACEMENT = 0x1;
inline constexpr FLONG SO_HORIZONTAL = 0x2;
inline constexpr FLONG SO_VERTICAL = 0x4;
inline constexpr FLONG SO_REVERSED = 0x8;

// A realized font: iFace is the face index of a device font (1-based), or
// the engine's own for others.
struct FONTOBJ {
    ULONG iUniq;
    ULONG iFace;
    ULONG cxMax;
    FLONG flFontType;
    ULONG_PTR iTTUniq;
    ULONG_PTR iFile;
    SIZEL sizLogResPpi;
    ULONG ulStyleSize;
    PVOID pvConsumer;
    PVOID pvProducer;
};
inline constexpr FLONG FO_TYPE_RASTER = 0x1;
inline constexpr FLONG FO_TYPE_DEVICE = 0x2;
inline constexpr FLONG FO_TYPE_TRUETYPE = 0x4;
inline constexpr FLONG FO_TYPE_OPENTYPE = 0x8;
inline constexpr FLONG FO_SIM_BOLD = 0x2000;
inline constexpr FLONG FO_SIM_ITALIC = 0x4000;
inline constexpr FLONG FO_EM_HEIGHT = 0x8000;
// FONTOBJ_cGetGlyphs's modes
inline constexpr ULONG FO_GLYPHBITS = 1;
inline constexpr ULONG FO_PATHOBJ = 2;

// DrvQueryFontTree's and DrvQueryFontData's modes
inline constexpr ULONG QFT_LIGATURES = 1;
inline constexpr ULONG QFT_KERNPAIRS = 2;
inline constexpr ULONG QFT_GLYPHSET = 3;
inline constexpr ULONG QFD_GLYPHANDBITMAP = 1;
inline constexpr ULONG QFD_GLYPHANDOUTLINE = 2;
inline constexpr ULONG QFD_MAXEXTENTS = 3;

// What DrvQueryFontData's mode 3 fills: 124 bytes with 32-bit pointers and
// here, as it holds none.
struct FD_DEVICEMETRICS {
    FLONG flRealizedType;
    POINTE pteBase;
    POINTE pteSide;
    LONG lD;
    FIX fxMaxAscender;
    FIX fxMaxDescender;
    POINTL ptlUnderline1;
    POINTL ptlStrikeOut;
    POINTL ptlULThickness;
    POINTL ptlSOThickness;
    ULONG cxMax;
    ULONG cyMax;
    ULONG cjGlyphMax;
    FD_XFORM fdxQuantized;
    LONG lNonLinearExtLeading;
    LONG lNonLinearIntLeading;
    LONG lNonLinearMaxCharWidth;
    LONG lNonLinearAvgCharWidth;
    LONG lMinA;
    LONG lMinC;
    LONG lMinD;
    LONG alReserved[1];
};
static_assert(sizeof(FD_DEVICEMETRICS) == 124);

// Alpha blending: operation AC_SRC_OVER, flags, constant alpha, and
// AC_SRC_ALPHA in AlphaFormat for per-pixel alpha.
struct BLENDFUNCTION {
    BYTE BlendOp;
    BYTE BlendFlags;
    BYTE SourceConstantAlpha;
    BYTE AlphaFormat;
};
inline constexpr BYTE AC_SRC_OVER = 0;
inline constexpr BYTE AC_SRC_ALPHA = 1;
struct BLENDOBJ {
    BLENDFUNCTION BlendFunction;
};

struct COLORADJUSTMENT {
    WORD caSize;
    WORD caFlags;
    WORD caIlluminantIndex;
    WORD caRedGamma;
    WORD caGreenGamma;
    WORD caBlueGamma;
    WORD caReferenceBlack;
    WORD caReferenceWhite;
    SHORT caContrast;
    SHORT caBrightness;
    SHORT caColorfulness;
    SHORT caRedGreenTint;
};
static_assert(sizeof(COLORADJUSTMENT) == 24);

// ---- palettes -------------------------------------------------------------

inline constexpr ULONG PAL_INDEXED = 0x1;
inline constexpr ULONG PAL_BITFIELDS = 0x2;
inline constexpr ULONG PAL_RGB = 0x4;
inline constexpr ULONG PAL_BGR = 0x8;

// ---- glyph sets -------------------------------------------------------------

struct WCRUN {
    WCHAR wcLow;
    USHORT cGlyphs;
    HGLYPH* phg;
};
struct FD_GLYPHSET {
    ULONG cjThis;
    FLONG flAccel;
    ULONG cGlyphsSupported;
    ULONG cRuns;
    WCRUN awcrun[1];
};

// ---- device fonts -----------------------------------------------------------

struct PANOSE {
    BYTE bFamilyType;
    BYTE bSerifStyle;
    BYTE bWeight;
    BYTE bProportion;
    BYTE bContrast;
    BYTE bStrokeVariation;
    BYTE bArmStyle;
    BYTE bLetterform;
    BYTE bMidline;
    BYTE bXHeight;
};

// Name fields (dpwsz...) are offsets from the start of the record.
struct IFIMETRICS {
    ULONG cjThis;
    ULONG cjIfiExtra;
    PTRDIFF dpwszFamilyName;
    PTRDIFF dpwszStyleName;
    PTRDIFF dpwszFaceName;
    PTRDIFF dpwszUniqueName;
    PTRDIFF dpFontSim;
    LONG lEmbedId;
    LONG lItalicAngle;
    LONG lCharBias;
    PTRDIFF dpCharSets;
    BYTE jWinCharSet;
    BYTE jWinPitchAndFamily;
    USHORT usWinWeight;
    ULONG flInfo;
    USHORT fsSelection;
    USHORT fsType;
    FWORD fwdUnitsPerEm;
    FWORD fwdLowestPPEm;
    FWORD fwdWinAscender;
    FWORD fwdWinDescender;
    FWORD fwdMacAscender;
    FWORD fwdMacDescender;
    FWORD fwdMacLineGap;
    FWORD fwdTypoAscender;
    FWORD fwdTypoDescender;
    FWORD fwdTypoLineGap;
    FWORD fwdAveCharWidth;
    FWORD fwdMaxCharInc;
    FWORD fwdCapHeight;
    FWORD fwdXHeight;
    FWORD fwdSubscriptXSize;
    FWORD fwdSubscriptYSize;
    FWORD fwdSubscriptXOffset;
    FWORD fwdSubscriptYOffset;
    FWORD fwdSuperscriptXSize;
    FWORD fwdSuperscriptYSize;
    FWORD fwdSuperscriptXOffset;
    FWORD fwdSuperscriptYOffset;
    FWORD fwdUnderscoreSize;
    FWORD fwdUnderscorePosition;
    FWORD fwdStrikeoutSize;
    FWORD fwdStrikeoutPosition;
    BYTE chFirstChar;
    BYTE chLastChar;
    BYTE chDefaultChar;
    BYTE chBreakChar;
    WCHAR wcFirstChar;
    WCHAR wcLastChar;
    WCHAR wcDefaultChar;
    WCHAR wcBreakChar;
    POINTL ptlBaseline;
    POINTL ptlAspect;
    POINTL ptlCaret;
    RECTL rclFontBox;
    BYTE achVendId[4];
    ULONG cKerningPairs;
    ULONG ulPanoseCulture;
    PANOSE panose;
};
static_assert(sizeof(IFIMETRICS) == 184);
static_assert(offsetof(IFIMETRICS, flInfo) == 48);
static_assert(offsetof(IFIMETRICS, chFirstChar) == 108);
static_assert(offsetof(IFIMETRICS, rclFontBox) == 144);
static_assert(offsetof(IFIMETRICS, panose) == 172);

// ---- driver entry ---------------------------------------------------------

struct DRVFN {
    ULONG iFunc;
    PFN pfn;
};

// On 32-bit systems this record is 12 bytes; here it is sizeof(DRVENABLEDATA).
struct DRVENABLEDATA {
    ULONG iDriverVersion;
    ULONG c;
    DRVFN* pdrvfn;
};

inline constexpr ULONG DDI_DRIVER_VERSION_NT5 = 0x20000;
inline constexpr ULONG DRVQUERY_USERMODE = 1;

// Engine function indexes of the entries this system provides.
enum : ULONG {
    INDEX_DrvEnablePDEV = 0,
    INDEX_DrvCompletePDEV = 1,
    INDEX_DrvDisablePDEV = 2,
    INDEX_DrvEnableSurface = 3,
    INDEX_DrvDisableSurface = 4,
    INDEX_DrvResetPDEV = 7,
    INDEX_DrvRealizeBrush = 12,
    INDEX_DrvDitherColor = 13,
    INDEX_DrvStrokePath = 14,
    INDEX_DrvFillPath = 15,
    INDEX_DrvStrokeAndFillPath = 16,
    INDEX_DrvBitBlt = 18,
    INDEX_DrvCopyBits = 19,
    INDEX_DrvStretchBlt = 20,
    INDEX_DrvTextOut = 23,
    INDEX_DrvEscape = 24,
    INDEX_DrvQueryFont = 26,
    INDEX_DrvQueryFontTree = 27,
    INDEX_DrvQueryFontData = 28,
    INDEX_DrvSendPage = 32,
    INDEX_DrvStartPage = 33,
    INDEX_DrvEndDoc = 34,
    INDEX_DrvStartDoc = 35,
    INDEX_DrvStartBanding = 57,
    INDEX_DrvNextBand = 58,
    INDEX_DrvAlphaBlend = 71,
    INDEX_DrvQueryDeviceSupport = 76,
};

using PFN_DrvQueryDriverInfo = BOOL (*)(DWORD which, PVOID buffer, DWORD size, DWORD* needed);
using PFN_DrvEnableDriver = BOOL (*)(ULONG engineVersion, ULONG size, DRVENABLEDATA* data);
using PFN_DrvDisableDriver = void (*)();
using PFN_DrvEnablePDEV = DHPDEV (*)(DEVMODEW* devmode, LPWSTR logAddress, ULONG patternCount,
                                     HSURF* patterns, ULONG gdiInfoSize, ULONG* gdiInfo,
                                     ULONG devInfoSize, DEVINFO* devInfo, HDEV hdev,
                                     LPWSTR deviceName, HANDLE printer);
using PFN_DrvCompletePDEV = void (*)(DHPDEV pdev, HDEV hdev);
using PFN_DrvResetPDEV = BOOL (*)(DHPDEV oldPdev, DHPDEV newPdev);
using PFN_DrvDisablePDEV = void (*)(DHPDEV pdev);
using PFN_DrvDitherColor = ULONG (*)(DHPDEV pdev, ULONG mode, ULONG rgb, ULONG* dither);
using PFN_DrvEnableSurface = HSURF (*)(DHPDEV pdev);
using PFN_DrvDisableSurface = void (*)(DHPDEV pdev);
using PFN_DrvStartDoc = BOOL (*)(SURFOBJ* surface, LPWSTR documentName, DWORD jobId);
using PFN_DrvStartPage = BOOL (*)(SURFOBJ* surface);
using PFN_DrvStartBanding = BOOL (*)(SURFOBJ* surface, POINTL* origin);
using PFN_DrvNextBand = BOOL (*)(SURFOBJ* surface, POINTL* origin);
using PFN_DrvSendPage = BOOL (*)(SURFOBJ* surface);
using PFN_DrvEndDoc = BOOL (*)(SURFOBJ* surface, FLONG flags);
using PFN_DrvEscape = ULONG (*)(SURFOBJ* surface, ULONG escape, ULONG inputSize, PVOID input,
                                ULONG outputSize, PVOID output);
using PFN_DrvRealizeBrush = BOOL (*)(BRUSHOBJ* brush, SURFOBJ* target, SURFOBJ* pattern,
                                     SURFOBJ* mask, XLATEOBJ* xlate, ULONG hatch);
using PFN_DrvStrokePath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip,
                                   XFORMOBJ* transform, BRUSHOBJ* brush, POINTL* brushOrigin,
                                   LINEATTRS* line, MIX mix);
using PFN_DrvFillPath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush,
                                 POINTL* brushOrigin, MIX mix, FLONG options);
using PFN_DrvStrokeAndFillPath = BOOL (*)(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip,
                                          XFORMOBJ* transform, BRUSHOBJ* strokeBrush,
                                          LINEATTRS* line, BRUSHOBJ* fillBrush, POINTL* brushOrigin,
                                          MIX mix, FLONG options);
using PFN_DrvBitBlt = BOOL (*)(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                               XLATEOBJ* xlate, RECTL* destRect, POINTL* sourceOrigin,
                               POINTL* maskOrigin, BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop4);
using PFN_DrvStretchBlt = BOOL (*)(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                                   XLATEOBJ* xlate, COLORADJUSTMENT* colourAdjust,
                                   POINTL* halftoneOrigin, RECTL* destRect, RECTL* sourceRect,
                                   POINTL* maskOrigin, ULONG mode);
using PFN_DrvCopyBits = BOOL (*)(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                                 RECTL* destRect, POINTL* sourceOrigin);
using PFN_DrvTextOut = BOOL (*)(SURFOBJ* surface, STROBJ* string, FONTOBJ* font, CLIPOBJ* clip,
                                RECTL* extra, RECTL* opaque, BRUSHOBJ* foreground,
                                BRUSHOBJ* opaqueBrush, POINTL* brushOrigin, MIX mix);
using PFN_DrvQueryFont = IFIMETRICS* (*)(DHPDEV pdev, ULONG_PTR file, ULONG face, ULONG_PTR* id);
using PFN_DrvQueryFontTree = PVOID (*)(DHPDEV pdev, ULONG_PTR file, ULONG face, ULONG mode,
                                       ULONG_PTR* id);
using PFN_DrvQueryFontData = LONG (*)(DHPDEV pdev, FONTOBJ* font, ULONG mode, HGLYPH glyph,
                                      GLYPHDATA* glyphData, PVOID buffer, ULONG size);
