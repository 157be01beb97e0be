// The class table of apeprops.dll and its registration entry points; the
// other exports are com/ServerExports.cpp. The property handler registers
// through its record; the thumbnail handler's ShellEx key is written here,
// beside the lists, where Explorer looks after the file type's own ProgID,
// and kept and given back like them (com/SharedValueRegistrar.h).
//
// Unregistration works on every machine, unlike apesrc.dll's: a shell
// handler runs inside Explorer's host for every .ape file the user browses
// to, so the user must be able to take it away.
#include <array>
#include <string>

#include <windows.h>

#include <propsys.h>
#include <shlobj.h>

#include "com/COMServer.h"
#include "com/ClassInfo.h"
#include "com/PropertyHandlerRegistration.h"
#include "com/SharedValueRegistrar.h"
#include "com/ShellExtensionRegistration.h"
#include "shellprops/ApePropertyHandler.h"
#include "shellprops/ApeThumbnailProvider.h"
#include "shellprops/PropertyHandlerIdentifiers.h"
#include "shellprops/ThumbnailProviderIdentifiers.h"
#include "support/Diagnostics.h"
#include "support/ComBoundary.h"
#include "support/ThisModule.h"

namespace {

const char* const extensions[] = {".ape"};

// What Explorer lists for an .ape file: every property the handler gives,
// grouped as Explorer groups a music file's, then the file system's own.
const oryx::PropertyHandlerRegistration propertyHandler = {
    extensions,
    1,
    "prop:System.PropGroup.Description;System.Title;System.Music.Artist;System.Music.AlbumTitle;"
    "System.Music.AlbumArtist;System.Music.Genre;System.Media.Year;System.Music.TrackNumber;System.Comment;"
    "System.Copyright;System.PropGroup.Audio;System.Media.Duration;System.Audio.EncodingBitrate;"
    "System.Audio.SampleRate;System.Audio.SampleSize;System.Audio.ChannelCount;System.Audio.Format;"
    "System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemType;System.ItemFolderPathDisplay;System.Size;"
    "System.DateCreated;System.DateModified;System.FileAttributes",
    "prop:System.Music.Artist;System.Music.AlbumTitle;System.Music.Genre;System.Media.Year;System.Media.Duration;"
    "System.Audio.EncodingBitrate;System.Size;System.DateModified",
    "prop:System.ItemType;System.Music.Artist;System.Title;System.Media.Duration;System.Size",
};

const oryx::ShellExtensionRegistration shellExtension = {&__uuidof(IPropertyStore), nullptr, &propertyHandler};

// The classes this module serves, in the order registration walks them.
// The host keeps handlers isolated: no DisableProcessIsolation is written.
const std::array classTable{
    oryx::ClassInfo{&propertyHandlerClassId, 0x20 /* InprocServer32, "Both" */, propertyHandlerClassName,
                    &ApePropertyHandler::createInstance, nullptr, &shellExtension},
    oryx::ClassInfo{&thumbnailProviderClassId, 0x20 /* InprocServer32, "Both" */, thumbnailProviderClassName,
                    &ApeThumbnailProvider::createInstance, nullptr, nullptr},
};

const std::string thumbnailKey = std::string("Software\\Classes\\SystemFileAssociations\\") + extensions[0] +
                                 "\\ShellEx\\" + thumbnailHandlerShellExKey;

oryx::COMServer server(classTable.data(), classTable.size());

// Static initialisation runs at process attach, before the host can call any
// export, and the table never changes afterwards.
[[maybe_unused]] oryx::COMServer* const installedServer = oryx::theServer = &server;

// Explorer caches what it knows of a file type until told.
HRESULT notifyAssociationsChanged(HRESULT result)
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return result;
}

} // namespace

STDAPI DllRegisterServer()
{
    const HRESULT classes = oryx::theServer->registerClasses(thisModule);
    if (FAILED(classes))
        return notifyAssociationsChanged(classes);
    return notifyAssociationsChanged(oryx::comBoundary([] {
        oryx::SharedValueRegistrar(thumbnailProviderClassId)
            .claim(thumbnailKey, nullptr, oryx::guidName(thumbnailProviderClassId, false));
        return S_OK;
    }));
}

// The ShellEx key first: what it kept lives under the class key.
STDAPI DllUnregisterServer()
{
    const HRESULT thumbnails = oryx::comBoundary([] {
        oryx::SharedValueRegistrar(thumbnailProviderClassId)
            .release(thumbnailKey, nullptr, oryx::guidName(thumbnailProviderClassId, false));
        return S_OK;
    });
    const HRESULT classes = oryx::theServer->unregisterClasses();
    return notifyAssociationsChanged(FAILED(thumbnails) ? thumbnails : classes);
}
