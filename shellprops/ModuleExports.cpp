// The class table of apeprops.dll and its registration entry points; the
// other exports are com/ServerExports.cpp.
//
// Unregistration works on every machine, unlike apesrc.dll's: a shell
// handler runs inside Explorer's host for every .ape file the user browses
// to, so the user must be able to take it away.
#include <array>

#include <windows.h>

#include <propsys.h>
#include <shlobj.h>

#include "com/COMServer.h"
#include "com/ClassInfo.h"
#include "com/PropertyHandlerRegistration.h"
#include "com/ShellExtensionRegistration.h"
#include "shellprops/ApePropertyHandler.h"
#include "shellprops/PropertyHandlerIdentifiers.h"
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
};

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
    return notifyAssociationsChanged(oryx::theServer->registerClasses(thisModule));
}

STDAPI DllUnregisterServer()
{
    return notifyAssociationsChanged(oryx::theServer->unregisterClasses());
}
