#pragma once

#include <cstdint>

namespace oryx {

// A shell property handler: the file types Windows asks it about, and what
// Explorer lists of those files. The lists are "prop:" strings of canonical
// property names separated by semicolons ("prop:System.Title;System.Size");
// a null list is not written.
struct PropertyHandlerRegistration {
    const char* const* extensions; // each with its leading dot
    std::uint32_t extensionCount;
    const char* fullDetails;    // the Details pane and the Details tab of Properties
    const char* previewDetails; // the preview pane below or beside the files
    const char* infoTip;        // the tooltip over a file
};

} // namespace oryx
