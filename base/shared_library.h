#pragma once

#include <string>

namespace pitchloom {

/// A library loaded while the program runs, by the name the system knows it by
/// ("libfluidsynth.so.3"). It stays loaded until the program ends: threads it started, such as
/// a synthesizer's, may outlive whatever loaded it.
class SharedLibrary {
public:
    explicit SharedLibrary(const std::string& name);

    bool isOpen() const { return handle_ != nullptr; }
    /// The address of a symbol of the library (on Linux, also of a library it brought along);
    /// nothing when there is none.
    void* symbol(const char* name) const;

    /// Sets function to the library's function of that name, whose type the caller's pointer
    /// gives; false when there is none.
    template <typename Function>
    bool find(const char* name, Function& function) const {
        function = reinterpret_cast<Function>(symbol(name));
        return function != nullptr;
    }

private:
    void* handle_ = nullptr;
};

}  // namespace pitchloom
