// The engine's bitmaps, their handles, locks and device association.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/engine.h"

namespace {

HSURF AsSurface(HBITMAP bitmap) {
    return HSURF{bitmap.value};
}

// A bitmap that goes with the test.
class ScopedBitmap {
  public:
    ScopedBitmap(SIZEL size, LONG stride, ULONG format, FLONG flags, PVOID bits = nullptr)
        : handle_(AsSurface(EngCreateBitmap(size, stride, format, flags, bits))) {}
    ~ScopedBitmap() {
        if (handle_) EngDeleteSurface(handle_);
    }
    ScopedBitmap(const ScopedBitmap&) = delete;
    ScopedBitmap& operator=(const ScopedBitmap&) = delete;
    HSURF get() const { return handle_; }

  private:
    HSURF handle_;
};

struct StrideCase {
    ULONG format;
    LONG width;
    LONG stride;
};

TEST(EngineBitmaps, NaturalStridesPadRowsToFourBytes) {
    const StrideCase cases[] = {
        {BMF_1BPP, 576, 72}, {BMF_1BPP, 1, 4},   {BMF_1BPP, 33, 8}, {BMF_4BPP, 9, 8},
        {BMF_8BPP, 3, 4},    {BMF_8BPP, 8, 8},   {BMF_16BPP, 3, 8}, {BMF_24BPP, 5, 16},
        {BMF_24BPP, 4, 12},  {BMF_32BPP, 3, 12},
    };
    for (const StrideCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " width " << c.width);
        ScopedBitmap bitmap({c.width, 3}, 0, c.format, BMF_TOPDOWN);
        ASSERT_TRUE(bitmap.get());
        SURFOBJ* so = EngLockSurface(bitmap.get());
        ASSERT_NE(so, nullptr);
        EXPECT_EQ(so->lDelta, c.stride);
        EXPECT_EQ(so->cjBits, static_cast<ULONG>(c.stride * 3));
        EXPECT_EQ(so->iBitmapFormat, c.format);
        EXPECT_EQ(so->iType, STYPE_BITMAP);
        EXPECT_EQ(so->sizlBitmap.cx, c.width);
        EXPECT_EQ(so->sizlBitmap.cy, 3);
        EXPECT_EQ(so->hsurf, bitmap.get());  // the bitmap's handle is its surface's
        EngUnlockSurface(so);
    }
}

TEST(EngineBitmaps, TopDownAndBottomUpScanLines) {
    ScopedBitmap topDown({10, 4}, 0, BMF_8BPP, BMF_TOPDOWN | BMF_NOZEROINIT);
    ScopedBitmap bottomUp({10, 4}, 20, BMF_8BPP, 0);
    SURFOBJ* a = EngLockSurface(topDown.get());
    SURFOBJ* b = EngLockSurface(bottomUp.get());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->pvScan0, a->pvBits);
    EXPECT_EQ(a->lDelta, 12);
    EXPECT_EQ(a->fjBitmap, BMF_TOPDOWN | BMF_NOZEROINIT);
    EXPECT_EQ(b->lDelta, -20);  // the given stride is kept
    EXPECT_EQ(b->cjBits, 80u);
    EXPECT_EQ(static_cast<BYTE*>(b->pvScan0), static_cast<BYTE*>(b->pvBits) + 60);
    EXPECT_EQ(b->fjBitmap, 0);
    EngUnlockSurface(a);
    EngUnlockSurface(b);
}

TEST(EngineBitmaps, BitsAreZeroedUnlessAskedNotToAndLentBitsAreKept) {
    ScopedBitmap zeroed({100, 50}, 0, BMF_24BPP, BMF_TOPDOWN);
    SURFOBJ* so = EngLockSurface(zeroed.get());
    ASSERT_NE(so, nullptr);
    const auto* bits = static_cast<const BYTE*>(so->pvBits);
    EXPECT_EQ(std::vector<BYTE>(bits, bits + so->cjBits), std::vector<BYTE>(so->cjBits, 0));
    EngUnlockSurface(so);

    std::vector<BYTE> mine(8 * 2, 0x5A);
    {
        ScopedBitmap lent({16, 2}, 8, BMF_1BPP, BMF_TOPDOWN, mine.data());
        so = EngLockSurface(lent.get());
        ASSERT_NE(so, nullptr);
        EXPECT_EQ(so->pvBits, mine.data());
        EngUnlockSurface(so);
    }
    EXPECT_EQ(mine, std::vector<BYTE>(16, 0x5A));  // neither zeroed nor freed
}

TEST(EngineBitmaps, BadSizesFormatsAndStridesAreRefused) {
    EXPECT_FALSE(EngCreateBitmap({0, 10}, 0, BMF_8BPP, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({10, -1}, 0, BMF_8BPP, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({10, 10}, 0, 0, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({10, 10}, 0, 7, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({10, 10}, -12, BMF_8BPP, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({10, 10}, 9, BMF_8BPP, 0, nullptr));  // below one row
    EXPECT_FALSE(EngCreateBitmap({0x7FFFFFFF, 0x7FFFFFFF}, 0, BMF_32BPP, 0, nullptr));
}

TEST(EngineBitmaps, MoreThan256MiBOfBitsIsRefused) {
    // Lent bits are never touched, so the limit is tried without allocating.
    BYTE stand_in[4] = {};
    const LONG stride = 1024;
    const LONG rows = (256 << 20) / stride;
    HBITMAP atLimit = EngCreateBitmap({stride, rows}, 0, BMF_8BPP, BMF_TOPDOWN, stand_in);
    EXPECT_TRUE(atLimit);
    EXPECT_TRUE(EngDeleteSurface(AsSurface(atLimit)));
    EXPECT_FALSE(EngCreateBitmap({stride, rows + 1}, 0, BMF_8BPP, BMF_TOPDOWN, stand_in));
    EXPECT_FALSE(EngCreateBitmap({stride, rows + 1}, 0, BMF_8BPP, BMF_NOZEROINIT, nullptr));
    EXPECT_FALSE(EngCreateBitmap({1, rows + 1}, stride, BMF_1BPP, 0, nullptr));
}

TEST(EngineSurfaces, LockUnlockDeleteAndLiveCount) {
    const std::size_t before = host::LiveSurfaceCount();
    HBITMAP bitmap = EngCreateBitmap({8, 8}, 0, BMF_1BPP, BMF_TOPDOWN, nullptr);
    HBITMAP other = EngCreateBitmap({8, 8}, 0, BMF_1BPP, BMF_TOPDOWN, nullptr);
    ASSERT_TRUE(bitmap);
    ASSERT_TRUE(other);
    EXPECT_NE(bitmap.value, other.value);
    EXPECT_EQ(host::LiveSurfaceCount(), before + 2);

    const HSURF surface = AsSurface(bitmap);
    SURFOBJ* first = EngLockSurface(surface);
    SURFOBJ* second = EngLockSurface(surface);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EngUnlockSurface(second);

    // Deleted while still locked: the handle goes at once, the SURFOBJ
    // stays readable until its last unlock.
    EXPECT_TRUE(EngDeleteSurface(surface));
    EXPECT_EQ(host::LiveSurfaceCount(), before + 1);
    EXPECT_FALSE(EngDeleteSurface(surface));
    EXPECT_EQ(EngLockSurface(surface), nullptr);
    EXPECT_FALSE(host::LookupSurface(surface, nullptr));
    EXPECT_EQ(first->sizlBitmap.cx, 8);
    static_cast<BYTE*>(first->pvBits)[0] = 0xFF;
    EngUnlockSurface(first);

    EXPECT_TRUE(EngDeleteSurface(AsSurface(other)));
    EXPECT_EQ(host::LiveSurfaceCount(), before);
    EXPECT_FALSE(EngDeleteSurface(HSURF{0}));
    EXPECT_FALSE(EngDeleteSurface(HSURF{0xFFFFFFF0}));
    EXPECT_EQ(EngLockSurface(HSURF{0}), nullptr);
    EngUnlockSurface(nullptr);  // ignored
    SURFOBJ foreign{};
    EngUnlockSurface(&foreign);  // not the engine's: ignored
}

TEST(EngineSurfaces, AssociationWithADeviceAndBandingMark) {
    HDEV device = host::CreateEngineDevice();
    ASSERT_NE(device, nullptr);
    int driverDevice = 0;
    auto* pdev = reinterpret_cast<DHPDEV>(&driverDevice);
    host::SetEngineDevicePdev(device, pdev);

    ScopedBitmap band({576, 64}, 0, BMF_1BPP, BMF_TOPDOWN);
    host::SurfaceInfo info;
    ASSERT_TRUE(host::LookupSurface(band.get(), &info));
    EXPECT_EQ(info.device, nullptr);
    EXPECT_EQ(info.hooks, 0u);
    EXPECT_FALSE(info.banding);

    const FLONG hooks = 0x104EB;
    ASSERT_TRUE(EngAssociateSurface(band.get(), device, hooks));
    ASSERT_TRUE(EngMarkBandingSurface(band.get()));
    ASSERT_TRUE(host::LookupSurface(band.get(), &info));
    EXPECT_EQ(info.device, device);
    EXPECT_EQ(info.hooks, hooks);
    EXPECT_TRUE(info.banding);
    SURFOBJ* so = EngLockSurface(band.get());
    ASSERT_NE(so, nullptr);
    EXPECT_EQ(so->hdev, device);
    EXPECT_EQ(so->dhpdev, pdev);
    EngUnlockSurface(so);

    // Unknown surfaces and devices are refused.
    EXPECT_FALSE(EngAssociateSurface(HSURF{0}, device, hooks));
    EXPECT_FALSE(EngMarkBandingSurface(HSURF{0}));
    int notADevice = 0;
    EXPECT_FALSE(EngAssociateSurface(band.get(), reinterpret_cast<HDEV>(&notADevice), hooks));
    host::DeleteEngineDevice(device);
    EXPECT_FALSE(EngAssociateSurface(band.get(), device, hooks));
    host::DeleteEngineDevice(device);  // twice: ignored
}

}  // namespace
