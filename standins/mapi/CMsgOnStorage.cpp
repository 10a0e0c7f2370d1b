#include "MapiStandin.h"
#include "CMsgOnStorage.h"
#include "CAttachOnStorage.h"
#include "CMsgSession.h"
#include "CMsgStorageFormat.h"
#include "CNamedProps.h"
#include "CMsgCopier.h"
#include "CPropertyStream.h"

#include <algorithm>
#include <vector>

namespace {

const std::vector<ULONG> kNoComputed;
const std::vector<ULONG> kAttachmentTableSkips = {PROP_ID(PR_ATTACH_DATA_BIN), PROP_ID(PR_ATTACH_DATA_OBJ)};

} // namespace

HRESULT CMsgOnStorage::Open(CMsgSession* session, const mapistub::Allocators& allocators, IStorage* storage,
                            MSGCALLRELEASE* callRelease, ULONG callerData, ULONG flags, IMessage** out)
{
    return mapistub::Guarded([&]() -> HRESULT {
        auto names = std::make_shared<CNamedProps>();
        auto content = std::make_shared<CMsgContent>();
        HRESULT hr = CMsgStorageFormat::Load(storage, CMsgStorageFormat::Kind::kTopLevel, *content, names.get());
        if (FAILED(hr))
            return hr;
        CPropObject helper(allocators, names);
        CMsgOnStorage* message = new CMsgOnStorage(helper, content);
        message->m_storage = storage;
        message->m_session = session;
        message->m_callRelease = callRelease;
        message->m_callerData = callerData;
        message->m_flags = flags;
        if (session)
            session->Add(message);
        *out = message;
        return S_OK;
    });
}

HRESULT CMsgOnStorage::OpenEmbedded(CAttachOnStorage* parent, std::shared_ptr<CMsgContent> content,
                                    const CPropObject& helper, IMessage** out)
{
    CMsgOnStorage* message = new CMsgOnStorage(helper, std::move(content));
    message->m_parentAttach = parent;
    message->m_parent = parent;
    *out = message;
    return S_OK;
}

CMsgOnStorage::CMsgOnStorage(const CPropObject& helper, std::shared_ptr<CMsgContent> content)
    : m_helper(helper), m_content(std::move(content))
{
}

CMsgOnStorage::~CMsgOnStorage()
{
    if (m_session)
        m_session->Remove(this);
    if (m_callRelease)
        m_callRelease(m_callerData, this);
}

void CMsgOnStorage::StoreAttachment(ULONG number, std::shared_ptr<CAttachContent> content)
{
    m_content->attachments[number] = std::move(content);
    if (number >= m_content->nextAttachmentNum)
        m_content->nextAttachmentNum = number + 1;
}

STDMETHODIMP CMsgOnStorage::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    return S_OK;
}

STDMETHODIMP CMsgOnStorage::SaveChanges(ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (m_parent) {
            m_parent->StoreEmbedded(m_content->Clone());
            return S_OK;
        }
        HRESULT hr = CMsgStorageFormat::Save(m_storage.Get(), CMsgStorageFormat::Kind::kTopLevel, *m_content,
                                             m_helper.Names().get());
        if (FAILED(hr))
            return hr;
        if (!(m_flags & IMSG_NO_ISTG_COMMIT))
            hr = m_storage->Commit(STGC_DEFAULT);
        return hr;
    });
}

STDMETHODIMP CMsgOnStorage::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                     LPSPropValue* lppPropArray)
{
    return mapistub::Guarded([&]() {
        return m_helper.GetProps(m_content->props, lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    });
}

STDMETHODIMP CMsgOnStorage::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    return mapistub::Guarded([&]() { return m_helper.GetPropList(m_content->props, ulFlags, lppPropTagArray); });
}

STDMETHODIMP CMsgOnStorage::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                         LPUNKNOWN* lppUnk)
{
    if (!lppUnk || !lpiid)
        return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    return mapistub::Guarded([&]() -> HRESULT {
        if (IsEqualIID(*lpiid, IID_IMAPITable)) {
            if (PROP_ID(ulPropTag) == PROP_ID(PR_MESSAGE_ATTACHMENTS))
                return GetAttachmentTable(ulInterfaceOptions, reinterpret_cast<LPMAPITABLE*>(lppUnk));
            if (PROP_ID(ulPropTag) == PROP_ID(PR_MESSAGE_RECIPIENTS))
                return GetRecipientTable(ulInterfaceOptions, reinterpret_cast<LPMAPITABLE*>(lppUnk));
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        }
        if (!IsEqualIID(*lpiid, IID_IStream) || !CPropertyStream::IsStreamType(PROP_TYPE(ulPropTag)))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        std::string bytes;
        if (!(ulFlags & MAPI_CREATE)) {
            const SPropValue* value = m_content->props.Find(PROP_ID(ulPropTag));
            if (!value || PROP_TYPE(value->ulPropTag) != PROP_TYPE(ulPropTag))
                return MAPI_E_NOT_FOUND;
            CPropertyStream::BytesOf(*value, bytes);
        } else if (!(ulFlags & MAPI_MODIFY)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        return CPropertyStream::Create(static_cast<IMessage*>(this), &m_content->props, ulPropTag, bytes,
                                       (ulFlags & MAPI_MODIFY) != 0, reinterpret_cast<IStream**>(lppUnk));
    });
}

STDMETHODIMP CMsgOnStorage::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return m_helper.SetProps(m_content->props, cValues, lpPropArray, lppProblems, kNoComputed);
    });
}

STDMETHODIMP CMsgOnStorage::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return m_helper.DeleteProps(m_content->props, lpPropTagArray, lppProblems, kNoComputed);
    });
}

STDMETHODIMP CMsgOnStorage::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                                   ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                                   ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    CMsgCopier::Selection selection;
    HRESULT hr = CMsgCopier::Selected(lpExcludeProps, false, selection);
    if (FAILED(hr))
        return hr;
    return CopyInto(selection, lpInterface, lpDestObj, ulFlags, lppProblems);
}

STDMETHODIMP CMsgOnStorage::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                      LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                                      LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    CMsgCopier::Selection selection;
    HRESULT hr = CMsgCopier::Selected(lpIncludeProps, true, selection);
    if (FAILED(hr))
        return hr;
    return CopyInto(selection, lpInterface, lpDestObj, ulFlags, lppProblems);
}

HRESULT CMsgOnStorage::CopyInto(const CMsgCopier::Selection& selection, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                               LPSPropProblemArray* lppProblems)
{
    if (!lpDestObj)
        return MAPI_E_INVALID_PARAMETER;
    // Moving would delete from this object, which only copies.
    if (ulFlags & MAPI_MOVE)
        return MAPI_E_NO_SUPPORT;
    return mapistub::Guarded([&]() -> HRESULT {
        ComPtr<IMAPIProp> destination;
        HRESULT hr = CMsgCopier::Destination(lpInterface, lpDestObj, static_cast<IMAPIProp*>(this), destination);
        if (FAILED(hr))
            return hr;
        return CMsgCopier::CopyMessage(*m_content, selection, ulFlags, destination.Get(), m_helper, lppProblems);
    });
}

STDMETHODIMP CMsgOnStorage::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                            ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return mapistub::Guarded([&]() {
        return m_helper.GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CMsgOnStorage::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                            LPSPropTagArray* lppPropTags)
{
    return mapistub::Guarded([&]() {
        return m_helper.GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}

HRESULT CMsgOnStorage::MakeTable(ULONG indexTag, const std::vector<const CPropBag*>& rows, ULONG extraKeyTag,
                                 LPMAPITABLE* table) const
{
    *table = nullptr;
    // Columns: the index first, then every property any row has.
    std::vector<ULONG> columns = {indexTag, PR_INSTANCE_KEY};
    for (const CPropBag* row : rows)
        for (ULONG tag : row->Tags())
            if (std::find(columns.begin(), columns.end(), tag) == columns.end() &&
                (indexTag != PR_ATTACH_NUM || std::find(kAttachmentTableSkips.begin(), kAttachmentTableSkips.end(),
                                                        PROP_ID(tag)) == kAttachmentTableSkips.end()))
                columns.push_back(tag);
    std::vector<BYTE> tagBlock(CbNewSPropTagArray(columns.size()));
    auto* tags = reinterpret_cast<LPSPropTagArray>(tagBlock.data());
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    const mapistub::Allocators& a = m_helper.Allocators();
    ComPtr<ITableData> data;
    HRESULT hr = CreateTable(nullptr, a.allocateBuffer, a.allocateMore, a.freeBuffer, nullptr, TBLTYPE_SNAPSHOT,
                             indexTag, tags, &data);
    if (FAILED(hr))
        return hr;
    ULONG position = 0;
    for (const CPropBag* row : rows) {
        std::vector<SPropValue> values;
        for (ULONG tag : row->Tags()) {
            if (indexTag == PR_ATTACH_NUM && std::find(kAttachmentTableSkips.begin(), kAttachmentTableSkips.end(),
                                                       PROP_ID(tag)) != kAttachmentTableSkips.end())
                continue;
            values.push_back(*row->Find(PROP_ID(tag)));
        }
        const SPropValue* index = row->Find(PROP_ID(indexTag));
        if (!index)
            continue;
        LONG keyValue = index->Value.l;
        if (!row->Find(PROP_ID(PR_INSTANCE_KEY))) {
            SPropValue key{};
            key.ulPropTag = PR_INSTANCE_KEY;
            key.Value.bin.cb = sizeof(keyValue);
            key.Value.bin.lpb = reinterpret_cast<LPBYTE>(&keyValue);
            values.push_back(key);
        }
        SRow srow{0, static_cast<ULONG>(values.size()), values.data()};
        hr = data->HrInsertRow(position++, &srow);
        if (FAILED(hr))
            return hr;
    }
    return data->HrGetView(nullptr, nullptr, 0, table);
}

STDMETHODIMP CMsgOnStorage::GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        std::vector<const CPropBag*> rows;
        for (const auto& item : m_content->attachments)
            rows.push_back(&item.second->props);
        return MakeTable(PR_ATTACH_NUM, rows, PR_INSTANCE_KEY, lppTable);
    });
}

STDMETHODIMP CMsgOnStorage::OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach)
{
    if (!lppAttach)
        return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IAttachment) && !IsEqualIID(*lpInterface, IID_IMAPIProp))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    return mapistub::Guarded([&]() -> HRESULT {
        auto it = m_content->attachments.find(ulAttachmentNum);
        if (it == m_content->attachments.end())
            return MAPI_E_NOT_FOUND;
        return CAttachOnStorage::Create(this, ulAttachmentNum, it->second->Clone(), lppAttach);
    });
}

STDMETHODIMP CMsgOnStorage::CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                                         LPATTACH* lppAttach)
{
    if (!lppAttach || !lpulAttachmentNum)
        return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IAttachment) && !IsEqualIID(*lpInterface, IID_IMAPIProp))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    return mapistub::Guarded([&]() -> HRESULT {
        ULONG number = m_content->nextAttachmentNum++;
        *lpulAttachmentNum = number;
        return CAttachOnStorage::Create(this, number, std::make_shared<CAttachContent>(), lppAttach);
    });
}

STDMETHODIMP CMsgOnStorage::DeleteAttach(ULONG ulAttachmentNum, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                         ULONG ulFlags)
{
    return m_content->attachments.erase(ulAttachmentNum) ? S_OK : MAPI_E_NOT_FOUND;
}

STDMETHODIMP CMsgOnStorage::GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        std::vector<const CPropBag*> rows;
        for (const CPropBag& recipient : m_content->recipients)
            rows.push_back(&recipient);
        return MakeTable(PR_ROWID, rows, PR_INSTANCE_KEY, lppTable);
    });
}

STDMETHODIMP CMsgOnStorage::ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods)
{
    if (!lpMods)
        return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~static_cast<ULONG>(MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE))
        return MAPI_E_UNKNOWN_FLAGS;
    return mapistub::Guarded([&]() -> HRESULT {
        auto rowIdOf = [](const ADRENTRY& entry, LONG* id) {
            const SPropValue* value = PpropFindProp(entry.rgPropVals, entry.cValues, PR_ROWID);
            if (!value)
                return false;
            *id = value->Value.l;
            return true;
        };
        auto findRow = [&](LONG id) {
            return std::find_if(m_content->recipients.begin(), m_content->recipients.end(), [&](const CPropBag& bag) {
                const SPropValue* value = bag.Find(PROP_ID(PR_ROWID));
                return value && value->Value.l == id;
            });
        };
        auto makeBag = [&](const ADRENTRY& entry, LONG id, CPropBag& bag) -> HRESULT {
            if (entry.cValues > 0 && !entry.rgPropVals)
                return MAPI_E_INVALID_PARAMETER;
            for (ULONG i = 0; i < entry.cValues; ++i) {
                ULONG type = PROP_TYPE(entry.rgPropVals[i].ulPropTag);
                if (type == PT_ERROR || type == PT_NULL || type == PT_OBJECT)
                    continue;
                HRESULT hr = bag.Set(entry.rgPropVals[i]);
                if (FAILED(hr))
                    return hr;
            }
            SPropValue rowId{};
            rowId.ulPropTag = PR_ROWID;
            rowId.Value.l = id;
            return bag.Set(rowId);
        };
        // Work on a copy so a bad entry leaves the recipients as they were.
        std::vector<CPropBag> before = m_content->recipients;
        ULONG nextId = m_content->nextRecipientId;
        if (ulFlags == 0)
            m_content->recipients.clear();
        for (ULONG i = 0; i < lpMods->cEntries; ++i) {
            const ADRENTRY& entry = lpMods->aEntries[i];
            HRESULT hr = S_OK;
            LONG id = 0;
            if (ulFlags & MODRECIP_REMOVE) {
                if (!rowIdOf(entry, &id)) {
                    hr = MAPI_E_INVALID_PARAMETER;
                } else {
                    auto it = findRow(id);
                    if (it != m_content->recipients.end())
                        m_content->recipients.erase(it);
                }
            } else if (ulFlags & MODRECIP_MODIFY) {
                auto it = rowIdOf(entry, &id) ? findRow(id) : m_content->recipients.end();
                if (it == m_content->recipients.end()) {
                    hr = MAPI_E_NOT_FOUND;
                } else {
                    CPropBag bag;
                    hr = makeBag(entry, id, bag);
                    if (SUCCEEDED(hr))
                        *it = bag;
                }
            } else {
                CPropBag bag;
                hr = makeBag(entry, static_cast<LONG>(nextId), bag);
                if (SUCCEEDED(hr)) {
                    ++nextId;
                    m_content->recipients.push_back(bag);
                }
            }
            if (FAILED(hr)) {
                m_content->recipients = before;
                return hr;
            }
        }
        m_content->nextRecipientId = nextId;
        return S_OK;
    });
}

STDMETHODIMP CMsgOnStorage::SubmitMessage(ULONG ulFlags)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgOnStorage::SetReadFlag(ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        const SPropValue* flags = m_content->props.Find(PROP_ID(PR_MESSAGE_FLAGS));
        SPropValue value{};
        value.ulPropTag = PR_MESSAGE_FLAGS;
        value.Value.l = flags ? flags->Value.l : 0;
        if (ulFlags & CLEAR_READ_FLAG)
            value.Value.l &= ~MSGFLAG_READ;
        else
            value.Value.l |= MSGFLAG_READ;
        return m_content->props.Set(value);
    });
}
