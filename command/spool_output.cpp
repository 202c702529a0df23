// Spool output (see spool_output.h).
#include "command/spool_output.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "command/page_raster.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/spooler.h"

namespace {

constexpr DWORD kFormatLimit = 256;

bool HasFlag(const ExtPdev& pdev, DWORD flag) {
    return (pdev.outputFlags & flag) != 0;
}
void SetFlag(ExtPdev* pdev, DWORD flag, bool on) {
    if (on)
        pdev->outputFlags |= flag;
    else
        pdev->outputFlags &= ~flag;
}

void EmptyBuffer(ExtPdev* pdev) {
    pdev->outputFill = 0;
    pdev->outputPosition = pdev->outputBuffer;
}

// Stored images on middle or last pages.
bool MiddleOrLastImages(const ExtPdev& pdev) {
    for (std::size_t i = 0; i < 4; ++i)
        if (PrivateWord(pdev, kPrivStoredImageMiddleStart + 2 * i) != 0) return true;
    return false;
}

bool ReverseOrder(const ExtPdev& pdev) {
    return (PrivateWord(pdev, kPrivLayoutFlags) & kLayoutReverseOrder) != 0;
}

HANDLE CallRevert(ExtPdev* pdev) {
    return pdev->revertHook != nullptr ? pdev->revertHook() : nullptr;
}
void CallImpersonate(ExtPdev* pdev, HANDLE token) {
    if (pdev->impersonateHook != nullptr) pdev->impersonateHook(token);
}

bool HasJobFolder(const ExtPdev& pdev) {
    return pdev.tempDirectory[0] != '\0';
}

void DeletePageFile(const std::string& name) {
    if (name.empty()) return;
    if (!DeleteFileA(name.c_str())) GetLastError();  // a missing file is no concern
}

// Each job keeps its page files in a folder of its own, made fresh (mode
// 0700) in the spooler's own context, where its files are made too. False,
// with the last error set, when none can be made.
bool MakeJobFolder(ExtPdev* pdev) {
    HANDLE token = RevertToPrinterSelf();
    const DWORD length = QlprCreatePrivateTempFolderA(kTempPathChars, pdev->tempDirectory);
    const DWORD error = GetLastError();
    ImpersonatePrinterClient(token);
    if (length != 0 && length < kTempPathChars) return true;
    pdev->tempDirectory[0] = '\0';
    SetLastError(length != 0 ? ERROR_FILENAME_EXCED_RANGE : error);
    return false;
}

// Removes the page files of the job's pages still there and its folder.
void RemoveJobFolder(ExtPdev* pdev) {
    if (!HasJobFolder(*pdev)) return;
    HANDLE token = RevertToPrinterSelf();
    for (LONG page = 1; page <= pdev->pageCount; ++page) DeletePageFile(PageFileName(*pdev, page));
    if (!RemoveDirectoryA(pdev->tempDirectory)) GetLastError();
    ImpersonatePrinterClient(token);
    pdev->tempDirectory[0] = '\0';
}

// The flags of page k of n in the final replay.
void SetPageKinds(ExtPdev* pdev, LONG k, LONG n) {
    pdev->outputFlags &= ~kOutPageKinds;
    bool placed = false;
    if (InFirstSheet(*pdev, k)) {
        pdev->outputFlags |= kOutFirstSheet | (k == 1 ? kOutPageOne : 0);
        placed = true;
    }
    if (InLastSheet(*pdev, k, n)) {
        pdev->outputFlags |= kOutLastSheet | (k == n ? kOutFinal : 0);
        placed = true;
    }
    if (!placed) pdev->outputFlags |= kOutMiddle;
    SetFlag(pdev, kOutEven, DualSide(*pdev) == 2 && k % 2 == 0);
}

// The page's file in the job's folder, which no one else can reach: a
// file of that name cannot be there already.
HANDLE CreatePageFile(const std::string& name) {
    if (name.empty()) return INVALID_HANDLE_VALUE;
    return CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Page 1 decides on page files; then the page's file is made and its header
// written. False when the job needs page files and no folder can hold them:
// writing straight through instead would lose copies, collation and page
// order while the job seemed to print.
bool OpenPage(ExtPdev* pdev) {
    if (pdev->pageCount == 1) {
        // dmCopies below 1 prints once.
        pdev->copies = std::max<LONG>(pdev->devmode.pub.dmCopies, 1);
        if (FilesNeeded(*pdev) || HoldToEnd(*pdev)) {
            if (!HasJobFolder(*pdev) && !MakeJobFolder(pdev)) return false;
            FlushOut(pdev);  // the document start commands go to the spooler
            SetFlag(pdev, kOutSpooler, false);
            SetFlag(pdev, kOutPageFile, true);
            if (pdev->devmode.pub.dmCollate == 1) SetFlag(pdev, kOutCollate, true);
            pdev->revertHook = RevertToPrinterSelf;
            pdev->impersonateHook = ImpersonatePrinterClient;
        }
    }
    if (!HasFlag(*pdev, kOutPageFile)) return true;
    const std::string name = PageFileName(*pdev, pdev->pageCount);
    HANDLE token = CallRevert(pdev);
    // A file that cannot be made stays invalid: writes to it fail and the
    // page is skipped at replay.
    pdev->pageFile = CreatePageFile(name);
    pdev->pageInFile = TRUE;
    BYTE header[kPageFileHeader] = {};
    std::memcpy(header, &pdev->devmode, sizeof pdev->devmode);
    WriteOut(pdev, header, sizeof header);
    CallImpersonate(pdev, token);
    return true;
}

}  // namespace

BOOL WriteOut(ExtPdev* pdev, const void* bytes, DWORD count) {
    if (HasFlag(*pdev, kOutFailed)) return 0;
    const auto* in = static_cast<const BYTE*>(bytes);
    if (count > 0 && in == nullptr) return 0;
    if (pdev->outputFill + static_cast<std::uint64_t>(count) > pdev->outputCapacity) {
        if (!FlushOut(pdev)) return 0;
        while (count > kPassThroughAbove) {
            const DWORD chunk = std::min(count, pdev->outputCapacity);
            std::memcpy(pdev->outputBuffer, in, chunk);
            pdev->outputFill = chunk;
            pdev->outputPosition = pdev->outputBuffer + chunk;
            if (!FlushOut(pdev)) return 0;
            in += chunk;
            count -= chunk;
        }
    }
    if (count > 0) {
        std::memcpy(pdev->outputPosition, in, count);
        pdev->outputPosition += count;
        pdev->outputFill += count;
    }
    return 1;
}

BOOL FlushOut(ExtPdev* pdev) {
    if (pdev->outputFill == 0 || HasFlag(*pdev, kOutFailed)) return 1;
    BOOL result = 1;
    if (HasFlag(*pdev, kOutSpooler)) {
        if (pdev->writeHook == nullptr ||
            !pdev->writeHook(pdev, pdev->outputBuffer, pdev->outputFill)) {
            SetFlag(pdev, kOutFailed, true);
            EmptyBuffer(pdev);
            return 0;
        }
    } else if (HasFlag(*pdev, kOutPageFile)) {
        DWORD written = 0;
        if (!WriteFile(pdev->pageFile, pdev->outputBuffer, pdev->outputFill, &written, nullptr))
            result = 0;
    }
    EmptyBuffer(pdev);
    return result;
}

BOOL WriteFormat(ExtPdev* pdev, const char* format, ...) {
    char text[kFormatLimit + 1];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) return 0;
    return WriteOut(pdev, text, std::min<DWORD>(static_cast<DWORD>(length), kFormatLimit));
}

std::string PageFileName(const ExtPdev& pdev, LONG page) {
    if (!HasJobFolder(pdev)) return {};  // never a name outside the job's folder
    char name[kTempPathChars + 32];
    const std::size_t folder = strnlen(pdev.tempDirectory, kTempPathChars - 1);
    std::snprintf(name, sizeof name, "%.*s%04X%04X.tmp", static_cast<int>(folder),
                  pdev.tempDirectory, static_cast<unsigned>(pdev.jobId),
                  static_cast<unsigned>(page));
    return name;
}

void ReplayPage(ExtPdev* pdev, const char* name, int times) {
    if (name == nullptr || name[0] == '\0') return;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const DWORD size = GetFileSize(file, nullptr);
    const void* view = nullptr;
    if (size != INVALID_FILE_SIZE && size >= kPageFileHeader) {
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping != nullptr) {
            view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            CloseHandle(mapping);
        }
    }
    CloseHandle(file);
    if (view == nullptr) return;
    const auto* bytes = static_cast<const BYTE*>(view);
    std::memcpy(&pdev->devmode, bytes, sizeof pdev->devmode);
    for (int i = 0; i < times; ++i) {
        SendEventCommands(pdev, kEventStartPage);
        WriteOut(pdev, bytes + kPageFileHeader, size - kPageFileHeader);
        SendEventCommands(pdev, kEventEndPage);
        FlushOut(pdev);
    }
    UnmapViewOfFile(view);
}

bool InFirstSheet(const ExtPdev& pdev, LONG k) {
    return DualSide(pdev) == 2 ? k <= 2 : k <= 1;
}

bool InLastSheet(const ExtPdev& pdev, LONG k, LONG n) {
    return DualSide(pdev) == 2 ? k >= ((n + 1) / 2) * 2 - 1 : k >= n;
}

bool FilesNeeded(const ExtPdev& pdev) {
    const bool images = MiddleOrLastImages(pdev);
    const bool pairs = DualSide(pdev) == 2;
    return pdev.copies > 1 || (images && !pairs) || (!images && pairs);
}

bool HoldToEnd(const ExtPdev& pdev) {
    return ReverseOrder(pdev) || (MiddleOrLastImages(pdev) && DualSide(pdev) == 2);
}

bool KeepFiles(const ExtPdev& pdev) {
    return HoldToEnd(pdev) || (pdev.copies > 1 && HasFlag(pdev, kOutCollate));
}

void FinishPage(ExtPdev* pdev) {
    if (!HasFlag(*pdev, kOutPageFile) || !pdev->pageInFile) return;
    FlushOut(pdev);
    if (pdev->pageFile != INVALID_HANDLE_VALUE) CloseHandle(pdev->pageFile);
    pdev->pageFile = INVALID_HANDLE_VALUE;
    pdev->pageInFile = FALSE;
    if (!FilesNeeded(*pdev) || HoldToEnd(*pdev)) return;

    const LONG finalMark = HasFlag(*pdev, kOutFinal) ? pdev->pageCount : 0;
    const bool collate = HasFlag(*pdev, kOutCollate);
    const LONG passes = collate ? 1 : pdev->copies;
    LONG pages = 1;
    if (!collate && DualSide(*pdev) == 2) {
        if (pdev->pageCount % 2 == 0) {
            pages = 2;
        } else if (HasFlag(*pdev, kOutFinal)) {
            SetFlag(pdev, kOutFinal, false);
        } else {
            return;  // an odd page waits for its partner
        }
    }
    const LONG pageCount = pdev->pageCount;
    const Devmode devmode = pdev->devmode;
    HANDLE token = CallRevert(pdev);
    SetFlag(pdev, kOutPageFile, false);
    SetFlag(pdev, kOutSpooler, true);
    const bool keep = KeepFiles(*pdev);
    for (LONG pass = 0; pass < passes; ++pass) {
        for (LONG p = std::max<LONG>(pageCount - pages + 1, 1); p <= pageCount; ++p) {
            SetFlag(pdev, kOutFinal, p == finalMark);
            SetFlag(pdev, kOutEven, DualSide(*pdev) == 2 && p % 2 == 0);
            pdev->pageCount = p;
            const std::string name = PageFileName(*pdev, p);
            ReplayPage(pdev, name.c_str());
            if (pass == passes - 1 && !keep) DeletePageFile(name);
        }
    }
    SetFlag(pdev, kOutSpooler, false);
    SetFlag(pdev, kOutPageFile, true);
    CallImpersonate(pdev, token);
    pdev->devmode = devmode;
    pdev->pageCount = pageCount;
    if (pageCount == finalMark) SetFlag(pdev, kOutFinal, true);
}

BOOL CommandStartPage(ExtPdev* pdev) {
    if (HasFlag(*pdev, kOutFailed)) return 0;
    const LONG n = pdev->pageCount;
    if (n == 1) {
        SetFlag(pdev, kOutFirstSheet, true);
    } else {
        pdev->pageCount = n - 1;
        pdev->outputFlags &= ~kOutPageKinds;
        if (InFirstSheet(*pdev, n - 1))
            pdev->outputFlags |= kOutFirstSheet | (n - 1 == 1 ? kOutPageOne : 0);
        else
            pdev->outputFlags |= kOutMiddle;
        FinishPage(pdev);
        pdev->outputFlags &= ~(kOutFirstSheet | kOutLastSheet | kOutPageOne | kOutFinal);
        pdev->outputFlags |= kOutMiddle;
        pdev->pageCount = n;
    }
    SetFlag(pdev, kOutEven, DualSide(*pdev) == 2 && n % 2 == 0);
    if (!OpenPage(pdev)) {
        SetFlag(pdev, kOutFailed, true);  // the job ends with nothing more sent
        return 0;
    }
    if (HasFlag(*pdev, kOutSpooler)) SendEventCommands(pdev, kEventStartPage);
    return 1;
}

BOOL CommandEndPage(ExtPdev* pdev) {
    if (!EmitPage(pdev)) return 0;
    if (HasFlag(*pdev, kOutSpooler)) SendEventCommands(pdev, kEventEndPage);
    return HasFlag(*pdev, kOutFailed) ? 0 : 1;
}

BOOL CommandEndDoc(ExtPdev* pdev) {
    EmitPage(pdev);  // a page whose end never came
    pdev->outputFlags &= ~(kOutMiddle | kOutFirstSheet | kOutPageOne);
    pdev->outputFlags |= kOutLastSheet | kOutFinal;
    if (InFirstSheet(*pdev, pdev->pageCount)) pdev->outputFlags |= kOutFirstSheet;
    FinishPage(pdev);

    const LONG n = pdev->pageCount;
    FlushOut(pdev);
    SetFlag(pdev, kOutPageFile, false);
    SetFlag(pdev, kOutSpooler, true);
    if (KeepFiles(*pdev)) {
        HANDLE token = CallRevert(pdev);
        const Devmode devmode = pdev->devmode;
        const bool collate = HasFlag(*pdev, kOutCollate);
        const bool reverse = ReverseOrder(*pdev);
        LONG passes = 1;
        LONG times = pdev->copies;
        if (collate) {
            // Without holding, the first copy was replayed page by page.
            passes = pdev->copies - (pdev->copies > 1 && !HoldToEnd(*pdev) ? 1 : 0);
            times = 1;
        }
        auto fileOf = [&](LONG k) { return reverse ? n - k + 1 : k; };
        if (collate || DualSide(*pdev) != 2) {
            for (LONG pass = 0; pass < passes; ++pass) {
                for (LONG k = 1; k <= n; ++k) {
                    SetPageKinds(pdev, k, n);
                    pdev->pageCount = fileOf(k);
                    const std::string name = PageFileName(*pdev, fileOf(k));
                    ReplayPage(pdev, name.c_str(), static_cast<int>(times));
                    if (pass == passes - 1) DeletePageFile(name);
                }
            }
        } else {
            for (LONG i = 1; i <= n; ++i) {
                if (i % 2 != 0 && i != n) continue;
                for (LONG copy = 0; copy < pdev->copies; ++copy) {
                    for (LONG k = (i % 2 == 0 ? i - 1 : i); k <= i; ++k) {
                        SetPageKinds(pdev, k, n);
                        pdev->pageCount = fileOf(k);
                        const std::string name = PageFileName(*pdev, fileOf(k));
                        ReplayPage(pdev, name.c_str());
                        if (copy == pdev->copies - 1) DeletePageFile(name);
                    }
                }
            }
        }
        CallImpersonate(pdev, token);
        SetFlag(pdev, kOutCollate, false);
        pdev->devmode = devmode;
        pdev->pageCount = n;
    }
    RemoveJobFolder(pdev);
    SendEventCommands(pdev, kEventEndDoc);
    return HasFlag(*pdev, kOutFailed) ? 0 : 1;
}

// A document whose device goes away before its end is abandoned: its held
// pages are neither replayed nor sent, and no document end group follows
// either, since nothing is flushed when a record goes away and the next job
// initialises the printer anyway.
void DiscardPageFiles(ExtPdev* pdev) {
    if (pdev->pageFile != INVALID_HANDLE_VALUE) CloseHandle(pdev->pageFile);
    pdev->pageFile = INVALID_HANDLE_VALUE;
    pdev->pageInFile = FALSE;
    RemoveJobFolder(pdev);
}
