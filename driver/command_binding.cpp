#include "driver/command_binding.h"

#include <string>

#include "driver/companion.h"
#include "platform/heap.h"
#include "platform/module.h"

namespace {

// Only the low 16 bits of a library result count.
bool Succeeded(CommandBool result) { return (result & 0xFFFF) != 0; }

// A call goes through only with a job handle and the export it needs.
template <class F>
bool Ready(const CommandBinding* binding, F CommandBinding::*entry) {
    return binding != nullptr && binding->job != nullptr && binding->*entry != nullptr;
}

template <class F>
bool LookUp(HMODULE library, const char* name, F* entry) {
    *entry = reinterpret_cast<F>(GetProcAddress(library, name));
    return *entry != nullptr;
}

}  // namespace

bool BindCommandLibrary(CommandBinding* binding, const WCHAR* moduleFileName) {
    if (binding == nullptr) return false;
    *binding = {};
    if (moduleFileName == nullptr) return false;
    const std::u16string name = CompanionLibraryName(moduleFileName, kCommandLibrarySuffix);
    HMODULE library = LoadLibraryW(reinterpret_cast<LPCWSTR>(name.c_str()));
    if (library == nullptr) return false;

    CommandBinding bound{};
    bound.module = library;
    // Looked up in the record's order; the first missing export ends the binding.
    const bool complete = LookUp(library, "CmndEnableExtPDEV", &bound.enableExtPdev) &&
                          LookUp(library, "CmndDisableExtPDEV", &bound.disableExtPdev) &&
                          LookUp(library, "CmndStartDoc", &bound.startDoc) &&
                          LookUp(library, "CmndEndDoc", &bound.endDoc) &&
                          LookUp(library, "CmndStartPage", &bound.startPage) &&
                          LookUp(library, "CmndEndPage", &bound.endPage) &&
                          LookUp(library, "CmndSendBand", &bound.sendBand) &&
                          LookUp(library, "CmndExtEscape", &bound.extEscape);
    if (complete)
        bound.workBuffer = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, kCommandWorkBufferSize));
    if (!complete || bound.workBuffer == nullptr) {
        if (bound.workBuffer != nullptr) GlobalFree(bound.workBuffer);
        FreeLibrary(library);
        return false;
    }
    *binding = bound;
    return true;
}

void UnbindCommandLibrary(CommandBinding* binding) {
    if (binding == nullptr) return;
    if (binding->module != nullptr) FreeLibrary(binding->module);
    if (binding->workBuffer != nullptr) GlobalFree(binding->workBuffer);
    *binding = {};
}

bool CallCmndEnableExtPDEV(CommandBinding* binding, const Devmode* devmode, HANDLE printer) {
    if (binding == nullptr || binding->module == nullptr || binding->enableExtPdev == nullptr)
        return false;
    if (binding->job != nullptr) return true;  // one job per binding
    binding->printer = printer;
    binding->job = binding->enableExtPdev(devmode, printer, binding->workBuffer);
    return binding->job != nullptr;
}

bool CallCmndStartDoc(CommandBinding* binding, const Devmode* devmode, const char* jobName,
                      DWORD jobId) {
    return Ready(binding, &CommandBinding::startDoc) &&
           Succeeded(binding->startDoc(binding->job, devmode, jobName, jobId));
}

bool CallCmndStartPage(CommandBinding* binding, const Devmode* devmode, const SIZEL* pageSize,
                       const RECTL* pageRect, DWORD escapeValue) {
    return Ready(binding, &CommandBinding::startPage) &&
           Succeeded(binding->startPage(binding->job, devmode, pageSize, pageRect, escapeValue));
}

bool CallCmndSendBand(CommandBinding* binding, const BYTE* bits, const BandRecord* band,
                      const void* items, DWORD itemCount, const BYTE* data, DWORD dataBytes) {
    return Ready(binding, &CommandBinding::sendBand) &&
           Succeeded(
               binding->sendBand(binding->job, bits, band, items, itemCount, data, dataBytes));
}

bool CallCmndEndPage(CommandBinding* binding) {
    return Ready(binding, &CommandBinding::endPage) && Succeeded(binding->endPage(binding->job));
}

void EndCommandJob(CommandBinding* binding) {
    if (binding == nullptr || binding->job == nullptr) return;
    if (binding->endDoc != nullptr) binding->endDoc(binding->job);
    if (binding->disableExtPdev != nullptr) binding->disableExtPdev(binding->job);
    binding->job = nullptr;
}

CommandBool CallCommandEscape(CommandBinding* binding, DWORD code, DWORD size, const void* data) {
    if (!Ready(binding, &CommandBinding::extEscape)) return 0;
    return binding->extEscape(binding->job, code, size, data, 0, nullptr);
}
