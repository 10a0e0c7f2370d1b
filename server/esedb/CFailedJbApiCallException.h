#pragma once
// A failed ESE call: the server's exception with the engine's error number
// and the index of the function (in the table of EseFunctionName) that failed.
#include "Platform.h"
#include "CException.h"

namespace NJbFramework {

// The function indices every ESE wrapper passes to CheckJbResult.
enum EJbApiFunction : int {
    kJetCreateInstance = 0,
    kJetSetSystemParameter = 1,
    kJetGetSystemParameter = 2,
    kJetInit2 = 3,
    kJetInit3 = 4,
    kJetBeginSession = 5,
    kJetGetVersion = 6,
    kJetAttachDatabase = 7,
    kJetDetachDatabase = 8,
    kJetOpenDatabase = 9,
    kJetGetDatabaseFileInfo = 10,
    kJetSetSessionContext = 11,
    kJetResetSessionContext = 12,
    kJetTerm = 13,
    kJetEndSession = 14,
    kJetCloseDatabase = 15,
    kJetGetDatabaseInfo = 16,
    kJetGetObjectInfo = 17,
    kJetCloseTable = 18,
    kJetOpenTable = 19,
    kJetGetTableInfo = 20,
    kJetGetColumnInfo = 21,
    kJetMove = 22,
    kJetRetrieveColumn = 23,
    kJetGetRecordPosition = 24,
    kJetRetrieveColumns = 25,
    kJetGetIndexInfo = 26,
    kJetGetTableIndexInfo = 27,
    kJetOpenTempTable2 = 28,
    kJetOpenTempTable3 = 29,
    kJetPrepareUpdate = 30,
    kJetSetColumns = 31,
    kJetUpdate = 32,
    kJetGetTableColumnInfo = 33,
    kJetSetCurrentIndex = 34,
    kJetMakeKey = 35,
    kJetSeek = 36,
    kUnknownJbApiFunction = 37,
};

// The narrow name of a function index; any index not in the table is
// "UnknownJbApiFunction".
const char* EseFunctionName(int functionIndex);

class CFailedJbApiCallException : public CException {
public:
    CFailedJbApiCallException(long eseError, int functionIndex)
        : m_eseError(eseError), m_functionIndex(functionIndex)
    {
    }
    CFailedJbApiCallException(const CFailedJbApiCallException&) = default;
    ~CFailedJbApiCallException() override = default;

    long GetEseError() const { return m_eseError; }
    int GetFunctionIndex() const { return m_functionIndex; }

private:
    long m_eseError;
    int m_functionIndex;
};

// Does nothing for a result >= 0 (warnings pass); throws a
// CFailedJbApiCallException for a negative one.
void CheckJbResult(int functionIndex, long eseError);

} // namespace NJbFramework
