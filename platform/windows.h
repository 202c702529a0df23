// Every Windows interface the system uses, as implemented on this platform.
#pragma once

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/devmode.h"
#include "platform/files.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/store_root.h"
#include "platform/sync.h"
#include "platform/types.h"
#include "platform/wide.h"
