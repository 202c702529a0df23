// The engine's surfaces and device objects.
//
// Surfaces live in one process-wide table keyed by their 32-bit handle
// value. A bitmap's HBITMAP and its HSURF are the same value. Each surface
// owns its SURFOBJ (whose address stays fixed for the surface's life) and,
// unless the caller lent its own memory, its bits.
//
// A surface deleted while locked leaves the table at once (its handle is
// refused from then on) but lives until its last EngUnlockSurface, so that a
// SURFOBJ handed out by EngLockSurface never dangles.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>

#include "host/engine.h"
#include "host/surface_format.h"
#include "platform/heap.h"

namespace {

// The engine refuses bitmaps whose bits exceed this, so that the driver's
// band budget halving meets a clean failure instead of an exhausted process.
constexpr std::uint64_t kMaxBitmapBytes = 256ull << 20;

// Flags a bitmap keeps in fjBitmap; others are ignored.
constexpr FLONG kKeptBitmapFlags = BMF_TOPDOWN | BMF_NOZEROINIT | BMF_DONTCACHE | BMF_USERMEM;

// Bits the engine allocated; band-sized blocks come from the platform's
// large-block allocator.
struct OwnBits {
    std::size_t bytes = 0;
    void operator()(BYTE* block) const { platform::FreeLargeBlock(block, bytes); }
};

struct Surface {
    SURFOBJ object{};
    std::unique_ptr<BYTE[], OwnBits> ownBits;  // null when the caller lent the bits
    unsigned locks = 0;
    FLONG hooks = 0;
    bool banding = false;
};

struct EngineDevice {
    DHPDEV pdev = nullptr;
    ULONG halftonePatternSize = HT_PATSIZE_8x8;
    ULONG deviceFonts = 0;
};

struct EngineTables {
    std::mutex lock;
    std::map<std::uint32_t, std::unique_ptr<Surface>> surfaces;
    // Deleted while locked: kept until unlocked, found by their SURFOBJ.
    std::map<const SURFOBJ*, std::unique_ptr<Surface>> retired;
    std::set<const EngineDevice*> devices;
    std::uint32_t nextHandle = 1;
};

EngineTables& Tables() {
    // Never destroyed: a driver may still delete surfaces from static
    // destructors of its own.
    static EngineTables* tables = new EngineTables;
    return *tables;
}

// The next free handle value (never 0). Caller holds the lock.
std::uint32_t NextHandle(EngineTables& tables) {
    for (;;) {
        std::uint32_t value = tables.nextHandle++;
        if (tables.nextHandle == 0) tables.nextHandle = 1;
        if (value != 0 && tables.surfaces.count(value) == 0) return value;
    }
}

Surface* FindSurface(EngineTables& tables, HSURF surface) {
    auto found = tables.surfaces.find(surface.value);
    return found == tables.surfaces.end() ? nullptr : found->second.get();
}

EngineDevice* FindDevice(EngineTables& tables, HDEV device) {
    auto* object = reinterpret_cast<const EngineDevice*>(device);
    if (object == nullptr || tables.devices.count(object) == 0) return nullptr;
    return const_cast<EngineDevice*>(object);
}

}  // namespace

extern "C" {

HBITMAP EngCreateBitmap(SIZEL size, LONG stride, ULONG format, FLONG flags, PVOID bits) {
    const bool runLength = host::IsRunLength(format);
    const ULONG bpp = runLength ? 8 : host::BitsPerPixel(format);
    if (bpp == 0 || size.cx <= 0 || size.cy <= 0 || stride < 0) return {};
    // Run-length data has no scan lines: `stride` is the size of the data,
    // pvScan0 is its start and lDelta 0. Its unpacked pixels (a byte each)
    // must stay within the engine's limit too.
    if (runLength &&
        (stride == 0 || static_cast<std::uint64_t>(size.cx) * static_cast<std::uint64_t>(size.cy) >
                            kMaxBitmapBytes))
        return {};
    const std::uint64_t rowBytes = runLength ? 0 : host::RowBytes(format, size.cx);
    const std::uint64_t natural = host::NaturalStride(format, size.cx);
    const std::uint64_t lineBytes = stride == 0 ? natural : static_cast<std::uint64_t>(stride);
    if (lineBytes < rowBytes) return {};
    const std::uint64_t total =
        runLength ? lineBytes : lineBytes * static_cast<std::uint64_t>(size.cy);
    if (total > kMaxBitmapBytes) return {};

    try {
        auto surface = std::make_unique<Surface>();
        // Lent bits are taken as they are: never zeroed, never freed.
        BYTE* block = static_cast<BYTE*>(bits);
        if (block == nullptr) {
            // The driver halves its band budget when this fails, so an
            // exhausted allocation must come back as a plain null handle.
            // The block comes zero-filled whether asked or not.
            const auto bytes = static_cast<std::size_t>(total);
            surface->ownBits = std::unique_ptr<BYTE[], OwnBits>(
                static_cast<BYTE*>(platform::AllocateLargeBlock(bytes)), OwnBits{bytes});
            if (surface->ownBits == nullptr) return {};
            block = surface->ownBits.get();
        }
        SURFOBJ& so = surface->object;
        so.sizlBitmap = size;
        so.cjBits = static_cast<ULONG>(total);
        so.pvBits = block;
        const bool topDown = (flags & BMF_TOPDOWN) != 0;
        const auto delta = static_cast<LONG>(lineBytes);
        so.pvScan0 = topDown || runLength ? block : block + (total - lineBytes);
        so.lDelta = runLength ? 0 : topDown ? delta : -delta;
        so.iUniq = (flags & BMF_DONTCACHE) != 0 ? 0 : 1;
        so.iBitmapFormat = format;
        so.iType = STYPE_BITMAP;
        so.fjBitmap = static_cast<USHORT>(flags & kKeptBitmapFlags);

        EngineTables& tables = Tables();
        std::lock_guard guard(tables.lock);
        const std::uint32_t value = NextHandle(tables);
        so.hsurf = HSURF{value};
        tables.surfaces.emplace(value, std::move(surface));
        return HBITMAP{value};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

BOOL EngDeleteSurface(HSURF surface) {
    std::unique_ptr<Surface> doomed;  // freed after the lock is dropped
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    auto found = tables.surfaces.find(surface.value);
    if (found == tables.surfaces.end()) return FALSE;
    doomed = std::move(found->second);
    tables.surfaces.erase(found);
    if (doomed->locks > 0) {
        const SURFOBJ* key = &doomed->object;
        tables.retired.emplace(key, std::move(doomed));
    }
    return TRUE;
}

SURFOBJ* EngLockSurface(HSURF surface) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    Surface* object = FindSurface(tables, surface);
    if (object == nullptr) return nullptr;
    ++object->locks;
    return &object->object;
}

void EngUnlockSurface(SURFOBJ* surface) {
    if (surface == nullptr) return;
    std::unique_ptr<Surface> doomed;
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    // Only a SURFOBJ of this engine is looked at; anything else is ignored.
    auto retired = tables.retired.find(surface);
    if (retired != tables.retired.end()) {
        if (--retired->second->locks == 0) {
            doomed = std::move(retired->second);
            tables.retired.erase(retired);
        }
        return;
    }
    Surface* object = FindSurface(tables, surface->hsurf);
    if (object != nullptr && &object->object == surface && object->locks > 0) --object->locks;
}

BOOL EngAssociateSurface(HSURF surface, HDEV device, FLONG hooks) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    Surface* object = FindSurface(tables, surface);
    EngineDevice* engineDevice = FindDevice(tables, device);
    if (object == nullptr || engineDevice == nullptr) return FALSE;
    object->object.hdev = device;
    object->object.dhpdev = engineDevice->pdev;
    object->hooks = hooks;
    return TRUE;
}

BOOL EngMarkBandingSurface(HSURF surface) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    Surface* object = FindSurface(tables, surface);
    if (object == nullptr) return FALSE;
    object->banding = true;
    return TRUE;
}

}  // extern "C"

namespace host {

HDEV CreateEngineDevice() {
    try {
        auto device = std::make_unique<EngineDevice>();
        EngineTables& tables = Tables();
        std::lock_guard guard(tables.lock);
        tables.devices.insert(device.get());
        return reinterpret_cast<HDEV>(device.release());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void SetEngineDevicePdev(HDEV device, DHPDEV pdev) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    if (EngineDevice* object = FindDevice(tables, device)) object->pdev = pdev;
}

void SetEngineDeviceHalftone(HDEV device, ULONG patternSize) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    if (EngineDevice* object = FindDevice(tables, device))
        object->halftonePatternSize = patternSize;
}

void SetEngineDeviceFonts(HDEV device, ULONG count) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    if (EngineDevice* object = FindDevice(tables, device)) object->deviceFonts = count;
}

ULONG DeviceFontCountOf(const SURFOBJ* surface) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    const EngineDevice* object = surface != nullptr ? FindDevice(tables, surface->hdev) : nullptr;
    return object != nullptr ? object->deviceFonts : 0;
}

ULONG HalftonePatternSizeOf(const SURFOBJ* surface) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    const EngineDevice* object = surface != nullptr ? FindDevice(tables, surface->hdev) : nullptr;
    return object != nullptr ? object->halftonePatternSize : HT_PATSIZE_8x8;
}

// Surfaces associated with the device keep its (now stale) handle value;
// the engine never follows it, it only looks it up.
void DeleteEngineDevice(HDEV device) {
    EngineDevice* object = nullptr;
    {
        EngineTables& tables = Tables();
        std::lock_guard guard(tables.lock);
        object = FindDevice(tables, device);
        if (object == nullptr) return;
        tables.devices.erase(object);
    }
    delete object;
}

bool LookupSurface(HSURF surface, SurfaceInfo* info) {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    Surface* object = FindSurface(tables, surface);
    if (object == nullptr) return false;
    if (info != nullptr) {
        info->device = object->object.hdev;
        info->hooks = object->hooks;
        info->banding = object->banding;
    }
    return true;
}

std::size_t LiveSurfaceCount() {
    EngineTables& tables = Tables();
    std::lock_guard guard(tables.lock);
    return tables.surfaces.size();
}

}  // namespace host
