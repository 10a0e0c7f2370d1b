// The main job: starts the database server through COM as a local server and
// prints what its instance answers.
#include "Platform.h"
#include "CErrorInfoChannel.h"
#include "Vostrel2007.h"

#include <cstdio>

namespace {

void PrintError(const char* call, HRESULT hr)
{
    std::printf("%s -> 0x%08lX", call, static_cast<unsigned long>(hr));
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        info->GetDescription(&text);
        std::printf(" (%ls)", text ? text : L"");
        SysFreeString(text);
    }
    std::printf("\n");
}

} // namespace

int wmain()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "COM could not be initialised\n");
        return 1;
    }
    common::CErrorInfoChannel::Install();
    int result = 0;
    {
        ComPtr<IEseInstance> instance;
        HRESULT hr = CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                      reinterpret_cast<void**>(instance.GetAddressOf()));
        if (FAILED(hr)) {
            std::fprintf(stderr, "X2007EseInstance could not be created: 0x%08lX\n", static_cast<unsigned long>(hr));
            result = 1;
        } else {
            std::printf("X2007EseInstance created in the Vostrel2003 server\n");
            PrintError("IEseInstance::PlayLogFiles", instance->PlayLogFiles(nullptr, 0, nullptr));
            PrintError("IEseInstance::Init(4096)", instance->Init(4096, nullptr, nullptr));
            ComPtr<ISupportErrorInfo> support;
            if (SUCCEEDED(instance.As(&support)))
                std::printf("ISupportErrorInfo for IEseInstance -> 0x%08lX\n",
                            static_cast<unsigned long>(support->InterfaceSupportsErrorInfo(IID_IEseInstance)));
        }
    }
    CoUninitialize();
    return result;
}
