#include "ProviderPlatform.h"
#include "SenderIds.h"
#include "EseValueConversion.h"
#include "MapiStrings.h"
#include "RawValues.h"

#include <cstring>

namespace {

const BYTE kOneOffProviderUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                     0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
// The version word (0) and the flags word of the identifier (Unicode strings
// among them), as the one-off identifiers of SMTP senders carry them.
const BYTE kOneOffVersionAndFlags[4] = {0x00, 0x00, 0x17, 0x90};
const BYTE kAddressBookProviderUid[16] = {0xDC, 0xA7, 0x40, 0xC8, 0xC0, 0x42, 0x10, 0x1A,
                                          0xB4, 0xB9, 0x08, 0x00, 0x2B, 0x2F, 0xE1, 0x82};
constexpr BYTE kKeptEntryMark = 0xFF;
constexpr BYTE kExpectedEntryMark = 0x67;

bool IsError(const SPropValue* values, int position)
{
    return position >= 0 && PROP_TYPE(values[position].ulPropTag) == PT_ERROR;
}

bool TextAt(const SPropValue* values, int position, std::wstring& text)
{
    if (position < 0 || PROP_TYPE(values[position].ulPropTag) != PT_UNICODE || !values[position].Value.lpszW)
        return false;
    text = values[position].Value.lpszW;
    return true;
}

bool BytesAt(const SPropValue* values, int position, std::vector<BYTE>& bytes)
{
    if (position < 0 || PROP_TYPE(values[position].ulPropTag) != PT_BINARY)
        return false;
    const SBinary& bin = values[position].Value.bin;
    if (bin.cb && !bin.lpb)
        return false;
    bytes.assign(bin.lpb, bin.lpb + bin.cb);
    return true;
}

bool AskText(const SSenderSource& server, ULONG tag, std::wstring& text)
{
    return server.text && SUCCEEDED(server.text(tag, text));
}

bool AskBytes(const SSenderSource& server, ULONG tag, std::vector<BYTE>& bytes)
{
    return server.bytes && SUCCEEDED(server.bytes(tag, bytes));
}

HRESULT PutText(SPropValue* values, int position, ULONG tag, const std::wstring& text, LPVOID parent)
{
    if (position < 0)
        return S_OK;
    LPWSTR copy = nullptr;
    const HRESULT hr = MapiDupString(text.c_str(), parent, &copy);
    if (FAILED(hr))
        return hr;
    values[position].ulPropTag = tag;
    values[position].dwAlignPad = 0;
    values[position].Value.lpszW = copy;
    return S_OK;
}

HRESULT PutBytes(SPropValue* values, int position, ULONG tag, const std::vector<BYTE>& bytes, LPVOID parent)
{
    if (position < 0)
        return S_OK;
    LPVOID copy = nullptr;
    const HRESULT hr = MapiCopyBytes(parent, static_cast<ULONG>(bytes.size()), bytes.data(), &copy);
    if (FAILED(hr))
        return hr;
    values[position].ulPropTag = tag;
    values[position].dwAlignPad = 0;
    values[position].Value.bin.cb = static_cast<ULONG>(bytes.size());
    values[position].Value.bin.lpb = static_cast<LPBYTE>(copy);
    return S_OK;
}

void AppendWide(std::vector<BYTE>& out, const std::wstring& text)
{
    for (wchar_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
}

} // namespace

bool NoteSenderTag(ULONG tag, int position, SSenderPositions& sentRepresenting, SSenderPositions& sender)
{
    switch (tag) {
    case kPrSentRepresentingAddrTypeW: sentRepresenting.addressType = position; return true;
    case kPrSentRepresentingEmailAddressW: sentRepresenting.emailAddress = position; return true;
    case kPrSentRepresentingNameW: sentRepresenting.name = position; return true;
    case kPrSentRepresentingEntryId: sentRepresenting.entryId = position; return true;
    case kPrSentRepresentingSearchKey: sentRepresenting.searchKey = position; return true;
    case kPrSenderAddrTypeW: sender.addressType = position; return true;
    case kPrSenderEmailAddressW: sender.emailAddress = position; return true;
    case kPrSenderNameW: sender.name = position; return true;
    case kPrSenderEntryId: sender.entryId = position; return true;
    case kPrSenderSearchKey: sender.searchKey = position; return true;
    default: return false;
    }
}

bool IsSmtpSenderEntry(const BYTE* entry, ULONG size)
{
    return entry && size >= 4 && (entry[1] & 0x80) && (entry[2] & 0x10);
}

std::vector<BYTE> BuildOneOffEntryId(const std::wstring& name, const std::wstring& address)
{
    std::vector<BYTE> id(4, 0);
    id.insert(id.end(), kOneOffProviderUid, kOneOffProviderUid + sizeof(kOneOffProviderUid));
    id.insert(id.end(), kOneOffVersionAndFlags, kOneOffVersionAndFlags + sizeof(kOneOffVersionAndFlags));
    AppendWide(id, name);
    AppendWide(id, L"SMTP");
    AppendWide(id, address);
    return id;
}

std::vector<BYTE> BuildAddressBookEntryId(const std::wstring& address)
{
    std::vector<BYTE> id(4, 0);
    id.insert(id.end(), kAddressBookProviderUid, kAddressBookProviderUid + sizeof(kAddressBookProviderUid));
    const BYTE versionAndType[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    id.insert(id.end(), versionAndType, versionAndType + sizeof(versionAndType));
    const int size = WideCharToMultiByte(CP_ACP, 0, address.c_str(), static_cast<int>(address.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size > 0) {
        const size_t at = id.size();
        id.resize(at + static_cast<size_t>(size));
        WideCharToMultiByte(CP_ACP, 0, address.c_str(), static_cast<int>(address.size()),
                            reinterpret_cast<char*>(&id[at]), size, nullptr, nullptr);
    }
    id.push_back(0);
    return id;
}

HRESULT SynthesizeSenderValues(SPropValue* values, const SSenderPositions& sentRepresenting,
                               const SSenderPositions& sender, const SSenderSource& server, LPVOID parent,
                               std::wstring& logPath)
{
    if (!values)
        return E_INVALIDARG;
    const bool senderNameMissing = IsError(values, sender.name);
    const bool entryIdsWanted = sentRepresenting.entryId >= 0 || sender.entryId >= 0;
    const bool addressesMissing =
        IsError(values, sentRepresenting.emailAddress) || IsError(values, sender.emailAddress);
    if (!senderNameMissing && !entryIdsWanted && !addressesMissing)
        return S_OK;

    // The sent-representing name: as requested, else as the server has it.
    std::wstring name;
    bool hasName = TextAt(values, sentRepresenting.name, name);
    if (sentRepresenting.name < 0)
        hasName = AskText(server, kPrSentRepresentingNameW, name);
    if (senderNameMissing && hasName) {
        const HRESULT hr = PutText(values, sender.name, kPrSenderNameW, name, parent);
        if (FAILED(hr))
            return hr;
    }
    if (!entryIdsWanted && !addressesMissing)
        return S_OK;

    // The stored sent-representing entry identifier.
    std::vector<BYTE> stored;
    bool hasStored = BytesAt(values, sentRepresenting.entryId, stored);
    if (sentRepresenting.entryId < 0)
        hasStored = AskBytes(server, kPrSentRepresentingEntryId, stored);
    if (hasStored && !stored.empty()) {
        if (stored[0] == kKeptEntryMark)
            return S_OK;
        if (stored[0] != kExpectedEntryMark)
            LogHexDump(logPath, kSenderDumpPrefix, stored.data(), static_cast<ULONG>(stored.size()));
    }

    if (!hasName)
        return S_OK;
    // An empty address identifies no one.
    std::wstring address;
    bool hasAddress = TextAt(values, sentRepresenting.emailAddress, address) && !address.empty();
    if (!hasAddress && sentRepresenting.emailAddress < 0)
        hasAddress = AskText(server, kPrSentRepresentingEmailAddressW, address) && !address.empty();
    if (!hasAddress)
        hasAddress = AskText(server, kServerSenderAddress, address) && !address.empty();
    if (!hasAddress)
        return MAPI_E_NOT_FOUND;

    HRESULT result = S_OK;
    if (entryIdsWanted) {
        std::vector<BYTE> entry;
        if (AskBytes(server, kServerSenderEntry, entry)) {
            const std::vector<BYTE> id = IsSmtpSenderEntry(entry.data(), static_cast<ULONG>(entry.size()))
                                             ? BuildOneOffEntryId(name, address)
                                             : BuildAddressBookEntryId(address);
            HRESULT hr = PutBytes(values, sentRepresenting.entryId, kPrSentRepresentingEntryId, id, parent);
            if (SUCCEEDED(hr))
                hr = PutBytes(values, sender.entryId, kPrSenderEntryId, id, parent);
            if (FAILED(hr))
                return hr;
        } else {
            result = MAPI_E_NOT_FOUND;
        }
    }

    if (IsError(values, sentRepresenting.emailAddress)) {
        const HRESULT hr =
            PutText(values, sentRepresenting.emailAddress, kPrSentRepresentingEmailAddressW, address, parent);
        if (FAILED(hr))
            return hr;
    }
    if (IsError(values, sender.emailAddress)) {
        const HRESULT hr = PutText(values, sender.emailAddress, kPrSenderEmailAddressW, address, parent);
        if (FAILED(hr))
            return hr;
    }
    return result;
}
