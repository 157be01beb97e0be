#pragma once

#include <string>

#include <dshow.h>

// IFileSourceFilter for a source that reads one named file. It remembers the
// name of the last successful Load and the file's media type for
// GetCurFile; opening is the subclass's.
//
// A subclass must supply openFile(), which opens the file as the new input
// (raising on failure, leaving no input) and sets fileMajorType and
// fileSubtype; and QueryInterface, AddRef and Release (usually through
// DelegatingUnknown), chaining its lookup to interfaceFor() here. Load and
// GetCurFile take no lock: openFile takes what it needs, and a GetCurFile
// racing a Load may see the old name.
class IFileSourceFilterImpl : public IFileSourceFilter {
public:
    STDMETHOD(Load)(LPCOLESTR fileName, const AM_MEDIA_TYPE* type) override;
    STDMETHOD(GetCurFile)(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override;

    virtual IUnknown* interfaceFor(REFIID iid);
    virtual void openFile(const wchar_t* fileName) = 0;

protected:
    ~IFileSourceFilterImpl() = default;

    GUID fileMajorType = GUID_NULL;
    GUID fileSubtype = GUID_NULL;

private:
    std::wstring fileName;
};
