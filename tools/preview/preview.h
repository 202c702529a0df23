// The paper roll a printer byte stream prints, drawn into a PNG: raster dots
// exact (one dot = scale x scale pixels, plane 1 black, plane 2 red), rows
// where the feeds put them, printer-font text, barcodes and 2D codes,
// stored images as labelled boxes, cuts as labelled dashed lines, drawer
// kicks and side selection as marks in the right margin.
#pragma once

#include <string>
#include <vector>

namespace qlpr {

struct PreviewOptions {
    int lineBytes = 72;  // bytes of one sent raster line, pads included
    int leftPad = 0;     // bytes of left pad the preview drops from each line
    int scale = 1;       // pixels per dot, 1 .. kMaxPreviewScale
};

inline constexpr int kMaxPreviewScale = 16;
// Width of the right margin holding marks and labels, in dots.
inline constexpr int kPreviewMarginDots = 160;
// Grey rows below the end of the paper, so that a final cut shows.
inline constexpr int kPreviewTailDots = 24;

bool WritePreviewPng(const std::vector<unsigned char>& stream, const PreviewOptions& options,
                     const std::string& pngPath, std::string* error);

// Drawing text fills cairo's and fontconfig's static font caches, which
// otherwise live until the process ends (and leak checkers report them).
// Call once the program draws no more previews and holds no cairo object.
void ReleasePreviewFonts();

}  // namespace qlpr
