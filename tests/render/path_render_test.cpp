// The path renderer as glyph outlines use it: points moved by an offset, and
// fixed-point coordinates rounded down to pixels.

#include "render/path_render.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/device_instance.h"
#include "host/engine_objects.h"
#include "platform/heap.h"

namespace {

constexpr LONG kSide = 8;

TEST(PathRender, GlyphOutlineMovedByItsOffsetWithCoordinatesRoundedDown) {
    struct Case {
        const char* name;
        std::vector<POINTFIX> outline;  // starts with a vertical side: the filler draws it
        POINTL offset;
        RECTL inked;  // empty: nothing
    };
    const Case cases[] = {
        {"moved square", {{0, 64}, {0, 0}, {64, 0}, {64, 64}}, {3, 2}, {3, 2, 7, 6}},
        {"a sixteenth left of the origin is pixel -1",
         {{-32, 64}, {-32, 0}, {-1, 0}, {-1, 64}},
         {1, 0},
         {0, 0, 0, 0}},
        {"a sixteenth right of it is pixel 0",
         {{-32, 64}, {-32, 0}, {1, 0}, {1, 64}},
         {1, 0},
         {0, 0, 1, 4}},
    };
    for (const Case& c : cases) {
        DeviceInstance instance{};
        instance.heap = HeapCreate(0, 0, 0);
        instance.geometry.bitsPerPixel = 8;
        instance.bandClip = {0, 0, kSide, kSide};
        instance.printerData.logMode = kLogNone;
        std::vector<BYTE> bytes(kSide * kSide, 0xFF);
        SURFOBJ band{};
        band.sizlBitmap = {kSide, kSide};
        band.cjBits = static_cast<ULONG>(bytes.size());
        band.pvBits = band.pvScan0 = bytes.data();
        band.lDelta = kSide;
        band.iBitmapFormat = BMF_8BPP;
        band.fjBitmap = BMF_TOPDOWN;
        host::EnginePath path({{c.outline, true}});
        auto brush = host::EngineBrush::Solid(0x000000);
        PathRequest request;
        request.operation = PathOperation::Glyph;
        request.path = path.object();
        request.fillBrush = brush->object();
        request.mix = 0x0D0D;
        request.bounds = {0, 0, kSide, kSide};
        request.offset = &c.offset;
        EXPECT_TRUE(RenderPath(&instance, &band, request)) << c.name;
        for (LONG y = 0; y < kSide; ++y)
            for (LONG x = 0; x < kSide; ++x) {
                const bool inside = x >= c.inked.left && x < c.inked.right && y >= c.inked.top &&
                                    y < c.inked.bottom;
                EXPECT_EQ(bytes[y * kSide + x], inside ? 0 : 0xFF)
                    << c.name << " " << x << "," << y;
            }
        HeapDestroy(instance.heap);
    }
}

}  // namespace
