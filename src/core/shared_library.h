#pragma once
// Libraries loaded when first used rather than linked, so that a program start does not load
// them (and all they link) when only some commands need them. Each user keeps a table of
// function pointers filled from these two calls, once, on its first use.

#include <dlfcn.h>

namespace qtam {

// Opens `soname` for good: its functions may be called until the program ends. Null when the
// library is not installed.
inline void* OpenSharedLibrary(const char* soname) {
    return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

// Points `function` at `name` in `library`; false (and null) when the library lacks it.
template <class F>
bool FindFunction(void* library, F& function, const char* name) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

}  // namespace qtam
