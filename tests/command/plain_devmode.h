// The device mode of a plain job for the command library: one copy,
// one-sided, every mask and option zero. The command tests and the command
// library's fuzz harnesses start from it, so it needs no test framework.
#pragma once

#include "records/devmode_private.h"

namespace cmdtest {

inline Devmode PlainDevmode() {
    Devmode mode{};
    mode.pub.dmSize = sizeof(DEVMODEW);
    mode.pub.dmDriverExtra = kPrivateDevmodeSize;
    mode.pub.dmCopies = 1;
    mode.priv.signature = kPrivateSignature;
    mode.priv.dualSide = 1;
    return mode;
}

}  // namespace cmdtest
