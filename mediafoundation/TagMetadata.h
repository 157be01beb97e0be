#pragma once

#include <windows.h>

#include <mfidl.h>
#include <propsys.h>

#include "com/DelegatingUnknown.h"
#include "com/IUnknownImpl.h"
#include "support/COMPtr.h"

// The tag texts of one file as Media Foundation's metadata provider service
// gives them (IMFMetadata), under the attribute names Windows' own sources
// use for music: "Title", "Author", "WM/AlbumTitle", "WM/AlbumArtist",
// "WM/Genre", "WM/Year", "WM/TrackNumber", "Description" and "Copyright".
// Read from the property store the source made when it opened the file, so
// no call here reads the stream; several values of an item (artists,
// genres) come as one text joined by "; ", as Explorer shows them. The
// metadata are the file's and read-only: SetProperty and DeleteProperty
// answer STG_E_ACCESSDENIED. There is one language, the neutral one ("").
class TagMetadata : public oryx::DelegatingUnknown<TagMetadata, IMFMetadata>, public oryx::IUnknownImpl {
public:
    explicit TagMetadata(IPropertyStore& properties);

    IUnknown* interfaceFor(REFIID iid) override;

    STDMETHOD(SetLanguage)(LPCWSTR language) override;
    STDMETHOD(GetLanguage)(LPWSTR* language) override;
    STDMETHOD(GetAllLanguages)(PROPVARIANT* languages) override;
    STDMETHOD(SetProperty)(LPCWSTR name, const PROPVARIANT* value) override;
    STDMETHOD(GetProperty)(LPCWSTR name, PROPVARIANT* value) override;
    STDMETHOD(DeleteProperty)(LPCWSTR name) override;
    STDMETHOD(GetAllPropertyNames)(PROPVARIANT* names) override;

private:
    oryx::COMPtr<IPropertyStore> properties; // immutable, so no lock is needed
};
