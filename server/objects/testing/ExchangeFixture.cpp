#include <windows.h>

#include "ExchangeFixture.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

namespace exchangefixture {

namespace {

using esefixture::ColumnSpec;
using esefixture::IndexSpec;

const char kFolders[] = "Folders";
const char kMsg[] = "Msg";
const char kMailbox[] = "Mailbox";
const char kNamedProps[] = "NamedProps";

// The nine counters a mailbox root shows of its "Top of Information Store".
const char* const kCounterColumns[] = {"L3617", "L66B2", "L66B1", "L3602", "L3603",
                                       "L6638", "L66AD", "L66B0", "L66AF"};

std::vector<ColumnSpec> Specs(std::initializer_list<const char*> names)
{
    std::vector<ColumnSpec> specs;
    for (const char* name : names)
        specs.push_back(ColumnSpecFor(name));
    return specs;
}

std::vector<ColumnSpec> MessageTableColumns()
{
    return Specs({"Q674A", "Q67B0", "Q6748", "S0037", "S003D", "S0E1D", "L0E08", "L0E07", "T0E06"});
}

std::vector<IndexSpec> MessageTableIndexes()
{
    return {IndexSpec{"MsgFolderIndex6", "+Q674A", JET_bitIndexPrimary}};
}

Bytes Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size, nullptr,
                            nullptr);
    return narrow;
}

} // namespace

Prop Int64(const std::string& column, int64_t value) { return {column, {esefixture::I64(value)}}; }
Prop Int32(const std::string& column, int32_t value) { return {column, {esefixture::I32(value)}}; }
Prop Int16(const std::string& column, int16_t value) { return {column, {esefixture::I16(value)}}; }
Prop Bool(const std::string& column, bool value) { return {column, {Bytes(1, value ? '\x01' : '\x00')}}; }
Prop Double(const std::string& column, double value)
{
    return {column, {Bytes(reinterpret_cast<const char*>(&value), sizeof(value))}};
}
Prop Text(const std::string& column, const std::wstring& text) { return {column, {esefixture::Utf16(text)}}; }
Prop Binary(const std::string& column, const Bytes& bytes) { return {column, {bytes}}; }
Prop Multi(const std::string& column, const std::vector<Bytes>& values) { return {column, values}; }

ColumnSpec ColumnSpecFor(const std::string& name)
{
    ColumnSpec spec{name, JET_coltypLongBinary};
    if (name == "S3001") {
        spec.coltyp = JET_coltypText;
        spec.cbMax = 255;
        spec.cp = 1200;
        return spec;
    }
    size_t at = 0;
    bool multi = name.size() >= 3 && (name[0] == 'M' || name[0] == 'm');
    if (multi) {
        at = 1;
        spec.grbit = JET_bitColumnTagged | JET_bitColumnMultiValued;
    }
    char letter = name.empty() ? '\0' : static_cast<char>(toupper(static_cast<unsigned char>(name[at])));
    switch (letter) {
    case 'Q':
    case 'T': spec.coltyp = JET_coltypCurrency; break;
    case 'L': spec.coltyp = JET_coltypLong; break;
    case 'I': spec.coltyp = JET_coltypShort; break;
    case 'B': spec.coltyp = JET_coltypBit; break;
    case 'D': spec.coltyp = JET_coltypIEEEDouble; break;
    case 'G':
        spec.coltyp = JET_coltypBinary;
        spec.cbMax = 16;
        break;
    case 'S':
        spec.coltyp = JET_coltypLongText;
        spec.cp = 1200;
        break;
    default: spec.coltyp = JET_coltypLongBinary; break;
    }
    return spec;
}

Bytes SenderEntry(ESenderLayout layout, ENameEncoding encoding, const std::wstring& name, bool smtp,
                  const Bytes& trailer)
{
    Bytes encoded = encoding == ENameEncoding::Ansi ? Narrow(name) + '\0'
                                                    : esefixture::Utf16(name) + Bytes(2, '\0');
    if (encoded.size() > 255)
        throw std::invalid_argument("sender name too long for an entry");
    Bytes entry;
    if (layout == ESenderLayout::Short) {
        entry = Bytes("\x01\x00", 2);
        entry += static_cast<char>(encoded.size());
    } else {
        entry = Bytes("\x01\x80", 2);
        entry += static_cast<char>(smtp ? 0x10 : 0x00);
        entry += '\0';
        entry += static_cast<char>(encoded.size());
    }
    return entry + encoded + trailer;
}

Bytes AttachmentListEntry(int64_t attachmentId)
{
    return esefixture::I64(attachmentId) + Bytes("\x01\x00\x00\x00", 4);
}

Bytes GuidBytes(const GUID& guid)
{
    return Bytes(reinterpret_cast<const char*>(&guid), sizeof(guid));
}

CExchangeDatabase::CExchangeDatabase(EStoreKind kind, EGeneration generation) : m_kind(kind), m_generation(generation)
{
    STable& folders = Table(kFolders);
    folders.columns = Specs({"Q6748", "Q6749", "S3001", "T668F", "Q674A", "Q6764", "L3617", "L66B2", "L66B1",
                             "L3602", "L3603", "L6638", "L66AD", "L66B0", "L66AF"});
    // The parent-id indexes: the first leaves out the folders without a time
    // (the roots), so the second, holding every folder, has more entries.
    folders.indexes = {
        IndexSpec{"FoldersIndex1", "+Q6748", JET_bitIndexPrimary},
        IndexSpec{"?T668f+Q6749+S3001+Q6748", "+Q6749;+S3001;+Q6748;+T668F", JET_bitIndexIgnoreAnyNull},
    };
    if (generation == EGeneration::Exchange2007)
        folders.indexes.push_back(IndexSpec{"?T668F+Q6749+S3001+Q6748+2", "+Q6749;+S3001;+Q6748", 0});
    folders.indexes.push_back(IndexSpec{"FoldersIndex3", "+Q6749", 0});
    STable& msg = Table(kMsg);
    msg.columns = Specs({"Q67B0", "S1000", "S0042", "F67B6", "F67B5", "F67BD", "S0064", "S0065", "F67B3"});
    msg.indexes = {IndexSpec{"MsgIndex1", "+Q67B0", JET_bitIndexPrimary}};
    if (kind == EStoreKind::Mailbox) {
        STable& mailbox = Table(kMailbox);
        mailbox.columns = Specs({"Q6764", "S3001"});
        mailbox.indexes = {IndexSpec{"MailboxIndex2", "+Q6764", JET_bitIndexPrimary}};
    }
    STable& named = Table(kNamedProps);
    named.columns = Specs({"I67F1", "F67F0", "L67EF", "S67F4"});
    named.indexes = {IndexSpec{"NamedPropsIndex1", "+I67F1", JET_bitIndexPrimary}};

    m_attachmentsFolder = AddFolder(0, L"MDB Attachments Folder");
    MessageTableOf(m_attachmentsFolder).columns =
        Specs({"Q674A", "Q67B0", "S3704", "L0E20", "T3007", "T3008"});
    if (kind == EStoreKind::PublicFolders) {
        m_publicRoot = AddFolder(0, L"");
        m_ipmSubtree = AddFolder(m_publicRoot, L"IPM_SUBTREE");
        AddFolder(m_publicRoot, L"NON_IPM_SUBTREE");
    }
}

std::string CExchangeDatabase::MessageTable(int64_t folderId)
{
    // The same text FormatEseId makes; spelled out here so that the fixture
    // does not depend on the code it tests.
    static const char kHex[] = "0123456789ABCDEF";
    unsigned char bytes[8];
    memcpy(bytes, &folderId, sizeof(bytes));
    std::string text;
    for (unsigned char byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    size_t start = text.find_first_not_of('0');
    if (start == std::string::npos)
        return std::string();
    size_t zeros = text.find('0', start);
    if (zeros == std::string::npos)
        return text.substr(start);
    size_t rest = text.find_first_not_of('0', zeros);
    std::string name = text.substr(start, zeros - start);
    return rest == std::string::npos ? name : name + "-" + text.substr(rest);
}

int64_t CExchangeDatabase::NewId()
{
    ++m_counter;
    unsigned char bytes[8] = {0, 1, 0, 0, 0, 0, static_cast<unsigned char>(m_counter >> 8),
                              static_cast<unsigned char>(m_counter & 0xFF)};
    int64_t id;
    memcpy(&id, bytes, sizeof(id));
    return id;
}

CExchangeDatabase::STable& CExchangeDatabase::Table(const std::string& name)
{
    auto found = m_tables.find(name);
    if (found != m_tables.end())
        return found->second;
    m_tableOrder.push_back(name);
    return m_tables[name];
}

CExchangeDatabase::STable& CExchangeDatabase::MessageTableOf(int64_t folderId)
{
    if (!m_folders.count(folderId))
        throw std::invalid_argument("no such folder");
    return Table(MessageTable(folderId));
}

void CExchangeDatabase::SetValue(std::vector<Prop>& row, const Prop& value)
{
    for (Prop& existing : row) {
        if (existing.column == value.column) {
            existing = value;
            return;
        }
    }
    row.push_back(value);
}

std::vector<Prop>& CExchangeDatabase::RowWith(const std::string& table, const std::string& column, int64_t id)
{
    Bytes key = esefixture::I64(id);
    for (std::vector<Prop>& row : Table(table).rows) {
        for (const Prop& value : row) {
            if (value.column == column && value.values.size() == 1 && value.values[0] == key)
                return row;
        }
    }
    throw std::invalid_argument("no row with that id in " + table);
}

SMailbox CExchangeDatabase::AddMailbox(const std::wstring& name, ETopFolder top, const std::vector<Prop>& mailboxRow)
{
    if (m_kind != EStoreKind::Mailbox)
        throw std::logic_error("a public-folder store has no mailboxes");
    SMailbox mailbox;
    mailbox.rootId = AddFolder(0, L"");
    std::vector<Prop> row = {Int64("Q6764", mailbox.rootId), Text("S3001", name)};
    if (m_generation == EGeneration::Exchange2007) {
        // A key of its own per mailbox: the root id, then a fixed tail.
        row.push_back(Binary("F676A", esefixture::I64(mailbox.rootId) + Bytes("MBXKEY01", 8)));
    }
    for (const Prop& value : mailboxRow)
        SetValue(row, value);
    Table(kMailbox).rows.push_back(row);
    switch (top) {
    case ETopFolder::Present:
        mailbox.topId = AddFolder(mailbox.rootId, L"Top of Information Store");
        break;
    case ETopFolder::OtherCase:
        mailbox.topId = AddFolder(mailbox.rootId, L"TOP OF INFORMATION STORE");
        break;
    case ETopFolder::Absent:
        AddFolder(mailbox.rootId, L"Top of Information Store (old)");
        break;
    }
    return mailbox;
}

int64_t CExchangeDatabase::AddFolder(int64_t parentId, const std::wstring& name, const std::vector<Prop>& row)
{
    if (parentId != 0 && !m_folders.count(parentId))
        throw std::invalid_argument("no such parent folder");
    int64_t id = NewId();
    // Every folder names the root of its tree (a mailbox's root folder, or
    // the public folders' root) in 0x6764.
    int64_t treeRoot = id;
    for (int64_t up = parentId; up != 0; up = m_folders.at(up).parentId)
        treeRoot = up;
    std::vector<Prop> folderRow = {Int64("Q6748", id), Int64("Q6749", parentId), Text("S3001", name),
                                   Int64("Q6764", treeRoot)};
    if (parentId != 0) {
        // A time for every folder but the roots (the sparse parent index).
        folderRow.push_back(Int64("T668F", 0x01D0000000000000LL + m_counter));
        int64_t entryId = NewId();
        folderRow.push_back(Int64("Q674A", entryId));
        MessageTableOf(parentId).rows.push_back(
            {Int64("Q674A", entryId), Int64("Q6748", parentId), Text("S0037", name)});
    }
    for (const char* counter : kCounterColumns)
        folderRow.push_back(Int32(counter, 0));
    for (const Prop& value : row)
        SetValue(folderRow, value);
    STable& folders = Table(kFolders);
    folders.rows.push_back(folderRow);
    m_folders[id] = SFolder{parentId, folders.rows.size() - 1};
    STable& messages = Table(MessageTable(id));
    messages.columns = MessageTableColumns();
    messages.indexes = MessageTableIndexes();
    return id;
}

void CExchangeDatabase::SetIndexes(const std::string& table, const std::vector<IndexSpec>& indexes)
{
    Table(table).indexes = indexes;
}

void CExchangeDatabase::RemoveTable(const std::string& table)
{
    m_tables.erase(table);
    m_tableOrder.erase(std::remove(m_tableOrder.begin(), m_tableOrder.end(), table), m_tableOrder.end());
}

void CExchangeDatabase::SetFolderValue(int64_t folderId, const Prop& value)
{
    auto found = m_folders.find(folderId);
    if (found == m_folders.end())
        throw std::invalid_argument("no such folder");
    SetValue(Table(kFolders).rows[found->second.row], value);
}

int64_t CExchangeDatabase::AddMessage(int64_t folderId, const SMessage& message)
{
    STable& table = MessageTableOf(folderId);
    int64_t id = NewId();
    int64_t msgRow = NewId();
    std::vector<Prop> row = {Int64("Q674A", id), Int64("Q6748", folderId)};
    if (message.linked)
        row.push_back(Int64("Q67B0", msgRow));
    if (!message.subject.empty())
        row.push_back(Text("S0037", message.subject));
    if (!message.subjectPrefix.empty())
        row.push_back(Text("S003D", message.subjectPrefix));
    if (!message.normalizedSubject.empty())
        row.push_back(Text("S0E1D", message.normalizedSubject));
    int32_t size = message.size ? message.size : static_cast<int32_t>(message.body.size() * sizeof(wchar_t));
    row.push_back(Int32("L0E08", size));
    row.push_back(Int32("L0E07", (message.read ? 1 : 0) | (message.associated ? 0x40 : 0)));
    row.push_back(Int64("T0E06", 0x01D5000000000000LL + m_counter));
    for (const Prop& value : message.folderRow)
        SetValue(row, value);
    table.rows.push_back(row);

    std::vector<Prop> shared = {Int64("Q67B0", msgRow)};
    if (!message.body.empty())
        shared.push_back(Text("S1000", message.body));
    if (!message.senderName.empty())
        shared.push_back(Text("S0042", message.senderName));
    if (!message.senderEntry.empty())
        shared.push_back(Binary("F67B6", message.senderEntry));
    for (const Prop& value : message.msgRow)
        SetValue(shared, value);
    if (message.linked) {
        Table(kMsg).rows.push_back(shared);
        m_msgRows[id] = msgRow;
    }
    m_messageFolder[id] = folderId;
    SFolder& folder = m_folders[folderId];
    if (message.associated)
        return id;
    ++folder.messages;
    if (!message.read)
        ++folder.unread;
    std::vector<Prop>& folderRow = Table(kFolders).rows[folder.row];
    SetValue(folderRow, Int32("L3602", folder.messages));
    SetValue(folderRow, Int32("L3603", folder.unread));
    return id;
}

int64_t CExchangeDatabase::MsgRowId(int64_t messageId) const
{
    auto found = m_msgRows.find(messageId);
    if (found == m_msgRows.end())
        throw std::invalid_argument("no such message");
    return found->second;
}

int64_t CExchangeDatabase::AddAttachment(int64_t messageId, const SAttachment& attachment)
{
    int64_t id = NewId();
    int64_t msgRow = NewId();
    std::vector<Prop> row = {Int64("Q674A", id), Int64("Q67B0", msgRow)};
    if (!attachment.fileName.empty())
        row.push_back(Text("S3704", attachment.fileName));
    row.push_back(Int32("L0E20", static_cast<int32_t>(attachment.data.size())));
    for (const Prop& value : attachment.row)
        SetValue(row, value);
    MessageTableOf(m_attachmentsFolder).rows.push_back(row);
    std::vector<Prop> shared = {Int64("Q67B0", msgRow)};
    if (!attachment.data.empty())
        shared.push_back(Binary("N3701", attachment.data));
    for (const Prop& value : attachment.msgRow)
        SetValue(shared, value);
    Table(kMsg).rows.push_back(shared);
    Bytes& list = m_attachmentLists[messageId];
    list += AttachmentListEntry(id);
    SetAttachmentList(messageId, list);
    return id;
}

void CExchangeDatabase::SetAttachmentList(int64_t messageId, const Bytes& list)
{
    m_attachmentLists[messageId] = list;
    std::vector<Prop>& shared = RowWith(kMsg, "Q67B0", MsgRowId(messageId));
    shared.erase(std::remove_if(shared.begin(), shared.end(), [](const Prop& p) { return p.column == "F67B3"; }),
                 shared.end());
    if (!list.empty())
        shared.push_back(Binary("F67B3", list));
}

void CExchangeDatabase::AddNamedProp(const SNamedProp& prop)
{
    std::vector<Prop> row = {Int16("I67F1", static_cast<int16_t>(prop.mappedId)), Binary("F67F0", GuidBytes(prop.guid))};
    if (prop.isString)
        row.push_back(Text("S67F4", prop.stringName));
    else
        row.push_back(Int32("L67EF", prop.numericName));
    Table(kNamedProps).rows.push_back(row);
}

void CExchangeDatabase::AddColumn(const std::string& table, const ColumnSpec& column)
{
    Table(table).columns.push_back(column);
}

void CExchangeDatabase::Write(const std::string& path) const
{
    esefixture::CEseWriter writer("");
    writer.CreateDatabase(path);
    for (const std::string& name : m_tableOrder) {
        const STable& table = m_tables.at(name);
        std::vector<ColumnSpec> columns = table.columns;
        std::set<std::string> known;
        for (const ColumnSpec& column : columns)
            known.insert(column.name);
        for (const std::vector<Prop>& row : table.rows) {
            for (const Prop& value : row) {
                if (known.insert(value.column).second)
                    columns.push_back(ColumnSpecFor(value.column));
            }
        }
        writer.CreateTable(name, columns, table.indexes);
        // One outer transaction per table: the row inserts nest inside it,
        // so the engine makes a table's rows durable once, not row by row.
        esefixture::Check(JetBeginTransaction(writer.Session()), "JetBeginTransaction");
        try {
            for (const std::vector<Prop>& row : table.rows)
                writer.Insert(name, row);
            esefixture::Check(JetCommitTransaction(writer.Session(), 0), "JetCommitTransaction");
        } catch (...) {
            JetRollback(writer.Session(), 0);
            throw;
        }
    }
    writer.Term();
}

namespace {

// count messages in a folder whose subjects, senders and bodies vary with
// their number; seed varies them between folders.
void AddGeneratedMail(CExchangeDatabase& database, int64_t folder, const std::wstring& kind, int count, int seed)
{
    static const wchar_t* const kTopics[] = {L"Budget review",     L"Delivery schedule", L"Quarterly figures",
                                             L"Team lunch",        L"Contract renewal",  L"Server maintenance",
                                             L"Travel plans",      L"Customer feedback", L"Hiring update",
                                             L"Office move"};
    static const wchar_t* const kSenders[] = {L"Alice Lindqvist", L"Bruno Castell", L"Carla Nystr\u00F6m",
                                              L"Dmitri Volkov",   L"Eva Marsh",     L"Farid Haddad"};
    constexpr int kTopicCount = sizeof(kTopics) / sizeof(kTopics[0]);
    constexpr int kSenderCount = sizeof(kSenders) / sizeof(kSenders[0]);
    for (int i = 0; i < count; ++i) {
        const int n = i + seed * 7;
        SMessage message;
        const std::wstring topic = kTopics[n % kTopicCount];
        message.normalizedSubject = topic + L" (" + kind + L" " + std::to_wstring(i + 1) + L")";
        if (n % 4 == 1)
            message.subjectPrefix = L"RE: ";
        else if (n % 9 == 2)
            message.subjectPrefix = L"FW: ";
        message.subject = message.subjectPrefix + message.normalizedSubject;
        const std::wstring sender = kSenders[(n * 5 + seed) % kSenderCount];
        if (n % 2)
            message.senderEntry = SenderEntry(ESenderLayout::Long, ENameEncoding::Utf16, sender, true,
                                              "someone@example.com");
        else
            message.senderName = sender;
        message.body = L"Hello,\r\n\r\nthis is about " + topic + L", item " + std::to_wstring(i + 1) +
                       L".\r\n\r\nRegards,\r\n" + sender + L"\r\n";
        message.read = (n % 3) != 0;
        // Delivered over some months from March 2009, a few hours apart.
        constexpr int64_t kMarch2009 = 0x01C99B0CE2938000LL;
        constexpr int64_t kHour = 36000000000LL;
        message.folderRow = {Int64("T0E06", kMarch2009 + (static_cast<int64_t>(n) * 7 + seed * 3) * kHour)};
        database.AddMessage(folder, message);
    }
}

// Messages Outlook keeps out of sight in a folder's associated contents:
// saved views and rules.
void AddViewsAndRules(CExchangeDatabase& database, int64_t folder, int count)
{
    for (int i = 0; i < count; ++i) {
        SMessage hidden;
        hidden.subject = i % 2 ? L"Rule " + std::to_wstring(i) : L"View " + std::to_wstring(i);
        hidden.associated = true;
        hidden.read = true;
        hidden.folderRow = {Text("S001A", i % 2 ? L"IPM.Rule.Message" : L"IPM.Microsoft.FolderDesign.NamedView")};
        database.AddMessage(folder, hidden);
    }
}

} // namespace

SMailbox BuildSample(CExchangeDatabase& database)
{
    SMailbox alice = database.AddMailbox(L"Alice Lindqvist");
    int64_t inbox = database.AddFolder(alice.topId, L"Inbox");
    int64_t sent = database.AddFolder(alice.topId, L"Sent Items");
    int64_t projects = database.AddFolder(inbox, L"Projects");
    database.AddFolder(alice.topId, L"Deleted Items");

    SMessage welcome;
    welcome.subjectPrefix = L"RE: ";
    welcome.normalizedSubject = L"Quarterly figures";
    welcome.subject = L"Quarterly figures";
    welcome.senderEntry =
        SenderEntry(ESenderLayout::Long, ENameEncoding::Utf16, L"Bruno Castell", true, "bruno@example.com");
    welcome.body = L"The figures are attached.\r\n";
    int64_t first = database.AddMessage(inbox, welcome);
    SAttachment sheet;
    sheet.fileName = L"figures.csv";
    sheet.data = "quarter,revenue\r\nQ1,120\r\nQ2,135\r\n";
    database.AddAttachment(first, sheet);

    SMessage report;
    report.subject = L"Status report";
    report.normalizedSubject = L"Status report";
    report.senderName = L"Carla Nyström";
    report.senderEntry = SenderEntry(ESenderLayout::Short, ENameEncoding::Ansi, L"Carla Nystrom");
    std::wstring longBody;
    while (longBody.size() < 6000)
        longBody += L"Every project is on schedule and within its budget. ";
    report.body = longBody;
    report.read = true;
    database.AddMessage(projects, report);

    SMessage note;
    note.subject = L"Lunch on Friday?";
    note.normalizedSubject = L"Lunch on Friday?";
    note.senderEntry = SenderEntry(ESenderLayout::Long, ENameEncoding::Ansi, L"Alice Lindqvist", false,
                                   "/o=Example/ou=First/cn=alice");
    note.body = L"Shall we?";
    note.read = true;
    database.AddMessage(sent, note);

    SMailbox archive = database.AddMailbox(L"Old Archive", ETopFolder::Absent);
    (void)archive;

    // The bulk of the sample: generated mail over several mailboxes, so that
    // folder trees, counts and contents tables have something to show.
    AddGeneratedMail(database, inbox, L"inbox", 60, 0);
    AddGeneratedMail(database, sent, L"sent", 24, 1);
    AddGeneratedMail(database, projects, L"project", 18, 2);
    int64_t calendar = database.AddFolder(alice.topId, L"Calendar", {Text("S3613", L"IPF.Appointment")});
    AddGeneratedMail(database, calendar, L"meeting", 12, 3);
    AddViewsAndRules(database, inbox, 3);
    AddViewsAndRules(database, calendar, 1);

    SMailbox bruno = database.AddMailbox(L"Bruno Castell");
    int64_t brunoInbox = database.AddFolder(bruno.topId, L"Inbox");
    int64_t suppliers = database.AddFolder(brunoInbox, L"Suppliers");
    int64_t older = database.AddFolder(suppliers, L"2008");
    database.AddFolder(bruno.topId, L"Drafts");
    int64_t brunoSent = database.AddFolder(bruno.topId, L"Sent Items");
    AddGeneratedMail(database, brunoInbox, L"inbox", 70, 4);
    AddGeneratedMail(database, suppliers, L"supplier", 25, 5);
    AddGeneratedMail(database, older, L"archive", 15, 6);
    AddGeneratedMail(database, brunoSent, L"reply", 20, 7);
    AddViewsAndRules(database, brunoInbox, 2);

    SMailbox carla = database.AddMailbox(L"Carla Nystr\u00F6m");
    int64_t carlaInbox = database.AddFolder(carla.topId, L"Inbox");
    int64_t reports = database.AddFolder(carla.topId, L"Reports");
    database.AddFolder(carla.topId, L"Deleted Items");
    AddGeneratedMail(database, carlaInbox, L"inbox", 40, 8);
    AddGeneratedMail(database, reports, L"report", 30, 9);
    AddViewsAndRules(database, carlaInbox, 1);

    static const GUID kPublicStrings = {0x00020329, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    static const GUID kCommon = {0x00062008, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    database.AddNamedProp({0x8001, kPublicStrings, true, 0, L"Keywords"});
    database.AddNamedProp({0x8002, kCommon, false, 0x8510, L""});
    return alice;
}

} // namespace exchangefixture
