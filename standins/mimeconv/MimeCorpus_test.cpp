// Real-world messages (the email test data of Python's test suite, installed
// from Debian's libpython3.11-testsuite by the set-up script) and damaged
// copies of them: every one converts, nothing reads outside its input.
#include "MimeMapiTags.h"
#include "MimeTestSupport.h"
#include "CMimeParser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace mimetest;
using namespace mimetags;

namespace {

struct CorpusFile {
    std::string name;
    std::string bytes;
};

std::wstring CorpusFolder()
{
    std::string unixPath = VOSTREL_EMAIL_CORPUS_DIR;
    if (unixPath.empty())
        return std::wstring();
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
    return path;
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[8192];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::vector<CorpusFile> LoadCorpus()
{
    std::vector<CorpusFile> files;
    const std::wstring folder = CorpusFolder();
    if (folder.empty())
        return files;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\msg_*.txt").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        std::string name;
        for (const wchar_t* c = found.cFileName; *c; ++c)
            name.push_back(static_cast<char>(*c));
        files.push_back(CorpusFile{name, ReadFileBytes(folder + L"\\" + found.cFileName)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(), [](const CorpusFile& a, const CorpusFile& b) { return a.name < b.name; });
    return files;
}

// The header block of a message as written (up to its first empty line).
std::string HeaderBlock(const std::string& bytes)
{
    size_t end = bytes.find("\n\n");
    const size_t crlf = bytes.find("\r\n\r\n");
    if (crlf < end)
        end = crlf;
    return "\n" + bytes.substr(0, end == std::string::npos ? bytes.size() : end);
}

bool HasField(const std::string& bytes, std::string name)
{
    std::string block = HeaderBlock(bytes);
    std::transform(block.begin(), block.end(), block.begin(), [](unsigned char c) { return std::tolower(c); });
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return block.find("\n" + name + ":") != std::string::npos;
}

class MimeCorpusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RegisterConverter();
        s_corpus = new std::vector<CorpusFile>(LoadCorpus());
    }
    static void TearDownTestSuite()
    {
        delete s_corpus;
        s_corpus = nullptr;
    }

    const CorpusFile* File(const char* name) const
    {
        for (const CorpusFile& file : *s_corpus) {
            if (file.name == name)
                return &file;
        }
        ADD_FAILURE() << name << " is not in the corpus";
        return nullptr;
    }

    IMessage* Converted(const std::string& mime)
    {
        m_messages.emplace_back(new CStorageMessage());
        EXPECT_EQ(S_OK, Convert(m_converter.Get(), mime, m_messages.back()->Get()));
        return m_messages.back()->Get();
    }

    static std::vector<CorpusFile>* s_corpus;
    CComScope m_com;
    ComPtr<IConverterSession> m_converter = NewConverter();
    std::vector<std::unique_ptr<CStorageMessage>> m_messages;
};

std::vector<CorpusFile>* MimeCorpusTest::s_corpus = nullptr;

TEST_F(MimeCorpusTest, EveryMessageOfTheCorpusConvertsSensibly)
{
    ASSERT_GE(s_corpus->size(), 40u) << "the email corpus is missing: scripts/setup.sh installs "
                                        "libpython3.11-testsuite (configured folder: \""
                                     << VOSTREL_EMAIL_CORPUS_DIR << "\")";
    for (const CorpusFile& file : *s_corpus) {
        SCOPED_TRACE(file.name);
        IMessage* message = Converted(file.bytes);
        EXPECT_EQ(L"IPM.Note", Text(message, Wide(PR_MESSAGE_CLASS)));
        if (HasField(file.bytes, "Subject")) {
            EXPECT_TRUE(Prop(message, Wide(PR_SUBJECT)).Found());
        }
        if (HasField(file.bytes, "From")) {
            EXPECT_FALSE(Text(message, Wide(PR_SENT_REPRESENTING_NAME)).empty());
        }
        if (HasField(file.bytes, "Date")) {
            EXPECT_TRUE(Prop(message, PR_CLIENT_SUBMIT_TIME).Found());
        }
        if (HasField(file.bytes, "Message-ID")) {
            EXPECT_TRUE(Prop(message, kInternetMessageId).Found());
        }
        // Something of every message's content arrives: a body or attachments.
        HRESULT body = S_OK;
        Body(message, &body);
        EXPECT_TRUE(SUCCEEDED(body) || !Attachments(message).empty());
        EXPECT_EQ(!Attachments(message).empty(), Prop(message, PR_HASATTACH).flag);
    }
}

TEST_F(MimeCorpusTest, PlainMessageWithOldStyleSender)
{
    const CorpusFile* file = File("msg_01.txt");
    ASSERT_TRUE(file);
    IMessage* message = Converted(file->bytes);
    EXPECT_EQ(L"This is a test message", Text(message, Wide(PR_SUBJECT)));
    EXPECT_EQ(L"John X. Doe", Text(message, Wide(PR_SENT_REPRESENTING_NAME)));
    EXPECT_EQ(L"bbb@ddd.com", Text(message, Wide(PR_SENT_REPRESENTING_EMAIL_ADDRESS)));
    EXPECT_EQ(L"<15090.61304.110929.45684@aaa.zzz.org>", Text(message, kInternetMessageId));
    EXPECT_EQ(UtcTicks(2001, 5, 4, 18, 5, 44), Ticks(Prop(message, PR_CLIENT_SUBMIT_TIME).time));
    EXPECT_EQ(UtcTicks(2001, 5, 4, 18, 5, 44), Ticks(Prop(message, PR_MESSAGE_DELIVERY_TIME).time));
    EXPECT_EQ(L"\r\nHi,\r\n\r\nDo you like this message?\r\n\r\n-Me\r\n", Body(message));
    const std::vector<Row> recipients = Recipients(message);
    ASSERT_EQ(1u, recipients.size());
    EXPECT_EQ(L"bbb@zzz.org", Cell(recipients[0], PR_EMAIL_ADDRESS_W));
    EXPECT_EQ(MAPI_TO, Number(recipients[0], PR_RECIPIENT_TYPE));
    EXPECT_TRUE(Attachments(message).empty());
}

TEST_F(MimeCorpusTest, MixedMessageWithAnImage)
{
    const CorpusFile* file = File("msg_07.txt");
    ASSERT_TRUE(file);
    IMessage* message = Converted(file->bytes);
    EXPECT_EQ(L"Hi there,\r\n\r\nThis is the dingus fish.\r\n", Body(message));
    EXPECT_EQ(L"Dingus Lovers", Text(message, Wide(PR_DISPLAY_TO)));
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"dingusfish.gif", Cell(rows[0], Wide(PR_ATTACH_LONG_FILENAME)));
    EXPECT_EQ(L"image/gif", Cell(rows[0], Wide(PR_ATTACH_MIME_TAG)));
    const std::string data = StreamBytes(OpenAttachment(message, rows[0]).Get(), PR_ATTACH_DATA_BIN);
    EXPECT_EQ(3512u, data.size());
    EXPECT_EQ("GIF87a", data.substr(0, 6));
}

TEST_F(MimeCorpusTest, ForwardedMessageIsEmbedded)
{
    const CorpusFile* file = File("msg_06.txt");
    ASSERT_TRUE(file);
    IMessage* message = Converted(file->bytes);
    EXPECT_EQ(L"forwarded message from Barry A. Warsaw", Text(message, Wide(PR_SUBJECT)));
    HRESULT body = S_OK;
    Body(message, &body);
    EXPECT_EQ(MAPI_E_NOT_FOUND, body);
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(ATTACH_EMBEDDED_MSG, Number(rows[0], PR_ATTACH_METHOD));
    ComPtr<IMessage> inner = OpenEmbedded(OpenAttachment(message, rows[0]).Get());
    ASSERT_TRUE(inner);
    EXPECT_EQ(L"testing", Text(inner.Get(), Wide(PR_SUBJECT)));
    EXPECT_EQ(L"<15265.9468.713530.98441@python.org>", Text(inner.Get(), kInternetMessageId));
}

TEST_F(MimeCorpusTest, SignedMessageKeepsItsSignatureAsAnAttachment)
{
    const CorpusFile* file = File("msg_45.txt");
    ASSERT_TRUE(file);
    IMessage* message = Converted(file->bytes);
    EXPECT_FALSE(Body(message).empty());
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"signature.asc", Cell(rows[0], Wide(PR_ATTACH_LONG_FILENAME)));
    EXPECT_EQ(L"application/pgp-signature", Cell(rows[0], Wide(PR_ATTACH_MIME_TAG)));
}

// The alternative part shares its parent's boundary (a known mailer fault):
// both bodies and the image after it still arrive.
TEST_F(MimeCorpusTest, AlternativeSharingItsParentsBoundary)
{
    const CorpusFile* file = File("msg_15.txt");
    ASSERT_TRUE(file);
    IMessage* message = Converted(file->bytes);
    EXPECT_EQ(L"Some removed test. \r\n", Body(message));
    EXPECT_NE(std::string::npos, StreamBytes(message, kHtml).find("<TITLE>Some removed HTML</TITLE>"));
    EXPECT_EQ(28591, Prop(message, kInternetCodePage).number);
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"xx.gif", Cell(rows[0], Wide(PR_ATTACH_LONG_FILENAME)));

    // Three alternatives of two patches each, nested the same way.
    file = File("msg_39.txt");
    ASSERT_TRUE(file);
    message = Converted(file->bytes);
    EXPECT_EQ(6u, Attachments(message).size());
    for (const Row& row : Attachments(message))
        EXPECT_EQ(L"application/octet-stream", Cell(row, Wide(PR_ATTACH_MIME_TAG)));
    EXPECT_NE(std::wstring::npos, Body(message).find(L"happy childhood"));
}

// Messages written here that reach every path of the parser, for the fuzz seeds.
const char* const kSeeds[] = {
    "From: A <a@x>\nTo: b@y, \"C, D\" <c@z>\nSubject: =?utf-8?B?w6l0w6k=?= =?utf-8?Q?_ok?=\n"
    "Date: Tue, 1 Jul 2003 10:52:37 +0200\nContent-Type: text/plain; charset*=utf-8''utf-8\n"
    "Content-Transfer-Encoding: quoted-printable\n\ncaf=C3=A9=\nsoft\n",
    "Content-Type: multipart/mixed; boundary=o\n\npre\n--o\nContent-Type: multipart/alternative; boundary=i\n\n"
    "--i\n\nplain\n--i\nContent-Type: text/html\n\n<p>h</p>\n--i--\n--o\nContent-Type: application/pdf; "
    "name*0*=utf-8''a%C3%A9; name*1=.pdf\nContent-Transfer-Encoding: base64\n\nJVBERi0x\n--o--\nepi\n",
    "Content-Type: multipart/related; boundary=r; start=\"<s>\"\n\n--r\nContent-ID: <p>\nContent-Type: image/png\n\n"
    "x\n--r\nContent-ID: <s>\nContent-Type: text/html\n\n<img src=cid:p>\n--r--\n",
    "Subject: fwd\nContent-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\n"
    "U3ViamVjdDogaW5uZXIKQ29udGVudC1UeXBlOiBtdWx0aXBhcnQvbWl4ZWQ7IGJvdW5kYXJ5PXgKCi0teAoKaGkKLS14LS0K\n",
    "Content-Type: multipart/digest; boundary=d\n\n--d\n\nSubject: one\n\n1\n--d\n\nSubject: two\n\n2\n--d--\n",
    "Content-Type: multipart/signed; boundary=s\n\n--s\n\nsigned\n--s\nContent-Type: application/pgp-signature\n\n"
    "sig\n--s--\n",
};

std::string Mutated(const std::string& seed, std::mt19937& random)
{
    static const char* const kPieces[] = {"\n", "\r\n", "--", "=?", "?=", "=?utf-8?B?", "\"", "(", ")", "<", ">",
                                          ";", ":", "=", "\n\n", "--o\n", "--o--", "Content-Type: multipart/mixed; "
                                          "boundary=o\n", "Content-Type: message/rfc822\n", "\xFF", "%", "*0*="};
    std::string text = seed;
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits; ++e) {
        const size_t at = text.empty() ? 0 : random() % (text.size() + 1);
        switch (random() % 4) {
        case 0: // flip a byte
            if (!text.empty())
                text[at % text.size()] = static_cast<char>(random() & 0xFF);
            break;
        case 1: // insert a piece of syntax
            text.insert(at, kPieces[random() % (sizeof(kPieces) / sizeof(kPieces[0]))]);
            break;
        case 2: // delete a run
            text.erase(at, random() % 16);
            break;
        default: // repeat a run
            text.insert(at, text.substr(at, random() % 64));
            break;
        }
    }
    return text;
}

TEST_F(MimeCorpusTest, TruncatedAndDamagedMessagesNeverBreakTheConverter)
{
    std::vector<std::string> seeds(std::begin(kSeeds), std::end(kSeeds));
    for (const char* name : {"msg_02.txt", "msg_07.txt", "msg_16.txt", "msg_36.txt", "msg_43.txt"}) {
        for (const CorpusFile& file : *s_corpus) {
            if (file.name == name)
                seeds.push_back(file.bytes);
        }
    }
    std::mt19937 random(20030701);
    size_t converted = 0;
    auto check = [&](const std::string& input, bool convert) {
        // The parser alone, then (for some) the whole conversion.
        auto tree = CMimeParser::Parse(std::make_shared<const std::string>(input));
        ASSERT_TRUE(tree);
        if (!convert)
            return;
        CStorageMessage target;
        const HRESULT hr = m_converter->MIMEToMAPI(StreamOf(input).Get(), target.Get(), nullptr, CCSF_SMTP);
        EXPECT_TRUE(hr == S_OK || (input.empty() && hr == MAPI_E_CORRUPT_DATA)) << std::hex << hr;
        ++converted;
    };
    for (const std::string& seed : seeds) {
        const size_t stride = std::max<size_t>(1, seed.size() / 40);
        for (size_t length = 0; length < seed.size(); length += stride)
            check(seed.substr(0, length), length % (stride * 4) == 0);
        for (int i = 0; i < 250; ++i)
            check(Mutated(seed, random), i % 5 == 0);
    }
    EXPECT_GT(converted, 500u);
}

TEST_F(MimeCorpusTest, PathologicalInputsStayBounded)
{
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b\n\n--b\n";
    std::string words = "Subject: ";
    for (int i = 0; i < 100000; ++i)
        words += "=?a?Q?";
    std::string parts = "Content-Type: multipart/mixed; boundary=p\n\n";
    for (int i = 0; i < 30000; ++i)
        parts += "--p\n\n.\n";
    const std::string inputs[] = {
        deep,
        words + "\n\nx",
        "From: " + std::string(200000, '(') + "\n\nx",
        "Subject: " + std::string(1 << 20, 'x') + "\n\nx",
        parts,
        "Content-Type: message/rfc822\n\n" + std::string(3000, '\n'),
        std::string(100000, '\n'),
        "To: " + std::string(50000, ',') + "\n\n",
        "Content-Type: text/plain; " + std::string(100000, ';') + "\n\nx",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.substr(0, 40));
        CStorageMessage target;
        EXPECT_EQ(S_OK, m_converter->MIMEToMAPI(StreamOf(input).Get(), target.Get(), nullptr, CCSF_SMTP));
    }
}

} // namespace
