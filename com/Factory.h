#pragma once

#include <unknwn.h>

#include "com/ClassInfo.h"
#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"

namespace oryx {

// The class object of one class table record. A new one is made for every
// DllGetClassObject call; it is never aggregated. Server locks are kept by
// theServer, so they outlive the class object that took them.
class Factory : public DelegatingUnknown<Factory, IClassFactory>, public IUnknownImpl {
public:
    explicit Factory(CreateFunction create);

    // With an outer unknown, only IID_IUnknown may be asked for
    // (CLASS_E_NOAGGREGATION otherwise): the outer receives the new object's
    // non-delegating unknown, as the COM aggregation rules require.
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID iid, void** out) override;
    STDMETHOD(LockServer)(BOOL lock) override;

    IUnknown* interfaceFor(REFIID iid) override;

private:
    const CreateFunction create;
};

} // namespace oryx
