#pragma once

#include <windows.h>

#include "com/PropertyHandlerRegistration.h"

namespace oryx {

// Writes and removes what Windows reads to find a property handler and what
// Explorer reads to show its properties, under HKEY_LOCAL_MACHINE:
//
//   ...\PropertySystem\PropertyHandlers\<ext>   default value: the class
//   Software\Classes\SystemFileAssociations\<ext>
//                             FullDetails, PreviewDetails, InfoTip lists
//
// The lists go to SystemFileAssociations rather than the extension's ProgID:
// the ProgID belongs to whichever program the user opens the files with, and
// writing there would mean creating an association we do not own or editing
// another program's. Explorer reads SystemFileAssociations after the ProgID,
// so a program that sets its own lists still has them shown.
//
// Through SharedValueRegistrar: a handler or a list of another program that
// registration replaces is kept and put back by removal, and removal leaves
// what another program wrote after us. Failures raise; what was done before
// one stays done.
class PropertyHandlerRegistrar {
public:
    static void registerHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler);
    static void unregisterHandler(const CLSID& clsid, const PropertyHandlerRegistration& handler);

    static constexpr char handlersKeyPath[] =
        "Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";
    static constexpr char associationsKeyPath[] = "Software\\Classes\\SystemFileAssociations";
};

} // namespace oryx
