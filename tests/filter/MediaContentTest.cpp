// IAMMediaContent on the test object: the getters called directly, and the
// same getters reached by name through IDispatch and oleaut32, with the
// control.tlb that the test build puts beside this program.
#include <string>

#include <dshow.h>
#include <gtest/gtest.h>
#include <qnetwork.h>

#include "support/COMPtr.h"
#include "tests/filter/DescribedObjectTest.h"

using oryx::COMPtr;

namespace {

// What a getter gave: its result, and the string it stored, freed at once.
struct Answer {
    HRESULT result;
    bool stored;
    std::wstring text;
};

template <typename Getter>
Answer ask(IAMMediaContent* content, Getter getter)
{
    // Garbage, as in an uninitialised variable of the caller's.
    BSTR out = reinterpret_cast<BSTR>(0xcdcdcdcd);
    Answer answer{(content->*getter)(&out), out != nullptr, {}};
    if (answer.stored && out != reinterpret_cast<BSTR>(0xcdcdcdcd)) {
        answer.text.assign(out, SysStringLen(out));
        SysFreeString(out);
    }
    return answer;
}

using MediaContent = filtertest::DescribedObjectTest<IAMMediaContent>;

TEST_F(MediaContent, GettersCopyTheSuppliedTextUpToItsFirstNulOrReportTheSuppliersError)
{
    Answer answer = ask(tested.get(), &IAMMediaContent::get_AuthorName);
    EXPECT_EQ(answer.result, S_OK);
    EXPECT_EQ(answer.text, L"Dvo\u0159\u00e1k");

    answer = ask(tested.get(), &IAMMediaContent::get_Title);
    EXPECT_EQ(answer.result, S_OK);
    EXPECT_EQ(answer.text, L"Title") << "the text ends at its first NUL";

    answer = ask(tested.get(), &IAMMediaContent::get_Rating);
    EXPECT_EQ(answer.result, S_OK);
    EXPECT_TRUE(answer.stored) << "an empty text is an empty string, not a null one";
    EXPECT_EQ(answer.text, L"");

    EXPECT_EQ(ask(tested.get(), &IAMMediaContent::get_BaseURL).text, L"http://example.org/");

    answer = ask(tested.get(), &IAMMediaContent::get_Description);
    EXPECT_EQ(answer.result, E_ACCESSDENIED);
    EXPECT_FALSE(answer.stored);
    answer = ask(tested.get(), &IAMMediaContent::get_Copyright);
    EXPECT_EQ(answer.result, E_OUTOFMEMORY);
    EXPECT_FALSE(answer.stored);

    for (auto getter : {&IAMMediaContent::get_LogoIconURL, &IAMMediaContent::get_WatermarkURL,
                        &IAMMediaContent::get_MoreInfoURL, &IAMMediaContent::get_MoreInfoBannerImage,
                        &IAMMediaContent::get_MoreInfoBannerURL, &IAMMediaContent::get_MoreInfoText}) {
        answer = ask(tested.get(), getter);
        EXPECT_EQ(answer.result, E_NOTIMPL);
        EXPECT_FALSE(answer.stored);
    }
    EXPECT_EQ(tested->get_Title(nullptr), E_POINTER);
}

TEST_F(MediaContent, AnswersItsOwnInterfacesButLeavesIDispatchToTheObject)
{
    COMPtr<IUnknown> unknown;
    EXPECT_EQ(tested->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.receive())), S_OK);
    COMPtr<ISpecifyPropertyPages> pages;
    EXPECT_EQ(tested->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(pages.receive())), S_OK);
    COMPtr<IUnknown> sameUnknown;
    EXPECT_EQ(pages->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(sameUnknown.receive())), S_OK);
    EXPECT_EQ(unknown.get(), sameUnknown.get());

    IDispatch* dispatch = reinterpret_cast<IDispatch*>(0xcdcdcdcd);
    EXPECT_EQ(tested->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
}

TEST_F(MediaContent, DispatchReachesTheGettersByNameThroughTheTypeLibrary)
{
    IDispatch* const dispatch = tested.get();
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);

    EXPECT_EQ(dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, nullptr), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
    COMPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.receive()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualIID(attributes->guid, __uuidof(IAMMediaContent)));
    info->ReleaseTypeAttr(attributes);

    // By name, as a script would.
    const auto property = [&](const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << name;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr =
            dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        std::wstring text =
            V_VT(&result) == VT_BSTR ? std::wstring(V_BSTR(&result), SysStringLen(V_BSTR(&result))) : L"<not a string>";
        VariantClear(&result);
        EXPECT_EQ(hr, S_OK) << name;
        return text;
    };
    EXPECT_EQ(property(L"Title"), L"Title");
    EXPECT_EQ(property(L"AuthorName"), L"Dvo\u0159\u00e1k");

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(dispatch->Invoke(DISPID_VALUE, __uuidof(IAMMediaContent), LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                               &none, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(V_VT(&result), VT_EMPTY);
}

} // namespace
