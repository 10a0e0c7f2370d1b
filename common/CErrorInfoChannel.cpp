#include "Platform.h"
#include "CErrorInfoChannel.h"

#include <cstring>

namespace common {

const GUID CErrorInfoChannel::kExtent = {0x0e8b6f64, 0x3c27, 0x4f1d, {0x9a, 0x5e, 0x71, 0xb2, 0xc4, 0xd8, 0x0a, 0x39}};

namespace {

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

} // namespace common
