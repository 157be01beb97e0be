#pragma once

#include <boost/noncopyable.hpp>

#include "codec/include/apecodec.h"
#include "support/Library.h"

// One reference to the codec library, MACDllC.dll, checked for the interface
// version the system is written against. Every user of the codec derives from
// this and resolves its own entry points after load(); each holds its own
// reference, and the loader's counting keeps one copy mapped while any is held.
//
// Empty after construction and after a failed load; loaded (owned reference,
// entry points resolved, version accepted) after a successful one. The
// reference is released on destruction only.
class CodecLibrary : boost::noncopyable {
public:
    static constexpr const char* libraryName = "MACDllC.dll";
    static constexpr int interfaceVersion = APE_INTERFACE_VERSION;

    // Loads the copy beside the system's module, or else whatever the loader's
    // search order finds, and checks its interface version. Raises on failure
    // and then holds no reference.
    void load();

protected:
    CodecLibrary() = default;
    ~CodecLibrary() = default;

    template <typename Function>
    Function entryPoint(const char* name) const
    {
        return library.entryPoint<Function>(name);
    }

private:
    void loadBesideModuleOrByName();
    void checkInterface();

    oryx::Library library;
    // Required of every codec build although the system never calls it.
    decltype(&GetVersionNumber) getVersionNumber = nullptr;
    decltype(&GetInterfaceCompatibility) getInterfaceCompatibility = nullptr;
};
