// The base of the client tests of messages and attachments: the sample
// messages of the mailbox fixture ("Message Samples" in Alice's mailbox)
// opened through their folder as a MAPI client opens them, and readers of
// streams, storages and compressed RTF.
#pragma once
#include "ProviderPlatform.h"
#include "MessageBodies.h"
#include "MessageFixtures.h"
#include "ProviderFiles.h"
#include "testing/ProviderTestSupport.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace providertest {

// The whole of a stream from where it stands.
inline std::vector<BYTE> ReadAll(IStream* stream)
{
    std::vector<BYTE> bytes;
    BYTE chunk[8192];
    for (;;) {
        ULONG read = 0;
        const HRESULT hr = stream->Read(chunk, sizeof(chunk), &read);
        if (FAILED(hr) || read == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + read);
        if (hr == S_FALSE)
            break;
    }
    return bytes;
}

// A property read through OpenProperty as a stream; hr receives the open's
// result.
inline std::vector<BYTE> PropertyStream(IMAPIProp* object, ULONG tag, HRESULT& hr)
{
    ComPtr<IStream> stream;
    hr = object->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()));
    if (FAILED(hr) || !stream)
        return {};
    return ReadAll(stream.Get());
}

inline std::wstring WideOf(const std::vector<BYTE>& bytes)
{
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        std::memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

inline std::string NarrowOf(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

inline std::vector<BYTE> BytesOf(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

// The RTF of a PR_RTF_COMPRESSED value.
inline std::string RtfOf(const std::vector<BYTE>& compressed)
{
    ComPtr<IStream> stored;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stored.GetAddressOf())))
        return {};
    ULONG written = 0;
    if (!compressed.empty())
        stored->Write(compressed.data(), static_cast<ULONG>(compressed.size()), &written);
    LARGE_INTEGER start = {};
    stored->Seek(start, STREAM_SEEK_SET, nullptr);
    ComPtr<IStream> plain;
    if (FAILED(WrapCompressedRTFStream(stored.Get(), 0, plain.GetAddressOf())))
        return {};
    return NarrowOf(ReadAll(plain.Get()));
}

// The name of an error value's code, for messages of failed expectations.
inline std::string Describe(const SPropValue* value)
{
    if (!value)
        return "<no value>";
    char text[64];
    if (PROP_TYPE(value->ulPropTag) == PT_ERROR)
        snprintf(text, sizeof(text), "error %08lX", static_cast<unsigned long>(value->Value.err));
    else
        snprintf(text, sizeof(text), "value of %08lX", static_cast<unsigned long>(value->ulPropTag));
    return text;
}

inline ComPtr<IAttach> Attachment(IMessage* message, ULONG number)
{
    ComPtr<IAttach> attach;
    if (message)
        message->OpenAttach(number, nullptr, 0, attach.GetAddressOf());
    return attach;
}

// The message an attachment embeds.
inline ComPtr<IMessage> Embedded(IAttach* attach)
{
    ComPtr<IMessage> message;
    if (attach)
        attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0,
                             reinterpret_cast<LPUNKNOWN*>(message.GetAddressOf()));
    return message;
}

class MessageClientTest : public StoreClientTest {
protected:
    const exchangefixture::SMessageSamples& Samples() const { return Ids().sampleMessages; }

    CEntryId SampleId(int64_t mid) const { return MessageId(uid, Ids().alice.rootId, Ids().samples, mid); }

    // A message of a folder of Alice's opened through the folder.
    ComPtr<IMessage> Message(int64_t folder, int64_t mid) const
    {
        ComPtr<IMAPIFolder> parent = Folder(FolderId(uid, Ids().alice.rootId, folder));
        if (!parent)
            return nullptr;
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ComPtr<IMessage> message;
        const CEntryId id = MessageId(uid, Ids().alice.rootId, folder, mid);
        if (SUCCEEDED(OpenEntry(parent.Get(), id, 0, &type, object.GetAddressOf())) && object &&
            type == MAPI_MESSAGE)
            object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf()));
        return message;
    }

    ComPtr<IMessage> Sample(int64_t mid) const { return Message(Ids().samples, mid); }

    // The lines of the provider's log that hold text.
    static std::vector<std::wstring> LogLinesWith(const std::wstring& text)
    {
        std::wstring directory;
        GetDataDirectory(directory);
        std::vector<std::wstring> found;
        for (const std::wstring& line : ReadLogLines(directory + L"\\KOLWEN32.log"))
            if (line.find(text) != std::wstring::npos)
                found.push_back(line);
        return found;
    }
};

} // namespace providertest
