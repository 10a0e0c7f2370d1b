#include "MapiStandin.h"
#include "CMsgContent.h"

#include <new>
#include <vector>

HRESULT CopyStorageBytes(ILockBytes* from, ComPtr<ILockBytes>& to)
{
    STATSTG stat{};
    HRESULT hr = from->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        return hr;
    if (stat.cbSize.QuadPart > 0x7FFFFFF0)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    ULARGE_INTEGER start{};
    if (!bytes.empty()) {
        hr = from->ReadAt(start, bytes.data(), static_cast<ULONG>(bytes.size()), &read);
        if (FAILED(hr))
            return hr;
    }
    ComPtr<ILockBytes> copy;
    hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &copy);
    if (FAILED(hr))
        return hr;
    ULONG written = 0;
    if (read) {
        hr = copy->WriteAt(start, bytes.data(), read, &written);
        if (FAILED(hr))
            return hr;
    }
    to = copy;
    return S_OK;
}

std::shared_ptr<CAttachContent> CAttachContent::Clone() const
{
    auto copy = std::make_shared<CAttachContent>();
    copy->props = props;
    if (embedded)
        copy->embedded = embedded->Clone();
    if (storage && FAILED(CopyStorageBytes(storage.Get(), copy->storage)))
        throw std::bad_alloc();
    return copy;
}

std::shared_ptr<CMsgContent> CMsgContent::Clone() const
{
    auto copy = std::make_shared<CMsgContent>();
    copy->props = props;
    copy->recipients = recipients;
    copy->nextRecipientId = nextRecipientId;
    copy->nextAttachmentNum = nextAttachmentNum;
    for (const auto& item : attachments)
        copy->attachments[item.first] = item.second->Clone();
    return copy;
}
