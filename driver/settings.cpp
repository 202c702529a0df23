// The printer's settings: the settings block, the user-defined papers, the
// font substitution table, and the driver's device mode.
#include "driver/settings.h"

#include <algorithm>
#include <cstring>

#include "platform/heap.h"
#include "platform/spooler.h"
#include "platform/wide.h"

namespace {

constexpr SHORT DMCOLOR_MONOCHROME = 1;
constexpr SHORT DMCOLOR_COLOR = 2;
constexpr WORD kSpecVersion = 0x401;
constexpr WORD kDriverVersion = 0x100;
constexpr DWORD kDefaultFields = 0x4058B03;
constexpr SHORT kCustomPaperCode = DMPAPER_USER;
constexpr SHORT kFirstModelPaperCode = 257;
constexpr int kFirstUserPaperCode = 700;
constexpr WORD kColourMode = 3;
constexpr SHORT kSourceCustomMasks = 700;
// The public part's fields up to and including dmDriverExtra: a device mode
// shorter than this cannot even say how large it is.
constexpr std::size_t kDevmodeHeaderBytes = offsetof(DEVMODEW, dmFields);
// Where each field the merge reads ends in the public part.
struct FieldSpan {
    DWORD bit;
    std::size_t end;
};
#define QLPR_FIELD_END(field) (offsetof(DEVMODEW, field) + sizeof(DEVMODEW::field))
constexpr FieldSpan kFieldSpans[] = {
    {DM_ORIENTATION, QLPR_FIELD_END(dmOrientation)},
    {DM_PAPERSIZE, QLPR_FIELD_END(dmPaperSize)},
    {DM_PAPERLENGTH, QLPR_FIELD_END(dmPaperLength)},
    {DM_PAPERWIDTH, QLPR_FIELD_END(dmPaperWidth)},
    {DM_SCALE, QLPR_FIELD_END(dmScale)},
    {DM_COPIES, QLPR_FIELD_END(dmCopies)},
    {DM_DEFAULTSOURCE, QLPR_FIELD_END(dmDefaultSource)},
    {DM_PRINTQUALITY, QLPR_FIELD_END(dmPrintQuality)},
    {DM_COLOR, QLPR_FIELD_END(dmColor)},
    {DM_DUPLEX, QLPR_FIELD_END(dmDuplex)},
    {DM_YRESOLUTION, QLPR_FIELD_END(dmYResolution)},
    {DM_TTOPTION, QLPR_FIELD_END(dmTTOption)},
    {DM_COLLATE, QLPR_FIELD_END(dmCollate)},
    {DM_FORMNAME, QLPR_FIELD_END(dmFormName)},
    {DM_LOGPIXELS, QLPR_FIELD_END(dmLogPixels)},
    {DM_BITSPERPEL, QLPR_FIELD_END(dmBitsPerPel)},
    {DM_ICMMETHOD, QLPR_FIELD_END(dmICMMethod)},
    {DM_ICMINTENT, QLPR_FIELD_END(dmICMIntent)},
    {DM_MEDIATYPE, QLPR_FIELD_END(dmMediaType)},
    {DM_DITHERTYPE, QLPR_FIELD_END(dmDitherType)},
};
#undef QLPR_FIELD_END
// A font substitution table is a few hundred bytes; a declared size above
// this is not believed.
constexpr DWORD kMaxFontSubstitutionSize = 1u << 20;

// The default entries of the configuration, with all fields 0 for a keyword
// that has none. Each is read from the configuration when first asked for:
// a caller needs a few of the keywords, and reading an entry builds its name.
class Defaults {
  public:
    explicit Defaults(const PrinterDataObj& config) : config_(config) {}
    LONG operator()(Keyword keyword, int field) const { return entry(keyword).field[field]; }
    const ConfigEntry& entry(Keyword keyword) const {
        std::optional<ConfigEntry>& e = entries_[static_cast<int>(keyword)];
        if (!e) e = config_.defaultEntry(keyword).value_or(ConfigEntry{});
        return *e;
    }

  private:
    const PrinterDataObj& config_;
    mutable std::optional<ConfigEntry> entries_[kKeywordCount + 1];
};

// Copies at most capacity - 1 characters of a name and ends it with 0.
void CopyName(WCHAR* dest, std::size_t capacity, const WCHAR* source, std::size_t sourceCapacity) {
    const std::size_t length =
        source == nullptr
            ? 0
            : std::min(platform::WideLengthBounded(source, sourceCapacity), capacity - 1);
    std::fill(dest, dest + capacity, WCHAR{0});
    if (length != 0) std::memcpy(dest, source, length * sizeof(WCHAR));
}

void CopyName(WCHAR* dest, std::size_t capacity, const std::u16string& source) {
    CopyName(dest, capacity, source.c_str(), source.size() + 1);
}

bool HasField(const std::vector<ConfigEntry>& list, int field, LONG value) {
    return std::any_of(list.begin(), list.end(),
                       [&](const ConfigEntry& e) { return e.field[field] == value; });
}

// ---- papers -----------------------------------------------------------------

// A paper found in the model's list or among the user-defined papers.
struct PaperChoice {
    SHORT code = 0;
    WCHAR name[CCHFORMNAME] = {};
    LONG width = 0;
    LONG length = 0;
};

PaperChoice FromEntry(const ConfigEntry& e) {
    PaperChoice p;
    p.code = static_cast<SHORT>(e.field[1]);
    CopyName(p.name, CCHFORMNAME, e.name);
    p.width = e.field[3];
    p.length = e.field[4];
    return p;
}

PaperChoice FromUserPaper(const CustomPaperRecord& r) {
    PaperChoice p;
    p.code = r.code;
    CopyName(p.name, CCHFORMNAME, r.name, 32);
    p.width = r.width;
    p.length = r.length;
    return p;
}

// The user-defined papers, walked no further than their count.
template <class Visit>
const CustomPaperRecord* FindUserPaper(const CustomPaperList& list, Visit matches) {
    const CustomPaperNode* node = list.first;
    for (WORD i = 0; node != nullptr && i < list.count; ++i, node = node->next) {
        if (matches(node->record)) return &node->record;
    }
    return nullptr;
}

std::optional<PaperChoice> FindPaperByCode(const std::vector<ConfigEntry>& papers,
                                           const CustomPaperList& user, LONG code) {
    for (const ConfigEntry& e : papers) {
        if (e.field[1] == code) return FromEntry(e);
    }
    if (const CustomPaperRecord* r =
            FindUserPaper(user, [&](const CustomPaperRecord& r) { return r.code == code; })) {
        return FromUserPaper(*r);
    }
    return std::nullopt;
}

// Form names compare as the platform compares names, without regard to case.
std::optional<PaperChoice> FindPaperByName(const std::vector<ConfigEntry>& papers,
                                           const CustomPaperList& user, const WCHAR* name) {
    const platform::WideView wanted(name, platform::WideLengthBounded(name, CCHFORMNAME));
    for (const ConfigEntry& e : papers) {
        if (platform::WideEqualsNoCase(e.name, wanted)) return FromEntry(e);
    }
    if (const CustomPaperRecord* r = FindUserPaper(user, [&](const CustomPaperRecord& r) {
            return platform::WideEqualsNoCase(
                platform::WideView(r.name, platform::WideLengthBounded(r.name, 32)), wanted);
        })) {
        return FromUserPaper(*r);
    }
    return std::nullopt;
}

PaperRecord PaperRecordOf(const ConfigEntry& e) {
    return PaperRecord{e.field[3], e.field[4], e.field[5],  e.field[6],  e.field[7],
                       e.field[8], e.field[9], e.field[10], e.field[13], e.field[14]};
}

bool FitToSheet(const PrivateDevmode& priv) {
    // Either of the two fit-to-sheet bits turns it on.
    return (priv.layoutFlags & (kLayoutFitToSheet | kLayoutFitToSheet2)) != 0;
}

// Chooses the paper from what the application's public part asks (`m`, with
// zeros where it said nothing) and sets the paper fields of `dm`.
void SelectPaper(const PrinterDataObj& config, const CustomPaperList& user, const DEVMODEW& m,
                 Devmode* dm) {
    DEVMODEW& pub = dm->pub;
    PrivateDevmode& priv = dm->priv;
    const Defaults d(config);
    const std::vector<ConfigEntry> papers = config.entries(Keyword::paper);
    const bool fit = FitToSheet(priv);
    priv.layoutFlags &= ~kLayoutCustomOutOfRange;

    SHORT code = 0;
    bool customSize = false;
    const DWORD asked = m.dmFields;
    if ((asked & DM_PAPERSIZE) && m.dmPaperSize == kCustomPaperCode && (asked & DM_PAPERLENGTH) &&
        (asked & DM_PAPERWIDTH) && m.dmPaperLength > 0 && m.dmPaperWidth > 0) {
        code = kCustomPaperCode;
        customSize = true;
        pub.dmPaperSize = code;
        pub.dmPaperLength = m.dmPaperLength;
        pub.dmPaperWidth = m.dmPaperWidth;
        pub.dmFields =
            (pub.dmFields & ~DM_FORMNAME) | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH;
        std::fill(std::begin(pub.dmFormName), std::end(pub.dmFormName), WCHAR{0});
        const bool widthOk =
            m.dmPaperWidth >= d(Keyword::paperX, 0) && m.dmPaperWidth <= d(Keyword::paperX, 1);
        const bool lengthOk =
            m.dmPaperLength >= d(Keyword::paperY, 0) && m.dmPaperLength <= d(Keyword::paperY, 1);
        if (!fit && !(widthOk && lengthOk)) priv.layoutFlags |= kLayoutCustomOutOfRange;
    } else {
        std::optional<PaperChoice> found;
        if ((asked & DM_PAPERSIZE) && m.dmPaperSize != 0) {
            found = FindPaperByCode(papers, user, m.dmPaperSize);
            if (found) {
                // The form name stays the application's.
                pub.dmPaperSize = found->code;
                pub.dmFields |= DM_PAPERSIZE;
                pub.dmPaperWidth = static_cast<SHORT>(found->width);
                pub.dmPaperLength = static_cast<SHORT>(found->length);
            }
        }
        // A code this printer does not know gives way to the form name.
        if (!found && (asked & DM_FORMNAME) && m.dmFormName[0] != 0) {
            found = FindPaperByName(papers, user, m.dmFormName);
            if (found) {
                // The public paper-size code keeps its value; the paper chosen
                // by name is the one printed on (its code goes to the sheet).
                CopyName(pub.dmFormName, CCHFORMNAME, found->name, CCHFORMNAME);
                pub.dmPaperWidth = static_cast<SHORT>(found->width);
                pub.dmPaperLength = static_cast<SHORT>(found->length);
                pub.dmFields =
                    (pub.dmFields | DM_FORMNAME) & ~(DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH);
            }
        }
        if (!found) {
            // Nothing usable asked: the sheet paper code (the application's
            // own when its private part was taken; an unknown one means the
            // default paper) gives the form name and the size, while the paper
            // code stays the one the application's bytes hold. The sheet then
            // follows that code below, unless fit to sheet keeps it.
            found = FindPaperByCode(papers, user, priv.sheetPaperCode);
            if (!found) found = FromEntry(d.entry(Keyword::paper));
            CopyName(pub.dmFormName, CCHFORMNAME, found->name, CCHFORMNAME);
            if (found->code != kCustomPaperCode) {
                pub.dmPaperWidth = static_cast<SHORT>(found->width);
                pub.dmPaperLength = static_cast<SHORT>(found->length);
            }
            found->code = pub.dmPaperSize;
        }
        code = found->code;
    }

    if (code == kCustomPaperCode && !customSize) {
        pub.dmPaperWidth = priv.customWidth;
        pub.dmPaperLength = priv.customLength;
    }
    if (!fit) {
        priv.sheetPaperCode = static_cast<WORD>(code);
        if (code == kCustomPaperCode) {
            priv.customWidth = pub.dmPaperWidth;
            priv.customLength = pub.dmPaperLength;
        }
    }
}

// The paper records of a validated device mode, from its sheet paper code.
void SetPaperRecords(const PrinterDataObj& config, const CustomPaperList& user, Devmode* dm) {
    const Defaults d(config);
    const std::vector<ConfigEntry> papers = config.entries(Keyword::paper);
    const ConfigEntry& defaultPaper = d.entry(Keyword::paper);
    const int code = dm->priv.sheetPaperCode;
    PaperRecord record{};
    const CustomPaperRecord* userPaper = nullptr;
    if (code >= kFirstUserPaperCode) {
        userPaper = FindUserPaper(user, [&](const CustomPaperRecord& r) { return r.code == code; });
    }
    if (userPaper != nullptr) {
        // A user paper borrows the side margins, pads and printable width of
        // the model paper of its width (the default paper when none has it).
        auto model = std::find_if(papers.begin(), papers.end(), [&](const ConfigEntry& e) {
            return e.field[3] == userPaper->width;
        });
        record = PaperRecordOf(model != papers.end() ? *model : defaultPaper);
        record.width = userPaper->width;
        record.length = userPaper->length;
        record.marginTop = d(Keyword::device, 4);
        record.marginBottom = d(Keyword::device, 6);
        // A paper shorter than its margins has no printable height.
        const long long height = std::max<long long>(
            0, static_cast<long long>(record.length) - record.marginTop - record.marginBottom);
        record.printableHeight = static_cast<LONG>(height * dm->pub.dmPrintQuality / 254);
    } else {
        auto paper = std::find_if(papers.begin(), papers.end(),
                                  [&](const ConfigEntry& e) { return e.field[1] == code; });
        record = PaperRecordOf(paper != papers.end() ? *paper : defaultPaper);
        if (code == kCustomPaperCode) {
            // Taken as stored, 0 included: the capability records refuse a
            // paper without a printable size.
            record.width = dm->priv.customWidth;
            record.length = dm->priv.customLength;
        }
    }
    dm->priv.pagePaper = record;
    dm->priv.sheetPaper = record;
}

void SetWord(BarcodeSettings* s, int word, WORD value) {
    std::memcpy(reinterpret_cast<BYTE*>(s) + word * 2, &value, 2);
}

// GetPrinterDataW of a u32 value that must be exactly 4 bytes.
bool ReadDword(HANDLE printer, LPCWSTR name, DWORD* value) {
    DWORD type = 0, needed = 0, v = 0;
    if (GetPrinterDataW(printer, name, &type, reinterpret_cast<BYTE*>(&v), sizeof v, &needed) !=
            ERROR_SUCCESS ||
        needed != sizeof v) {
        return false;
    }
    *value = v;
    return true;
}

// The public fields taken from the application's bytes (`pub`, which holds
// the default's `d` where those bytes end) are checked against the model.
// Copies, collate, source, bits per pel and dither type are read whether or
// not the application flags them; orientation and scale only when it does.
void CheckMergedFields(const PrinterDataObj& config, DWORD asked, const DEVMODEW& d,
                       DEVMODEW* pub) {
    const Defaults cfg(config);
    if (asked & DM_ORIENTATION) {
        pub->dmOrientation =
            pub->dmOrientation == DMORIENT_LANDSCAPE ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    } else {
        pub->dmOrientation = d.dmOrientation;
    }
    const bool scaleOk =
        pub->dmScale >= cfg(Keyword::scaling, 0) && pub->dmScale <= cfg(Keyword::scaling, 1);
    if (!(asked & DM_SCALE) || !scaleOk) pub->dmScale = 100;

    if (!HasField(config.entries(Keyword::source), 1, pub->dmDefaultSource))
        pub->dmDefaultSource = d.dmDefaultSource;
    pub->dmCopies = std::clamp<SHORT>(pub->dmCopies, 1, 999);
    if (pub->dmCollate != 0 && pub->dmCollate != 1) pub->dmCollate = d.dmCollate;
    const std::vector<ConfigEntry> pixels = config.entries(Keyword::pixel);
    auto pixel = std::find_if(pixels.begin(), pixels.end(), [&](const ConfigEntry& e) {
        return static_cast<DWORD>(e.field[3]) == pub->dmBitsPerPel;
    });
    pub->dmColor = pixel != pixels.end() ? static_cast<SHORT>(pixel->field[1]) : d.dmColor;
    pub->dmBitsPerPel =
        pixel != pixels.end() ? static_cast<DWORD>(pixel->field[3]) : d.dmBitsPerPel;
    if (!HasField(config.entries(Keyword::dither), 1, static_cast<LONG>(pub->dmDitherType)))
        pub->dmDitherType = d.dmDitherType;

    // The resolution is the device's: a print quality that is no resolution
    // of the model (draft codes, 0, any other number) keeps the default's.
    const SHORT quality = pub->dmPrintQuality;
    pub->dmPrintQuality = d.dmPrintQuality;
    pub->dmYResolution = d.dmYResolution;
    pub->dmLogPixels = d.dmLogPixels;
    if ((asked & DM_PRINTQUALITY) && quality > 0) {
        for (const ConfigEntry& r : config.entries(Keyword::resolution)) {
            if (r.field[3] == quality) {
                pub->dmPrintQuality = quality;
                pub->dmYResolution = static_cast<SHORT>(r.field[4]);
                pub->dmLogPixels = static_cast<WORD>(quality);
                break;
            }
        }
    }
}

}  // namespace

// ---- the settings block -----------------------------------------------------

std::unique_ptr<PrinterData> LoadPrinterData(HANDLE printer, const PrinterDataObj* config) {
    DWORD size = 0;
    if (ReadDword(printer, u"PrinterDataSize", &size) && size == kPrinterDataSize) {
        auto block = std::make_unique<PrinterData>();
        std::memset(block.get(), 0, sizeof(PrinterData));
        DWORD type = 0, needed = 0;
        // A stored value of any other length is not a settings block.
        if (GetPrinterDataW(printer, u"PrinterData", &type, reinterpret_cast<BYTE*>(block.get()),
                            kPrinterDataSize, &needed) == ERROR_SUCCESS &&
            needed == kPrinterDataSize) {
            return block;
        }
    }
    if (config == nullptr) return nullptr;
    return DefaultPrinterData(*config);
}

std::unique_ptr<PrinterData> DefaultPrinterData(const PrinterDataObj& config) {
    const Defaults d(config);
    auto block = std::make_unique<PrinterData>();
    PrinterData& p = *block;
    std::memset(&p, 0, sizeof p);
    p.size = kPrinterDataSize;
    p.one = 1;
    p.version = 0x100;
    p.configVersion = config.configVersion();
    p.flags = static_cast<DWORD>(d(Keyword::driver, 1));
    if (d(Keyword::printermodel, 0) == 1) {
        p.flags |= kFlagDualSideAllowed;
    } else {
        p.flags &= ~kFlagDualSideAllowed;
    }
    p.flags |= kFlagBandInUserMemory;
    p.driver0 = static_cast<SHORT>(d(Keyword::driver, 0));
    p.driver2 = static_cast<SHORT>(d(Keyword::driver, 2));
    p.customWidthMin = d(Keyword::paperX, 0);
    p.customLengthMin = d(Keyword::paperY, 0);
    p.customWidthMax = d(Keyword::paperX, 1);
    p.customLengthMax = d(Keyword::paperY, 1);
    p.device2 = static_cast<SHORT>(d(Keyword::device, 2));
    for (int i = 0; i < 4; ++i) p.margins[i] = d(Keyword::device, 3 + i);
    p.constants[0] = 2;
    p.constants[1] = 5;
    p.constants[2] = 0;
    p.colourInfo = COLORINFO{{6380, 3350, 0},
                             {2345, 6075, 0},
                             {1410, 932, 0},
                             {2000, 2450, 0},
                             {5210, 2100, 0},
                             {4750, 5100, 0},
                             {3127, 3290, 0},
                             12500,
                             12500,
                             12500,
                             585,
                             120,
                             0,
                             0,
                             0,
                             10000};
    int slot = 0;
    for (const ConfigEntry& paper : config.entries(Keyword::paper)) {
        if (slot == kModelPaperSlots) break;
        if (paper.field[1] < kFirstModelPaperCode ||
            paper.recordSize < sizeof(ModelPaperSlot::entry))
            continue;
        ModelPaperSlot& s = p.modelPapers[slot++];
        std::memcpy(s.entry, paper.record, sizeof s.entry);
        // The entry's first two words (next entry, name) are offsets inside
        // the compiled block and mean nothing to a reader of this copy.
        std::memset(s.entry, 0, 8);
        s.one = 1;
    }
    p.logMode = kLogNone;
    p.fontSizeMode = d(Keyword::fontsize, 0) == 2 ? 2 : 1;
    return block;
}

// ---- registry data ----------------------------------------------------------

void FreeCustomPapers(HANDLE heap, CustomPaperList* list) {
    if (list == nullptr) return;
    CustomPaperNode* node = list->first;
    while (node != nullptr) {
        CustomPaperNode* next = node->next;
        HeapFree(heap, 0, node);
        node = next;
    }
    list->count = 0;
    list->first = nullptr;
}

// The list is filled afresh; nodes it already held are not released here.
void ReadCustomPapers(HANDLE printer, HANDLE heap, CustomPaperList* list) {
    if (list == nullptr) return;
    list->count = 0;
    list->first = nullptr;
    DWORD type = 0, needed = 0;
    const DWORD status = GetPrinterDataW(printer, u"CustomPaper", &type, nullptr, 0, &needed);
    if ((status != ERROR_SUCCESS && status != ERROR_MORE_DATA) ||
        needed < sizeof(CustomPaperRecord))
        return;
    std::vector<BYTE> value(needed);
    DWORD got = 0;
    if (GetPrinterDataW(printer, u"CustomPaper", &type, value.data(), needed, &got) !=
        ERROR_SUCCESS)
        return;
    const std::size_t count =
        std::min<std::size_t>(std::min(got, needed) / sizeof(CustomPaperRecord), 0xFFFF);
    CustomPaperNode** tail = &list->first;
    for (std::size_t i = 0; i < count; ++i) {
        auto* node = static_cast<CustomPaperNode*>(
            HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(CustomPaperNode)));
        if (node == nullptr) {
            FreeCustomPapers(heap, list);
            return;
        }
        std::memcpy(&node->record, value.data() + i * sizeof(CustomPaperRecord),
                    sizeof(CustomPaperRecord));
        node->record.name[31] = 0;  // a full-length name still ends inside its record
        node->next = nullptr;
        *tail = node;
        tail = &node->next;
        ++list->count;
    }
}

BYTE* ReadFontSubstitutions(HANDLE printer, HANDLE heap, DWORD* size) {
    if (size != nullptr) *size = 0;
    DWORD declared = 0;
    if (!ReadDword(printer, u"TTFontSubTableSize", &declared) || declared == 0 ||
        declared > kMaxFontSubstitutionSize) {
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, declared));
    if (block == nullptr) return nullptr;
    DWORD type = 0, needed = 0;
    if (GetPrinterDataW(printer, u"TTFontSubTable", &type, block, declared, &needed) !=
        ERROR_SUCCESS) {
        HeapFree(heap, 0, block);
        return nullptr;
    }
    if (size != nullptr) *size = declared;
    return block;
}

namespace {

WCHAR ReadWide(const BYTE* at) {
    WCHAR c;
    std::memcpy(&c, at, sizeof c);
    return c;
}

WCHAR FoldAscii(WCHAR c) {
    return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}

// Whether the name of `chars` characters at `name` (not aligned) is `face`.
bool SameFaceName(const BYTE* name, std::size_t chars, const WCHAR* face) {
    for (std::size_t i = 0; i < chars; ++i, ++face)
        if (*face == 0 || FoldAscii(ReadWide(name + 2 * i)) != FoldAscii(*face)) return false;
    return *face == 0;
}

}  // namespace

WORD LookupFontSubstitution(const BYTE* table, DWORD size, const WCHAR* faceName) {
    if (table == nullptr || faceName == nullptr || faceName[0] == 0) return 0;
    constexpr std::size_t kChar = sizeof(WCHAR);
    std::size_t at = 0;
    while (at + kChar <= size && ReadWide(table + at) != 0) {
        std::size_t end = at;
        while (end + kChar <= size && ReadWide(table + end) != 0) end += kChar;
        // The name's terminator and the number must both lie inside the block.
        if (end + kChar > size) return 0;
        const std::size_t number = end + kChar;
        if (number + sizeof(WORD) > size) return 0;
        if (SameFaceName(table + at, (end - at) / kChar, faceName)) {
            WORD id;
            std::memcpy(&id, table + number, sizeof id);
            return id;
        }
        at = number + sizeof(WORD);
    }
    return 0;
}

// ---- the device mode --------------------------------------------------------

void BuildDefaultDevmode(const PrinterDataObj& config, const PrinterData& settings,
                         const CustomPaperList& customPapers, LPCWSTR deviceName, Devmode* result) {
    const Defaults d(config);
    Devmode dm;
    std::memset(&dm, 0, sizeof dm);
    DEVMODEW& pub = dm.pub;
    PrivateDevmode& priv = dm.priv;
    CopyName(pub.dmDeviceName, CCHDEVICENAME, deviceName,
             deviceName ? platform::WideLength(deviceName) + 1 : 0);

    pub.dmSpecVersion = kSpecVersion;
    pub.dmDriverVersion = kDriverVersion;
    pub.dmSize = sizeof(DEVMODEW);
    pub.dmDriverExtra = kPrivateDevmodeSize;
    pub.dmFields = kDefaultFields;

    // As the data file has it: validation reads anything but landscape as
    // portrait.
    pub.dmOrientation = static_cast<SHORT>(d(Keyword::device, 10));
    const ConfigEntry& paper = d.entry(Keyword::paper);
    pub.dmPaperSize = static_cast<SHORT>(paper.field[1]);
    pub.dmPaperWidth = static_cast<SHORT>(paper.field[3]);
    pub.dmPaperLength = static_cast<SHORT>(paper.field[4]);
    CopyName(pub.dmFormName, CCHFORMNAME, paper.name);
    pub.dmScale = 100;
    pub.dmCopies = 1;
    pub.dmDefaultSource = static_cast<SHORT>(d(Keyword::source, 1));
    pub.dmPrintQuality = static_cast<SHORT>(d(Keyword::resolution, 3));
    pub.dmYResolution = static_cast<SHORT>(d(Keyword::resolution, 4));
    pub.dmLogPixels = static_cast<WORD>(pub.dmPrintQuality);
    pub.dmColor = static_cast<SHORT>(d(Keyword::pixel, 1));
    pub.dmBitsPerPel = static_cast<DWORD>(d(Keyword::pixel, 3));
    pub.dmDuplex = 1;
    pub.dmTTOption = 1;
    pub.dmCollate = 1;
    pub.dmMediaType = 1;
    pub.dmDitherType = static_cast<DWORD>(d(Keyword::dither, 1));

    priv.signature = kPrivateSignature;
    priv.optionFlags = kDefaultOptionFlags;
    priv.pagesPerSheet = 1;
    priv.pageOrder = 0;
    priv.zoom = 100;
    priv.sheetPaperCode = static_cast<WORD>(paper.field[1]);
    priv.colourMode = static_cast<WORD>(d(Keyword::pixel, 0));
    priv.imagePosition = 1;
    priv.imagePercent = 100;
    priv.customWidth = static_cast<SHORT>(d(Keyword::paperX, 2));
    priv.customLength = static_cast<SHORT>(d(Keyword::paperY, 2));
    priv.device0 = static_cast<WORD>(d(Keyword::device, 0));
    priv.deviceFlags = kDeviceFonts;
    priv.layoutFlags &= ~kLayoutRotated;
    // Barcode fonts 1-8 take the types 0, 1, 2, 4, 5, 6, 7, 8; the first 2D
    // code font type 10 and the others none (0xFFFF).
    constexpr WORD kBarcodeTypes[8] = {0, 1, 2, 4, 5, 6, 7, 8};
    for (int i = 0; i < 8; ++i) {
        SetWord(&priv.barcodes[i], 16, kBarcodeTypes[i]);
        SetWord(&priv.barcodes[i], 19, 3);
        SetWord(&priv.barcodes[i], 20, 162);
        SetWord(&priv.codes2d[i], 16, i == 0 ? 10 : 0xFFFF);
        SetWord(&priv.codes2d[i], 19, 3);
        SetWord(&priv.codes2d[i], 20, 1);
    }

    WORD dualSide = 1;
    const LONG wanted = d(Keyword::dualside, 0);
    if (d(Keyword::printermodel, 0) == 1 && (wanted == 2 || wanted == 3))
        dualSide = static_cast<WORD>(wanted);
    priv.dualSide = dualSide;
    if (dualSide == 3) pub.dmDefaultSource = 261;
    priv.blankSkipping = dualSide == 1 ? 0x02 : 0;

    ValidateDevmode(config, settings, customPapers, &dm);
    *result = dm;
}

void MergeDevmode(const PrinterDataObj& config, const PrinterData& settings,
                  const CustomPaperList& customPapers, const Devmode& defaults, const BYTE* input,
                  std::size_t inputBytes, Devmode* result) {
    const Devmode d = defaults;  // `result` may be `defaults`
    if (input == nullptr || inputBytes < kDevmodeHeaderBytes) {
        *result = d;
        return;
    }
    WORD size, extra, specVersion;
    std::memcpy(&specVersion, input + offsetof(DEVMODEW, dmSpecVersion), 2);
    std::memcpy(&size, input + offsetof(DEVMODEW, dmSize), 2);
    std::memcpy(&extra, input + offsetof(DEVMODEW, dmDriverExtra), 2);
    const bool knownSize = size == 188 || size == 212 || size == sizeof(DEVMODEW);
    // Neither a size of a known version nor a version: not a device mode.
    // Nor is one too short to hold its own size fields.
    if ((!knownSize && specVersion == 0) || size < kDevmodeHeaderBytes) {
        *result = d;
        return;
    }

    // What the application's public part says, zeros where it ends: only
    // what it declares and what was handed in is ever read.
    const std::size_t publicBytes = std::min<std::size_t>({size, sizeof(DEVMODEW), inputBytes});
    DEVMODEW m;
    std::memset(&m, 0, sizeof m);
    std::memcpy(&m, input, publicBytes);
    // A field that lies beyond those bytes is not set, whatever dmFields says.
    for (const FieldSpan& f : kFieldSpans) {
        if (f.end > publicBytes) m.dmFields &= ~f.bit;
    }

    Devmode out = d;
    std::memcpy(&out.pub, input, publicBytes);
    out.pub.dmSize = d.pub.dmSize;
    out.pub.dmDriverExtra = d.pub.dmDriverExtra;
    out.pub.dmDriverVersion = d.pub.dmDriverVersion;
    out.pub.dmSpecVersion = kSpecVersion;
    // The fields are the application's own (less those its bytes do not
    // hold); paper selection then adds and clears its own.
    out.pub.dmFields = m.dmFields;
    out.pub.dmDeviceName[CCHDEVICENAME - 1] = 0;
    out.pub.dmFormName[CCHFORMNAME - 1] = 0;
    CheckMergedFields(config, m.dmFields, d.pub, &out.pub);

    // The private part is taken whole, and only when it is all there and
    // carries the signature; otherwise the default's stays.
    if (extra == kPrivateDevmodeSize && inputBytes >= size &&
        inputBytes - size >= kPrivateDevmodeSize) {
        PrivateDevmode priv;
        std::memcpy(&priv, input + size, sizeof priv);
        if (priv.signature == kPrivateSignature) {
            out.priv = priv;
            out.priv.imagePath[259] = 0;
        }
    }

    SelectPaper(config, customPapers, m, &out);
    ValidateDevmode(config, settings, customPapers, &out);
    *result = out;
}

void ValidateDevmode(const PrinterDataObj& config, const PrinterData& settings,
                     const CustomPaperList& customPapers, Devmode* devmode) {
    DEVMODEW& pub = devmode->pub;
    PrivateDevmode& priv = devmode->priv;

    if (!(settings.flags & kFlagDualSideAllowed)) priv.dualSide = 1;
    if (!(settings.flags & kFlagColourAllowed)) priv.colourMode = 1;

    if (priv.colourMode == kColourMode) {
        pub.dmBitsPerPel = 24;
        pub.dmColor = DMCOLOR_COLOR;
    } else {
        pub.dmColor = DMCOLOR_MONOCHROME;
        pub.dmBitsPerPel = pub.dmDitherType == 5 ? 24 : pub.dmDitherType == 260 ? 8 : 1;
    }

    pub.dmICMMethod = (priv.layoutFlags & kLayoutSystemColourMatching) ? 2 : 1;
    pub.dmICMIntent = 0;

    const bool landscape = pub.dmOrientation == DMORIENT_LANDSCAPE;
    if (landscape && priv.pagesPerSheet == 2) priv.deviceFlags &= ~kDeviceReversed2Up;

    if (landscape) {
        if (priv.rotation != 90 && priv.rotation != 270) priv.rotation = 90;
    } else {
        if (priv.rotation != 0 && priv.rotation != 180) priv.rotation = 0;
    }
    // A rotation sets the rotated bit; none leaves the bit as it came.
    if (priv.rotation != 0) priv.layoutFlags |= kLayoutRotated;

    // A fixed zoom of 0 % would leave the device a page of no pixels: it
    // reads as no zoom.
    if (priv.zoom == 0) priv.zoom = 100;

    // Event 4 is the end of a page, event 8 the end of the document; source
    // 260 neither cuts nor feeds.
    struct Masks {
        SHORT source;
        BYTE cut;
        BYTE feed;
    };
    constexpr Masks kMasks[] = {
        {257, 8, 8}, {258, 0, 8}, {259, 8, 0}, {260, 0, 0},
        {261, 4, 4}, {262, 0, 4}, {263, 4, 0}, {kSourceCustomMasks, 0xFF, 0xFF}};
    for (const Masks& row : kMasks) {
        if (row.source == pub.dmDefaultSource) {
            priv.cutMask = row.cut;
            priv.feedMask = row.feed;
        }
    }

    SetPaperRecords(config, customPapers, devmode);
}
