#include "MapiStandin.h"
#include "CMsgStorageFormat.h"
#include "CMsgContent.h"
#include "CNamedProps.h"
#include "PropValue.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr ULONG kAttachDataObject = PROP_TAG(PT_OBJECT, 0x3701);
constexpr ULONG kEntryFlags = PROPATTR_READABLE | PROPATTR_WRITEABLE;
constexpr ULONG kMaxStreamSize = 0x7FFFFFF0;
constexpr ULONG kMaxElements = 100000;

const wchar_t kPropertiesStream[] = L"__properties_version1.0";
const wchar_t kNameIdStorage[] = L"__nameid_version1.0";
const wchar_t kRecipientPrefix[] = L"__recip_version1.0_#";
const wchar_t kAttachmentPrefix[] = L"__attach_version1.0_#";
const wchar_t kEmbeddedStorage[] = L"__substg1.0_3701000D";

const GUID kPsMapi = {0x00020328, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kPsPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

constexpr DWORD kReadMode = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kCreateMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

std::wstring SubstgName(ULONG tag)
{
    wchar_t name[32];
    swprintf(name, 32, L"__substg1.0_%08X", static_cast<unsigned>(tag));
    return name;
}

std::wstring ElementName(ULONG tag, ULONG index)
{
    wchar_t name[32];
    swprintf(name, 32, L"__substg1.0_%08X-%08X", static_cast<unsigned>(tag), static_cast<unsigned>(index));
    return name;
}

std::wstring NumberedName(const wchar_t* prefix, ULONG number)
{
    wchar_t name[40];
    swprintf(name, 40, L"%ls%08X", prefix, static_cast<unsigned>(number));
    return name;
}

HRESULT ReadStream(IStorage* storage, const std::wstring& name, std::string& data)
{
    data.clear();
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(name.c_str(), nullptr, kReadMode, 0, &stream);
    if (FAILED(hr))
        return hr;
    STATSTG stat{};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    if (stat.cbSize.QuadPart > kMaxStreamSize)
        return MAPI_E_CORRUPT_DATA;
    data.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    if (data.empty())
        return S_OK;
    ULONG read = 0;
    hr = stream->Read(&data[0], static_cast<ULONG>(data.size()), &read);
    if (FAILED(hr))
        return hr;
    data.resize(read);
    return S_OK;
}

HRESULT WriteStream(IStorage* storage, const std::wstring& name, const std::string& data)
{
    ComPtr<IStream> stream;
    HRESULT hr = storage->CreateStream(name.c_str(), kCreateMode, 0, 0, &stream);
    if (FAILED(hr))
        return hr;
    if (data.empty())
        return S_OK;
    ULONG written = 0;
    hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
    if (FAILED(hr))
        return hr;
    return written == data.size() ? S_OK : STG_E_MEDIUMFULL;
}

ULONG Le32(const std::string& data, size_t offset)
{
    ULONG value = 0;
    std::memcpy(&value, data.data() + offset, 4);
    return value;
}

void Put32(std::string& out, ULONG value)
{
    out.append(reinterpret_cast<const char*>(&value), 4);
}

// Size in bytes of one element of a fixed-size type, 0 for variable types.
ULONG FixedSize(ULONG baseType)
{
    switch (baseType) {
    case PT_I2:
    case PT_BOOLEAN: return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR: return 4;
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_CURRENCY:
    case PT_I8:
    case PT_SYSTIME: return 8;
    case PT_CLSID: return 16;
    default: return 0;
    }
}

std::string StripTerminator(std::string data, size_t unit)
{
    while (data.size() >= unit && std::all_of(data.end() - unit, data.end(), [](char c) { return c == 0; }))
        data.resize(data.size() - unit);
    return data;
}

// Holds the decoded buffers a loaded value points into until CPropBag copies it.
struct LoadedValue {
    SPropValue value{};
    std::string bytes;
    std::vector<std::string> elements;
    std::vector<void*> pointers;
    std::vector<SBinary> binaries;
};

HRESULT LoadValue(IStorage* storage, ULONG tag, const char* inlineValue, LoadedValue& loaded)
{
    SPropValue& v = loaded.value;
    v.ulPropTag = tag;
    ULONG type = PROP_TYPE(tag);
    ULONG base = mapistub::BaseType(tag);
    if (!mapistub::IsMultiValued(tag)) {
        switch (type) {
        case PT_I2:
        case PT_BOOLEAN:
            std::memcpy(&v.Value.i, inlineValue, 2);
            return S_OK;
        case PT_LONG:
        case PT_R4:
        case PT_ERROR:
            std::memcpy(&v.Value.l, inlineValue, 4);
            return S_OK;
        case PT_DOUBLE:
        case PT_APPTIME:
        case PT_CURRENCY:
        case PT_I8:
        case PT_SYSTIME:
            std::memcpy(&v.Value.li, inlineValue, 8);
            return S_OK;
        default:
            break;
        }
        HRESULT hr = ReadStream(storage, SubstgName(tag), loaded.bytes);
        if (FAILED(hr))
            return MAPI_E_CORRUPT_DATA;
        switch (type) {
        case PT_STRING8:
            loaded.bytes = StripTerminator(loaded.bytes, 1);
            loaded.bytes.push_back('\0');
            v.Value.lpszA = &loaded.bytes[0];
            return S_OK;
        case PT_UNICODE:
            loaded.bytes = StripTerminator(loaded.bytes, 2);
            if (loaded.bytes.size() % 2)
                return MAPI_E_CORRUPT_DATA;
            loaded.bytes.append(2, '\0');
            v.Value.lpszW = reinterpret_cast<LPWSTR>(&loaded.bytes[0]);
            return S_OK;
        case PT_CLSID:
            if (loaded.bytes.size() != sizeof(GUID))
                return MAPI_E_CORRUPT_DATA;
            v.Value.lpguid = reinterpret_cast<LPGUID>(&loaded.bytes[0]);
            return S_OK;
        case PT_BINARY:
            v.Value.bin.cb = static_cast<ULONG>(loaded.bytes.size());
            loaded.bytes.push_back('\0');
            v.Value.bin.lpb = reinterpret_cast<LPBYTE>(&loaded.bytes[0]);
            return S_OK;
        default:
            return S_FALSE; // a type this layout does not carry
        }
    }
    HRESULT hr = ReadStream(storage, SubstgName(tag), loaded.bytes);
    if (FAILED(hr))
        return MAPI_E_CORRUPT_DATA;
    ULONG fixed = FixedSize(base);
    if (fixed) {
        if (loaded.bytes.size() % fixed)
            return MAPI_E_CORRUPT_DATA;
        v.Value.MVl.cValues = static_cast<ULONG>(loaded.bytes.size() / fixed);
        loaded.bytes.push_back('\0');
        v.Value.MVl.lpl = reinterpret_cast<LONG*>(&loaded.bytes[0]);
        return S_OK;
    }
    ULONG entry = base == PT_BINARY ? 8 : 4;
    if (base != PT_BINARY && base != PT_STRING8 && base != PT_UNICODE)
        return S_FALSE;
    if (loaded.bytes.size() % entry || loaded.bytes.size() / entry > kMaxElements)
        return MAPI_E_CORRUPT_DATA;
    ULONG count = static_cast<ULONG>(loaded.bytes.size() / entry);
    loaded.elements.resize(count);
    for (ULONG i = 0; i < count; ++i) {
        if (FAILED(ReadStream(storage, ElementName(tag, i), loaded.elements[i])))
            return MAPI_E_CORRUPT_DATA;
    }
    v.Value.MVl.cValues = count;
    if (base == PT_BINARY) {
        loaded.binaries.resize(count + 1);
        for (ULONG i = 0; i < count; ++i) {
            loaded.binaries[i].cb = static_cast<ULONG>(loaded.elements[i].size());
            loaded.elements[i].push_back('\0');
            loaded.binaries[i].lpb = reinterpret_cast<LPBYTE>(&loaded.elements[i][0]);
        }
        v.Value.MVbin.lpbin = loaded.binaries.data();
        return S_OK;
    }
    size_t unit = base == PT_UNICODE ? 2 : 1;
    loaded.pointers.resize(count + 1);
    for (ULONG i = 0; i < count; ++i) {
        loaded.elements[i] = StripTerminator(loaded.elements[i], unit);
        loaded.elements[i].append(unit, '\0');
        loaded.pointers[i] = &loaded.elements[i][0];
    }
    v.Value.MVszA.lppszA = reinterpret_cast<LPSTR*>(loaded.pointers.data());
    return S_OK;
}

HRESULT LoadProps(IStorage* storage, size_t headerSize, CPropBag& bag, std::string* header)
{
    std::string data;
    HRESULT hr = ReadStream(storage, kPropertiesStream, data);
    if (hr == STG_E_FILENOTFOUND) {
        if (header)
            header->assign(headerSize, '\0');
        return S_OK;
    }
    if (FAILED(hr))
        return hr;
    if (data.size() < headerSize || (data.size() - headerSize) % 16)
        return MAPI_E_CORRUPT_DATA;
    if (header)
        header->assign(data, 0, headerSize);
    for (size_t offset = headerSize; offset < data.size(); offset += 16) {
        ULONG tag = Le32(data, offset);
        if (tag == kAttachDataObject || PROP_TYPE(tag) == PT_OBJECT)
            continue;
        if (!mapistub::IsKnownType(PROP_TYPE(tag)) || PROP_TYPE(tag) == PT_UNSPECIFIED || PROP_TYPE(tag) == PT_NULL)
            continue;
        LoadedValue loaded;
        hr = LoadValue(storage, tag, data.data() + offset + 8, loaded);
        if (FAILED(hr))
            return hr;
        if (hr == S_OK) {
            hr = bag.Set(loaded.value);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

// An OLE attachment's compound file kept as the attachment's data-object
// storage, and read back into memory.
HRESULT SaveObjectStorage(ILockBytes* bytes, IStorage* attachment)
{
    ComPtr<IStorage> from;
    HRESULT hr = StgOpenStorageOnILockBytes(bytes, nullptr, kReadMode, nullptr, 0, &from);
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> to;
    hr = attachment->CreateStorage(kEmbeddedStorage, kCreateMode, 0, 0, &to);
    if (SUCCEEDED(hr))
        hr = from->CopyTo(0, nullptr, nullptr, to.Get());
    if (SUCCEEDED(hr))
        hr = to->Commit(STGC_DEFAULT);
    return hr;
}

HRESULT LoadObjectStorage(IStorage* stored, ComPtr<ILockBytes>& bytes)
{
    ComPtr<ILockBytes> memory;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &memory);
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> to;
    hr = StgCreateDocfileOnILockBytes(memory.Get(), kCreateMode, 0, &to);
    if (SUCCEEDED(hr))
        hr = stored->CopyTo(0, nullptr, nullptr, to.Get());
    if (SUCCEEDED(hr))
        hr = to->Commit(STGC_DEFAULT);
    if (SUCCEEDED(hr))
        bytes = memory;
    return hr;
}

HRESULT SaveProps(IStorage* storage, const std::string& header, const CPropBag& bag, bool embeddedObject)
{
    std::string entries = header;
    auto addEntry = [&](ULONG tag, const void* inlineValue, size_t inlineSize) {
        Put32(entries, tag);
        Put32(entries, kEntryFlags);
        char value[8] = {};
        std::memcpy(value, inlineValue, inlineSize);
        entries.append(value, 8);
    };
    for (ULONG tag : bag.Tags()) {
        const SPropValue& v = *bag.Find(PROP_ID(tag));
        ULONG type = PROP_TYPE(tag);
        HRESULT hr = S_OK;
        if (!mapistub::IsMultiValued(tag)) {
            switch (type) {
            case PT_I2:
            case PT_BOOLEAN:
                addEntry(tag, &v.Value.i, 2);
                continue;
            case PT_LONG:
            case PT_R4:
            case PT_ERROR:
                addEntry(tag, &v.Value.l, 4);
                continue;
            case PT_DOUBLE:
            case PT_APPTIME:
            case PT_CURRENCY:
            case PT_I8:
            case PT_SYSTIME:
                addEntry(tag, &v.Value.li, 8);
                continue;
            case PT_STRING8: {
                std::string bytes(v.Value.lpszA, std::strlen(v.Value.lpszA) + 1);
                hr = WriteStream(storage, SubstgName(tag), bytes);
                ULONG size = static_cast<ULONG>(bytes.size());
                addEntry(tag, &size, 4);
                break;
            }
            case PT_UNICODE: {
                std::string bytes(reinterpret_cast<const char*>(v.Value.lpszW), (wcslen(v.Value.lpszW) + 1) * 2);
                hr = WriteStream(storage, SubstgName(tag), bytes);
                ULONG size = static_cast<ULONG>(bytes.size());
                addEntry(tag, &size, 4);
                break;
            }
            case PT_CLSID: {
                std::string bytes(reinterpret_cast<const char*>(v.Value.lpguid), sizeof(GUID));
                hr = WriteStream(storage, SubstgName(tag), bytes);
                ULONG size = sizeof(GUID);
                addEntry(tag, &size, 4);
                break;
            }
            case PT_BINARY: {
                std::string bytes(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
                hr = WriteStream(storage, SubstgName(tag), bytes);
                addEntry(tag, &v.Value.bin.cb, 4);
                break;
            }
            default:
                continue; // nothing this layout carries
            }
        } else {
            ULONG base = mapistub::BaseType(tag);
            ULONG fixed = FixedSize(base);
            ULONG count = v.Value.MVl.cValues;
            std::string lengths;
            if (fixed) {
                const char* array = reinterpret_cast<const char*>(v.Value.MVl.lpl);
                lengths.assign(array, static_cast<size_t>(fixed) * count);
            } else {
                for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) {
                    SPropValue element = mapistub::Element(v, i);
                    std::string bytes;
                    if (base == PT_BINARY)
                        bytes.assign(reinterpret_cast<const char*>(element.Value.bin.lpb), element.Value.bin.cb);
                    else if (base == PT_UNICODE)
                        bytes.assign(reinterpret_cast<const char*>(element.Value.lpszW), (wcslen(element.Value.lpszW) + 1) * 2);
                    else if (base == PT_STRING8)
                        bytes.assign(element.Value.lpszA, std::strlen(element.Value.lpszA) + 1);
                    else
                        break;
                    Put32(lengths, static_cast<ULONG>(bytes.size()));
                    if (base == PT_BINARY)
                        Put32(lengths, 0);
                    hr = WriteStream(storage, ElementName(tag, i), bytes);
                }
            }
            if (SUCCEEDED(hr))
                hr = WriteStream(storage, SubstgName(tag), lengths);
            ULONG size = static_cast<ULONG>(lengths.size());
            addEntry(tag, &size, 4);
        }
        if (FAILED(hr))
            return hr;
    }
    if (embeddedObject) {
        ULONG unknownSize = 0xFFFFFFFF;
        addEntry(kAttachDataObject, &unknownSize, 4);
    }
    return WriteStream(storage, kPropertiesStream, entries);
}

HRESULT ClearStorage(IStorage* storage)
{
    ComPtr<IEnumSTATSTG> elements;
    HRESULT hr = storage->EnumElements(0, nullptr, 0, &elements);
    if (FAILED(hr))
        return hr;
    std::vector<std::wstring> names;
    STATSTG stat{};
    while (elements->Next(1, &stat, nullptr) == S_OK) {
        names.emplace_back(stat.pwcsName ? stat.pwcsName : L"");
        CoTaskMemFree(stat.pwcsName);
    }
    elements.Reset();
    for (const std::wstring& name : names)
        storage->DestroyElement(name.c_str());
    return S_OK;
}

bool ParseNumber(const std::wstring& name, const wchar_t* prefix, ULONG* number)
{
    size_t length = wcslen(prefix);
    if (name.size() != length + 8 || name.compare(0, length, prefix) != 0)
        return false;
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(name.c_str() + length, &end, 16);
    if (!end || *end)
        return false;
    *number = static_cast<ULONG>(value);
    return true;
}

HRESULT LoadNames(IStorage* storage, CNamedProps& names)
{
    ComPtr<IStorage> nameStorage;
    if (FAILED(storage->OpenStorage(kNameIdStorage, nullptr, kReadMode, nullptr, 0, &nameStorage)))
        return S_OK;
    std::string guids, entries, strings;
    ReadStream(nameStorage.Get(), SubstgName(0x00020102), guids);
    ReadStream(nameStorage.Get(), SubstgName(0x00030102), entries);
    ReadStream(nameStorage.Get(), SubstgName(0x00040102), strings);
    if (guids.size() % 16 || entries.size() % 8)
        return MAPI_E_CORRUPT_DATA;
    std::vector<CNamedProps::Name> loaded(entries.size() / 8);
    for (size_t i = 0; i < loaded.size(); ++i) {
        ULONG key = Le32(entries, i * 8);
        ULONG info = Le32(entries, i * 8 + 4);
        ULONG guidIndex = (info & 0xFFFF) >> 1;
        ULONG propIndex = info >> 16;
        CNamedProps::Name& name = loaded[propIndex < loaded.size() ? propIndex : i];
        if (guidIndex == 1)
            name.guid = kPsMapi;
        else if (guidIndex == 2)
            name.guid = kPsPublicStrings;
        else if (guidIndex >= 3 && (guidIndex - 3) * 16 + 16 <= guids.size())
            std::memcpy(&name.guid, guids.data() + (guidIndex - 3) * 16, 16);
        else
            return MAPI_E_CORRUPT_DATA;
        if (info & 1) {
            if (static_cast<ULONGLONG>(key) + 4 > strings.size())
                return MAPI_E_CORRUPT_DATA;
            ULONG length = Le32(strings, key);
            if (static_cast<ULONGLONG>(key) + 4 + length > strings.size() || length % 2)
                return MAPI_E_CORRUPT_DATA;
            name.kind = MNID_STRING;
            name.text.assign(reinterpret_cast<const wchar_t*>(strings.data() + key + 4), length / 2);
        } else {
            name.kind = MNID_ID;
            name.id = static_cast<LONG>(key);
        }
    }
    names.Clear();
    for (const auto& name : loaded)
        names.Add(name);
    return S_OK;
}

HRESULT SaveNames(IStorage* storage, const CNamedProps& names)
{
    ComPtr<IStorage> nameStorage;
    HRESULT hr = storage->CreateStorage(kNameIdStorage, kCreateMode, 0, 0, &nameStorage);
    if (FAILED(hr))
        return hr;
    std::string guids, entries, strings;
    std::vector<GUID> known;
    const auto& all = names.Names();
    for (size_t i = 0; i < all.size(); ++i) {
        const CNamedProps::Name& name = all[i];
        ULONG guidIndex;
        if (IsEqualGUID(name.guid, kPsMapi)) {
            guidIndex = 1;
        } else if (IsEqualGUID(name.guid, kPsPublicStrings)) {
            guidIndex = 2;
        } else {
            size_t k = 0;
            while (k < known.size() && !IsEqualGUID(known[k], name.guid))
                ++k;
            if (k == known.size()) {
                known.push_back(name.guid);
                guids.append(reinterpret_cast<const char*>(&name.guid), 16);
            }
            guidIndex = static_cast<ULONG>(3 + k);
        }
        ULONG key;
        ULONG kindBit = 0;
        if (name.kind == MNID_STRING) {
            key = static_cast<ULONG>(strings.size());
            kindBit = 1;
            Put32(strings, static_cast<ULONG>(name.text.size() * 2));
            strings.append(reinterpret_cast<const char*>(name.text.data()), name.text.size() * 2);
            while (strings.size() % 4)
                strings.push_back('\0');
        } else {
            key = static_cast<ULONG>(name.id);
        }
        Put32(entries, key);
        Put32(entries, (static_cast<ULONG>(i) << 16) | (guidIndex << 1) | kindBit);
    }
    hr = WriteStream(nameStorage.Get(), SubstgName(0x00020102), guids);
    if (SUCCEEDED(hr))
        hr = WriteStream(nameStorage.Get(), SubstgName(0x00030102), entries);
    if (SUCCEEDED(hr))
        hr = WriteStream(nameStorage.Get(), SubstgName(0x00040102), strings);
    return hr;
}

} // namespace

HRESULT CMsgStorageFormat::Load(IStorage* storage, Kind kind, CMsgContent& content, CNamedProps* names)
{
    if (!storage)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        std::string header;
        size_t headerSize = kind == Kind::kTopLevel ? 32 : 24;
        HRESULT hr = LoadProps(storage, headerSize, content.props, &header);
        if (FAILED(hr))
            return hr;
        content.nextRecipientId = Le32(header, 8);
        content.nextAttachmentNum = Le32(header, 12);

        ComPtr<IEnumSTATSTG> elements;
        hr = storage->EnumElements(0, nullptr, 0, &elements);
        if (FAILED(hr))
            return hr;
        std::map<ULONG, std::wstring> recipients;
        std::map<ULONG, std::wstring> attachments;
        STATSTG stat{};
        ULONG seen = 0;
        while (elements->Next(1, &stat, nullptr) == S_OK) {
            std::wstring name = stat.pwcsName ? stat.pwcsName : L"";
            CoTaskMemFree(stat.pwcsName);
            if (++seen > kMaxElements)
                return MAPI_E_CORRUPT_DATA;
            ULONG number = 0;
            if (stat.type == STGTY_STORAGE && ParseNumber(name, kRecipientPrefix, &number))
                recipients[number] = name;
            else if (stat.type == STGTY_STORAGE && ParseNumber(name, kAttachmentPrefix, &number))
                attachments[number] = name;
        }
        for (const auto& item : recipients) {
            ComPtr<IStorage> sub;
            hr = storage->OpenStorage(item.second.c_str(), nullptr, kReadMode, nullptr, 0, &sub);
            if (FAILED(hr))
                return hr;
            CPropBag bag;
            hr = LoadProps(sub.Get(), 8, bag, nullptr);
            if (FAILED(hr))
                return hr;
            if (!bag.Find(PROP_ID(PR_ROWID))) {
                SPropValue rowId{};
                rowId.ulPropTag = PR_ROWID;
                rowId.Value.l = static_cast<LONG>(item.first);
                bag.Set(rowId);
            }
            content.recipients.push_back(std::move(bag));
            if (item.first >= content.nextRecipientId)
                content.nextRecipientId = item.first + 1;
        }
        for (const auto& item : attachments) {
            ComPtr<IStorage> sub;
            hr = storage->OpenStorage(item.second.c_str(), nullptr, kReadMode, nullptr, 0, &sub);
            if (FAILED(hr))
                return hr;
            auto attachment = std::make_shared<CAttachContent>();
            hr = LoadProps(sub.Get(), 8, attachment->props, nullptr);
            if (FAILED(hr))
                return hr;
            ComPtr<IStorage> embedded;
            if (SUCCEEDED(sub->OpenStorage(kEmbeddedStorage, nullptr, kReadMode, nullptr, 0, &embedded))) {
                // The data object is an OLE attachment's storage or an
                // embedded message, as the attachment's method says.
                const SPropValue* method = attachment->props.Find(PROP_ID(PR_ATTACH_METHOD));
                if (method && PROP_TYPE(method->ulPropTag) == PT_LONG && method->Value.l == ATTACH_OLE) {
                    hr = LoadObjectStorage(embedded.Get(), attachment->storage);
                } else {
                    attachment->embedded = std::make_shared<CMsgContent>();
                    hr = Load(embedded.Get(), Kind::kEmbedded, *attachment->embedded, nullptr);
                }
                if (FAILED(hr))
                    return hr;
            }
            content.attachments[item.first] = attachment;
            if (item.first >= content.nextAttachmentNum)
                content.nextAttachmentNum = item.first + 1;
        }
        if (names && kind == Kind::kTopLevel)
            return LoadNames(storage, *names);
        return S_OK;
    });
}

HRESULT CMsgStorageFormat::Save(IStorage* storage, Kind kind, const CMsgContent& content, const CNamedProps* names)
{
    if (!storage)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        HRESULT hr = ClearStorage(storage);
        if (FAILED(hr))
            return hr;
        std::string header(8, '\0');
        Put32(header, content.nextRecipientId);
        Put32(header, content.nextAttachmentNum);
        Put32(header, static_cast<ULONG>(content.recipients.size()));
        Put32(header, static_cast<ULONG>(content.attachments.size()));
        if (kind == Kind::kTopLevel)
            header.append(8, '\0');
        hr = SaveProps(storage, header, content.props, false);
        if (FAILED(hr))
            return hr;
        for (size_t i = 0; i < content.recipients.size(); ++i) {
            ComPtr<IStorage> sub;
            hr = storage->CreateStorage(NumberedName(kRecipientPrefix, static_cast<ULONG>(i)).c_str(), kCreateMode, 0, 0,
                                        &sub);
            if (SUCCEEDED(hr))
                hr = SaveProps(sub.Get(), std::string(8, '\0'), content.recipients[i], false);
            if (FAILED(hr))
                return hr;
        }
        for (const auto& item : content.attachments) {
            ComPtr<IStorage> sub;
            hr = storage->CreateStorage(NumberedName(kAttachmentPrefix, item.first).c_str(), kCreateMode, 0, 0, &sub);
            if (SUCCEEDED(hr))
                hr = SaveProps(sub.Get(), std::string(8, '\0'), item.second->props,
                               item.second->embedded != nullptr || item.second->storage != nullptr);
            if (SUCCEEDED(hr) && item.second->embedded) {
                ComPtr<IStorage> embedded;
                hr = sub->CreateStorage(kEmbeddedStorage, kCreateMode, 0, 0, &embedded);
                if (SUCCEEDED(hr))
                    hr = Save(embedded.Get(), Kind::kEmbedded, *item.second->embedded, nullptr);
            } else if (SUCCEEDED(hr) && item.second->storage) {
                hr = SaveObjectStorage(item.second->storage.Get(), sub.Get());
            }
            if (FAILED(hr))
                return hr;
        }
        if (names && kind == Kind::kTopLevel && !names->Names().empty())
            return SaveNames(storage, *names);
        return S_OK;
    });
}
