// The pages qlpr print makes of its inputs: an image file is a page of its
// own; a page description (.json) lists images, text, rectangles, lines,
// polylines and polygons in drawing order, in dots:
//
//   { "items": [
//       { "type": "image", "file": "logo.pbm", "x": 188, "y": 0 },
//       { "type": "image", "file": "photo.png", "x": 0, "y": 120, "width": 576 },
//       { "type": "rectangle", "x": 0, "y": 100, "width": 576, "height": 3,
//         "colour": "#000000" },
//       { "type": "line", "x1": 0, "y1": 400, "x2": 576, "y2": 400, "dash": [8, 4] } ] }
//
// An image's "width" and "height" are optional: with both it is scaled to
// them, with one the other follows its aspect, with none it is printed one
// pixel to one dot. A rectangle's colour defaults to black; with an
// "outline" (and "outlineWidth", drawn inside it) it is filled only when
// it has a "colour" or a hatch "pattern". Lines and polylines take
// "colour", "width" and "dash"; polygons "fill", "outline",
// "outlineWidth" and "rule", and are filled black with neither fill nor
// outline. Text takes "x", "y" (the top left of its cell, or with "align"
// "right" / "centre" the cell's right edge / centre), "text", "font" (a
// printer face as qlpr info lists it, or any installed face), "size",
// "bold", "italic", "underline", "strikeout" and "colour". A description's
// "settings" object sets device mode fields by their qlpr info names, as
// --set does (the command line's options win). How they are drawn: see the paths of host/print_job.cpp and the
// README. File names are relative to the description's folder (the
// working folder for a description read from standard input).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "host/print_job.h"
#include "tools/image_files.h"
#include "tools/print_options.h"

namespace qlpr {

// Coordinates and sizes of a description stay within this, so that no
// rectangle of the page overflows.
inline constexpr long kMaxCoordinate = 1L << 20;
// A description may list at most this many items.
inline constexpr std::size_t kMaxPageItems = 10000;
// A polyline or polygon has at most this many points.
inline constexpr std::size_t kMaxPathPoints = 100000;
// Pens and outlines are at most this many dots wide.
inline constexpr long kMaxPenWidth = 1000;
// A dash pattern has at most this many lengths.
inline constexpr std::size_t kMaxDashes = 16;

struct PageContent {
    host::Page page;
    LONG bottom = 0;  // the lowest row anything reaches, exclusive
    // A description's "settings", applied to the job's device mode under
    // the command line's options.
    std::vector<FieldSetting> settings;
    // A page made of one image file: --fit scales it once the paper is known.
    bool singleImage = false;
};

// The image scaled onto `target` (page-image coordinates).
host::PageImage PlaceImage(DecodedImage image, RECTL target);

// A page of one image at the top left, one pixel to one dot, or scaled to
// `fitWidth` keeping its aspect when that is above 0.
PageContent ImagePage(DecodedImage image, LONG fitWidth);

// Scales a page of one image file to `width`, keeping its aspect; any
// other page is left as it is.
void FitImagePage(PageContent* content, LONG width);

// Parses a page description; image files are read relative to `folder`.
std::optional<PageContent> ParsePageDescription(const std::string& text,
                                                const std::filesystem::path& folder,
                                                std::string* error);

// The input that names standard input.
inline constexpr char kStandardInput[] = "-";

// A page from an input file: a description when its name ends in .json,
// else an image. Standard input (kStandardInput) is a description when its
// first byte after blanks is '{', its file names relative to the working
// folder, else an image. Errors name the file.
std::optional<PageContent> LoadPage(const std::filesystem::path& input, LONG fitWidth,
                                    std::string* error);

}  // namespace qlpr
