#pragma once
// What the host's tests tell the test add-in and the test page control to do,
// and what these saw. The test DLL holds one instance (TestAddInScriptOf);
// the test program loads the same DLL, so both sides share it.
#include "Platform.h"

// {3B3A755B-CCC6-4B86-A4B8-7686EAF97569}
constexpr CLSID kClsidTestAddIn = {0x3B3A755B, 0xCCC6, 0x4B86, {0xA4, 0xB8, 0x76, 0x86, 0xEA, 0xF9, 0x75, 0x69}};
// {E5835D7F-EFE5-4220-97D8-C6C8BA4BDEBA}
constexpr CLSID kClsidTestPageControl = {0xE5835D7F, 0xEFE5, 0x4220, {0x97, 0xD8, 0xC6, 0xC8, 0xBA, 0x4B, 0xDE, 0xBA}};
constexpr wchar_t kTestAddInProgId[] = L"VostrelTest.HostAddIn";
constexpr wchar_t kTestPageProgId[] = L"VostrelTest.PageControl";
constexpr int kTestCheckBoxId = 100;

struct TestAddInScript {
    // Told by the test.
    wchar_t barName[64] = L"Vostrel Test";
    bool temporaryBar = true;
    wchar_t buttonTag[64] = L"VOSTREL_TEST_ITEM";
    wchar_t tooltip[64] = L"Add a test store";
    wchar_t pageProgId[128] = L"VostrelTest.PageControl";
    wchar_t pageTitle[64] = L"Test Page";
    wchar_t pageFolderEntryId[512] = L""; // the folder offered the page; empty: every folder
    bool cancelDefault = false;
    bool failConnection = false;

    // Seen by the add-in.
    int connections = 0;
    long connectMode = -1;
    long disconnectMode = -1;
    int beginShutdowns = 0;
    wchar_t version[64] = L"";
    bool pastedFace = false;        // the face went through the clipboard
    HRESULT faceResult = S_OK;      // PasteFace or Picture/Mask
    HRESULT toolbarResult = S_OK;   // the first failure setting up bar and button
    int clicks = 0;
    bool clickArgumentsAsDocumented = false;
    bool clickCtrlIsTheAdvisedButton = false; // one COM identity for one button
    void* clickSession = nullptr;   // Session.MAPIOBJECT (its IUnknown) at the click
    int explorerCloses = 0;
    int deletedControls = 0;
    HRESULT closeResult = S_OK;
    int pagesAddEvents = 0;
    bool pagesArgumentsAsDocumented = false;
    HRESULT pageAddResult = S_OK;

    // Seen by the page control.
    int controlsCreated = 0;
    int controlsDestroyed = 0;
    bool siteSetBeforeInitNew = false;
    bool initNewCalled = false;
    bool foundPageSite = false;
    LONG verb = 0;
    int pageInfoCalls = 0;
    int applyCalls = 0;
    bool appliedChecked = false;
    int dirtyQueries = 0;
};

extern "C" TestAddInScript* WINAPI TestAddInScriptOf();
using TestAddInScriptFn = TestAddInScript*(WINAPI*)();
