// wxWidgets for the window tests, on a private display when none is given.
#include "config_ui/wx_test_support.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new wxtest::WxEnvironment);

}  // namespace

// The toolkit's libraries keep caches and type registrations for the life
// of the process (fonts, styles, classes, the accessibility bus): the leak
// checker of the sanitizer builds passes over them. The tool's logic has
// its own tests, where nothing is passed over.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libatk-1.0.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libatspi.so\n"
           "leak:libX11.so\n"
           "leak:libwx_gtk3u_core-3.2.so\n"
           "leak:libwx_baseu-3.2.so\n"
           "leak:libdbus-1.so\n";
}
