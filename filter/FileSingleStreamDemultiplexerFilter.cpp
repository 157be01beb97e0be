#include "filter/FileSingleStreamDemultiplexerFilter.h"

FileSingleStreamDemultiplexerFilter::FileSingleStreamDemultiplexerFilter(IUnknown* outer, const wchar_t* name,
                                                                         const CLSID* classId)
    : SingleStreamDemultiplexerFilter(outer, name, classId)
{
}

IUnknown* FileSingleStreamDemultiplexerFilter::interfaceFor(REFIID iid)
{
    if (IUnknown* found = SingleStreamDemultiplexerFilter::interfaceFor(iid))
        return found;
    return IFileSourceFilterImpl::interfaceFor(iid);
}
