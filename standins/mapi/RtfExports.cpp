// WrapCompressedRTFStream: a plain-RTF view of a PR_RTF_COMPRESSED stream.
// Reading decodes the whole value up front (checking its CRC) and hands out
// a memory stream over the text; writing goes through CRtfWriteStream.
#include "MapiStandin.h"
#include "CCompressedRtf.h"
#include "CRtfWriteStream.h"

#include <string>

namespace {

// Limit on the stored value read into memory.
constexpr ULONGLONG kMaxStored = 256ull << 20;

HRESULT ReadAll(IStream* stream, std::string& data)
{
    // From the start when the stream can seek; a stream that cannot is read
    // from where it stands.
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    HRESULT hr = S_OK;
    char chunk[16384];
    for (;;) {
        ULONG read = 0;
        hr = stream->Read(chunk, sizeof(chunk), &read);
        if (FAILED(hr))
            return hr;
        if (read > sizeof(chunk))
            return MAPI_E_CORRUPT_DATA;
        data.append(chunk, read);
        if (data.size() > kMaxStored)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        if (read == 0 || hr == S_FALSE)
            return S_OK;
    }
}

} // namespace

STDAPI_(HRESULT) WrapCompressedRTFStream(LPSTREAM lpCompressedRTFStream, ULONG ulFlags,
                                         LPSTREAM* lpUncompressedRTFStream)
{
    if (!lpUncompressedRTFStream)
        return MAPI_E_INVALID_PARAMETER;
    *lpUncompressedRTFStream = nullptr;
    if (!lpCompressedRTFStream)
        return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~static_cast<ULONG>(MAPI_MODIFY | STORE_UNCOMPRESSED_RTF))
        return MAPI_E_UNKNOWN_FLAGS;
    return mapistub::Guarded([&]() -> HRESULT {
        if (ulFlags & MAPI_MODIFY)
            return CRtfWriteStream::Create(lpCompressedRTFStream, (ulFlags & STORE_UNCOMPRESSED_RTF) != 0,
                                           lpUncompressedRTFStream);
        std::string stored;
        HRESULT hr = ReadAll(lpCompressedRTFStream, stored);
        if (FAILED(hr))
            return hr;
        std::string rtf;
        hr = CCompressedRtf::Decompress(stored, rtf);
        if (FAILED(hr))
            return hr;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, rtf.size() ? rtf.size() : 1);
        if (!memory)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        if (!rtf.empty()) {
            void* p = GlobalLock(memory);
            memcpy(p, rtf.data(), rtf.size());
            GlobalUnlock(memory);
        }
        ComPtr<IStream> stream;
        hr = CreateStreamOnHGlobal(memory, TRUE, &stream);
        if (FAILED(hr)) {
            GlobalFree(memory);
            return hr;
        }
        ULARGE_INTEGER size{};
        size.QuadPart = rtf.size();
        stream->SetSize(size);
        *lpUncompressedRTFStream = stream.Detach();
        return S_OK;
    });
}
