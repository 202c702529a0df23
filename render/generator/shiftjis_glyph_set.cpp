// Build-time generator of the Shift-JIS glyph set that the driver library
// carries as a resource: shiftjis_glyph_set <output file>.
//
// The mapping is the C library's code page 932 converter (glibc's "CP932"
// iconv module, iconvdata/cp932.c, installed as gconv/CP932.so with libc6).
// Every Unicode character U+0000..U+FFFF is converted to code page 932, and
// kept with its Shift-JIS code as its glyph handle when
// - it is printable ASCII (U+0020..U+007E, single-byte handles), or a
//   half-width katakana (U+FF61..U+FF9F, single bytes 0xA1..0xDF: the
//   device fonts' default character U+FF65 is one of them, and the text
//   path prints these bytes through its full-width table), or
// - it maps to a two-byte code outside the user-defined area (lead bytes
//   0xF0..0xF9, which the printer has no glyphs for), and that code converts
//   back to the same character. The converter also accepts a few characters
//   one way only (U+00A2, U+00AC, U+2014, ...: look-alikes of characters
//   that have codes of their own); those are not part of the set.
// Characters with two codes, one among the IBM extensions (0xFA40..0xFC4B)
// and one among their NEC-selected copies (0xED40..0xEEFC), take the IBM
// extension code (U+2170 -> 0xFA40), whatever the converter prefers.
//
// The block comes out in the stored glyph-set layout (render/
// glyph_set_layout.h); anything but 7,484 glyphs in 4,247 runs fails the
// build.

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <vector>

#include "render/glyph_set_layout.h"

namespace {

struct Glyph {
    std::uint16_t unicode;
    std::uint32_t handle;
};

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    // The converted bytes of one complete input, or nothing.
    std::optional<std::vector<unsigned char>> Convert(const unsigned char* bytes,
                                                      std::size_t count) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char input[4];
        std::memcpy(input, bytes, count);
        char output[16];
        char* in = input;
        char* out = output;
        std::size_t inLeft = count;
        std::size_t outLeft = sizeof output;
        if (iconv(cd_, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
            return std::nullopt;
        return std::vector<unsigned char>(output, out);
    }

  private:
    iconv_t cd_;
};

bool IsSurrogate(unsigned c) {
    return c >= 0xD800 && c <= 0xDFFF;
}
bool IsPrintableAscii(unsigned c) {
    return c >= 0x20 && c <= 0x7E;
}
bool IsHalfWidthKatakana(unsigned byte) {
    return byte >= 0xA1 && byte <= 0xDF;
}
bool IsUserDefined(unsigned code) {
    return code >= 0xF040 && code <= 0xF9FC;
}
bool IsNecSelectedIbm(unsigned code) {
    return code >= 0xED40 && code <= 0xEEFC;
}
bool IsIbmExtension(unsigned code) {
    return code >= 0xFA40 && code <= 0xFC4B;
}

std::optional<unsigned> Encode(Converter& toCp932, unsigned c) {
    const unsigned char utf16[2] = {static_cast<unsigned char>(c),
                                    static_cast<unsigned char>(c >> 8)};
    auto bytes = toCp932.Convert(utf16, 2);
    if (!bytes || bytes->empty() || bytes->size() > 2) return std::nullopt;
    return bytes->size() == 1 ? (*bytes)[0] : ((*bytes)[0] << 8) | (*bytes)[1];
}

std::optional<unsigned> Decode(Converter& fromCp932, unsigned code) {
    unsigned char bytes[2] = {static_cast<unsigned char>(code >> 8),
                              static_cast<unsigned char>(code)};
    const bool single = code < 0x100;
    auto utf16 = fromCp932.Convert(single ? bytes + 1 : bytes, single ? 1 : 2);
    if (!utf16 || utf16->size() != 2) return std::nullopt;
    return (*utf16)[0] | ((*utf16)[1] << 8);
}

// Every two-byte code of each character, from the decoding direction.
std::map<unsigned, std::vector<unsigned>> CodesByCharacter(Converter& fromCp932) {
    std::map<unsigned, std::vector<unsigned>> codes;
    for (unsigned code = 0x8140; code <= 0xFCFC; ++code) {
        if (auto c = Decode(fromCp932, code)) codes[*c].push_back(code);
    }
    return codes;
}

unsigned PreferIbmExtension(unsigned code, const std::vector<unsigned>& all) {
    if (!IsNecSelectedIbm(code)) return code;
    for (unsigned other : all)
        if (IsIbmExtension(other)) return other;
    return code;
}

std::optional<std::vector<Glyph>> CollectGlyphs() {
    Converter toCp932("CP932", "UTF-16LE");
    Converter fromCp932("UTF-16LE", "CP932");
    if (!toCp932.ok() || !fromCp932.ok()) {
        std::fprintf(stderr, "the CP932 converter is not available\n");
        return std::nullopt;
    }
    const auto codes = CodesByCharacter(fromCp932);
    std::vector<Glyph> glyphs;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        if (IsSurrogate(c)) continue;
        const std::optional<unsigned> code = Encode(toCp932, c);
        if (!code) continue;
        if (*code < 0x100) {
            if ((IsPrintableAscii(c) && *code == c) || IsHalfWidthKatakana(*code))
                glyphs.push_back({static_cast<std::uint16_t>(c), *code});
            continue;
        }
        if (IsUserDefined(*code) || Decode(fromCp932, *code) != c) continue;
        glyphs.push_back({static_cast<std::uint16_t>(c), PreferIbmExtension(*code, codes.at(c))});
    }
    return glyphs;
}

struct Run {
    std::size_t first;
    std::size_t count;
};

std::vector<Run> Runs(const std::vector<Glyph>& glyphs) {
    std::vector<Run> runs;
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        if (!runs.empty() && glyphs[i].unicode == glyphs[i - 1].unicode + 1 &&
            runs.back().count < 0xFFFF)
            ++runs.back().count;
        else
            runs.push_back({i, 1});
    }
    return runs;
}

template <class T>
void Append(std::vector<unsigned char>* out, const T& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    out->insert(out->end(), bytes, bytes + sizeof value);
}

std::vector<unsigned char> StoredBlock(const std::vector<Glyph>& glyphs,
                                       const std::vector<Run>& runs) {
    const std::size_t handlesAt =
        sizeof(glyphset::StoredHeader) + runs.size() * sizeof(glyphset::StoredRun);
    const std::size_t size = handlesAt + glyphs.size() * sizeof(std::uint32_t);
    std::vector<unsigned char> block;
    Append(&block, glyphset::StoredHeader{static_cast<std::uint32_t>(size), 0,
                                          static_cast<std::uint32_t>(glyphs.size()),
                                          static_cast<std::uint32_t>(runs.size())});
    for (const Run& run : runs) {
        Append(&block,
               glyphset::StoredRun{glyphs[run.first].unicode, static_cast<std::uint16_t>(run.count),
                                   static_cast<std::uint32_t>(handlesAt + run.first * 4)});
    }
    for (const Glyph& glyph : glyphs) Append(&block, glyph.handle);
    return block;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    const std::optional<std::vector<Glyph>> glyphs = CollectGlyphs();
    if (!glyphs) return 1;
    const std::vector<Run> runs = Runs(*glyphs);
    if (glyphs->size() != glyphset::kShiftJisGlyphCount ||
        runs.size() != glyphset::kShiftJisRunCount) {
        std::fprintf(stderr, "Shift-JIS glyph set: %zu glyphs in %zu runs, expected %u in %u\n",
                     glyphs->size(), runs.size(), glyphset::kShiftJisGlyphCount,
                     glyphset::kShiftJisRunCount);
        return 1;
    }
    const std::vector<unsigned char> block = StoredBlock(*glyphs, runs);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
    return out.good() ? 0 : 1;
}
