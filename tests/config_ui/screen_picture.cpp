// Pictures of the X server's screen, kept apart: Xlib's macros (None,
// Status, Bool) would clash with the test framework's names.
// clang-format off
#include <wx/image.h>

#include "config_ui/wx_test_support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
// clang-format on

namespace wxtest {

bool SaveScreenArea(const wxRect& area, const std::filesystem::path& file) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XImage* screen = XGetImage(display, DefaultRootWindow(display), area.x, area.y,
                               static_cast<unsigned>(area.width),
                               static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    bool saved = false;
    if (screen != nullptr) {
        wxImage picture(area.width, area.height);
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                const unsigned long pixel = XGetPixel(screen, x, y);
                picture.SetRGB(x, y, (pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
            }
        }
        saved = picture.SaveFile(file.string(), wxBITMAP_TYPE_PNG);
        XDestroyImage(screen);
    }
    XCloseDisplay(display);
    return saved;
}

}  // namespace wxtest
