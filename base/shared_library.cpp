#include "base/shared_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace pitchloom {

#if defined(_WIN32)
SharedLibrary::SharedLibrary(const std::string& name) : handle_(::LoadLibraryA(name.c_str())) {}

void* SharedLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}
#else
// Local: the library's symbols stay out of the way of the program's and of other libraries'.
SharedLibrary::SharedLibrary(const std::string& name)
    : handle_(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {}

void* SharedLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return ::dlsym(handle_, name);
}
#endif

}  // namespace pitchloom
