#pragma once

#include <cstdint>

#include <windows.h>

#include "com/ClassInfo.h"

namespace oryx {

// The module's in-process server: its class table, read-only after static
// initialisation, and the lock count that IClassFactory::LockServer keeps.
// The exported entry points answer from the one instance theServer points
// to. Nothing is locked: the table is constant and the lock count and the
// object count are interlocked.
class COMServer {
public:
    constexpr COMServer(const ClassInfo* classes, std::uint32_t count) : classes(classes), count(count) {}
    COMServer(const COMServer&) = delete;
    COMServer& operator=(const COMServer&) = delete;

    // DllGetClassObject: a new class object for the first record whose
    // class identifier is `clsid`.
    HRESULT getClassObject(REFCLSID clsid, REFIID iid, void** out) const;
    // DllCanUnloadNow: S_OK only while no object lives and no lock is held.
    HRESULT canUnloadNow() const;

    void lock();
    // Raises COMError(E_UNEXPECTED) when no lock is held; the test and the
    // decrement are one step, so racing unlocks never go below 0.
    void unlock();
    LONG locks() const;

    // Registers every class of the table, in order, with `module` as the
    // server's file. Stops at the first failure and returns its HRESULT;
    // what was written before it stays.
    HRESULT registerClasses(HMODULE module) const;
    // Removes the class keys, filter registrations and property handlers'
    // keys of the table; file types and other shell extensions stay.
    HRESULT unregisterClasses() const;

    const ClassInfo* classTable() const { return classes; }
    std::uint32_t classCount() const { return count; }

private:
    const ClassInfo* const classes;
    const std::uint32_t count;
    LONG lockCount = 0;
};

// The module's server, set during static initialisation of the module.
extern COMServer* theServer;

} // namespace oryx
