// HrIStorageFromStream: a structured storage read from (or created in) a
// stream that holds a compound file, such as an OLE attachment's data.
#include "MapiStandin.h"
#include "CStreamLockBytes.h"

STDAPI_(HRESULT) HrIStorageFromStream(LPUNKNOWN lpUnkIn, LPCIID lpInterface, ULONG ulFlags, LPSTORAGE* lppStorageOut)
{
    if (!lppStorageOut)
        return MAPI_E_INVALID_PARAMETER;
    *lppStorageOut = nullptr;
    if (!lpUnkIn)
        return MAPI_E_INVALID_PARAMETER;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IStorage))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (ulFlags & ~static_cast<ULONG>(STGSTRM_CURRENT | STGSTRM_MODIFY | STGSTRM_CREATE))
        return MAPI_E_UNKNOWN_FLAGS;
    return mapistub::Guarded([&]() -> HRESULT {
        ComPtr<ILockBytes> bytes;
        if (FAILED(lpUnkIn->QueryInterface(IID_ILockBytes, reinterpret_cast<void**>(bytes.GetAddressOf())))) {
            ComPtr<IStream> stream;
            HRESULT hr = lpUnkIn->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
            if (FAILED(hr))
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
            ULONGLONG base = 0;
            if (ulFlags & STGSTRM_CURRENT) {
                LARGE_INTEGER zero{};
                ULARGE_INTEGER position{};
                hr = stream->Seek(zero, STREAM_SEEK_CUR, &position);
                if (FAILED(hr))
                    return hr;
                base = position.QuadPart;
            }
            hr = CStreamLockBytes::Create(stream.Get(), base, &bytes);
            if (FAILED(hr))
                return hr;
        }
        DWORD access = (ulFlags & (STGSTRM_MODIFY | STGSTRM_CREATE)) ? STGM_READWRITE : STGM_READ;
        if (ulFlags & STGSTRM_CREATE)
            return StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | access | STGM_SHARE_EXCLUSIVE, 0,
                                                lppStorageOut);
        return StgOpenStorageOnILockBytes(bytes.Get(), nullptr, access | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                          lppStorageOut);
    });
}
