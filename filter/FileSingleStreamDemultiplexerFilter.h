#pragma once

#include "com/DelegatingUnknown.h"
#include "filter/IFileSourceFilterImpl.h"
#include "filter/SingleStreamDemultiplexerFilter.h"

// The streaming engine as a file source: one object with the filter's
// interfaces and IFileSourceFilter. A concrete source supplies the engine's
// operations and openFile(); whichever base asks for an interface gets the
// whole object's answer.
class FileSingleStreamDemultiplexerFilter
    : public SingleStreamDemultiplexerFilter,
      public oryx::DelegatingUnknown<FileSingleStreamDemultiplexerFilter, IFileSourceFilterImpl> {
public:
    FileSingleStreamDemultiplexerFilter(IUnknown* outer, const wchar_t* name, const CLSID* classId);

    // Overrides both the object's lookup and IFileSourceFilterImpl's.
    IUnknown* interfaceFor(REFIID iid) override;
};
