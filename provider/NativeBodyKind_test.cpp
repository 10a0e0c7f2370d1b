#include "ProviderPlatform.h"
#include "NativeBodyKind.h"
#include "MapiPtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr ULONG kBody = 0x1000001F, kHtml = 0x10130102, kRtf = 0x10090102, kInSync = 0x0E1F000B,
                kNative = 0x10160003;

// What a message answers for one slot.
enum EHas { kAbsent, kTooLarge, kReturned };

std::vector<SPropValue> Answer(EHas body, EHas html, EHas rtf, int inSync, int native)
{
    auto slot = [](ULONG tag, EHas has) {
        SPropValue v = {};
        v.ulPropTag = has == kReturned ? tag : CHANGE_PROP_TYPE(tag, PT_ERROR);
        if (has == kReturned)
            v.Value.bin.cb = 0; // content does not matter
        else
            v.Value.err = has == kTooLarge ? E_OUTOFMEMORY : MAPI_E_NOT_FOUND;
        return v;
    };
    std::vector<SPropValue> values = {slot(kBody, body), slot(kHtml, html), slot(kRtf, rtf), {}, {}};
    values[3].ulPropTag = inSync < 0 ? CHANGE_PROP_TYPE(kInSync, PT_ERROR) : kInSync;
    values[3].Value.b = static_cast<unsigned short>(inSync < 0 ? 0 : inSync);
    if (inSync < 0)
        values[3].Value.err = MAPI_E_NOT_FOUND;
    values[4].ulPropTag = native < 0 ? CHANGE_PROP_TYPE(kNative, PT_ERROR) : kNative;
    values[4].Value.l = native < 0 ? MAPI_E_NOT_FOUND : native;
    return values;
}

TEST(NativeBodyKind, ChosenFromTheBodiesPresent)
{
    struct Case {
        const char* what;
        EHas body, html, rtf;
        int inSync; // -1 absent
        int native; // -1 absent
        ULONG kind;
    };
    const Case cases[] = {
        {"nothing", kAbsent, kAbsent, kAbsent, -1, -1, kBodyUndefined},
        {"plain text only", kTooLarge, kAbsent, kAbsent, -1, -1, kBodyPlainText},
        {"plain text returned whole", kReturned, kAbsent, kAbsent, -1, -1, kBodyPlainText},
        {"plain and RTF", kTooLarge, kAbsent, kTooLarge, 0, -1, kBodyRtf},
        {"all three in sync", kTooLarge, kTooLarge, kTooLarge, 1, -1, kBodyRtf},
        {"all three out of sync", kTooLarge, kTooLarge, kTooLarge, 0, -1, kBodyHtml},
        {"HTML and RTF, not in sync", kAbsent, kTooLarge, kReturned, 0, -1, kBodyHtml},
        {"HTML and RTF in sync", kAbsent, kReturned, kTooLarge, 1, -1, kBodyRtf},
        {"returned plain and RTF in sync", kReturned, kAbsent, kReturned, 1, -1, kBodyRtf},
        {"returned plain and RTF out of sync", kReturned, kAbsent, kReturned, 0, -1, kBodyPlainText},
        {"native property wins", kTooLarge, kTooLarge, kAbsent, 0, 2, kBodyRtf},
        {"native property even when nothing else", kAbsent, kAbsent, kAbsent, -1, 3, kBodyHtml},
        // A missing in-sync flag is not "in sync" (its error code is no flag).
        {"HTML and RTF, in-sync flag missing", kAbsent, kTooLarge, kTooLarge, -1, -1, kBodyHtml},
        {"returned plain and RTF, in-sync flag missing", kReturned, kAbsent, kReturned, -1, -1, kBodyPlainText},
        // Without a plain-text body the one body present is the native one.
        {"HTML only", kAbsent, kTooLarge, kAbsent, -1, -1, kBodyHtml},
        {"RTF only", kAbsent, kAbsent, kTooLarge, -1, -1, kBodyRtf},
    };
    for (const Case& c : cases) {
        const std::vector<SPropValue> values = Answer(c.body, c.html, c.rtf, c.inSync, c.native);
        EXPECT_EQ(c.kind, ChooseNativeBodyKind(values.data(), 5)) << c.what;
    }
    const std::vector<SPropValue> plain = Answer(kTooLarge, kAbsent, kAbsent, 1, 3);
    EXPECT_EQ(kBodyPlainText, ChooseNativeBodyKind(plain.data(), 4)); // the fifth value did not come back
    EXPECT_EQ(kBodyUndefined, ChooseNativeBodyKind(nullptr, 5));
}

// Only GetProps does anything; it records what it was asked.
class CFakeMessage : public IMAPIProp {
public:
    HRESULT result = MAPI_W_ERRORS_RETURNED;
    std::vector<SPropValue> answer;
    std::vector<ULONG> askedTags;
    ULONG askedFlags = 0;

    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR*) override { return E_NOTIMPL; }
    STDMETHODIMP SaveChanges(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override
    {
        askedTags.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        askedFlags = ulFlags;
        if (FAILED(result))
            return result;
        HRESULT hr = S_OK;
        MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(sizeof(SPropValue) * answer.size(), hr);
        if (FAILED(hr))
            return hr;
        std::memcpy(values.get(), answer.data(), sizeof(SPropValue) * answer.size());
        *lpcValues = static_cast<ULONG>(answer.size());
        *lppPropArray = values.release();
        return result;
    }
    STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override { return E_NOTIMPL; }
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override { return E_NOTIMPL; }
    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override { return E_NOTIMPL; }
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                           LPSPropProblemArray*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override { return E_NOTIMPL; }
};

TEST(NativeBodyKind, AsksTheMessageForTheFiveTagsInUnicode)
{
    CFakeMessage message;
    message.answer = Answer(kTooLarge, kAbsent, kAbsent, -1, -1);
    ULONG kind = 99;
    EXPECT_EQ(S_OK, GetNativeBodyKind(&message, &kind));
    EXPECT_EQ(kBodyPlainText, kind);
    EXPECT_EQ((std::vector<ULONG>{kBody, kHtml, kRtf, kInSync, kNative}), message.askedTags);
    EXPECT_EQ(static_cast<ULONG>(MAPI_UNICODE), message.askedFlags);

    message.result = MAPI_E_CALL_FAILED;
    kind = 99;
    EXPECT_EQ(MAPI_E_CALL_FAILED, GetNativeBodyKind(&message, &kind));
    EXPECT_EQ(kBodyUndefined, kind);

    EXPECT_EQ(E_INVALIDARG, GetNativeBodyKind(&message, nullptr));
    EXPECT_EQ(E_INVALIDARG, GetNativeBodyKind(nullptr, &kind));
}

} // namespace
