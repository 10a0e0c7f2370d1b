#include "ProviderPlatform.h"
#include "CKestWizardPage.h"

#include "ArchiveRecords.h"
#include "CBaseArchive.h"
#include "CWaitDialog.h"
#include "ImageMount.h"
#include "Messages.h"
#include "Pickers.h"
#include "ResourceStrings.h"
#include "TextCodes.h"
#include "WizardHelp.h"
#include "WizardProbes.h"
#include "WizardResources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kIdsNoDatabaseVolume = 330;
constexpr UINT kIdsNoLogVolume = 331;
constexpr UINT kIdsNoDriveLetter = 332;
constexpr UINT kIdsHeaderTitle = 344;
constexpr UINT kIdsHeaderSubtitle = 345;
constexpr UINT kIdsLabelColumn = 375;
constexpr UINT kIdsSizeColumn = 376;
constexpr UINT kIdsUsedColumn = 377;

// Collections naming collections: how deep the listing follows them.
constexpr size_t kMaxCollectionDepth = 16;

using textcode::FromCodePage;

// A NUL-terminated ANSI text of at most `room` bytes.
std::wstring AnsiText(const uint8_t* bytes, size_t room)
{
    const char* text = reinterpret_cast<const char*>(bytes);
    return FromCodePage(CP_ACP, text, strnlen(text, room));
}

std::wstring Gigabytes(uint32_t sectors)
{
    wchar_t text[64];
    swprintf(text, 64, L"%.2f GB", static_cast<double>(sectors) * 512.0 / 1073741824.0);
    return text;
}

// The file a collection's record names: a stored "/"-path is a file of the
// collection's own folder; anything else is taken as it stands.
std::string MemberPath(const std::string& collection, const std::string& stored)
{
    const size_t slash = stored.rfind('/');
    const size_t folder = collection.rfind('\\');
    if (slash == std::string::npos || folder == std::string::npos)
        return stored;
    return collection.substr(0, folder + 1) + stored.substr(slash + 1);
}

bool SamePath(const std::string& a, const std::string& b)
{
    return CompareStringOrdinal(FromCodePage(CP_UTF8, a.data(), a.size()).c_str(), -1,
                                FromCodePage(CP_UTF8, b.data(), b.size()).c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The reader's header copy, freed with it.
struct SHeaderCopy {
    ~SHeaderCopy() { FreeArchiveHeader(header); }
    HdArchiveHeader* header = nullptr;
};

} // namespace

const ui::SMessageEntry<CKestWizardPage> CKestWizardPage::kMessages[] = {
    {WM_INITDIALOG, ui::kAny, ui::kAny, &CKestWizardPage::OnInitDialog},
    {WM_COMMAND, IDC_VOLUME_TO_DATABASE, BN_CLICKED, &CKestWizardPage::OnToDatabase},
    {WM_COMMAND, IDC_VOLUME_TO_LOGS, BN_CLICKED, &CKestWizardPage::OnToLogs},
    {WM_DESTROY, ui::kAny, ui::kAny, &CKestWizardPage::OnDestroy},
    {0, 0, 0, nullptr},
};

CKestWizardPage::CKestWizardPage()
    : CPropertyPageImpl(IDD_VOLUME_PAGE), m_driveType(GetDriveTypeW), m_shownImage(FindShownImageDrive)
{
    SetHeader(LoadResString(kIdsHeaderTitle), LoadResString(kIdsHeaderSubtitle));
}

CKestWizardPage::~CKestWizardPage() = default;

INT_PTR CKestWizardPage::OnInitDialog(WPARAM, LPARAM)
{
    m_list = ui::CListView(Item(IDC_VOLUME_LIST));
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    m_list.InsertColumn(0, L"", 0);
    m_list.InsertColumn(1, LoadResString(kIdsLabelColumn), 0);
    m_list.InsertColumn(2, LoadResString(kIdsSizeColumn), 0);
    m_list.InsertColumn(3, LoadResString(kIdsUsedColumn), 0);
    m_list.SetSmallIcons({IDI_VOLUME});
    const CWizardData& data = Data();
    if (data.Reconfigure) {
        SetItemText(IDC_VOLUME_DATABASE_FILE, data.DatabaseImage);
        SetItemText(IDC_VOLUME_LOG_FILE, data.LogImage);
        for (int id : {IDC_VOLUME_DATABASE_FILE, IDC_VOLUME_LOG_FILE, IDC_VOLUME_TO_DATABASE, IDC_VOLUME_TO_LOGS})
            EnableItem(id, false);
    }
    return TRUE;
}

INT_PTR CKestWizardPage::OnDestroy(WPARAM, LPARAM)
{
    m_records.clear();
    return 0;
}

void CKestWizardPage::ClearList()
{
    m_list.DeleteAllItems();
    m_records.clear();
}

int CKestWizardPage::OnSetActive()
{
    SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
    const CWizardData& data = Data();
    if (data.ArchivePath.empty())
        return 0;
    ClearList();
    if (!data.Reconfigure) {
        SetItemText(IDC_VOLUME_DATABASE_FILE, L"");
        SetItemText(IDC_VOLUME_LOG_FILE, L"");
    }
    std::vector<std::string> walking;
    ListVolumes(textcode::Utf8(data.ArchivePath), walking);
    m_list.SetColumnWidth(0, LVSCW_AUTOSIZE);
    for (int column = 1; column <= 3; ++column)
        m_list.SetColumnWidth(column, LVSCW_AUTOSIZE_USEHEADER);
    return 0;
}

void CKestWizardPage::ListVolumes(const std::string& path, std::vector<std::string>& walking)
{
    ArchiveRecord* location = NewArchiveLocation(path.c_str());
    if (!location)
        return;
    ArchiveOpenParams params{};
    params.location = location;
    params.eventCallback = ArchiveFileFactory;
    // Listing only reads: the user's archive is never opened for writing.
    params.readOnly = 1;
    SHeaderCopy copy;
    CBaseArchive* archive = nullptr;
    const int status = OpenArchive(&params, &copy.header, &archive, nullptr);
    FreeArchiveRecord(location);
    // Files that cannot be opened (also those that want a password) are left out.
    if (status != 0 || !archive || !copy.header) {
        CloseArchive(archive);
        return;
    }
    HdArchiveHeader* header = copy.header;
    if (header->kind != 0) {
        // A collection: its members' rows, in record order, and none of its
        // own. A collection that names itself or one that names it is not
        // walked again.
        walking.push_back(path);
        const unsigned count = GetHeaderRecordCount(header);
        ArchiveRecord* record = GetFirstHeaderRecord(header);
        for (unsigned i = 0; i < count && record && !EndOfHeaderRecords(header, record); ++i) {
            if (const char* stored = GetRecordPath(record)) {
                const std::string member = MemberPath(path, stored);
                const bool walked = std::any_of(walking.begin(), walking.end(),
                                                [&](const std::string& open) { return SamePath(open, member); });
                if (!walked && walking.size() < kMaxCollectionDepth)
                    ListVolumes(member, walking);
            }
            record = GetNextHeaderRecord(header, record);
        }
        walking.pop_back();
        CloseArchive(archive);
        return;
    }

    const HeaderPartition partition = GetFirstHeaderPartition(header);
    const uint8_t letterNumber = partition.driveLetterNumber;
    const std::wstring label = FromCodePage(CP_ACP, partition.label.data(), partition.label.size());
    const uint32_t used = partition.usedSectors;
    const uint32_t total = partition.totalSectors;

    wchar_t drive[8];
    swprintf(drive, 8, L"%c:", static_cast<wchar_t>(letterNumber + 64));
    auto record = std::make_unique<std::string>(path);
    const int item = m_list.InsertItem(drive, reinterpret_cast<LPARAM>(record.get()), 0, 0);
    if (item >= 0) {
        m_records.push_back(std::move(record));
        m_list.SetSubItemText(item, 1, label);
        m_list.SetSubItemText(item, 2, Gigabytes(total));
        m_list.SetSubItemText(item, 3, Gigabytes(used));
    }
    SetItemText(IDC_VOLUME_ARCHIVE_LABEL, AnsiText(reinterpret_cast<const uint8_t*>(header->label),
                                                   sizeof header->label));
    CloseArchive(archive);
}

void CKestWizardPage::SendSelectedTo(int editId) const
{
    const std::vector<int> selected = m_list.ItemsWithState(LVIS_SELECTED);
    if (selected.empty())
        return;
    const auto* path = reinterpret_cast<const std::string*>(m_list.ItemParam(selected.front()));
    if (path)
        SetItemText(editId, FromCodePage(CP_UTF8, path->data(), path->size()));
}

INT_PTR CKestWizardPage::OnToDatabase(WPARAM, LPARAM)
{
    SendSelectedTo(IDC_VOLUME_DATABASE_FILE);
    return 0;
}

INT_PTR CKestWizardPage::OnToLogs(WPARAM, LPARAM)
{
    SendSelectedTo(IDC_VOLUME_LOG_FILE);
    return 0;
}

int CKestWizardPage::OnWizardNext()
{
    CWizardData& data = Data();
    if (data.Reconfigure)
        return IDD_DATABASE_PAGE;
    ui::CWaitDialog wait(Window());
    ui::CWaitCursor cursor;
    const std::wstring database = ui::Trimmed(ItemText(IDC_VOLUME_DATABASE_FILE));
    const std::wstring logs = ui::Trimmed(ItemText(IDC_VOLUME_LOG_FILE));
    if (database.empty()) {
        ui::ShowMessage(Window(), LoadResString(kIdsNoDatabaseVolume), MB_ICONWARNING);
        return kStay;
    }
    if (logs.empty()) {
        ui::ShowMessage(Window(), LoadResString(kIdsNoLogVolume), MB_ICONWARNING);
        return kStay;
    }
    if (!MountVolume(database, data.DatabaseImage, data.DatabaseMountRoot))
        return kStay;
    // A log volume equal to the database's finds its mount and reuses the drive.
    if (!MountVolume(logs, data.LogImage, data.LogMountRoot))
        return kStay;
    return IDD_DATABASE_PAGE;
}

bool CKestWizardPage::MountVolume(const std::wstring& volume, std::wstring& image, std::wstring& root)
{
    CWizardData& data = Data();
    const auto mounted = data.VolumeMounts.find(volume);
    if (mounted != data.VolumeMounts.end()) {
        image = volume;
        root = mounted->second.root;
        return true;
    }
    // A volume the driver shows already is used where it is: mounting it
    // at that letter again could only fail, the letter being in use. It is
    // recorded, so that Finish flushes it, as shown before the wizard.
    std::wstring drive;
    uint32_t shownIndex = 0;
    if (m_shownImage(volume, drive, shownIndex)) {
        data.VolumeMounts[volume] = SImageMount{drive, shownIndex, true};
        image = volume;
        root = drive;
        return true;
    }
    if (!FindFreeDriveLetterWith(m_driveType, drive)) {
        ui::ShowMessage(Window(), LoadResString(kIdsNoDriveLetter), MB_ICONERROR);
        return false;
    }
    uint32_t index = 0;
    if (!MountImage(Window(), volume.c_str(), drive.c_str(), &GUID_QOR_IMAGE_ARCHIVE, MountEvent(), &index))
        return false;
    data.VolumeMounts[volume] = SImageMount{drive, index};
    image = volume;
    root = drive;
    return true;
}

void CKestWizardPage::OnHelp()
{
    ShowWizardHelp(IDD_VOLUME_PAGE, 0);
}
