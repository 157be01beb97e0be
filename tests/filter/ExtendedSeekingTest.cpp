// IAMExtendedSeeking on the test object: the identifiers as Microsoft's
// documentation gives them, the methods called directly, and the same
// methods reached by name through IDispatch with the control.tlb that the
// test build puts beside this program.
#include <string>

#include <gtest/gtest.h>

#include "support/COMPtr.h"
#include "tests/filter/DescribedObjectTest.h"

using oryx::COMPtr;

namespace {

using ExtendedSeeking = filtertest::DescribedObjectTest<IAMExtendedSeeking>;

TEST_F(ExtendedSeeking, TheInterfaceAndItsFlagsHaveTheDocumentedIdentifiers)
{
    // IAMExtendedSeeking, {FA2AA8F9-8B62-11D0-A520-000000000000}.
    const IID documented = {0xfa2aa8f9, 0x8b62, 0x11d0, {0xa5, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
    EXPECT_TRUE(IsEqualIID(__uuidof(IAMExtendedSeeking), documented));
    COMPtr<IUnknown> byDocumentedId;
    EXPECT_EQ(tested->QueryInterface(documented, reinterpret_cast<void**>(byDocumentedId.receive())), S_OK);
    // AMExtendedSeekingCapabilities.
    EXPECT_EQ(AM_EXSEEK_CANSEEK, 1);
    EXPECT_EQ(AM_EXSEEK_CANSCAN, 2);
    EXPECT_EQ(AM_EXSEEK_MARKERSEEK, 4);
    EXPECT_EQ(AM_EXSEEK_SCANWITHOUTCLOCK, 8);
    EXPECT_EQ(AM_EXSEEK_NOSTANDARDREPAINT, 16);
    EXPECT_EQ(AM_EXSEEK_BUFFERING, 32);
    EXPECT_EQ(AM_EXSEEK_SENDS_VIDEOFRAMEREADY, 64);

    IDispatch* dispatch = reinterpret_cast<IDispatch*>(0xcdcdcdcd);
    EXPECT_EQ(tested->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr) << "the object's IDispatch is not the mix-in's to give";
}

TEST_F(ExtendedSeeking, MarkersAreNumberedFromOneAndOthersAreRefused)
{
    long value = 0;
    EXPECT_EQ(tested->get_ExSeekCapabilities(&value), S_OK);
    EXPECT_EQ(value, AM_EXSEEK_CANSEEK | AM_EXSEEK_MARKERSEEK);
    EXPECT_EQ(tested->get_MarkerCount(&value), S_OK);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(tested->get_CurrentMarker(&value), S_OK);
    EXPECT_EQ(value, 2);

    double seconds = -1;
    EXPECT_EQ(tested->GetMarkerTime(1, &seconds), S_OK);
    EXPECT_EQ(seconds, 0.0);
    EXPECT_EQ(tested->GetMarkerTime(2, &seconds), S_OK);
    EXPECT_EQ(seconds, 93.5);
    BSTR name = nullptr;
    ASSERT_EQ(tested->GetMarkerName(2, &name), S_OK);
    EXPECT_STREQ(name, L"02. B\u00e9b\u00e9 - Guest");
    SysFreeString(name);
    for (long outside : {0L, 4L, -1L, LONG_MIN, LONG_MAX}) {
        seconds = -1;
        EXPECT_EQ(tested->GetMarkerTime(outside, &seconds), E_INVALIDARG) << outside;
        EXPECT_EQ(seconds, -1) << "nothing stored";
        name = reinterpret_cast<BSTR>(0xcdcdcdcd);
        EXPECT_EQ(tested->GetMarkerName(outside, &name), E_INVALIDARG) << outside;
        EXPECT_EQ(name, nullptr);
    }

    // One speed only.
    double speed = 0;
    EXPECT_EQ(tested->get_PlaybackSpeed(&speed), S_OK);
    EXPECT_EQ(speed, 1.0);
    EXPECT_EQ(tested->put_PlaybackSpeed(1.0), S_OK);
    for (double other : {2.0, 0.5, 0.0, -1.0})
        EXPECT_EQ(tested->put_PlaybackSpeed(other), E_INVALIDARG) << other;

    for (HRESULT (STDMETHODCALLTYPE IAMExtendedSeeking::*getter)(long*) :
         {&IAMExtendedSeeking::get_ExSeekCapabilities, &IAMExtendedSeeking::get_MarkerCount,
          &IAMExtendedSeeking::get_CurrentMarker})
        EXPECT_EQ((tested.get()->*getter)(nullptr), E_POINTER);
    EXPECT_EQ(tested->GetMarkerTime(1, nullptr), E_POINTER);
    EXPECT_EQ(tested->GetMarkerName(1, nullptr), E_POINTER);
    EXPECT_EQ(tested->get_PlaybackSpeed(nullptr), E_POINTER);

    // Without markers the stream is still seekable; a supplier's failure is
    // the caller's result.
    object->markers.clear();
    EXPECT_EQ(tested->get_ExSeekCapabilities(&value), S_OK);
    EXPECT_EQ(value, AM_EXSEEK_CANSEEK);
    EXPECT_EQ(tested->GetMarkerTime(1, &seconds), E_INVALIDARG);
    object->markerFailure = E_ACCESSDENIED;
    EXPECT_EQ(tested->get_MarkerCount(&value), E_ACCESSDENIED);
    name = reinterpret_cast<BSTR>(0xcdcdcdcd);
    EXPECT_EQ(tested->GetMarkerName(1, &name), E_ACCESSDENIED);
    EXPECT_EQ(name, nullptr);
}

TEST_F(ExtendedSeeking, DispatchReachesTheMethodsByNameThroughTheTypeLibrary)
{
    IDispatch* const dispatch = tested.get();
    COMPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.receive()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualIID(attributes->guid, __uuidof(IAMExtendedSeeking)));
    info->ReleaseTypeAttr(attributes);

    // A method's failure reaches a script as an exception carrying the code.
    EXCEPINFO exception{};
    const auto call = [&](const wchar_t* member, WORD flags, VARIANT* arguments, UINT count, VARIANT& result) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << member;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS parameters = {arguments, flags == DISPATCH_PROPERTYPUT ? &named : nullptr, count,
                                 flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        VariantInit(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        exception = EXCEPINFO{};
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, &result, &exception, nullptr);
    };
    VARIANT result;
    ASSERT_EQ(call(L"MarkerCount", DISPATCH_PROPERTYGET, nullptr, 0, result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 3);
    ASSERT_EQ(call(L"ExSeekCapabilities", DISPATCH_PROPERTYGET, nullptr, 0, result), S_OK);
    EXPECT_EQ(V_I4(&result), AM_EXSEEK_CANSEEK | AM_EXSEEK_MARKERSEEK);

    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 3;
    ASSERT_EQ(call(L"GetMarkerName", DISPATCH_METHOD, &number, 1, result), S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&result), L"03. End");
    VariantClear(&result);
    ASSERT_EQ(call(L"GetMarkerTime", DISPATCH_METHOD, &number, 1, result), S_OK);
    ASSERT_EQ(V_VT(&result), VT_R8);
    EXPECT_EQ(V_R8(&result), 200.25);
    V_I4(&number) = 9;
    EXPECT_EQ(call(L"GetMarkerTime", DISPATCH_METHOD, &number, 1, result), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_INVALIDARG);

    VARIANT speed;
    VariantInit(&speed);
    V_VT(&speed) = VT_R8;
    V_R8(&speed) = 2.0;
    EXPECT_EQ(call(L"PlaybackSpeed", DISPATCH_PROPERTYPUT, &speed, 1, result), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_INVALIDARG);
    ASSERT_EQ(call(L"PlaybackSpeed", DISPATCH_PROPERTYGET, nullptr, 0, result), S_OK);
    EXPECT_EQ(V_R8(&result), 1.0);
    call(L"MarkerCount", DISPATCH_PROPERTYGET, nullptr, 0, result); // frees the last exception's texts
}

} // namespace
