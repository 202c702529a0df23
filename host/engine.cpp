// The engine's palette, glyph-set and memory services.

#include "host/engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/codepage.h"
#include "platform/module.h"

namespace {

struct Palette {
    ULONG mode;
    std::vector<ULONG> colours;
};

struct PaletteTable {
    std::mutex lock;
    std::map<std::uint32_t, Palette> palettes;
    std::uint32_t nextHandle = 1;
};

PaletteTable& Palettes() {
    static PaletteTable table;
    return table;
}

}  // namespace

extern "C" {

HPALETTE EngCreatePalette(ULONG mode, ULONG count, ULONG* colours, FLONG, FLONG, FLONG) {
    Palette palette{mode, {}};
    switch (mode) {
        case PAL_INDEXED:
            if (count == 0 || count > 256 || colours == nullptr) return {};
            palette.colours.assign(colours, colours + count);
            break;
        case PAL_RGB:
        case PAL_BGR:
        case PAL_BITFIELDS:
            break;
        default:
            return {};
    }
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    HPALETTE handle{table.nextHandle++};
    table.palettes.emplace(handle.value, std::move(palette));
    return handle;
}

BOOL EngDeletePalette(HPALETTE palette) {
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    return table.palettes.erase(palette.value) == 1 ? TRUE : FALSE;
}

// One block: the header with its runs, then the glyph handles the runs point
// into. Runs are sorted by Unicode value, as the engine requires.
FD_GLYPHSET* EngComputeGlyphSet(INT codePage, INT firstChar, INT count) {
    if (count <= 0 || firstChar < 0 || firstChar + count > 256) return nullptr;
    struct Glyph {
        WCHAR unicode;
        HGLYPH handle;
    };
    std::vector<Glyph> glyphs;
    for (INT code = firstChar; code < firstChar + count; ++code) {
        char byte = static_cast<char>(code);
        WCHAR unicode = 0;
        if (MultiByteToWideChar(static_cast<UINT>(codePage), 0, &byte, 1, &unicode, 1) != 1)
            return nullptr;
        glyphs.push_back({unicode, static_cast<HGLYPH>(code)});
    }
    std::stable_sort(glyphs.begin(), glyphs.end(),
                     [](const Glyph& a, const Glyph& b) { return a.unicode < b.unicode; });
    glyphs.erase(std::unique(glyphs.begin(), glyphs.end(),
                             [](const Glyph& a, const Glyph& b) { return a.unicode == b.unicode; }),
                 glyphs.end());

    std::vector<std::pair<std::size_t, std::size_t>> runs;  // first glyph, length
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        if (!runs.empty() && glyphs[i].unicode == glyphs[i - 1].unicode + 1) {
            ++runs.back().second;
        } else {
            runs.push_back({i, 1});
        }
    }
    std::size_t header = offsetof(FD_GLYPHSET, awcrun) + runs.size() * sizeof(WCRUN);
    std::size_t bytes = header + glyphs.size() * sizeof(HGLYPH);
    auto* set = static_cast<FD_GLYPHSET*>(EngAllocMem(FL_ZERO_MEMORY, static_cast<ULONG>(bytes), 0));
    if (set == nullptr) return nullptr;
    auto* handles = reinterpret_cast<HGLYPH*>(reinterpret_cast<BYTE*>(set) + header);
    for (std::size_t i = 0; i < glyphs.size(); ++i) handles[i] = glyphs[i].handle;
    set->cjThis = static_cast<ULONG>(bytes);
    set->flAccel = 0;
    set->cGlyphsSupported = static_cast<ULONG>(glyphs.size());
    set->cRuns = static_cast<ULONG>(runs.size());
    for (std::size_t r = 0; r < runs.size(); ++r) {
        set->awcrun[r].wcLow = glyphs[runs[r].first].unicode;
        set->awcrun[r].cGlyphs = static_cast<USHORT>(runs[r].second);
        set->awcrun[r].phg = handles + runs[r].first;
    }
    return set;
}

// The driver's resources are the ones its library exports in its resource
// table.
PVOID EngFindResource(HANDLE module, int id, int type, ULONG* size) {
    const ResourceData* resource = QlprFindResource(static_cast<HMODULE>(module),
                                                    static_cast<UINT>(type), static_cast<UINT>(id));
    if (resource == nullptr) return nullptr;
    if (size != nullptr) *size = resource->size;
    return const_cast<void*>(resource->data);
}

PVOID EngAllocMem(ULONG flags, ULONG bytes, ULONG) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr && (flags & FL_ZERO_MEMORY) != 0) std::memset(block, 0, bytes);
    return block;
}

void EngFreeMem(PVOID block) { std::free(block); }

}  // extern "C"

namespace host {

bool LookupPalette(HPALETTE palette, PaletteInfo* info) {
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    auto found = table.palettes.find(palette.value);
    if (found == table.palettes.end()) return false;
    if (info != nullptr) {
        info->mode = found->second.mode;
        info->count = static_cast<std::uint32_t>(found->second.colours.size());
        info->colours = found->second.colours.data();
    }
    return true;
}

std::size_t LivePaletteCount() {
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    return table.palettes.size();
}

}  // namespace host
