#include "Platform.h"
#include "esedb/CInstance.h"

namespace NJbFramework {

CInstance::~CInstance()
{
    if (m_instance == kNoHandle)
        return;
    try {
        CheckJbResult(kJetTerm, JetTerm(m_instance));
    } catch (...) {
    }
    m_instance = kNoHandle;
}

void CInstance::Create()
{
    GUID guid;
    HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr)) {
        CException error;
        error.SetMessage(L"Cannot generate guid for instance name");
        error.SetSourceError(kSrcHResult, hr);
        error.SetCode(kErrUnspecified);
        throw error;
    }
    wchar_t text[100];
    if (StringFromGUID2(guid, text, 100) == 0) {
        CException error;
        error.SetMessage(L"Cannot convert guid to string for instance name");
        error.SetCode(kErrUnspecified);
        throw error;
    }
    char name[100] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, name, sizeof(name), nullptr, nullptr);
    CheckJbResult(kJetCreateInstance, JetCreateInstanceA(&m_instance, name));
}

void CInstance::SetParameter(unsigned long paramId, JET_API_PTR value)
{
    CheckJbResult(kJetSetSystemParameter, JetSetSystemParameterA(&m_instance, JET_sesidNil, paramId, value, nullptr));
}

void CInstance::SetParameter(unsigned long paramId, const char* text)
{
    CheckJbResult(kJetSetSystemParameter, JetSetSystemParameterA(&m_instance, JET_sesidNil, paramId, 0, text));
}

JET_API_PTR CInstance::GetParameter(unsigned long paramId) const
{
    JET_API_PTR value = 0;
    CheckJbResult(kJetGetSystemParameter,
                  JetGetSystemParameterA(m_instance, JET_sesidNil, paramId, &value, nullptr, 0));
    return value;
}

void CInstance::Init(JET_GRBIT grbit)
{
    CheckJbResult(kJetInit2, JetInit2(&m_instance, grbit));
}

} // namespace NJbFramework
