// The control command groups of the four events: document start (1), page
// start (2), page end (4) and document end (8). Each group is made from the
// settings of the device mode in force when it is sent (at replay, the page's
// stored device mode) and from the page kind flags; nothing is kept between
// groups.
#include <cstddef>
#include <initializer_list>

#include "command/ext_pdev.h"
#include "command/feed.h"
#include "command/hex_decode.h"
#include "command/spool_output.h"

namespace {

// Private device-mode fields of the groups.
constexpr std::size_t kPrivDrawer1Mask = 1410;
constexpr std::size_t kPrivDrawer2Mask = 1414;
constexpr std::size_t kPrivCutMask = 1422;
constexpr std::size_t kPrivFeedMask = 1423;
constexpr std::size_t kPrivFeedLengths = 1426;  // 4 signed words, 0.1 mm: events 1, 2, 4, 8
constexpr std::size_t kPrivUserMask = 1434;
constexpr std::size_t kUserStringBytes = 130;
constexpr std::size_t kPrivImageModes = 1958;    // 6 words: first, middle, last page;
constexpr std::size_t kPrivImageNumbers = 1970;  // each page start, then page end

// dmDefaultSource value that makes the feed lengths of the device mode count.
constexpr SHORT kSourceOwnFeedLengths = 700;
constexpr LONG kPageEndFeed = 180;          // dots, one-sided
constexpr LONG kPageEndFeedTwoSided = 368;  // dots, dualside 2

void Send(ExtPdev* pdev, std::initializer_list<BYTE> bytes) {
    WriteOut(pdev, bytes.begin(), static_cast<DWORD>(bytes.size()));
}

bool Has(const ExtPdev& pdev, DWORD flag) {
    return (pdev.outputFlags & flag) != 0;
}

bool EvenPage(const ExtPdev& pdev) {
    return Has(pdev, kOutEven);
}

// A sheet is done when it has no second side to come: one-sided modes, the
// even page of a two-sided pair, or the job's final page.
bool EndOfSheet(const ExtPdev& pdev) {
    return DualSide(pdev) != 2 || EvenPage(pdev) || Has(pdev, kOutFinal);
}

// Index of an event among 1, 2, 4, 8.
std::size_t EventIndex(int event) {
    switch (event) {
        case kEventStartDoc:
            return 0;
        case kEventStartPage:
            return 1;
        case kEventEndPage:
            return 2;
        default:
            return 3;
    }
}

std::size_t UserStringOffset(int event) {
    switch (event) {
        case kEventStartDoc:
            return 1436;
        case kEventEndDoc:
            return 1566;
        case kEventStartPage:
            return 1696;
        default:
            return 1826;
    }
}

void UserString(ExtPdev* pdev, int event) {
    if ((PrivateWord(*pdev, kPrivUserMask) & event) == 0) return;
    // Read through the field readers, so that a short device mode gives an
    // empty string rather than bytes beyond it.
    char text[kUserStringBytes];
    const std::size_t offset = UserStringOffset(event);
    for (std::size_t i = 0; i < kUserStringBytes; ++i)
        text[i] = static_cast<char>(PrivateByte(*pdev, offset + i));
    const std::string_view digits = BoundedString(text, kUserStringBytes);
    if (digits.empty()) return;
    const std::vector<BYTE> bytes = HexDecode(digits);
    WriteOut(pdev, bytes.data(), static_cast<DWORD>(bytes.size()));
    Send(pdev, {0x1B, 0x4A, 0x00});
}

void DrawerKicks(ExtPdev* pdev, int event) {
    if (event == kEventEndPage && !EndOfSheet(*pdev)) return;
    if (PrivateWord(*pdev, kPrivDrawer1Mask) & event) Send(pdev, {0x1B, 0x70, 0x00, 0x0A, 0x64});
    if (PrivateWord(*pdev, kPrivDrawer2Mask) & event) Send(pdev, {0x1B, 0x70, 0x01, 0x0A, 0x64});
}

// The feed of an event in dots; 0.1 mm become dots at 8 per mm, truncated
// toward zero.
LONG FeedAmount(const ExtPdev& pdev, int event) {
    if (pdev.devmode.pub.dmDefaultSource == kSourceOwnFeedLengths) {
        const auto length =
            static_cast<SHORT>(PrivateWord(pdev, kPrivFeedLengths + 2 * EventIndex(event)));
        return LONG{length} * 8 / 10;
    }
    if (event == kEventStartDoc || event == kEventStartPage) return 0;
    return DualSide(pdev) == 2 ? kPageEndFeedTwoSided : kPageEndFeed;
}

void FeedAndCut(ExtPdev* pdev, int event) {
    if (event == kEventEndPage && !EndOfSheet(*pdev)) return;
    if (event == kEventStartPage && EvenPage(*pdev)) return;
    if (PrivateByte(*pdev, kPrivFeedMask) & event) {
        // A negative length still selects the feed mode, then feeds nothing:
        // the printer cannot feed backwards.
        const LONG dots = FeedAmount(*pdev, event);
        if (dots != 0) {
            Send(pdev, {0x1F, 0x60, 0x00});
            FeedInner(pdev, dots);
        }
    }
    if (PrivateByte(*pdev, kPrivCutMask) & event) Send(pdev, {0x1D, 0x56, 0x00});
}

void SideSelection(ExtPdev* pdev, int event) {
    const WORD dualSide = DualSide(*pdev);
    if (event == kEventStartPage) {
        switch (dualSide) {
            case 1:
                Send(pdev, {0x1F, 0x60, 0x00});
                break;
            case 2:
                if (EvenPage(*pdev))
                    Send(pdev, {0x1F, 0x61, 0x01});
                else
                    Send(pdev, {0x1F, 0x60, 0x02, 0x1F, 0x61, 0x00});
                break;
            case 3:
                Send(pdev, {0x1F, 0x60, 0x03});
                break;
            default:
                break;
        }
        Send(pdev, {0x1B, 0x53});
    } else if (event == kEventEndPage && dualSide == 2 && EndOfSheet(*pdev)) {
        Send(pdev, {0x1F, 0x62});
    }
}

void StoredImage(ExtPdev* pdev, int event) {
    std::size_t kind;  // first, middle, last page
    if (Has(*pdev, kOutFirstSheet))
        kind = 0;
    else if (Has(*pdev, kOutMiddle))
        kind = 1;
    else if (Has(*pdev, kOutLastSheet))
        kind = 2;
    else
        return;
    const std::size_t entry = 2 * (2 * kind + (event == kEventEndPage ? 1 : 0));
    WORD mode = PrivateWord(*pdev, kPrivImageModes + entry);
    const auto number = static_cast<SHORT>(PrivateWord(*pdev, kPrivImageNumbers + entry));
    // With two-sided pairs, mode 1 prints on odd pages only and mode 2 on
    // even pages only.
    if (DualSide(*pdev) == 2 && ((mode == 1 && EvenPage(*pdev)) || (mode == 2 && !EvenPage(*pdev))))
        mode = 0;
    if (mode == 0 || number < 0) return;
    Send(pdev, {0x1B, 0x4A, 0x00, 0x1F, 0x30, static_cast<BYTE>(number & 0xFF), 0x1D, 0x2F, 0x00});
}

}  // namespace

BOOL SendEventCommands(ExtPdev* pdev, int event) {
    switch (event) {
        case kEventStartDoc:
            Send(pdev, {0x1B, 0x40, 0x1B, 0x32});  // initialise, default line spacing
            UserString(pdev, event);
            DrawerKicks(pdev, event);
            FeedAndCut(pdev, event);
            return 1;
        case kEventStartPage:
            UserString(pdev, event);
            DrawerKicks(pdev, event);
            FeedAndCut(pdev, event);
            SideSelection(pdev, event);
            StoredImage(pdev, event);
            return 1;
        case kEventEndPage:
            // An even page prints its stored image before the sheet's end
            // mark; any other page after its side command.
            if (EvenPage(*pdev)) {
                StoredImage(pdev, event);
                SideSelection(pdev, event);
            } else {
                SideSelection(pdev, event);
                StoredImage(pdev, event);
            }
            UserString(pdev, event);
            DrawerKicks(pdev, event);
            FeedAndCut(pdev, event);
            return 1;
        case kEventEndDoc:
            UserString(pdev, event);
            DrawerKicks(pdev, event);
            FeedAndCut(pdev, event);
            Send(pdev, {0x1B, 0x40});
            return FlushOut(pdev);
        default:
            return 1;
    }
}
