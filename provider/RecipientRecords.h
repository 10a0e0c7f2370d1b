// The recipients of a message as the database server hands them over: one
// binary value (0x67B40102) packing a header, a list of extra recipient
// columns and one record per recipient. All integers are little-endian.
//
//   header:  u16 record count, u16 (not used), u16 n, n x u32 property tags
//   record:  byte recipient type (1 To, 2 Cc, 3 Bcc), 2 bytes (not used),
//            u16 length L, u16 flags F; the record's data starts at its byte
//            7 and the next record at its byte L + 5.
//
// The flags choose one of three layouts (RecipientLayoutOf):
//   A (an SMTP recipient): a wide string, the e-mail address; three more
//     bytes when F is 0x0213; then the strings behind the flags below.
//   B (a name only): the strings behind the flags below.
//   C (an Exchange recipient): from byte 9 an ANSI string (not used); when
//     F has 0x200 a wide string, the display name, then three more bytes
//     when F is also 0x0213; then the strings behind the flags below, which
//     this layout does not use.
// The strings behind the flags are NUL-terminated wide strings present in
// this order: 0x20 (not used), 0x400 (not used), 0x10 (the display name of
// layouts A and B).
// After the strings: u16 value count (at most n are read), one byte that says
// whether each value is preceded by a marker byte, then the values of the
// extra columns in the order of their tags, each sized by GetRawValueSize of
// its tag's type. A marker 0x0A says the recipient has no value there: the
// tag's type becomes PT_ERROR and the stored value is read as one (its
// 4-byte error code). Binary values are stored behind a 2-byte length, which
// the value handed out leaves off. A type without a size rule ends the
// record's values (nothing after it can be found).
//
// Every string and value must end inside its record, and every record inside
// the data; a record that does not is left out (and, by ReadRecipientRecords,
// logged as a hex dump). Nothing here reads outside the bytes it is given.
#pragma once
#include "ProviderPlatform.h"

#include <set>
#include <string>
#include <vector>

constexpr ULONG kPackedRecipientsTag = 0x67B40102;

// The prefixes of the hex dump of a record left out, by what it was read for.
constexpr wchar_t kDisplayRecipientsDumpPrefix[] = L"Unexpected display recipients: ";
constexpr wchar_t kRecipientsDumpPrefix[] = L"Unexpected recipients: ";

enum class ERecipientLayout { A, B, C };

ERecipientLayout RecipientLayoutOf(USHORT flags);

// "SMTP" for layout A, "EX" for C, null for B (which names no address type).
const wchar_t* RecipientAddressType(ERecipientLayout layout);

// The value of one extra column of one record.
struct SRecipientValue {
    ULONG column = 0;         // the extra tag it is the value of
    ULONG tag = 0;            // the same, its type PT_ERROR when the marker said absent
    std::vector<BYTE> bytes;  // as ValueFromBytes takes them (a binary without its length)
};

struct SRecipientRecord {
    ULONG index = 0;  // the record's position in the data, from 0, counting left-out records
    BYTE type = 0;    // 1 To, 2 Cc, 3 Bcc
    USHORT flags = 0;
    ERecipientLayout layout = ERecipientLayout::B;
    bool hasAddress = false;  // layout A
    std::wstring address;
    std::string exchangeText;  // layout C's ANSI string, which the provider does not use
    bool hasDisplayName = false;
    std::wstring displayName;
    std::vector<SRecipientValue> values;  // in the order of the extra tags, as far as stored
};

// Bytes of the data: a record left out, or the whole data when its header
// does not fit. Always inside the data (a record cut short by the end of the
// data ends there).
struct SRecipientBytes {
    ULONG offset = 0;
    ULONG size = 0;
};

struct SRecipientRecords {
    std::vector<ULONG> extraTags;
    std::vector<SRecipientRecord> records;  // the well-formed ones, in order
    std::vector<SRecipientBytes> leftOut;
};

// Walks the packed value. Data of fewer bytes than the header needs gives no
// records (and one left-out span, unless the data is empty).
SRecipientRecords ParseRecipientRecords(const BYTE* data, ULONG size);

// The same, writing each left-out span to the log with LogHexDump under
// dumpPrefix (kDisplayRecipientsDumpPrefix or kRecipientsDumpPrefix).
SRecipientRecords ReadRecipientRecords(const BYTE* data, ULONG size, const wchar_t* dumpPrefix);
// Into the log file of a holder's path (see WriteLogLine).
SRecipientRecords ReadRecipientRecords(const BYTE* data, ULONG size, const wchar_t* dumpPrefix,
                                       std::wstring& logPath);

// The recipient table's columns: PR_INSTANCE_KEY, PR_ROWID,
// PR_RECIPIENT_TYPE, PR_ADDRTYPE_W, PR_DISPLAY_NAME_W, PR_EMAIL_ADDRESS_W,
// then each extra tag not already among them.
std::vector<ULONG> RecipientTableColumns(const std::vector<ULONG>& extraTags);

// One row of the recipient table: one value per column (row has
// columns.size() entries), memory chained to parent. PR_ROWID is the
// record's index, PR_RECIPIENT_TYPE its type byte; the address type, e-mail
// address and display name come from the layout (PT_ERROR / MAPI_E_NOT_FOUND
// where the layout gives none); each extra value goes into its own column,
// built with ValueFromBytes. The table is indexed on PR_INSTANCE_KEY, so a
// row whose own key is absent (or marked absent) or repeats the key of an
// earlier row (keysInUse, to which the row's key is added) is keyed by its
// 4-byte index instead (the next free number from it, should that be taken
// too). Columns without a value are PR_NULL. Returns the first failing
// allocation (that value is then PT_ERROR) or S_OK.
HRESULT FillRecipientRow(const SRecipientRecord& record, const std::vector<ULONG>& columns, SPropValue* row,
                         LPVOID parent, std::set<std::vector<BYTE>>& keysInUse);
