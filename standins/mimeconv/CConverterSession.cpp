#include "MimeMapiTags.h"
#include "CConverterSession.h"
#include "CMapiMessageWriter.h"
#include "CMimeParser.h"

#include <memory>
#include <new>
#include <string>

namespace {

constexpr ULONG kMimeToMapiFlags =
    CCSF_SMTP | CCSF_INCLUDE_BCC | CCSF_USE_RTF | CCSF_EMBEDDED_MESSAGE | CCSF_GLOBAL_MESSAGE;

// The rest of the stream from its current position.
HRESULT ReadAll(IStream* stream, std::string& bytes)
{
    STATSTG stat{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart <= CConverterSession::kMaxInput)
        bytes.reserve(static_cast<size_t>(stat.cbSize.QuadPart));
    char chunk[64 * 1024];
    for (;;) {
        ULONG read = 0;
        HRESULT hr = stream->Read(chunk, sizeof(chunk), &read);
        if (FAILED(hr))
            return hr;
        if (read > sizeof(chunk))
            return STG_E_READFAULT;
        if (bytes.size() + read > CConverterSession::kMaxInput)
            return MAPI_E_TOO_BIG;
        bytes.append(chunk, read);
        if (read == 0 || hr == S_FALSE)
            return S_OK;
    }
}

} // namespace

STDMETHODIMP CConverterSession::SetAdrBook(LPADRBOOK pab)
{
    m_addressBook = pab;
    return S_OK;
}

STDMETHODIMP CConverterSession::SetEncoding(ENCODINGTYPE et)
{
    switch (et) {
    case IET_BASE64:
    case IET_UUENCODE:
    case IET_QP:
    case IET_7BIT:
    case IET_8BIT:
        m_encoding = et;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

STDMETHODIMP CConverterSession::MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv, ULONG ulFlags)
{
    if (!pstm || !pmsg || pszSrcSrv || (ulFlags & ~kMimeToMapiFlags))
        return E_INVALIDARG;
    try {
        auto bytes = std::make_shared<std::string>();
        HRESULT hr = ReadAll(pstm, *bytes);
        if (FAILED(hr))
            return hr;
        if (bytes->empty())
            return MAPI_E_CORRUPT_DATA;
        std::unique_ptr<CMimePart> message = CMimeParser::Parse(bytes);
        return CMapiMessageWriter(ulFlags).Write(*message, pmsg);
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

STDMETHODIMP CConverterSession::MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags)
{
    if (!pmsg || !pstm)
        return E_INVALIDARG;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CConverterSession::SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth)
{
    m_wrapText = fWrapText;
    m_wrapWidth = ulWrapWidth;
    return S_OK;
}

STDMETHODIMP CConverterSession::SetSaveFormat(MIMESAVETYPE mstSaveFormat)
{
    if (mstSaveFormat != SAVE_RFC822 && mstSaveFormat != SAVE_RFC1521)
        return E_INVALIDARG;
    m_saveFormat = mstSaveFormat;
    return S_OK;
}

STDMETHODIMP CConverterSession::SetCharset(BOOL fApply, HCHARSET hcharset, CSETAPPLYTYPE csetapplytype)
{
    m_charset = fApply ? hcharset : nullptr;
    m_charsetApply = csetapplytype;
    return S_OK;
}

// The undocumented slots exist only to keep the documented ones in place.
STDMETHODIMP CConverterSession::PlaceHolder1()
{
    return E_NOTIMPL;
}

STDMETHODIMP CConverterSession::PlaceHolder2()
{
    return E_NOTIMPL;
}

STDMETHODIMP CConverterSession::PlaceHolder3()
{
    return E_NOTIMPL;
}

STDMETHODIMP CConverterSession::PlaceHolder4()
{
    return E_NOTIMPL;
}

STDMETHODIMP CConverterSession::PlaceHolder5()
{
    return E_NOTIMPL;
}
