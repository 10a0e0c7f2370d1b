#include "ProviderPlatform.h"
#include "NativeBodyKind.h"
#include "MapiPtr.h"

namespace {

constexpr ULONG kPrBodyW = 0x1000001F;
constexpr ULONG kPrHtml = 0x10130102;
constexpr ULONG kPrRtfCompressed = 0x10090102;
constexpr ULONG kPrRtfInSync = 0x0E1F000B;
constexpr ULONG kPrNativeBodyInfo = 0x10160003;

enum EBodySlot { kSlotBody, kSlotHtml, kSlotRtf, kSlotInSync, kSlotNative, kSlotCount };
const ULONG kBodyTags[kSlotCount] = {kPrBodyW, kPrHtml, kPrRtfCompressed, kPrRtfInSync, kPrNativeBodyInfo};

// 2: the value came back; 1: present but too large to return; 0: absent.
int BodyState(const SPropValue* values, ULONG count, EBodySlot slot)
{
    if (static_cast<ULONG>(slot) >= count)
        return 0;
    const SPropValue& value = values[slot];
    if (value.ulPropTag == kBodyTags[slot])
        return 2;
    if (PROP_TYPE(value.ulPropTag) == PT_ERROR && value.Value.err == E_OUTOFMEMORY)
        return 1;
    return 0;
}

} // namespace

ULONG ChooseNativeBodyKind(const SPropValue* values, ULONG count)
{
    if (!values)
        count = 0;
    if (count > kSlotNative && values[kSlotNative].ulPropTag == kPrNativeBodyInfo)
        return static_cast<ULONG>(values[kSlotNative].Value.l);
    const int b = BodyState(values, count, kSlotBody);
    const int h = BodyState(values, count, kSlotHtml);
    const int r = BodyState(values, count, kSlotRtf);
    // A missing PR_RTF_IN_SYNC means the RTF cannot be trusted to match the
    // text: only a returned TRUE counts (an error's code is not a flag).
    const bool inSync = count > kSlotInSync && values[kSlotInSync].ulPropTag == kPrRtfInSync &&
                        values[kSlotInSync].Value.b != 0;
    if (b == 0 && r == 0 && h == 0)
        return kBodyUndefined;
    if (b == 1 && r == 0 && h == 0)
        return kBodyPlainText;
    if (b == 1 && r == 1 && h == 0)
        return kBodyRtf;
    if (b == 1 && r == 1 && h == 1)
        return inSync ? kBodyRtf : kBodyHtml;
    if (r != 0 && h != 0)
        return inSync ? kBodyRtf : kBodyHtml;
    if (b != 0 && r != 0 && inSync)
        return kBodyRtf;
    // Without a plain-text body, the one body there is is the native one.
    if (b == 0 && r != 0)
        return kBodyRtf;
    if (b == 0 && h != 0)
        return kBodyHtml;
    return kBodyPlainText;
}

HRESULT GetNativeBodyKind(IMAPIProp* message, ULONG* kind)
{
    if (!kind)
        return E_INVALIDARG;
    *kind = kBodyUndefined;
    if (!message)
        return E_INVALIDARG;
    SizedSPropTagArray(kSlotCount, tags) = {kSlotCount, {kPrBodyW, kPrHtml, kPrRtfCompressed, kPrRtfInSync,
                                                         kPrNativeBodyInfo}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    const HRESULT hr = message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &raw);
    MapiPtr<SPropValue> values(raw);
    if (FAILED(hr))
        return hr;
    *kind = ChooseNativeBodyKind(values.get(), count);
    return S_OK;
}
