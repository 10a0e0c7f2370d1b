// The sender identifiers of a message that Exchange does not store in MAPI's
// form: the sent-representing and sender entry identifiers, rebuilt from the
// sender entry the database keeps (0x67B60102) as a one-off identifier (an
// SMTP sender) or an address-book identifier (an Exchange sender), and the
// e-mail addresses and sender name filled in where the server gave none.
//
// Works on a GetProps result in place: the positions of the sender tags in
// it say what was requested. What the computation needs but was not
// requested is asked of the server through SSenderSource, so that a value
// never depends on which other tags were asked for with it.
#pragma once
#include "ProviderPlatform.h"

#include <functional>
#include <string>
#include <vector>

constexpr ULONG kPrSentRepresentingAddrTypeW = 0x0064001F;
constexpr ULONG kPrSentRepresentingEmailAddressW = 0x0065001F;
constexpr ULONG kPrSentRepresentingNameW = 0x0042001F;
constexpr ULONG kPrSentRepresentingEntryId = 0x00410102;
constexpr ULONG kPrSentRepresentingSearchKey = 0x003B0102;
constexpr ULONG kPrSenderAddrTypeW = 0x0C1E001F;
constexpr ULONG kPrSenderEmailAddressW = 0x0C1F001F;
constexpr ULONG kPrSenderNameW = 0x0C1A001F;
constexpr ULONG kPrSenderEntryId = 0x0C190102;
constexpr ULONG kPrSenderSearchKey = 0x0C1D0102;
// The server's own columns the rebuilding reads.
constexpr ULONG kServerSenderAddress = 0x4031001F;
constexpr ULONG kServerSenderEntry = 0x67B60102;

constexpr wchar_t kSenderDumpPrefix[] = L"Unexpected sender: ";

// Positions in a GetProps result of the five tags of one group; -1 when not
// requested.
struct SSenderPositions {
    int addressType = -1;
    int emailAddress = -1;
    int name = -1;
    int entryId = -1;
    int searchKey = -1;

    bool Any() const { return addressType >= 0 || emailAddress >= 0 || name >= 0 || entryId >= 0 || searchKey >= 0; }
};

// Notes tag's position when it is one of the ten sender tags; true then (a
// later tag of the request overwrites an earlier position).
bool NoteSenderTag(ULONG tag, int position, SSenderPositions& sentRepresenting, SSenderPositions& sender);

// What the server holds, asked for only when needed. Each returns S_OK with
// the value, or the failure (MAPI_E_NOT_FOUND or the server's error) when it
// has none.
struct SSenderSource {
    // A wide-string property (0x0042001F, 0x4031001F).
    std::function<HRESULT(ULONG tag, std::wstring& text)> text;
    // The raw bytes of a property (0x00410102, 0x67B60102).
    std::function<HRESULT(ULONG tag, std::vector<BYTE>& bytes)> bytes;
};

// Whether a sender entry (0x67B6) names an SMTP sender: bit 15 of its first
// 16-bit word and bit 0x10 of its second. Shorter entries do not.
bool IsSmtpSenderEntry(const BYTE* entry, ULONG size);

// A one-off entry identifier: 4 zero bytes, the one-off provider UID, the
// bytes 00 00 17 90, then the wide display name, "SMTP" and the address,
// each with its NUL.
std::vector<BYTE> BuildOneOffEntryId(const std::wstring& name, const std::wstring& address);

// An address-book entry identifier: 4 zero bytes, the Exchange address-book
// provider UID, u32 1, u32 0, then the address in the ANSI code page with
// its NUL.
std::vector<BYTE> BuildAddressBookEntryId(const std::wstring& address);

// The sender values of a GetProps result (values, in the request's order),
// memory chained to parent:
// 1. A requested sender name that is PT_ERROR becomes the sent-representing
//    name.
// 2. A stored sent-representing entry identifier whose first byte is 0xFF
//    is kept and ends the work here (S_OK); one whose first byte is not 0x67
//    is logged as a hex dump (kSenderDumpPrefix, through logPath).
// 3. Without a sent-representing name nothing more is done (S_OK). The
//    address is the sent-representing e-mail address, else the server's
//    0x4031001F; without one (or with an empty one), MAPI_E_NOT_FOUND.
// 4. A requested entry identifier of either group is rebuilt from the
//    server's sender entry: one-off when it names an SMTP sender, else
//    address-book. Without a sender entry they stay as they are and the
//    result is MAPI_E_NOT_FOUND (the addresses are still filled in).
// 5. A requested e-mail address of either group that is PT_ERROR becomes the
//    address.
// MAPI_E_NOT_FOUND says only that something could not be synthesised: every
// value it concerns stays as the server gave it (PT_ERROR where it had
// none), so a GetProps should report it as MAPI_W_ERRORS_RETURNED, not fail.
// An allocation failure is returned as it is.
HRESULT SynthesizeSenderValues(SPropValue* values, const SSenderPositions& sentRepresenting,
                               const SSenderPositions& sender, const SSenderSource& server, LPVOID parent,
                               std::wstring& logPath);
