#include "ProviderPlatform.h"

// The converter's and the message class's identifiers are defined here.
#include <initguid.h>
#include "ConverterSession.h"

#include "MimeMessage.h"

#include <imessage.h>

HRESULT MessageFromMime(IStream* mime, const SMessageAllocators& allocators, IMessage** message)
{
    if (!message)
        return E_INVALIDARG;
    *message = nullptr;
    if (!mime || !allocators.allocateBuffer || !allocators.allocateMore || !allocators.freeBuffer ||
        !allocators.malloc)
        return E_INVALIDARG;

    ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> storage;
    hr = StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0, &storage);
    if (FAILED(hr))
        return hr;
    ComPtr<IMessage> made;
    hr = OpenIMsgOnIStg(nullptr, allocators.allocateBuffer, allocators.allocateMore, allocators.freeBuffer,
                        allocators.malloc, nullptr, storage.Get(), nullptr, 0, MAPI_UNICODE, &made);
    if (FAILED(hr))
        return hr;
    // The message holds its storage from here on; what follows only fills it.
    *message = made.Get();
    (*message)->AddRef();

    hr = WriteClassStg(storage.Get(), CLSID_MailMessage);
    if (FAILED(hr))
        return hr;
    ComPtr<IConverterSession> converter;
    hr = CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                          reinterpret_cast<void**>(converter.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = converter->MIMEToMAPI(mime, made.Get(), nullptr, CCSF_SMTP);
    if (FAILED(hr))
        return hr;
    hr = made->SaveChanges(0);
    if (SUCCEEDED(hr))
        hr = storage->Commit(STGC_DEFAULT);
    return hr;
}
