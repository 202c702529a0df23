#include "render/text_out.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "driver/band_range.h"
#include "driver/device_instance.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/codepage.h"
#include "platform/rect.h"
#include "render/barcode_draw.h"
#include "render/char_tables.h"
#include "render/clip_enum.h"
#include "render/device_fonts.h"

namespace {

constexpr USHORT kSelectionItalic = 0x01;
constexpr USHORT kSelectionBold = 0x20;
constexpr BYTE kSpace = 0x20;
constexpr UINT kShiftJisCodePage = 932;

LONG Saturate(long long value) {
    return static_cast<LONG>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

RECTL Normalised(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

// A string may touch several bands and is given to each; the command library
// moves every band's items onto the page, so an item is kept only by the
// band that holds its top left corner (kept to the page, as the command
// library keeps items, so that one starting off the page has a band too).
bool BandOwnsItem(const DeviceInstance& instance, POINTL at) {
    const RECTL& band = instance.band;
    const SIZEL page = instance.pageImageSize;
    long long x = static_cast<long long>(at.x) + band.left;
    long long y = static_cast<long long>(at.y) + band.top;
    if (page.cx > 0) x = std::clamp<long long>(x, 0, page.cx - 1);
    if (page.cy > 0) y = std::clamp<long long>(y, 0, page.cy - 1);
    return x >= band.left && x < band.right && y >= band.top && y < band.bottom;
}

WORD ItemAttributes(const DeviceInstance& instance, FONTOBJ* font, const IFIMETRICS* metrics,
                    WORD fontId, bool singleByte) {
    WORD attributes = 0;
    if ((instance.textFlags & kTextFlagSubstituted) != 0) {
        const FLONG type = font != nullptr ? font->flFontType : 0;
        if ((type & FO_SIM_ITALIC) != 0) attributes |= kTextItalic;
        if ((type & FO_SIM_BOLD) != 0) attributes |= kTextBold;
    } else if (metrics != nullptr) {
        if ((metrics->fsSelection & kSelectionItalic) != 0) attributes |= kTextItalic;
        if ((metrics->fsSelection & kSelectionBold) != 0) attributes |= kTextBold;
        if (metrics->jWinCharSet == kShiftJisCharSet) attributes |= kTextDoubleByte;
    }
    if (singleByte) attributes |= kTextSingleByteRun;
    // Only the text fonts print styles; symbols keep theirs clear so that
    // their runs still merge.
    if ((instance.textFlags & kTextFlagUnderlined) != 0 && IsTextFontId(fontId))
        attributes |= kTextUnderline;
    return attributes;
}

bool BufferFull(const TextBuf& buffer, ULONG count) {
    if (buffer.items == nullptr || buffer.data == nullptr) return true;
    if (buffer.itemCount + 1 > buffer.itemCapacity) return true;
    return buffer.dataUsed > buffer.dataCapacity || count > buffer.dataCapacity - buffer.dataUsed ||
           count > 0xFFFF;
}

// Barcode runs of one symbol arrive run by run; they become one item.
bool MergesWithLast(const TextBuf& buffer, const TextRecord& item) {
    if (buffer.itemCount == 0 || item.fontId < kFontIdBarcodeFirst) return false;
    const TextRecord last = ReadDevTextItem(buffer, buffer.itemCount - 1);
    return last.fontId == item.fontId && last.y == item.y && last.width == item.width &&
           last.height == item.height && last.attributes == item.attributes;
}

bool LastIsLoneSpace(const TextBuf& buffer) {
    if (buffer.itemCount == 0) return false;
    const TextRecord last = ReadDevTextItem(buffer, buffer.itemCount - 1);
    return last.count == 1 && last.offset < buffer.dataUsed && buffer.data[last.offset] == kSpace;
}

// ---- characters ---------------------------------------------------------

bool IsDoubleByte(const DeviceChar& c, bool shiftJis) {
    return shiftJis && c.count == 2 && IsDBCSLeadByteEx(kShiftJisCodePage, c.bytes[0]);
}

// The code of a single-byte character: its last byte (a code above 255
// that is no Shift-JIS character prints as its low byte).
BYTE SingleCode(const DeviceChar& c) {
    return c.bytes[c.count - 1];
}

void AppendPrinterCode(std::vector<BYTE>* run, const DeviceChar& c, bool doubleByte, bool shiftJis,
                       const IFIMETRICS& metrics) {
    if (doubleByte) {
        const JisCode code = ShiftJisToJis(c.bytes[0], c.bytes[1]);
        run->insert(run->end(), code.begin(), code.end());
    } else if (shiftJis) {
        const JisCode code = FullWidthOf(SingleCode(c));
        run->insert(run->end(), code.begin(), code.end());
    } else {
        BYTE code = PrinterLatinCode(SingleCode(c));
        if (code < metrics.chFirstChar || code > metrics.chLastChar) code = metrics.chDefaultChar;
        run->push_back(code);
    }
}

// The characters of a run: a device font's glyph handles are its character
// codes; a TrueType font's text is converted with the system code page.
std::vector<DeviceChar> RunCharacters(FONTOBJ* font, const GLYPHPOS* glyphs, ULONG count,
                                      const WCHAR* text) {
    std::vector<DeviceChar> chars(count);
    const bool trueType = (font->flFontType & FO_TYPE_TRUETYPE) != 0;
    for (ULONG i = 0; i < count; ++i) {
        DeviceChar& c = chars[i];
        c.origin = glyphs[i].ptl;
        if (trueType) {
            char bytes[2] = {'?', 0};
            const int n = WideCharToMultiByte(CP_ACP, 0, text + i, 1, bytes, 2, nullptr, nullptr);
            c.count = n == 2 ? 2 : 1;
            c.bytes[0] = static_cast<BYTE>(bytes[0]);
            c.bytes[1] = static_cast<BYTE>(bytes[1]);
        } else if (glyphs[i].hg > 0xFF) {
            c.count = 2;
            c.bytes[0] = static_cast<BYTE>(glyphs[i].hg >> 8);
            c.bytes[1] = static_cast<BYTE>(glyphs[i].hg);
        } else {
            c.count = 1;
            c.bytes[0] = static_cast<BYTE>(glyphs[i].hg);
        }
    }
    return chars;
}

std::vector<BYTE> Flatten(const std::vector<DeviceChar>& chars) {
    std::vector<BYTE> bytes;
    bytes.reserve(chars.size() * 2);
    for (const DeviceChar& c : chars) bytes.insert(bytes.end(), c.bytes, c.bytes + c.count);
    return bytes;
}

// ---- runs -------------------------------------------------------------------

struct RunSplit {
    DeviceInstance* instance;
    FONTOBJ* font;
    const IFIMETRICS& metrics;
    WORD fontId;
};

bool FlushRun(const RunSplit& split, LONG left, LONG baseline, LONG width,
              const std::vector<BYTE>& run, bool doubleByte) {
    const IFIMETRICS& m = split.metrics;
    const LONG top =
        Saturate(static_cast<long long>(baseline) + m.fwdWinDescender - m.fwdCapHeight);
    const LONG height = m.fwdWinAscender;
    const BOOL saved =
        SaveString(split.instance, split.font, &m, {left, top}, {width, height},
                   static_cast<ULONG>(run.size()), run.data(), split.fontId, !doubleByte);
    BandRangeCheck(split.instance,
                   {left, top, Saturate(static_cast<long long>(left) + width),
                    Saturate(static_cast<long long>(top) + height)},
                   nullptr);
    return saved != FALSE;
}

struct TextCall {
    DeviceInstance* instance;
    SURFOBJ* band;
    STROBJ* string;
    FONTOBJ* font;
    WORD fontId;
    RECTL clip;
};

// The em height that a run's rectangle is measured with, in notional units.
bool EmHeight(const TextCall& call, const IFIMETRICS& metrics, LONG* height) {
    if (!IsTextFontId(call.fontId)) {
        *height = metrics.fwdUnitsPerEm;
        return true;
    }
    const IFIMETRICS* device = DeviceFontMetrics(*call.instance, call.fontId);
    if (device == nullptr) return false;
    *height = device->fwdUnitsPerEm;
    return true;
}

BOOL TextRun(const TextCall& call, const GLYPHPOS* glyphs, ULONG count, const WCHAR* text) {
    if (count == 0) return TRUE;
    if (glyphs == nullptr) return FALSE;
    const IFIMETRICS* metrics = FONTOBJ_pifi(call.font);
    XFORMOBJ* transform = FONTOBJ_pxoGetXform(call.font);
    LONG em = 0;
    if (metrics == nullptr || transform == nullptr || !EmHeight(call, *metrics, &em)) return FALSE;
    POINTL extent{0, em};
    if (!XFORMOBJ_bApplyXform(transform, XF_LTOL, 1, &extent, &extent)) return FALSE;
    const LONG length = VectorLength(extent.x, extent.y);
    const POINTL at{glyphs[0].ptl.x, Saturate(static_cast<long long>(glyphs[0].ptl.y) - length)};
    const std::vector<DeviceChar> chars = RunCharacters(call.font, glyphs, count, text);

    if (IsTextFontId(call.fontId)) {
        const bool substituted = (call.instance->textFlags & kTextFlagSubstituted) != 0;
        const IFIMETRICS& runMetrics =
            substituted ? *DeviceFontMetrics(*call.instance, call.fontId) : *metrics;
        const bool proportional = (call.string->flAccel & SO_FLAG_DEFAULT_PLACEMENT) == 0;
        return SplitTextRuns(call.instance, call.font, runMetrics, call.fontId, proportional, chars,
                             call.clip);
    }
    const std::vector<BYTE> bytes = Flatten(chars);
    if (IsSymbolFontId(call.fontId))
        return DrawBarcode(call.instance, call.band, bytes.data(), static_cast<ULONG>(bytes.size()),
                           at, call.font, call.fontId);
    const RECTL& background = call.string->rclBkGround;
    const LONG width =
        Saturate(std::llabs(static_cast<long long>(background.right) - background.left));
    return SaveString(call.instance, call.font, metrics, at, {width, length},
                      static_cast<ULONG>(bytes.size()), bytes.data(), call.fontId, false);
}

}  // namespace

BOOL SaveString(DeviceInstance* instance, FONTOBJ* font, const IFIMETRICS* metrics, POINTL at,
                SIZEL size, ULONG count, const BYTE* chars, WORD fontId, bool singleByte) {
    if (instance == nullptr || (count != 0 && chars == nullptr)) return FALSE;
    if (IsTextFontId(fontId) && count == 1 && chars[0] == kSpace) return TRUE;
    if (!BandOwnsItem(*instance, at)) return TRUE;
    InstanceLog(*instance, kLogLevelOrdinary, " SaveString pt[%d,%d] count:%d\n", at.x, at.y,
                count);
    TextBuf& buffer = instance->textBuf;
    if (BufferFull(buffer, count)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR: TextBuf is FULL.\n");
        return FALSE;
    }
    const TextRecord item{fontId,  ItemAttributes(*instance, font, metrics, fontId, singleByte),
                          0,       0,
                          at.x,    at.y,
                          size.cx, size.cy};
    // A merged item's count is 16 bits: a run that would pass it starts a
    // new item instead.
    if (MergesWithLast(buffer, item) && GrowLastDevText(&buffer, chars, count)) return TRUE;
    if (LastIsLoneSpace(buffer)) DropLastDevText(&buffer);
    return AppendDevText(&buffer, item, chars, count) ? TRUE : FALSE;
}

BOOL SplitTextRuns(DeviceInstance* instance, FONTOBJ* font, const IFIMETRICS& metrics, WORD fontId,
                   bool proportional, const std::vector<DeviceChar>& chars, const RECTL& clip) {
    if (chars.empty()) return TRUE;
    const RunSplit split{instance, font, metrics, fontId};
    const bool shiftJis = metrics.jWinCharSet == kShiftJisCharSet;
    const LONG baseline = chars[0].origin.y;
    long long left = chars[0].origin.x;  // the pending run's left edge
    long long x = left;                  // the current character's
    bool runDoubleByte = false;
    std::vector<BYTE> run;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const DeviceChar& c = chars[i];
        const bool doubleByte = IsDoubleByte(c, shiftJis);
        const long long nominal = doubleByte ? metrics.fwdMaxCharInc : metrics.fwdAveCharWidth;
        const bool last = i + 1 == chars.size();
        const long long advance = proportional && !last
                                      ? static_cast<long long>(chars[i + 1].origin.x) - c.origin.x
                                      : nominal;
        if (left < clip.left) {
            x += advance;
            left += advance;
            continue;
        }
        const bool stop = x + nominal > clip.right;
        if (!stop) {
            if (run.empty()) runDoubleByte = doubleByte;
            AppendPrinterCode(&run, c, doubleByte, shiftJis, metrics);
        }
        if (run.empty()) break;  // the first character is already beyond the clip
        const bool stateChanges =
            shiftJis && !last && IsDoubleByte(chars[i + 1], true) != doubleByte;
        if (stop || last || advance != nominal || stateChanges) {
            // A run cut at the clip ends where its last character ends.
            const long long right = stop ? x : x + nominal;
            if (!FlushRun(split, Saturate(left), baseline, Saturate(right - left), run,
                          runDoubleByte))
                return FALSE;
            left = x = x + advance;
            run.clear();
        } else {
            x += advance;
        }
        if (stop) break;
    }
    return TRUE;
}

BOOL DeviceFontText(DeviceInstance* instance, SURFOBJ* band, STROBJ* string, FONTOBJ* font,
                    CLIPOBJ* clip, WORD fontId) {
    if (string->pwszOrg == nullptr || instance->deviceFonts == nullptr ||
        instance->deviceFontCount == 0)
        return FALSE;
    const TextCall call{instance, band, string, font, fontId, TextClipRect(*instance, clip)};
    if (string->pgp != nullptr) return TextRun(call, string->pgp, string->cGlyphs, string->pwszOrg);
    STROBJ_vEnumStart(string);
    ULONG used = 0;
    bool more = true;
    while (more) {
        ULONG count = 0;
        GLYPHPOS* glyphs = nullptr;
        more = STROBJ_bEnum(string, &count, &glyphs) != FALSE;
        if (count == 0) break;
        // The text holds one character per glyph of the string.
        if (count > string->cGlyphs - used) return FALSE;
        if (!TextRun(call, glyphs, count, string->pwszOrg + used)) return FALSE;
        used += count;
    }
    return TRUE;
}

const IFIMETRICS* DeviceFontMetrics(const DeviceInstance& instance, WORD fontId) {
    if (instance.deviceFonts == nullptr) return nullptr;
    for (DWORD i = 0; i < instance.deviceFontCount; ++i)
        if (instance.deviceFonts[i].fontId == fontId) return &instance.deviceFonts[i].ifi;
    return nullptr;
}

RECTL TextClipRect(const DeviceInstance& instance, CLIPOBJ* clip) {
    if (clip == nullptr || clip->iDComplexity == DC_TRIVIAL) return instance.bandClip;
    RECTL bounds{};
    ClipEnumerator walk;
    ClipEnumStart(&walk, clip, instance.bandClip);
    RECTL piece;
    while (ClipEnumNext(&walk, &piece)) bounds = UnionRect(bounds, Normalised(piece));
    ClipEnumEnd(&walk);
    return IntersectRect(bounds, instance.bandClip);
}

LONG VectorLength(LONG x, LONG y) {
    const std::uint64_t a = static_cast<std::uint64_t>(std::llabs(x));
    const std::uint64_t b = static_cast<std::uint64_t>(std::llabs(y));
    const std::uint64_t longer = std::max(a, b);
    const std::uint64_t squares = a * a + b * b;  // below 2^63 for 32-bit sides
    std::uint64_t n = static_cast<std::uint64_t>(std::sqrt(static_cast<long double>(squares)));
    n = std::max(n, longer);
    while (n * n < squares) ++n;
    while (n > longer && (n - 1) * (n - 1) >= squares) --n;
    return Saturate(static_cast<long long>(n));
}
