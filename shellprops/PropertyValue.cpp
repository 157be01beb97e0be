#include "shellprops/PropertyValue.h"

#include <limits>
#include <memory>
#include <stdexcept>

#include <objbase.h>

#include "filter/TaskMemory.h"

namespace {

struct TaskMemoryFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};
using TaskString = std::unique_ptr<wchar_t, TaskMemoryFree>;

// Each copy is owned until all of them and the array exist; only then does
// the PROPVARIANT take them over.
void copyStrings(const PropertyValue::Strings& texts, PROPVARIANT& out)
{
    if (texts.size() > std::numeric_limits<ULONG>::max())
        throw std::length_error("too many strings for a PROPVARIANT");
    std::vector<TaskString> copies;
    copies.reserve(texts.size());
    for (const std::wstring& text : texts)
        copies.emplace_back(taskStringCopy(text));
    std::unique_ptr<LPWSTR, TaskMemoryFree> array(static_cast<LPWSTR*>(taskAllocate(texts.size() * sizeof(LPWSTR))));
    for (std::size_t i = 0; i < copies.size(); ++i)
        array.get()[i] = copies[i].release();
    out.vt = VT_VECTOR | VT_LPWSTR;
    out.calpwstr.cElems = static_cast<ULONG>(texts.size());
    out.calpwstr.pElems = array.release();
}

} // namespace

void PropertyValue::copyTo(PROPVARIANT& out) const
{
    PropVariantInit(&out);
    if (const auto* small = std::get_if<std::uint32_t>(&value)) {
        out.vt = VT_UI4;
        out.ulVal = *small;
    } else if (const auto* large = std::get_if<std::uint64_t>(&value)) {
        out.vt = VT_UI8;
        out.uhVal.QuadPart = *large;
    } else if (const auto* text = std::get_if<std::wstring>(&value)) {
        out.pwszVal = taskStringCopy(*text);
        out.vt = VT_LPWSTR;
    } else {
        copyStrings(std::get<Strings>(value), out);
    }
}
