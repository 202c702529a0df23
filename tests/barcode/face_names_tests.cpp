// The string table of the device-font resource library, read straight from
// the built library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/module.h"
#include "test_support.h"

namespace {

TEST(FaceNames, TableHoldsTheResidentFonts) {
    const std::string path = (testsupport::BinDir() / "QLPRURES.DLL").string();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto* table = static_cast<const ResourceString*>(dlsym(library, "QlprStringTable"));
    ASSERT_NE(table, nullptr);

    const std::u16string expected[] = {
        u"Font A",
        u"Font B",
        u"Font A Double Width",
        u"Font A Double Height",
        u"Font A Double",
        u"Font B Double Width",
        u"Font B Double Height",
        u"Font B Double",
        u"Font A Kanji",
        u"Font B Kanji",
    };
    std::set<std::u16string> names;
    std::size_t count = 0;
    for (; table[count].text != nullptr; ++count) {
        ASSERT_LT(count, std::size(expected)) << "table not ended after its entries";
        const std::u16string name = table[count].text;
        EXPECT_EQ(table[count].id, count + 1);
        EXPECT_EQ(name, expected[count]);
        EXPECT_LE(name.size(), 100u);
        names.insert(name);
    }
    EXPECT_EQ(count, std::size(expected));
    EXPECT_EQ(names.size(), std::size(expected));
    dlclose(library);
}

}  // namespace
