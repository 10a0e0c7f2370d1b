// The converter session: MIMEToMAPI reads the whole MIME stream from its
// current position, parses it (CMimeParser) and writes the message into the
// caller's IMessage (CMapiMessageWriter), which the caller then saves.
// The settings of the MAPI-to-MIME direction are kept and answered as
// documented; that direction itself is not served (MAPIToMIMEStm answers
// MAPI_E_NO_SUPPORT).
#pragma once
#include "MimeMapiTags.h"
#include "ConverterSession.h"
#include "CUnknownImpl.h"

class CConverterSession : public common::CUnknownImpl<CConverterSession, IConverterSession> {
public:
    using CUnknownImpl::CreateInstance;

    // Bytes read from one stream at most; a longer stream is refused.
    static constexpr size_t kMaxInput = 256u << 20;

    STDMETHODIMP SetAdrBook(LPADRBOOK pab) override;
    STDMETHODIMP SetEncoding(ENCODINGTYPE et) override;
    STDMETHODIMP PlaceHolder1() override;
    STDMETHODIMP MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv, ULONG ulFlags) override;
    STDMETHODIMP MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) override;
    STDMETHODIMP PlaceHolder2() override;
    STDMETHODIMP PlaceHolder3() override;
    STDMETHODIMP PlaceHolder4() override;
    STDMETHODIMP SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) override;
    STDMETHODIMP SetSaveFormat(MIMESAVETYPE mstSaveFormat) override;
    STDMETHODIMP PlaceHolder5() override;
    STDMETHODIMP SetCharset(BOOL fApply, HCHARSET hcharset, CSETAPPLYTYPE csetapplytype) override;

private:
    friend class common::CUnknownImpl<CConverterSession, IConverterSession>;
    CConverterSession() = default;
    ~CConverterSession() override = default;

    ComPtr<IAddrBook> m_addressBook;
    ENCODINGTYPE m_encoding = IET_QP;
    MIMESAVETYPE m_saveFormat = SAVE_RFC1521;
    BOOL m_wrapText = FALSE;
    ULONG m_wrapWidth = 0;
    HCHARSET m_charset = nullptr;
    CSETAPPLYTYPE m_charsetApply = CSET_APPLY_UNTAGGED;
};
