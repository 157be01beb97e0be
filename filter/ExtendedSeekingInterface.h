#pragma once

// IAMExtendedSeeking, which MinGW-w64's qnetwork.h leaves out: the chapter
// markers a DirectShow player lists and seeks to, a dual interface whose
// seven methods follow IDispatch's in the order of the platform's
// declaration, with the capability flags get_ExSeekCapabilities combines.
#include <oaidl.h>
#include <windows.h>

enum AMExtendedSeekingCapabilities {
    AM_EXSEEK_CANSEEK = 1,
    AM_EXSEEK_CANSCAN = 2,
    AM_EXSEEK_MARKERSEEK = 4,
    AM_EXSEEK_SCANWITHOUTCLOCK = 8,
    AM_EXSEEK_NOSTANDARDREPAINT = 16,
    AM_EXSEEK_BUFFERING = 32,
    AM_EXSEEK_SENDS_VIDEOFRAMEREADY = 64,
};

MIDL_INTERFACE("fa2aa8f9-8b62-11d0-a520-000000000000")
IAMExtendedSeeking : public IDispatch
{
public:
    virtual HRESULT STDMETHODCALLTYPE get_ExSeekCapabilities(long* capabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MarkerCount(long* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentMarker(long* marker) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMarkerTime(long marker, double* seconds) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMarkerName(long marker, BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PlaybackSpeed(double speed) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PlaybackSpeed(double* speed) = 0;
};
__CRT_UUID_DECL(IAMExtendedSeeking, 0xfa2aa8f9, 0x8b62, 0x11d0, 0xa5, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00)
