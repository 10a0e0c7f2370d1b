// Outlook's MAPI-MIME converter as MAPI documents it: the class and interface
// identifiers, the CCSF_* conversion flags, the types the methods take
// (documented with mimeole.h's names, which mingw-w64 does not ship) and the
// IConverterSession vtable with its undocumented placeholder slots kept in
// place, so that every method is reached in its documented slot. Created
// with CoCreateInstance(CLSID_IConverterSession, in-process). The stand-in
// converter declares the same (a test compares the two declarations).
#pragma once
#include "ProviderPlatform.h"

// {4e3a7680-b77a-11d0-9da5-00c04fd65685}
DEFINE_GUID(CLSID_IConverterSession, 0x4e3a7680, 0xb77a, 0x11d0, 0x9d, 0xa5, 0x00, 0xc0, 0x4f, 0xd6, 0x56, 0x85);
// {4b401570-b77b-11d0-9da5-00c04fd65685}
DEFINE_GUID(IID_IConverterSession, 0x4b401570, 0xb77b, 0x11d0, 0x9d, 0xa5, 0x00, 0xc0, 0x4f, 0xd6, 0x56, 0x85);

// Conversion flags. MIMEToMAPI takes CCSF_SMTP, CCSF_INCLUDE_BCC,
// CCSF_USE_RTF, CCSF_EMBEDDED_MESSAGE and CCSF_GLOBAL_MESSAGE; the others
// are for MAPIToMIMEStm.
constexpr ULONG CCSF_SMTP = 0x0002;
constexpr ULONG CCSF_NOHEADERS = 0x0004;
constexpr ULONG CCSF_USE_TNEF = 0x0010;
constexpr ULONG CCSF_INCLUDE_BCC = 0x0020;
constexpr ULONG CCSF_8BITHEADERS = 0x0040;
constexpr ULONG CCSF_USE_RTF = 0x0080;
constexpr ULONG CCSF_PLAIN_TEXT_ONLY = 0x1000;
constexpr ULONG CCSF_NO_MSGID = 0x4000;
constexpr ULONG CCSF_EMBEDDED_MESSAGE = 0x8000;
constexpr ULONG CCSF_GLOBAL_MESSAGE = 0x00200000;

enum ENCODINGTYPE {
    IET_BINARY = 0,
    IET_BASE64 = 1,
    IET_UUENCODE = 2,
    IET_QP = 3,
    IET_7BIT = 4,
    IET_8BIT = 5,
    IET_INETCSET = 6,
    IET_UNICODE = 7,
    IET_RFC1522 = 8,
    IET_ENCODED = 9,
    IET_CURRENT = 10,
    IET_UNKNOWN = 11,
    IET_BINHEX40 = 12,
    IET_LAST = 13
};

enum MIMESAVETYPE {
    SAVE_RFC822 = 0,
    SAVE_RFC1521 = 1
};

enum CSETAPPLYTYPE {
    CSET_APPLY_UNTAGGED = 0,
    CSET_APPLY_ALL = 1,
    CSET_APPLY_TAG_ALL = 2
};

typedef struct HCHARSET__* HCHARSET;

struct IConverterSession : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetAdrBook(LPADRBOOK pab) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEncoding(ENCODINGTYPE et) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder1() = 0;
    virtual HRESULT STDMETHODCALLTYPE MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder2() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder3() = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder4() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSaveFormat(MIMESAVETYPE mstSaveFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlaceHolder5() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCharset(BOOL fApply, HCHARSET hcharset, CSETAPPLYTYPE csetapplytype) = 0;
};
__CRT_UUID_DECL(IConverterSession, 0x4b401570, 0xb77b, 0x11d0, 0x9d, 0xa5, 0x00, 0xc0, 0x4f, 0xd6, 0x56, 0x85)

// The class a storage holding a MAPI message is marked with.
// {00020D0B-0000-0000-C000-000000000046}
DEFINE_GUID(CLSID_MailMessage, 0x00020D0B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
