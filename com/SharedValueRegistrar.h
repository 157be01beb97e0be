#pragma once

#include <string>

#include <windows.h>

namespace oryx {

// Writes string values into registry keys that other programs share (a file
// type's handler, Explorer's lists, a resolver's handler keys), under
// HKEY_LOCAL_MACHINE, so that removing them gives back what was there.
//
// claim() keeps a value it replaces, with its type, under the owner's class
// key (Software\Classes\CLSID\{owner}\KeptValues), and notes the keys it had
// to create; release() puts the kept value back when ours is still in place,
// leaves a value that another program wrote after us, and deletes a key only
// when we created it and nothing is left in it, then its parents likewise. The owner's class key goes
// with the owner's class, after its values were released.
//
// The kept values of a key live in KeptValues\Replaced\<key path with '/'
// for '\'>, under their own names (the default value as the default value),
// so that a script can put them back with `reg copy`; KeptValues\Created has
// one value per key that claim() created, named the same way. Values
// are compared as text, ignoring case: GUIDs are written in either case.
// Failures raise; what was done before one stays done.
class SharedValueRegistrar {
public:
    explicit SharedValueRegistrar(const CLSID& owner);

    // `valueName` null names the key's default value.
    void claim(const std::string& keyPath, const char* valueName, const std::string& value) const;
    void release(const std::string& keyPath, const char* valueName, const std::string& value) const;

    // The path of the owner's kept values, relative to HKEY_LOCAL_MACHINE.
    const std::string& keptKeyPath() const { return keptPath; }
    // The name a key's kept values are filed under.
    static std::string keptName(const std::string& keyPath);

private:
    std::string keptPath;
};

} // namespace oryx
