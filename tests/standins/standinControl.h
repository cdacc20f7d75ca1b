#pragma once
// The test side of a stand-in library: finds its control functions
// (standin_<lib>_...) at run time in the copy the process has loaded, so a
// test never links the stand-in and the library under test loads it exactly
// as it would load the real driver (found first on LD_LIBRARY_PATH).
#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace standin {

/// The function `name` of the loaded library whose file is `library`
/// ("libairspy.so.0"); the library is loaded if it is not yet.
template <class F>
F* control(const char* library, const char* name) {
    void* lib = dlopen(library, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) lib = dlopen(library, RTLD_NOW);
    if (!lib) throw std::runtime_error(std::string("stand-in not loaded: ") + library);
    void* f = dlsym(lib, name);
    dlclose(lib); // the process keeps its own reference
    if (!f) throw std::runtime_error(std::string("stand-in lacks ") + name + " (the real library was loaded?)");
    return reinterpret_cast<F*>(f);
}

} // namespace standin
