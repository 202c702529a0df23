// wxWidgets for the window tests, on a private display when none is given.
#include "config_ui/wx_test_support.h"

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new wxtest::WxEnvironment);

}  // namespace
