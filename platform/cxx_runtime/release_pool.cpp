// Built into every library that carries its own copy of the C++ runtime.
// That copy takes its emergency exception pool (about 70 KB) with malloc
// when the library is loaded and never gives it back, so a library loaded
// and freed for every print job would keep one more pool each time: the
// pool goes back when the library is unloaded. The reference is weak and
// hidden: a library whose copy has no pool calls nothing, and it never
// binds to the runtime of another module (the program's shared one).
namespace __gnu_cxx {
[[gnu::weak, gnu::visibility("hidden")]] void __freeres();
}  // namespace __gnu_cxx

namespace {

[[gnu::destructor]] void ReleaseExceptionPool() {
    if (&__gnu_cxx::__freeres != nullptr) __gnu_cxx::__freeres();
}

}  // namespace
