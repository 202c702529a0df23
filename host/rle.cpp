// Run-length decoding (see rle.h).

#include "host/rle.h"

#include <new>

namespace host {

namespace {

// Writes decoded pixels of one bitmap, dropping any that fall outside.
class LineWriter {
  public:
    LineWriter(BYTE* pixels, LONG width, LONG height)
        : pixels_(pixels), width_(width), height_(height) {}

    bool done() const { return y_ >= height_; }
    void Put(BYTE index) {
        if (x_ < width_ && y_ < height_)
            pixels_[static_cast<std::size_t>(y_) * static_cast<std::size_t>(width_) +
                    static_cast<std::size_t>(x_)] = index;
        if (x_ < width_) ++x_;
    }
    void EndLine() {
        x_ = 0;
        ++y_;
    }
    void Move(BYTE right, BYTE down) {
        x_ = x_ + right > width_ ? width_ : x_ + right;
        y_ += down;
    }

  private:
    BYTE* pixels_;
    LONG width_;
    LONG height_;
    LONG x_ = 0;
    LONG y_ = 0;
};

}  // namespace

bool UnpackRle(ULONG format, const BYTE* data, std::size_t size, LONG width, LONG height,
               std::vector<BYTE>* indices) {
    if (format != BMF_4RLE && format != BMF_8RLE) return false;
    if (width <= 0 || height <= 0 || (data == nullptr && size != 0)) return false;
    const bool fourBits = format == BMF_4RLE;
    try {
        indices->assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    LineWriter out(indices->data(), width, height);
    std::size_t at = 0;
    while (!out.done() && at + 2 <= size) {
        const BYTE count = data[at];
        const BYTE value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) {
                if (fourBits)
                    out.Put(static_cast<BYTE>(i % 2 == 0 ? value >> 4 : value & 0x0F));
                else
                    out.Put(value);
            }
            continue;
        }
        switch (value) {
            case 0:
                out.EndLine();
                break;
            case 1:
                return true;
            case 2:
                if (at + 2 > size) return true;
                out.Move(data[at], data[at + 1]);
                at += 2;
                break;
            default: {
                const std::size_t bytes = fourBits ? (value + 1u) / 2u : value;
                for (unsigned i = 0; i < value; ++i) {
                    const std::size_t byte = at + (fourBits ? i / 2 : i);
                    if (byte >= size) return true;
                    if (fourBits)
                        out.Put(
                            static_cast<BYTE>(i % 2 == 0 ? data[byte] >> 4 : data[byte] & 0x0F));
                    else
                        out.Put(data[byte]);
                }
                at += bytes + (bytes & 1);
                break;
            }
        }
    }
    return true;
}

}  // namespace host
