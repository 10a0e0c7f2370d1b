#include "MapiSubsystem.h"
#include "ToySample.h"

#include <string>
#include <vector>

// {7A2C1D3E-5B4F-4E6A-8C9D-0E1F2A3B4C5D}
const GUID kToyNamedSet = {0x7A2C1D3E, 0x5B4F, 0x4E6A, {0x8C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D}};

namespace {

SPropValue Wide(ULONG tag, const wchar_t* text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszW = const_cast<LPWSTR>(text);
    return v;
}

SPropValue Long(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

SPropValue Binary(ULONG tag, std::vector<BYTE>& bytes)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = bytes.data();
    return v;
}

HRESULT AddRecipients(IMessage* message, const std::vector<std::pair<const wchar_t*, LONG>>& people)
{
    std::vector<BYTE> block(CbNewADRLIST(people.size()));
    auto* list = reinterpret_cast<LPADRLIST>(block.data());
    list->cEntries = static_cast<ULONG>(people.size());
    std::vector<std::vector<SPropValue>> rows;
    for (size_t i = 0; i < people.size(); ++i) {
        rows.push_back({Wide(PR_DISPLAY_NAME_W, people[i].first), Wide(PR_ADDRTYPE_W, L"SMTP"),
                        Wide(PR_EMAIL_ADDRESS_W, people[i].first), Long(PR_RECIPIENT_TYPE, people[i].second)});
    }
    for (size_t i = 0; i < people.size(); ++i) {
        list->aEntries[i].ulReserved1 = 0;
        list->aEntries[i].cValues = static_cast<ULONG>(rows[i].size());
        list->aEntries[i].rgPropVals = rows[i].data();
    }
    return message->ModifyRecipients(MODRECIP_ADD, list);
}

HRESULT FirstMessage(IMessage* message)
{
    std::wstring body;
    for (int i = 0; i < 300; ++i)
        body += L"Line " + std::to_wstring(i) + L" of the quarterly report.\r\n";
    std::vector<BYTE> conversation(22, 0x5A);
    std::vector<BYTE> large(9000);
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<BYTE>(i * 7);
    std::vector<LPWSTR> keywords = {const_cast<LPWSTR>(L"finance"), const_cast<LPWSTR>(L"q3")};
    GUID clsid = kToyNamedSet;

    MAPINAMEID name{};
    name.lpguid = &clsid;
    name.ulKind = MNID_STRING;
    name.Kind.lpwstrName = const_cast<LPWSTR>(L"ToyCategory");
    LPMAPINAMEID names[1] = {&name};
    LPSPropTagArray named = nullptr;
    HRESULT hr = message->GetIDsFromNames(1, names, MAPI_CREATE, &named);
    if (FAILED(hr))
        return hr;
    ULONG namedTag = PROP_TAG(PT_UNICODE, PROP_ID(named->aulPropTag[0]));
    MAPIFreeBuffer(named);

    std::vector<SPropValue> values = {
        Wide(PR_SUBJECT_W, L"Quarterly report"),
        Wide(PR_MESSAGE_CLASS_W, L"IPM.Note"),
        Wide(PR_BODY_W, body.c_str()),
        Long(PR_IMPORTANCE, IMPORTANCE_HIGH),
        Long(PR_MESSAGE_FLAGS, MSGFLAG_READ),
        Binary(PR_CONVERSATION_INDEX, conversation),
        Binary(PROP_TAG(PT_BINARY, 0x6006), large),
        Wide(namedTag, L"Blue"),
    };
    SPropValue time{};
    time.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
    time.Value.ft.dwLowDateTime = 0x12345678;
    time.Value.ft.dwHighDateTime = 0x01D00000;
    values.push_back(time);
    SPropValue i8{};
    i8.ulPropTag = PROP_TAG(PT_I8, 0x6001);
    i8.Value.li.QuadPart = 0x123456789ABCDEFll;
    values.push_back(i8);
    SPropValue mv{};
    mv.ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x6002);
    mv.Value.MVszW.cValues = 2;
    mv.Value.MVszW.lppszW = keywords.data();
    values.push_back(mv);
    SPropValue dbl{};
    dbl.ulPropTag = PROP_TAG(PT_DOUBLE, 0x6003);
    dbl.Value.dbl = 3.25;
    values.push_back(dbl);
    SPropValue flag{};
    flag.ulPropTag = PROP_TAG(PT_BOOLEAN, 0x6004);
    flag.Value.b = TRUE;
    values.push_back(flag);
    SPropValue guid{};
    guid.ulPropTag = PROP_TAG(PT_CLSID, 0x6005);
    guid.Value.lpguid = &clsid;
    values.push_back(guid);
    hr = message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
    if (FAILED(hr))
        return hr;
    hr = AddRecipients(message, {{L"alice@example.com", MAPI_TO}, {L"bob@example.com", MAPI_CC}});
    if (FAILED(hr))
        return hr;

    ComPtr<IAttach> byValue;
    ULONG number = 0;
    hr = message->CreateAttach(nullptr, 0, &number, byValue.GetAddressOf());
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> data(10000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i % 251);
    std::vector<SPropValue> attachValues = {Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                                            Wide(PR_ATTACH_LONG_FILENAME_W, L"data.bin"),
                                            Binary(PR_ATTACH_DATA_BIN, data)};
    hr = byValue->SetProps(static_cast<ULONG>(attachValues.size()), attachValues.data(), nullptr);
    if (SUCCEEDED(hr))
        hr = byValue->SaveChanges(0);
    if (FAILED(hr))
        return hr;

    ComPtr<IAttach> embedded;
    hr = message->CreateAttach(nullptr, 0, &number, embedded.GetAddressOf());
    if (FAILED(hr))
        return hr;
    std::vector<SPropValue> embeddedValues = {Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG),
                                              Wide(PR_DISPLAY_NAME_W, L"Forwarded note")};
    hr = embedded->SetProps(static_cast<ULONG>(embeddedValues.size()), embeddedValues.data(), nullptr);
    if (FAILED(hr))
        return hr;
    ComPtr<IMessage> inner;
    hr = embedded->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                reinterpret_cast<LPUNKNOWN*>(inner.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    std::vector<SPropValue> innerValues = {Wide(PR_SUBJECT_W, L"Forwarded note"), Wide(PR_MESSAGE_CLASS_W, L"IPM.Note"),
                                           Wide(PR_BODY_W, L"See below.")};
    hr = inner->SetProps(static_cast<ULONG>(innerValues.size()), innerValues.data(), nullptr);
    if (SUCCEEDED(hr))
        hr = AddRecipients(inner.Get(), {{L"carol@example.com", MAPI_TO}});
    if (SUCCEEDED(hr))
        hr = inner->SaveChanges(0);
    if (SUCCEEDED(hr))
        hr = embedded->SaveChanges(0);
    if (SUCCEEDED(hr))
        hr = message->SaveChanges(0);
    return hr;
}

HRESULT SimpleMessage(IMessage* message, const wchar_t* subject, bool withAttachment)
{
    std::vector<SPropValue> values = {Wide(PR_SUBJECT_W, subject), Wide(PR_MESSAGE_CLASS_W, L"IPM.Note"),
                                      Wide(PR_BODY_W, L"Short body."), Long(PR_IMPORTANCE, IMPORTANCE_NORMAL)};
    HRESULT hr = message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
    if (SUCCEEDED(hr) && withAttachment) {
        ComPtr<IAttach> attach;
        ULONG number = 0;
        hr = message->CreateAttach(nullptr, 0, &number, attach.GetAddressOf());
        std::vector<BYTE> data = {1, 2, 3, 4};
        std::vector<SPropValue> attachValues = {Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                                                Wide(PR_ATTACH_LONG_FILENAME_W, L"tiny.bin"),
                                                Binary(PR_ATTACH_DATA_BIN, data)};
        if (SUCCEEDED(hr))
            hr = attach->SetProps(static_cast<ULONG>(attachValues.size()), attachValues.data(), nullptr);
        if (SUCCEEDED(hr))
            hr = attach->SaveChanges(0);
    }
    if (SUCCEEDED(hr))
        hr = message->SaveChanges(0);
    return hr;
}

HRESULT SetFolderProps(CToyFolder* folder, const wchar_t* comment, const wchar_t* containerClass)
{
    std::vector<SPropValue> values = {Wide(PR_COMMENT_W, comment), Wide(PR_CONTAINER_CLASS_W, containerClass)};
    return folder->Holder()->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
}

} // namespace

HRESULT BuildToySample(CToyFolder* root)
{
    CToyFolder* inbox = nullptr;
    HRESULT hr = root->AddFolder(10, L"Inbox", &inbox);
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPIFolder> holdInbox;
    *holdInbox.GetAddressOf() = inbox;
    hr = SetFolderProps(inbox, L"Toy inbox", L"IPF.Note");
    ComPtr<IMessage> message;
    if (SUCCEEDED(hr))
        hr = inbox->AddMessage(100, message.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = FirstMessage(message.Get());
    message.Reset();
    if (SUCCEEDED(hr))
        hr = inbox->AddMessage(101, message.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = SimpleMessage(message.Get(), L"Lunch", false);
    message.Reset();
    CToyFolder* sub = nullptr;
    if (SUCCEEDED(hr))
        hr = inbox->AddFolder(11, L"Sub", &sub);
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPIFolder> holdSub;
    *holdSub.GetAddressOf() = sub;
    hr = SetFolderProps(sub, L"Toy sub-folder", L"IPF.Note");
    if (SUCCEEDED(hr))
        hr = sub->AddMessage(102, message.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = SimpleMessage(message.Get(), L"Nested", true);
    return hr;
}
