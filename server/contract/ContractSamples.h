#pragma once
// Known values of every kind the contract carries, built the way the server
// hands them out (every block from the COM task allocator), and a deep
// comparison, so that a test can check what crossed the process boundary.
#include "Platform.h"
#include "Vostrel2007.h"

#include <string>

namespace contract_samples {

// A value of every _EEsePropertyType, with null pointers, empty strings and
// empty arrays among them. ESE_PT_INTERFACE values carry a stream holding
// kStreamText, or null.
_SEsePropertyValue* BuildValues(ULONG* count);
// Rows: the full value set, an empty row, and a short row.
_SEseRow* BuildRows(ULONG* count);
// Named ids of both kinds, with and without a property set.
_SEseNamedPropertyId* BuildNamedIds(ULONG* count);
void FillStoreInfo(_SEseStoreInfo* info);

// "" when equal, else what differs. Interfaces compare by the stream's text.
std::string CompareValue(const _SEsePropertyValue& expected, const _SEsePropertyValue& actual);
std::string CompareValues(const _SEsePropertyValue* expected, ULONG expectedCount,
                          const _SEsePropertyValue* actual, ULONG actualCount);
std::string CompareNamedId(const _SEseNamedPropertyId& expected, const _SEseNamedPropertyId& actual);

// The tag a test server derives from a named id, so that a client can check
// the ids it sent arrived intact.
ULONG TagForNamedId(const _SEseNamedPropertyId* id);

extern const char kStreamText[];

// The path of a file beside the running program.
std::wstring BesideThisProgram(const wchar_t* name);
// Registers (or removes) the contract test server beside the running program
// as the local server of CLSID_ContractTestServer.
HRESULT RegisterTestServer(bool unregister);
// Large-stream pattern used by OpenProperty tests.
constexpr ULONG kLargeStreamBytes = 300000;
BYTE LargeStreamByte(ULONG offset);

} // namespace contract_samples
