#include "driver/command_binding.h"

CommandBool CallCommandEscape(CommandBinding* binding, DWORD code, DWORD size, const void* data) {
    if (binding == nullptr || binding->extEscape == nullptr || binding->job == nullptr) return 0;
    return binding->extEscape(binding->job, code, size, data, 0, nullptr);
}
