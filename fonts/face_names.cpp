// The string table of the device-font resource library: the face names of the
// printer's resident text fonts, by the string ids that the configuration's
// "font" entries name. Read with LoadStringW.
#include "platform/module.h"
#include "platform/types.h"

extern "C" QLPR_EXPORT const ResourceString QlprStringTable[] = {
    {1, u"Font A"},
    {2, u"Font B"},
    {3, u"Font A Double Width"},
    {4, u"Font A Double Height"},
    {5, u"Font A Double"},
    {6, u"Font B Double Width"},
    {7, u"Font B Double Height"},
    {8, u"Font B Double"},
    {9, u"Font A Kanji"},
    {10, u"Font B Kanji"},
    {0, nullptr},
};
