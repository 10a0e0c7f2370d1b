#include "MapiSubsystem.h"
#include "CMapiCopier.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Properties that name an object within its own store, or that the
// destination store computes: never copied.
const ULONG kIdentityIds[] = {
    PROP_ID(PR_ENTRYID),          PROP_ID(PR_PARENT_ENTRYID),      PROP_ID(PR_STORE_ENTRYID),
    PROP_ID(PR_STORE_RECORD_KEY), PROP_ID(PR_STORE_SUPPORT_MASK),  PROP_ID(PR_MAPPING_SIGNATURE),
    PROP_ID(PR_RECORD_KEY),       PROP_ID(PR_INSTANCE_KEY),        PROP_ID(PR_OBJECT_TYPE),
    PROP_ID(PR_MDB_PROVIDER),     PROP_ID(PR_ACCESS),              PROP_ID(PR_ACCESS_LEVEL),
    PROP_ID(PR_CONTENT_COUNT),    PROP_ID(PR_CONTENT_UNREAD),      PROP_ID(PR_ASSOC_CONTENT_COUNT),
    PROP_ID(PR_SUBFOLDERS),       PROP_ID(PR_ATTACH_NUM),          PROP_ID(PR_ROWID),
    PROP_ID(PR_DEPTH),
};

// Properties that stand for sub-objects, copied through their own paths.
const ULONG kSubObjectIds[] = {
    PROP_ID(PR_MESSAGE_RECIPIENTS), PROP_ID(PR_MESSAGE_ATTACHMENTS),      PROP_ID(PR_CONTAINER_CONTENTS),
    PROP_ID(PR_CONTAINER_HIERARCHY), PROP_ID(PR_FOLDER_ASSOCIATED_CONTENTS),
};

template <size_t N>
bool In(const ULONG (&ids)[N], ULONG id)
{
    return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

struct MapiFree {
    void operator()(void* p) const { MAPIFreeBuffer(p); }
};
struct RowsFree {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
template <typename T>
using MapiPtr = std::unique_ptr<T, MapiFree>;
using RowSetPtr = std::unique_ptr<SRowSet, RowsFree>;

struct Selection {
    bool onlyIncluded = false;
    std::vector<ULONG> ids;
    bool Takes(ULONG id) const
    {
        bool listed = std::find(ids.begin(), ids.end(), id) != ids.end();
        return onlyIncluded ? listed : !listed;
    }
};

Selection SelectionOf(const SPropTagArray* tags, bool onlyIncluded)
{
    Selection selection;
    selection.onlyIncluded = onlyIncluded;
    if (tags)
        for (ULONG i = 0; i < tags->cValues; ++i)
            selection.ids.push_back(PROP_ID(tags->aulPropTag[i]));
    return selection;
}

const Selection kEverything;

void Report(IMAPIProgress* progress, ULONG done, ULONG total)
{
    if (!progress || !total)
        return;
    ULONG flags = 0;
    progress->GetFlags(&flags);
    if (!(flags & MAPI_TOP_LEVEL))
        return;
    progress->Progress(static_cast<ULONG>((static_cast<ULONGLONG>(done) * 1000) / total), done, total);
}

void StartProgress(IMAPIProgress* progress, ULONG total)
{
    if (!progress)
        return;
    ULONG min = 0;
    ULONG max = 1000;
    ULONG flags = MAPI_TOP_LEVEL;
    progress->SetLimits(&min, &max, &flags);
    (void)total;
}

// One copy: the caller's flags and the problems met on the way.
class CCopy {
public:
    explicit CCopy(ULONG flags) : m_flags(flags) {}

    HRESULT Props(IMAPIProp* src, IMAPIProp* dst, const Selection& selection, const std::vector<ULONG>& skip);
    HRESULT Message(IMessage* src, IMessage* dst, const Selection& selection);
    HRESULT Attachment(IAttach* src, IAttach* dst, const Selection& selection);
    HRESULT FolderContents(IMAPIFolder* src, IMAPIFolder* dst, const Selection& selection, IMAPIProgress* progress);
    HRESULT OneMessage(IMAPIFolder* src, const SBinary& entry, IMAPIFolder* dst);
    HRESULT OneFolder(IMAPIFolder* srcParent, ULONG cb, LPENTRYID entry, IMAPIFolder* dstParent,
                      const std::wstring& newName, bool subfolders, IMAPIProgress* progress);
    HRESULT Problems(LPSPropProblemArray* out) const;

private:
    HRESULT Stream(IMAPIProp* src, IMAPIProp* dst, ULONG srcTag, ULONG dstTag);
    // Ids of the source's named properties in the destination's map.
    HRESULT MapNames(IMAPIProp* src, IMAPIProp* dst, const std::vector<ULONG>& tags, std::vector<ULONG>& mapped);
    void Problem(ULONG tag, SCODE sc) { m_problems.push_back(SPropProblem{static_cast<ULONG>(m_problems.size()), tag, sc}); }

    ULONG m_flags;
    std::vector<SPropProblem> m_problems;
};

HRESULT CCopy::Props(IMAPIProp* src, IMAPIProp* dst, const Selection& selection, const std::vector<ULONG>& skip)
{
    LPSPropTagArray rawList = nullptr;
    HRESULT hr = src->GetPropList(MAPI_UNICODE, &rawList);
    if (FAILED(hr))
        return hr;
    MapiPtr<SPropTagArray> list(rawList);
    std::vector<ULONG> existing;
    if (m_flags & MAPI_NOREPLACE) {
        LPSPropTagArray have = nullptr;
        if (SUCCEEDED(dst->GetPropList(MAPI_UNICODE, &have)) && have) {
            for (ULONG i = 0; i < have->cValues; ++i)
                existing.push_back(PROP_ID(have->aulPropTag[i]));
            MAPIFreeBuffer(have);
        }
    }
    std::vector<ULONG> wanted;
    for (ULONG i = 0; list && i < list->cValues; ++i) {
        ULONG tag = list->aulPropTag[i];
        ULONG id = PROP_ID(tag);
        if (PROP_TYPE(tag) == PT_OBJECT || PROP_TYPE(tag) == PT_ERROR || In(kIdentityIds, id) ||
            In(kSubObjectIds, id) || !selection.Takes(id) ||
            std::find(skip.begin(), skip.end(), id) != skip.end() ||
            std::find(existing.begin(), existing.end(), id) != existing.end())
            continue;
        wanted.push_back(tag);
    }
    if (wanted.empty())
        return S_OK;
    std::vector<BYTE> tagBlock(sizeof(ULONG) * (wanted.size() + 1));
    auto* tags = reinterpret_cast<LPSPropTagArray>(tagBlock.data());
    tags->cValues = static_cast<ULONG>(wanted.size());
    std::copy(wanted.begin(), wanted.end(), tags->aulPropTag);
    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    hr = src->GetProps(tags, MAPI_UNICODE, &count, &rawValues);
    if (FAILED(hr))
        return hr;
    MapiPtr<SPropValue> values(rawValues);
    std::vector<ULONG> target;
    hr = MapNames(src, dst, wanted, target);
    if (FAILED(hr))
        return hr;
    std::vector<SPropValue> plain;
    std::vector<std::pair<ULONG, ULONG>> streamed;
    for (ULONG i = 0; i < count && i < wanted.size(); ++i) {
        if (!target[i])
            continue;
        SPropValue value = values.get()[i];
        if (PROP_TYPE(value.ulPropTag) != PT_ERROR) {
            value.ulPropTag = target[i];
            plain.push_back(value);
        } else if (value.Value.err == MAPI_E_NOT_ENOUGH_MEMORY || value.Value.err == E_OUTOFMEMORY) {
            // Too large to hand out: the value travels through a stream.
            streamed.emplace_back(wanted[i], target[i]);
        }
    }
    if (!plain.empty()) {
        LPSPropProblemArray problems = nullptr;
        hr = dst->SetProps(static_cast<ULONG>(plain.size()), plain.data(), &problems);
        if (problems) {
            for (ULONG i = 0; i < problems->cProblem; ++i)
                Problem(problems->aProblem[i].ulPropTag, problems->aProblem[i].scode);
            MAPIFreeBuffer(problems);
        }
        if (FAILED(hr))
            return hr;
    }
    for (const auto& tags : streamed) {
        hr = Stream(src, dst, tags.first, tags.second);
        if (FAILED(hr))
            Problem(tags.first, hr);
    }
    return S_OK;
}

HRESULT CCopy::MapNames(IMAPIProp* src, IMAPIProp* dst, const std::vector<ULONG>& tags, std::vector<ULONG>& mapped)
{
    mapped = tags;
    std::vector<size_t> named;
    for (size_t i = 0; i < tags.size(); ++i)
        if (PROP_ID(tags[i]) >= 0x8000)
            named.push_back(i);
    if (named.empty())
        return S_OK;
    std::vector<BYTE> block(sizeof(ULONG) * (named.size() + 1));
    auto* ids = reinterpret_cast<LPSPropTagArray>(block.data());
    ids->cValues = static_cast<ULONG>(named.size());
    for (size_t i = 0; i < named.size(); ++i)
        ids->aulPropTag[i] = tags[named[i]];
    ULONG count = 0;
    LPMAPINAMEID* rawNames = nullptr;
    HRESULT hr = src->GetNamesFromIDs(&ids, nullptr, 0, &count, &rawNames);
    MapiPtr<LPMAPINAMEID> names(rawNames);
    LPSPropTagArray rawTarget = nullptr;
    if (SUCCEEDED(hr) && count == named.size())
        hr = dst->GetIDsFromNames(count, names.get(), MAPI_CREATE, &rawTarget);
    else if (SUCCEEDED(hr))
        hr = MAPI_E_CALL_FAILED;
    MapiPtr<SPropTagArray> target(rawTarget);
    for (size_t i = 0; i < named.size(); ++i) {
        ULONG tag = tags[named[i]];
        bool known = SUCCEEDED(hr) && names.get()[i] && target && PROP_TYPE(target->aulPropTag[i]) != PT_ERROR &&
                     PROP_ID(target->aulPropTag[i]) != 0;
        if (!known) {
            // A name the destination cannot take: the value is left out.
            Problem(tag, FAILED(hr) ? hr : MAPI_E_NOT_FOUND);
            mapped[named[i]] = 0;
            continue;
        }
        mapped[named[i]] = PROP_TAG(PROP_TYPE(tag), PROP_ID(target->aulPropTag[i]));
    }
    return S_OK;
}

HRESULT CCopy::Stream(IMAPIProp* src, IMAPIProp* dst, ULONG srcTag, ULONG dstTag)
{
    ComPtr<IStream> in;
    HRESULT hr = src->OpenProperty(srcTag, &IID_IStream, STGM_READ, 0, reinterpret_cast<LPUNKNOWN*>(in.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    ComPtr<IStream> out;
    hr = dst->OpenProperty(dstTag, &IID_IStream, STGM_WRITE, MAPI_CREATE | MAPI_MODIFY,
                           reinterpret_cast<LPUNKNOWN*>(out.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    ULARGE_INTEGER all;
    all.QuadPart = ~0ull;
    hr = in->CopyTo(out.Get(), all, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    return out->Commit(STGC_DEFAULT);
}

HRESULT CCopy::Message(IMessage* src, IMessage* dst, const Selection& selection)
{
    HRESULT hr = Props(src, dst, selection, {});
    if (FAILED(hr))
        return hr;
    if (selection.Takes(PROP_ID(PR_MESSAGE_RECIPIENTS))) {
        ComPtr<IMAPITable> table;
        hr = src->GetRecipientTable(MAPI_UNICODE, table.GetAddressOf());
        if (FAILED(hr))
            return hr;
        LPSRowSet rawRows = nullptr;
        hr = HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rawRows);
        if (FAILED(hr))
            return hr;
        RowSetPtr rows(rawRows);
        // The destination numbers its own rows.
        for (ULONG r = 0; r < rows->cRows; ++r) {
            SRow& row = rows->aRow[r];
            ULONG kept = 0;
            for (ULONG i = 0; i < row.cValues; ++i) {
                ULONG id = PROP_ID(row.lpProps[i].ulPropTag);
                if (id == PROP_ID(PR_ROWID) || id == PROP_ID(PR_INSTANCE_KEY) ||
                    PROP_TYPE(row.lpProps[i].ulPropTag) == PT_ERROR)
                    continue;
                row.lpProps[kept++] = row.lpProps[i];
            }
            row.cValues = kept;
        }
        if (rows->cRows) {
            hr = dst->ModifyRecipients(MODRECIP_ADD, reinterpret_cast<LPADRLIST>(rows.get()));
            if (FAILED(hr))
                return hr;
        }
    }
    if (selection.Takes(PROP_ID(PR_MESSAGE_ATTACHMENTS))) {
        ComPtr<IMAPITable> table;
        hr = src->GetAttachmentTable(0, table.GetAddressOf());
        if (FAILED(hr))
            return hr;
        SizedSPropTagArray(1, columns) = {1, {PR_ATTACH_NUM}};
        LPSRowSet rawRows = nullptr;
        hr = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rawRows);
        if (FAILED(hr))
            return hr;
        RowSetPtr rows(rawRows);
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const SPropValue& num = rows->aRow[r].lpProps[0];
            if (num.ulPropTag != PR_ATTACH_NUM)
                continue;
            ComPtr<IAttach> from;
            hr = src->OpenAttach(static_cast<ULONG>(num.Value.l), nullptr, 0, from.GetAddressOf());
            if (FAILED(hr))
                return hr;
            ComPtr<IAttach> to;
            ULONG number = 0;
            hr = dst->CreateAttach(nullptr, 0, &number, to.GetAddressOf());
            if (FAILED(hr))
                return hr;
            hr = Attachment(from.Get(), to.Get(), kEverything);
            if (FAILED(hr))
                return hr;
            hr = to->SaveChanges(KEEP_OPEN_READWRITE);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT CCopy::Attachment(IAttach* src, IAttach* dst, const Selection& selection)
{
    LONG method = ATTACH_BY_VALUE;
    LPSPropValue value = nullptr;
    if (SUCCEEDED(HrGetOneProp(src, PR_ATTACH_METHOD, &value))) {
        method = value->Value.l;
        MAPIFreeBuffer(value);
    }
    bool asObject = method == ATTACH_EMBEDDED_MSG || method == ATTACH_OLE;
    std::vector<ULONG> skip;
    if (asObject)
        skip.push_back(PROP_ID(PR_ATTACH_DATA_OBJ));
    HRESULT hr = Props(src, dst, selection, skip);
    if (FAILED(hr) || !asObject || !selection.Takes(PROP_ID(PR_ATTACH_DATA_OBJ)))
        return hr;
    if (method == ATTACH_EMBEDDED_MSG) {
        ComPtr<IMessage> from;
        hr = src->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, reinterpret_cast<LPUNKNOWN*>(from.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        ComPtr<IMessage> to;
        hr = dst->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                               reinterpret_cast<LPUNKNOWN*>(to.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        hr = Message(from.Get(), to.Get(), kEverything);
        if (FAILED(hr))
            return hr;
        return to->SaveChanges(KEEP_OPEN_READWRITE);
    }
    ComPtr<IStorage> from;
    hr = src->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0, reinterpret_cast<LPUNKNOWN*>(from.GetAddressOf()));
    if (FAILED(hr)) {
        Problem(PR_ATTACH_DATA_OBJ, hr);
        return S_OK;
    }
    ComPtr<IStorage> to;
    hr = dst->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                           reinterpret_cast<LPUNKNOWN*>(to.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = from->CopyTo(0, nullptr, nullptr, to.Get());
    if (FAILED(hr))
        return hr;
    return to->Commit(STGC_DEFAULT);
}

HRESULT CCopy::OneMessage(IMAPIFolder* src, const SBinary& entry, IMAPIFolder* dst)
{
    ULONG type = 0;
    ComPtr<IMessage> from;
    HRESULT hr = src->OpenEntry(entry.cb, reinterpret_cast<LPENTRYID>(entry.lpb), &IID_IMessage, 0, &type,
                                reinterpret_cast<LPUNKNOWN*>(from.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (type != MAPI_MESSAGE)
        return MAPI_E_INVALID_ENTRYID;
    ComPtr<IMessage> to;
    hr = dst->CreateMessage(nullptr, 0, to.GetAddressOf());
    if (FAILED(hr))
        return hr;
    hr = Message(from.Get(), to.Get(), kEverything);
    if (FAILED(hr))
        return hr;
    return to->SaveChanges(0);
}

// The entry identifiers of every row of a table, in order.
static HRESULT EntryIds(IMAPITable* table, RowSetPtr& rows)
{
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet found = nullptr;
    HRESULT hr = HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &found);
    if (SUCCEEDED(hr))
        rows.reset(found);
    return hr;
}

HRESULT CCopy::FolderContents(IMAPIFolder* src, IMAPIFolder* dst, const Selection& selection, IMAPIProgress* progress)
{
    RowSetPtr messages;
    if (selection.Takes(PROP_ID(PR_CONTAINER_CONTENTS))) {
        ComPtr<IMAPITable> table;
        HRESULT hr = src->GetContentsTable(0, table.GetAddressOf());
        if (SUCCEEDED(hr))
            hr = EntryIds(table.Get(), messages);
        if (FAILED(hr))
            return hr;
    }
    RowSetPtr folders;
    if (selection.Takes(PROP_ID(PR_CONTAINER_HIERARCHY))) {
        ComPtr<IMAPITable> table;
        HRESULT hr = src->GetHierarchyTable(0, table.GetAddressOf());
        if (SUCCEEDED(hr))
            hr = EntryIds(table.Get(), folders);
        if (FAILED(hr))
            return hr;
    }
    ULONG total = (messages ? messages->cRows : 0) + (folders ? folders->cRows : 0);
    ULONG done = 0;
    for (ULONG r = 0; messages && r < messages->cRows; ++r) {
        const SPropValue& id = messages->aRow[r].lpProps[0];
        if (id.ulPropTag != PR_ENTRYID)
            continue;
        HRESULT hr = OneMessage(src, id.Value.bin, dst);
        if (FAILED(hr))
            return hr;
        Report(progress, ++done, total);
    }
    for (ULONG r = 0; folders && r < folders->cRows; ++r) {
        const SPropValue& id = folders->aRow[r].lpProps[0];
        if (id.ulPropTag != PR_ENTRYID)
            continue;
        HRESULT hr = OneFolder(src, id.Value.bin.cb, reinterpret_cast<LPENTRYID>(id.Value.bin.lpb), dst,
                               std::wstring(), true, nullptr);
        if (FAILED(hr))
            return hr;
        Report(progress, ++done, total);
    }
    return S_OK;
}

HRESULT CCopy::OneFolder(IMAPIFolder* srcParent, ULONG cb, LPENTRYID entry, IMAPIFolder* dstParent,
                         const std::wstring& newName, bool subfolders, IMAPIProgress* progress)
{
    ULONG type = 0;
    ComPtr<IMAPIFolder> from;
    HRESULT hr = srcParent->OpenEntry(cb, entry, &IID_IMAPIFolder, 0, &type,
                                      reinterpret_cast<LPUNKNOWN*>(from.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    if (type != MAPI_FOLDER)
        return MAPI_E_INVALID_ENTRYID;
    SizedSPropTagArray(3, tags) = {3, {PR_DISPLAY_NAME_W, PR_COMMENT_W, PR_FOLDER_TYPE}};
    ULONG count = 0;
    LPSPropValue rawValues = nullptr;
    hr = from->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &rawValues);
    if (FAILED(hr))
        return hr;
    MapiPtr<SPropValue> values(rawValues);
    std::wstring name = newName;
    if (name.empty() && values.get()[0].ulPropTag == PR_DISPLAY_NAME_W)
        name = values.get()[0].Value.lpszW;
    if (name.empty())
        return MAPI_E_INVALID_PARAMETER;
    const wchar_t* comment = values.get()[1].ulPropTag == PR_COMMENT_W ? values.get()[1].Value.lpszW : nullptr;
    ULONG folderType = values.get()[2].ulPropTag == PR_FOLDER_TYPE ? static_cast<ULONG>(values.get()[2].Value.l)
                                                                   : FOLDER_GENERIC;
    if (folderType != FOLDER_GENERIC)
        folderType = FOLDER_GENERIC; // search folders and roots arrive as plain folders
    ComPtr<IMAPIFolder> to;
    hr = dstParent->CreateFolder(folderType, reinterpret_cast<LPTSTR>(&name[0]),
                                 reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(comment)), nullptr,
                                 MAPI_UNICODE | OPEN_IF_EXISTS, to.GetAddressOf());
    if (FAILED(hr))
        return hr;
    std::vector<ULONG> skip;
    if (!newName.empty())
        skip.push_back(PROP_ID(PR_DISPLAY_NAME));
    hr = Props(from.Get(), to.Get(), kEverything, skip);
    if (FAILED(hr))
        return hr;
    Selection contents;
    if (!subfolders)
        contents.ids.push_back(PROP_ID(PR_CONTAINER_HIERARCHY));
    return FolderContents(from.Get(), to.Get(), contents, progress);
}

HRESULT CCopy::Problems(LPSPropProblemArray* out) const
{
    if (!out)
        return S_OK;
    *out = nullptr;
    if (m_problems.empty())
        return S_OK;
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(m_problems.size())), &block);
    if (FAILED(hr))
        return hr;
    auto* problems = static_cast<LPSPropProblemArray>(block);
    problems->cProblem = static_cast<ULONG>(m_problems.size());
    std::copy(m_problems.begin(), m_problems.end(), problems->aProblem);
    *out = problems;
    return S_OK;
}

// The destination's interface of the same kind as the source's.
template <typename T>
HRESULT Destination(void* dest, const IID& iid, ComPtr<T>& out)
{
    if (!dest)
        return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = static_cast<IUnknown*>(dest)->QueryInterface(iid, reinterpret_cast<void**>(out.GetAddressOf()));
    return FAILED(hr) ? MAPI_E_INTERFACE_NOT_SUPPORTED : S_OK;
}

HRESULT CopyObject(LPCIID srcInterface, void* src, const Selection& selection, IMAPIProgress* progress, void* dest,
                   ULONG flags, LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    if (!srcInterface || !src || !dest)
        return MAPI_E_INVALID_PARAMETER;
    CCopy copy(flags);
    HRESULT hr;
    StartProgress(progress, 1);
    if (IsEqualIID(*srcInterface, IID_IMessage)) {
        ComPtr<IMessage> to;
        hr = Destination(dest, IID_IMessage, to);
        if (SUCCEEDED(hr))
            hr = copy.Message(static_cast<IMessage*>(src), to.Get(), selection);
    } else if (IsEqualIID(*srcInterface, IID_IAttachment)) {
        ComPtr<IAttach> to;
        hr = Destination(dest, IID_IAttachment, to);
        if (SUCCEEDED(hr))
            hr = copy.Attachment(static_cast<IAttach*>(src), to.Get(), selection);
    } else if (IsEqualIID(*srcInterface, IID_IMAPIFolder)) {
        ComPtr<IMAPIFolder> to;
        hr = Destination(dest, IID_IMAPIFolder, to);
        if (SUCCEEDED(hr))
            hr = copy.Props(static_cast<IMAPIFolder*>(src), to.Get(), selection, {});
        if (SUCCEEDED(hr))
            hr = copy.FolderContents(static_cast<IMAPIFolder*>(src), to.Get(), selection, progress);
    } else {
        ComPtr<IMAPIProp> to;
        hr = Destination(dest, IID_IMAPIProp, to);
        if (SUCCEEDED(hr))
            hr = copy.Props(static_cast<IMAPIProp*>(src), to.Get(), selection, {});
    }
    if (FAILED(hr))
        return hr;
    Report(progress, 1, 1);
    hr = copy.Problems(problems);
    return hr;
}

} // namespace

HRESULT CMapiCopier::CopyTo(LPCIID srcInterface, void* src, ULONG, LPCIID, const SPropTagArray* exclude,
                            LPMAPIPROGRESS progress, LPCIID, void* dest, ULONG flags, LPSPropProblemArray* problems)
{
    return CopyObject(srcInterface, src, SelectionOf(exclude, false), progress, dest, flags, problems);
}

HRESULT CMapiCopier::CopyProps(LPCIID srcInterface, void* src, const SPropTagArray* include, LPMAPIPROGRESS progress,
                               LPCIID, void* dest, ULONG flags, LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    if (!include)
        return MAPI_E_INVALID_PARAMETER;
    return CopyObject(srcInterface, src, SelectionOf(include, true), progress, dest, flags, problems);
}

HRESULT CMapiCopier::CopyMessages(LPCIID srcInterface, void* srcFolder, const ENTRYLIST* messages, LPCIID,
                                  void* destFolder, LPMAPIPROGRESS progress, ULONG flags)
{
    if (!srcInterface || !srcFolder || !messages || !destFolder)
        return MAPI_E_INVALID_PARAMETER;
    if (!IsEqualIID(*srcInterface, IID_IMAPIFolder))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    ComPtr<IMAPIFolder> to;
    HRESULT hr = Destination(destFolder, IID_IMAPIFolder, to);
    if (FAILED(hr))
        return hr;
    auto* from = static_cast<IMAPIFolder*>(srcFolder);
    // MESSAGE_DIALOG shares its bit with MAPI_NOREPLACE: no property flags here.
    CCopy copy(0);
    StartProgress(progress, messages->cValues);
    ULONG failed = 0;
    HRESULT first = S_OK;
    for (ULONG i = 0; i < messages->cValues; ++i) {
        hr = copy.OneMessage(from, messages->lpbin[i], to.Get());
        if (FAILED(hr)) {
            if (!failed++)
                first = hr;
        }
        Report(progress, i + 1, messages->cValues);
    }
    if (failed && failed == messages->cValues)
        return first;
    if (flags & MESSAGE_MOVE) {
        hr = from->DeleteMessages(const_cast<LPENTRYLIST>(messages), 0, nullptr, 0);
        if (FAILED(hr))
            return hr;
    }
    return failed ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

HRESULT CMapiCopier::CopyFolder(LPCIID srcInterface, void* srcFolder, ULONG cbEntryID, LPENTRYID entryId, LPCIID,
                                void* destFolder, const std::wstring& newName, LPMAPIPROGRESS progress, ULONG flags)
{
    if (!srcInterface || !srcFolder || !entryId || !destFolder)
        return MAPI_E_INVALID_PARAMETER;
    if (!IsEqualIID(*srcInterface, IID_IMAPIFolder))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    ComPtr<IMAPIFolder> to;
    HRESULT hr = Destination(destFolder, IID_IMAPIFolder, to);
    if (FAILED(hr))
        return hr;
    auto* from = static_cast<IMAPIFolder*>(srcFolder);
    // FOLDER_DIALOG shares its bit with MAPI_NOREPLACE: no property flags here.
    CCopy copy(0);
    StartProgress(progress, 1);
    hr = copy.OneFolder(from, cbEntryID, entryId, to.Get(), newName, (flags & COPY_SUBFOLDERS) != 0, progress);
    if (FAILED(hr))
        return hr;
    if (flags & FOLDER_MOVE) {
        hr = from->DeleteFolder(cbEntryID, entryId, 0, nullptr, DEL_FOLDERS | DEL_MESSAGES);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}
