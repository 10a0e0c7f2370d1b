#include "Platform.h"
#include "CErrorInfoChannel.h"
#include "WineHost.h"

#include <cstring>
#include <mutex>

namespace common {
namespace {

// {0E8B6F64-3C27-4F1D-9A5E-71B2C4D80A39}: the extent that carries the error object.
const GUID kErrorInfoExtent = {0x0e8b6f64, 0x3c27, 0x4f1d, {0x9a, 0x5e, 0x71, 0xb2, 0xc4, 0xd8, 0x0a, 0x39}};

constexpr DWORD kMagic = 0x31494556; // "VEI1"
// NDR data representation of the sender: only little-endian ASCII/IEEE is read.
constexpr DWORD kLittleEndianRep = 0x10;

#pragma pack(push, 4)
struct ExtentHeader {
    DWORD magic;
    DWORD payloadBytes; // header and strings, before padding
    GUID guid;
    DWORD helpContext;
    DWORD sourceChars;      // UTF-16 code units, no terminator
    DWORD descriptionChars;
    DWORD helpFileChars;
};
#pragma pack(pop)
static_assert(sizeof(ExtentHeader) == 40, "extent header layout");

class CBstr {
public:
    CBstr() = default;
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    ~CBstr() { SysFreeString(m_value); }
    BSTR* Out() { return &m_value; }
    BSTR Get() const { return m_value; }
    UINT Length() const { return SysStringLen(m_value); }

private:
    BSTR m_value = nullptr;
};

// The reply of the call that ran last on this thread, between ServerGetSize
// and ServerFillBuffer (COM asks for the size, then for the bytes).
thread_local std::vector<BYTE> t_pendingReply;

class CHook final : public IChannelHook {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IChannelHook)) {
            *ppv = static_cast<IChannelHook*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // Requests carry nothing.
    STDMETHODIMP_(void) ClientGetSize(REFGUID, REFIID, ULONG* dataSize) override { *dataSize = 0; }
    STDMETHODIMP_(void) ClientFillBuffer(REFGUID, REFIID, ULONG* dataSize, void*) override { *dataSize = 0; }

    STDMETHODIMP_(void) ClientNotify(REFGUID extension, REFIID, ULONG size, void* buffer, DWORD dataRep,
                                     HRESULT) override
    {
        if (!IsEqualGUID(extension, kErrorInfoExtent) || size == 0 || !buffer)
            return;
        ComPtr<IErrorInfo> errorInfo;
        if (SUCCEEDED(CErrorInfoChannel::Decode(buffer, size, dataRep, &errorInfo)))
            SetErrorInfo(0, errorInfo.Get());
    }

    STDMETHODIMP_(void) ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}

    // Wine asks for the size of every reply, with hrFault always S_OK, on the
    // thread that ran the method: an error object set there is this call's.
    STDMETHODIMP_(void) ServerGetSize(REFGUID extension, REFIID, HRESULT, ULONG* dataSize) override
    {
        *dataSize = 0;
        t_pendingReply.clear();
        if (!IsEqualGUID(extension, kErrorInfoExtent))
            return;
        ComPtr<IErrorInfo> errorInfo;
        if (GetErrorInfo(0, &errorInfo) != S_OK || !errorInfo)
            return;
        t_pendingReply = CErrorInfoChannel::Encode(errorInfo.Get(), CErrorInfoChannel::kMaxExtentBytes);
        *dataSize = static_cast<ULONG>(t_pendingReply.size());
    }

    STDMETHODIMP_(void) ServerFillBuffer(REFGUID, REFIID, ULONG* dataSize, void* buffer, HRESULT) override
    {
        if (buffer && !t_pendingReply.empty() && *dataSize >= t_pendingReply.size()) {
            std::memcpy(buffer, t_pendingReply.data(), t_pendingReply.size());
            *dataSize = static_cast<ULONG>(t_pendingReply.size());
        } else {
            *dataSize = 0;
        }
        t_pendingReply.clear();
    }
};

} // namespace

std::vector<BYTE> CErrorInfoChannel::Encode(IErrorInfo* errorInfo, size_t maxBytes)
{
    ExtentHeader header = {};
    header.magic = kMagic;
    CBstr source, description, helpFile;
    errorInfo->GetGUID(&header.guid);
    errorInfo->GetSource(source.Out());
    errorInfo->GetDescription(description.Out());
    errorInfo->GetHelpFile(helpFile.Out());
    errorInfo->GetHelpContext(&header.helpContext);
    header.sourceChars = source.Length();
    header.descriptionChars = description.Length();
    header.helpFileChars = helpFile.Length();

    // Too long for one extent: the help file goes first, then the description
    // is shortened; the numbers at its start are what the client reads.
    size_t fixed = sizeof header + 2 * (header.sourceChars + header.helpFileChars);
    if (fixed + 8 > maxBytes) {
        header.helpFileChars = 0;
        fixed = sizeof header + 2 * header.sourceChars;
    }
    if (fixed + 2 * header.descriptionChars + 8 > maxBytes)
        header.descriptionChars = fixed + 8 > maxBytes ? 0 : static_cast<DWORD>((maxBytes - fixed - 8) / 2);
    header.payloadBytes = static_cast<DWORD>(fixed + 2 * header.descriptionChars);

    std::vector<BYTE> out((header.payloadBytes + 7) & ~size_t{7}, 0);
    BYTE* at = out.data();
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    auto put = [&at](BSTR text, DWORD chars) {
        if (chars)
            std::memcpy(at, text, 2 * chars);
        at += 2 * chars;
    };
    put(source.Get(), header.sourceChars);
    put(description.Get(), header.descriptionChars);
    put(helpFile.Get(), header.helpFileChars);
    return out;
}

HRESULT CErrorInfoChannel::Decode(const void* data, ULONG size, DWORD dataRep, IErrorInfo** errorInfo)
{
    *errorInfo = nullptr;
    ExtentHeader header;
    if (!data || size < sizeof header || (dataRep & 0xFFFF) != kLittleEndianRep)
        return E_INVALIDARG;
    std::memcpy(&header, data, sizeof header); // the extent need not be aligned
    unsigned long long expected =
        sizeof header + 2ull * (static_cast<unsigned long long>(header.sourceChars) + header.descriptionChars +
                                header.helpFileChars);
    if (header.magic != kMagic || header.payloadBytes > size || expected != header.payloadBytes)
        return E_INVALIDARG;

    const BYTE* at = static_cast<const BYTE*>(data) + sizeof header;
    auto take = [&at](DWORD chars) {
        BSTR text = SysAllocStringLen(nullptr, chars);
        if (text && chars)
            std::memcpy(text, at, 2 * chars);
        at += 2 * chars;
        return text;
    };
    CBstr source, description, helpFile;
    *source.Out() = take(header.sourceChars);
    *description.Out() = take(header.descriptionChars);
    *helpFile.Out() = take(header.helpFileChars);
    if (!source.Get() || !description.Get() || !helpFile.Get())
        return E_OUTOFMEMORY;

    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(&create);
    if (FAILED(hr))
        return hr;
    create->SetGUID(header.guid);
    create->SetSource(source.Get());
    create->SetDescription(description.Get());
    create->SetHelpFile(helpFile.Get());
    create->SetHelpContext(header.helpContext);
    return create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(errorInfo));
}

HRESULT CErrorInfoChannel::Install()
{
    if (!IsRunningOnWine())
        return S_FALSE;
    static std::once_flag once;
    static HRESULT result = E_FAIL;
    std::call_once(once, [] {
        static CHook hook;
        result = CoRegisterChannelHook(kErrorInfoExtent, &hook);
    });
    return result;
}

} // namespace common
