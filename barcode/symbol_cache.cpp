#include "barcode/symbol_cache.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>

namespace qlprbrcd {
namespace {

// Enough for the sixteen sample symbols of an enable and a page's barcodes.
constexpr std::size_t kKeptSymbols = 32;

struct Cache {
    std::mutex lock;
    std::deque<std::pair<SymbolOrder, MonoImage>> symbols;  // most recent first
};

Cache& TheCache() {
    static Cache cache;  // goes with the library
    return cache;
}

}  // namespace

std::optional<MonoImage> DrawSymbolOnce(const SymbolOrder& order) {
    Cache& cache = TheCache();
    {
        std::lock_guard guard(cache.lock);
        auto found = std::find_if(cache.symbols.begin(), cache.symbols.end(),
                                  [&](const auto& kept) { return kept.first == order; });
        if (found != cache.symbols.end()) {
            auto kept = std::move(*found);
            cache.symbols.erase(found);
            cache.symbols.push_front(std::move(kept));
            return cache.symbols.front().second;
        }
    }
    std::optional<MonoImage> drawn = DrawSymbol(order);
    if (!drawn) return drawn;
    std::lock_guard guard(cache.lock);
    cache.symbols.emplace_front(order, *drawn);
    if (cache.symbols.size() > kKeptSymbols) cache.symbols.pop_back();
    return drawn;
}

}  // namespace qlprbrcd
