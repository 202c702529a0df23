// The operations of BitmapTable.
//
// Depths: the driver renders 1, 8 or 24 bits per pixel, and only those are
// written; a page of any other depth is refused at its start, since no
// palette is defined for 4 or 16 bits.
// Above 1 bit per pixel both landscape directions take their rows alike:
// output row i is the band's pixel column i read from the bottom row up.
// The invert flag complements every data byte of every image row (the pixel
// values; the row's padding to 4 bytes stays zero); headers and palette are
// not touched.
#include "command/bitmap_output.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "command/rotate.h"
#include "command/spool_output.h"
#include "platform/last_error.h"

namespace {

bool Landscape(const ExtPdev& pdev) {
    return pdev.geometry.bandDirection == kStripsRight ||
           pdev.geometry.bandDirection == kStripsLeft;
}

DWORD PaletteEntries(DWORD bits) {
    switch (bits) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        case 16:
            return 3;
        default:
            return 0;
    }
}

bool Invert(const ExtPdev& pdev) {
    return (PrivateByte(pdev, kPrivOptionFlags) & kOptionInvertBitmap) != 0;
}

void Put16(BYTE* at, WORD value) {
    std::memcpy(at, &value, sizeof value);
}
void Put32(BYTE* at, DWORD value) {
    std::memcpy(at, &value, sizeof value);
}

BOOL BitmapStartPage(ExtPdev* pdev) {
    const DWORD bits = pdev->geometry.bitsPerPixel;
    if (bits != 1 && bits != 8 && bits != 24) return 0;
    LONG width = pdev->pageSize.cx;
    LONG height = pdev->pageSize.cy;
    if (Landscape(*pdev)) std::swap(width, height);
    if (width <= 0 || height <= 0) return 0;
    const DWORD entries = PaletteEntries(bits);
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(bits) * width + 31) / 32 * 4;
    const std::uint64_t fileSize = rowBytes * height + entries * 4 + 54;
    if (fileSize > 0xFFFFFFFFu) return 0;

    BYTE header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<DWORD>(fileSize));
    Put32(header + 10, entries * 4 + 54);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<DWORD>(width));
    Put32(header + 22, static_cast<DWORD>(height));
    Put16(header + 26, 1);
    Put16(header + 28, static_cast<WORD>(bits));
    BOOL ok = WriteOut(pdev, header, sizeof header);
    if (bits == 1) {
        const BYTE palette[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
        ok = ok && WriteOut(pdev, palette, sizeof palette);
    } else if (bits == 8) {
        BYTE palette[256 * 4];
        for (int i = 0; i < 256; ++i) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<BYTE>(i);
            palette[4 * i + 3] = 0;
        }
        ok = ok && WriteOut(pdev, palette, sizeof palette);
    }
    return FlushOut(pdev) && ok;
}

void FreeRowBuffer(BandDesc* band) {
    std::free(band->rowBuffer);
    band->rowBuffer = band->rowBufferEnd = nullptr;
    band->rowBufferSize = 0;
}

BOOL BitmapEndPage(ExtPdev* pdev) {
    const BOOL ok = FlushOut(pdev);
    FreeRowBuffer(&pdev->band);
    return ok;
}

BOOL BitmapStartBand(ExtPdev* pdev, BandDesc* band) {
    band->bitsPerPixel = pdev->geometry.bitsPerPixel;
    FreeRowBuffer(band);
    const LONG pixels = Landscape(*pdev) ? band->height : band->width;
    std::uint64_t bytes = RowBytes(pixels, band->bitsPerPixel);
    if (band->bitsPerPixel == 1) bytes *= 8;
    if (pixels <= 0 || bytes == 0 || bytes > 0x7FFFFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    band->rowBuffer = static_cast<BYTE*>(std::calloc(1, static_cast<std::size_t>(bytes)));
    if (band->rowBuffer == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    band->rowBufferSize = static_cast<DWORD>(bytes);
    band->rowBufferEnd = band->rowBuffer + bytes;
    return 1;
}

BOOL BitmapWriteRow(ExtPdev* pdev, const BYTE* bytes, DWORD count) {
    static const BYTE kZeros[4] = {};
    if (!WriteOut(pdev, bytes, count)) return 0;
    const DWORD pad = (4 - count % 4) % 4;
    return pad == 0 || WriteOut(pdev, kZeros, pad);
}

// Writes one row from the row buffer, inverted when asked.
bool PutRow(ExtPdev* pdev, BYTE* row, DWORD count, bool invert) {
    if (invert)
        for (DWORD i = 0; i < count; ++i) row[i] = static_cast<BYTE>(~row[i]);
    if (pdev->operations.writeRow(pdev, row, count)) return true;
    pdev->outputFlags |= kOutFailed;
    return false;
}

BOOL BitmapSendBand(ExtPdev* pdev, BandDesc* band) {
    const DWORD bits = band->bitsPerPixel;
    if (band->bits == nullptr || band->rowBuffer == nullptr || band->width <= 0 ||
        band->height <= 0 || (bits != 1 && bits != 8 && bits != 24))
        return 0;
    const DWORD sourceRow = RowBytes(band->width, bits);
    if (band->stride < 0 || static_cast<DWORD>(band->stride) < sourceRow) return 0;
    const bool invert = Invert(*pdev);
    const std::ptrdiff_t stride = band->stride;

    if (!Landscape(*pdev)) {
        if (band->rowBufferSize < sourceRow) return 0;
        for (LONG r = 0; r < band->height; ++r) {
            std::memcpy(band->rowBuffer, band->bits + r * stride, sourceRow);
            if (!PutRow(pdev, band->rowBuffer, sourceRow, invert)) return 0;
        }
        return 1;
    }

    const DWORD outRow = RowBytes(band->height, bits);
    const bool quarter = pdev->geometry.rotation == 90;
    if (bits == 1) {
        if (band->rowBufferSize < 8 * outRow) return 0;
        // Output row i is source column (width - 1 - i) read downward at 90°,
        // source column i read upward at 270°; the padding bits of the last
        // byte column make no rows.
        const LONG columns = static_cast<LONG>(sourceRow);
        const LONG padRows = columns * 8 - band->width;
        LONG written = 0;
        for (LONG j = 0; j < columns; ++j) {
            const LONG column = quarter ? columns - 1 - j : j;
            RotateOneBit(band->bits, band->stride, band->height, column, 1, quarter ? 90 : 270,
                         band->rowBuffer, static_cast<LONG>(outRow));
            const LONG first = quarter && j == 0 ? padRows : 0;
            const LONG last = !quarter && j == columns - 1 ? 8 - padRows : 8;
            for (LONG i = first; i < last; ++i, ++written)
                if (!PutRow(pdev, band->rowBuffer + i * outRow, outRow, invert)) return 0;
        }
        return written == band->width ? 1 : 0;
    }

    if (band->rowBufferSize < outRow) return 0;
    const DWORD pixelBytes = bits / 8;
    for (LONG column = 0; column < band->width; ++column) {
        BYTE* out = band->rowBuffer;
        for (LONG row = band->height - 1; row >= 0; --row, out += pixelBytes)
            std::memcpy(out, band->bits + row * stride + std::ptrdiff_t{column} * pixelBytes,
                        pixelBytes);
        if (!PutRow(pdev, band->rowBuffer, outRow, invert)) return 0;
    }
    return 1;
}

BOOL Nothing(ExtPdev*) {
    return 1;
}

}  // namespace

const OperationTable BitmapTable = {
    Nothing,          // start of document
    Nothing,          // end of document
    BitmapStartPage,  // start of page: the file and information headers, the palette
    BitmapEndPage,    // end of page: flush, free the row buffer
    BitmapStartBand,  // start of band: the row buffer
    BitmapSendBand,   // send band: the band's rows
    BitmapWriteRow,   // write row: one row padded to 4 bytes
};
