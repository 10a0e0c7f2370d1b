#pragma once
// Builds Exchange-shaped databases for tests and samples, through the
// standard ESE write calls (esefixture::CEseWriter), the way the server's
// object layer reads them:
// - "Folders" (one row per folder), "Msg" (the shared row of every message
//   and attachment), "Mailbox" (mailbox stores only), "NamedProps", and one
//   message table per folder named by FormatEseId of the folder id, the
//   attachments folder "MDB Attachments Folder" among them;
// - column names encode property tags: an optional 'M' (multi-valued), a type
//   letter (B D F G I J L N O Q S T V) and the property id in hexadecimal;
//   the column type follows from the letter (ColumnSpecFor);
// - the indexes "FoldersIndex1", "MsgIndex1", "MailboxIndex2",
//   "MsgFolderIndex6" and two parent-id indexes named from
//   "?T668f+Q6749+S3001+Q6748": the first one listed leaves out the folders
//   without a 0x668F time (the mailbox roots), the second holds every folder,
//   so they differ in their entry counts.
//
// Rows are collected in memory; Write creates every table with the union of
// the columns its rows use (plus the standard ones) and inserts the rows.
// Ids are Exchange-like: byte 1 is the replica (1) and bytes 6-7 a counter,
// so FormatEseId gives names such as "1-1001".
#include <windows.h>

#include "EseFixture.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace exchangefixture {

using esefixture::Bytes;
using Prop = esefixture::ColumnValues;

// One-value columns.
Prop Int64(const std::string& column, int64_t value);
Prop Int32(const std::string& column, int32_t value);
Prop Int16(const std::string& column, int16_t value);
Prop Bool(const std::string& column, bool value);
Prop Double(const std::string& column, double value);
// UTF-16 without a terminating zero, as Exchange stores text.
Prop Text(const std::string& column, const std::wstring& text);
Prop Binary(const std::string& column, const Bytes& bytes);
// Several values of a multi-valued ("M...") column.
Prop Multi(const std::string& column, const std::vector<Bytes>& values);

// The ESE column a column name stands for: Q/T 8-byte currency, L long,
// I short, B bit, D double, G 16-byte binary, S long text (UTF-16),
// F/N/V/J/O and any other letter long binary; 'M' makes it tagged and
// multi-valued. "S3001" is short text (it is a key column of the
// parent-id indexes).
esefixture::ColumnSpec ColumnSpecFor(const std::string& name);

// Sender entries (0x67B6, 0x67B5, 0x67BD of "Msg"). The short layout keeps the
// name length at offset 2 and the name from offset 3; the long layout (bit 15
// of the first word set) keeps flags at offset 2 (0x10: an SMTP address) and
// the length at offset 4, the name from offset 5. An ANSI name ends with its
// zero byte (its last byte); a UTF-16 name ends with a zero unit. `trailer`
// follows the name.
enum class ESenderLayout { Short, Long };
enum class ENameEncoding { Ansi, Utf16 };
Bytes SenderEntry(ESenderLayout layout, ENameEncoding encoding, const std::wstring& name, bool smtp = false,
                  const Bytes& trailer = Bytes());

// A 12-byte attachment-list entry: the attachment id (little-endian) and 4
// bytes the reader does not use.
Bytes AttachmentListEntry(int64_t attachmentId);

// A GUID as its 16 stored bytes.
Bytes GuidBytes(const GUID& guid);

enum class EStoreKind { Mailbox, PublicFolders };

// The two schema generations the provider meets. Exchange2007 (the
// default): "Folders" carries both parent-id indexes (the sparse one and
// the complete one) and every "Mailbox" row its 16-byte instance key
// (column 0x676A). Exchange2003: "Folders" has the sparse parent-id index
// only, and mailbox rows carry no instance key.
enum class EGeneration { Exchange2003, Exchange2007 };

// How a mailbox root finds its "Top of Information Store" child.
enum class ETopFolder {
    Present,    // named exactly so
    OtherCase,  // "TOP OF INFORMATION STORE"
    Absent,     // the root's only child has another name
};

struct SMailbox {
    int64_t rootId = 0;
    int64_t topId = 0;   // 0 when the root has no "Top of Information Store"
};

struct SMessage {
    std::wstring subject;           // 0x0037 (stored subject); empty: no column value
    std::wstring subjectPrefix;     // 0x003D
    std::wstring normalizedSubject; // 0x0E1D
    std::wstring senderName;        // 0x0042 of "Msg"
    Bytes senderEntry;              // 0x67B6 of "Msg"; empty: none
    std::wstring body;              // 0x1000 of "Msg"
    int32_t size = 0;               // 0x0E08 of the folder's message table; 0: the body's byte count
    bool read = false;              // 0x0E07 flags bit 0 (unread messages count in 0x3603)
    bool linked = true;             // false: no "Msg" row (its 0x67B0 link is null)
    bool associated = false;        // 0x0E07 flags bit 0x40; not counted in the folder's counts
    std::vector<Prop> folderRow;    // more columns of the folder's message-table row
    std::vector<Prop> msgRow;       // more columns of the "Msg" row
};

struct SAttachment {
    std::wstring fileName;    // 0x3704
    Bytes data;               // 0x3701 of the attachment's "Msg" row, column "N3701"
    std::vector<Prop> row;    // more columns of the attachment-table row
    std::vector<Prop> msgRow; // more columns of its "Msg" row
};

struct SNamedProp {
    uint16_t mappedId;        // 0x8000 and above (column 0x67F1, a 16-bit integer as the provider reads it)
    GUID guid;                // 0x67F0
    bool isString;
    int32_t numericName;      // 0x67EF
    std::wstring stringName;  // 0x67F4
};

class CExchangeDatabase {
public:
    explicit CExchangeDatabase(EStoreKind kind = EStoreKind::Mailbox,
                               EGeneration generation = EGeneration::Exchange2007);

    EStoreKind Kind() const { return m_kind; }
    EGeneration Generation() const { return m_generation; }

    // A mailbox: its "Mailbox" row (0x6764 = root folder id, 0x3001 = name),
    // the root folder (parent 0) and, unless Absent, its "Top of Information
    // Store" child with the nine counters. Mailbox stores only.
    SMailbox AddMailbox(const std::wstring& name, ETopFolder top = ETopFolder::Present,
                        const std::vector<Prop>& mailboxRow = {});
    // A folder under `parentId` (0: a root), naming the root of its tree in
    // 0x6764 as Exchange's folder rows do. Unless the parent is 0, the
    // parent's message table gets an entry row for it whose 0x674A is the
    // child's 0x674A (such rows are no messages). Returns the folder id.
    int64_t AddFolder(int64_t parentId, const std::wstring& name, const std::vector<Prop>& row = {});
    // A message in the folder's message table (0x674A message id, 0x67B0 its
    // "Msg" row, both as the 64-bit link and as its 8 bytes, 0x6748 the
    // folder id) with its "Msg" row. Returns the message
    // id (0x674A); MsgRowId gives its 0x67B0.
    int64_t AddMessage(int64_t folderId, const SMessage& message);
    // An attachment of a message: a row of the attachments folder's table and
    // its "Msg" row; the message's attachment list (0x67B3 of its "Msg" row)
    // gets its entry. Returns the attachment id.
    int64_t AddAttachment(int64_t messageId, const SAttachment& attachment);
    // Replaces the message's attachment list with these bytes (malformed
    // lists included); empty bytes remove it.
    void SetAttachmentList(int64_t messageId, const Bytes& list);
    void AddNamedProp(const SNamedProp& prop);
    // Extra columns on a table that no row needs (excluded columns, names
    // that are no property columns).
    void AddColumn(const std::string& table, const esefixture::ColumnSpec& column);
    // Adds a column value to an existing folder row.
    void SetFolderValue(int64_t folderId, const Prop& value);
    // Replaces the indexes of a table (a damaged database lacks one the
    // server needs).
    void SetIndexes(const std::string& table, const std::vector<esefixture::IndexSpec>& indexes);
    // Leaves a table out of the database.
    void RemoveTable(const std::string& table);

    int64_t MsgRowId(int64_t messageId) const;
    int64_t AttachmentsFolderId() const { return m_attachmentsFolder; }
    // The "IPM_SUBTREE" folder of a public-folder store (0 in a mailbox store).
    int64_t IpmSubtreeId() const { return m_ipmSubtree; }
    int64_t PublicRootId() const { return m_publicRoot; }

    // Creates the database file (which must not exist) and writes everything.
    void Write(const std::string& path) const;

    static std::string MessageTable(int64_t folderId);

private:
    struct STable {
        std::vector<esefixture::ColumnSpec> columns;
        std::vector<esefixture::IndexSpec> indexes;
        std::vector<std::vector<Prop>> rows;
    };
    struct SFolder {
        int64_t parentId;
        size_t row;           // in "Folders"
        int32_t messages = 0;
        int32_t unread = 0;
    };

    int64_t NewId();
    STable& Table(const std::string& name);
    STable& MessageTableOf(int64_t folderId);
    std::vector<Prop>& RowWith(const std::string& table, const std::string& column, int64_t id);
    static void SetValue(std::vector<Prop>& row, const Prop& value);

    EStoreKind m_kind;
    EGeneration m_generation;
    uint16_t m_counter = 0x1000;
    std::map<std::string, STable> m_tables;
    std::vector<std::string> m_tableOrder;
    std::map<int64_t, SFolder> m_folders;
    std::map<int64_t, int64_t> m_messageFolder;  // message id -> folder id
    std::map<int64_t, int64_t> m_msgRows;        // message id -> 0x67B0
    std::map<int64_t, Bytes> m_attachmentLists;  // message id -> list
    int64_t m_attachmentsFolder = 0;
    int64_t m_ipmSubtree = 0;
    int64_t m_publicRoot = 0;
};

// The sample a reader of the project opens first: several mailboxes (one
// without "Top of Information Store"), folder trees with a few hundred
// messages (prefixed subjects, senders of both entry layouts, long bodies,
// attachments, associated messages such as views and rules) and named
// properties. Returns the first mailbox ("Alice Lindqvist"), for callers
// that add to it.
SMailbox BuildSample(CExchangeDatabase& database);

} // namespace exchangefixture
