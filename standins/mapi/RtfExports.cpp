// WrapCompressedRTFStream: a plain-RTF view of a PR_RTF_COMPRESSED stream.
// Reading decodes the whole value up front (checking its CRC) and hands out
// a memory stream over the text; writing goes through CRtfWriteStream.
// RTFSync: brings PR_BODY and PR_RTF_COMPRESSED of a message in step.
#include "MapiStandin.h"
#include "CCompressedRtf.h"
#include "CRtfText.h"
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

// The whole of a property read through a stream; S_FALSE when missing.
HRESULT ReadProperty(IMessage* message, ULONG tag, std::string& data)
{
    data.clear();
    ComPtr<IStream> stream;
    HRESULT hr = message->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()));
    if (hr == MAPI_E_NOT_FOUND)
        return S_FALSE;
    if (FAILED(hr))
        return hr;
    return ReadAll(stream.Get(), data);
}

HRESULT WriteBody(IMessage* message, const std::wstring& text)
{
    ComPtr<IStream> stream;
    HRESULT hr = message->OpenProperty(PR_BODY_W, &IID_IStream, STGM_WRITE, MAPI_CREATE | MAPI_MODIFY,
                                       reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()));
    if (SUCCEEDED(hr)) {
        ULONG written = 0;
        hr = stream->Write(text.data(), static_cast<ULONG>(text.size() * sizeof(WCHAR)), &written);
        if (SUCCEEDED(hr))
            hr = stream->Commit(STGC_DEFAULT);
        return hr;
    }
    SPropValue body{};
    body.ulPropTag = PR_BODY_W;
    std::wstring copy = text;
    body.Value.lpszW = &copy[0];
    return HrSetOneProp(message, &body);
}

HRESULT WriteRtf(IMessage* message, const std::string& rtf)
{
    ComPtr<IStream> stored;
    HRESULT hr = message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_WRITE, MAPI_CREATE | MAPI_MODIFY,
                                       reinterpret_cast<LPUNKNOWN*>(stored.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    ComPtr<IStream> plain;
    hr = WrapCompressedRTFStream(stored.Get(), MAPI_MODIFY, &plain);
    if (FAILED(hr))
        return hr;
    ULONG written = 0;
    hr = plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written);
    if (SUCCEEDED(hr))
        hr = plain->Commit(STGC_DEFAULT);
    return hr;
}

} // namespace

// Which side wins: with only RTF_SYNC_RTF_CHANGED the body is made from the
// RTF, with only RTF_SYNC_BODY_CHANGED the RTF from the body. With both (or
// neither) the side that exists fills in the missing one; when both exist
// nothing is rewritten, since a lossy conversion must not replace text that
// came from the source.
STDAPI_(HRESULT) RTFSync(LPMESSAGE lpMessage, ULONG ulFlags, WINBOOL* lpfMessageUpdated)
{
    if (lpfMessageUpdated)
        *lpfMessageUpdated = FALSE;
    if (!lpMessage || !lpfMessageUpdated)
        return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~static_cast<ULONG>(RTF_SYNC_RTF_CHANGED | RTF_SYNC_BODY_CHANGED))
        return MAPI_E_UNKNOWN_FLAGS;
    return mapistub::Guarded([&]() -> HRESULT {
        std::string storedRtf;
        std::string bodyBytes;
        HRESULT rtfState = ReadProperty(lpMessage, PR_RTF_COMPRESSED, storedRtf);
        if (FAILED(rtfState))
            return rtfState;
        HRESULT bodyState = ReadProperty(lpMessage, PR_BODY_W, bodyBytes);
        if (FAILED(bodyState))
            return bodyState;
        bool hasRtf = rtfState == S_OK && !storedRtf.empty();
        bool hasBody = bodyState == S_OK;
        bool rtfChanged = (ulFlags & RTF_SYNC_RTF_CHANGED) != 0;
        bool bodyChanged = (ulFlags & RTF_SYNC_BODY_CHANGED) != 0;
        bool bodyFromRtf = hasRtf && (rtfChanged && !bodyChanged ? true : !hasBody);
        bool rtfFromBody = !bodyFromRtf && hasBody && (bodyChanged && !rtfChanged ? true : !hasRtf);
        HRESULT hr = S_OK;
        if (bodyFromRtf) {
            std::string rtf;
            hr = CCompressedRtf::Decompress(storedRtf, rtf);
            if (FAILED(hr))
                return hr;
            hr = WriteBody(lpMessage, CRtfText::ToText(rtf));
        } else if (rtfFromBody) {
            std::wstring body(reinterpret_cast<const wchar_t*>(bodyBytes.data()), bodyBytes.size() / sizeof(WCHAR));
            hr = WriteRtf(lpMessage, CRtfText::FromText(body));
        } else {
            return S_OK;
        }
        if (FAILED(hr))
            return hr;
        SPropValue inSync{};
        inSync.ulPropTag = PR_RTF_IN_SYNC;
        inSync.Value.b = TRUE;
        HrSetOneProp(lpMessage, &inSync);
        *lpfMessageUpdated = TRUE;
        return S_OK;
    });
}

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
