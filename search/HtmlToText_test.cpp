#include "SearchPlatform.h"
#include "HtmlToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using searchtest::TextOf;

namespace {

// {5E7B0C41-7A0D-4B1E-9C61-2F8D3A10B901}
const CLSID kScriptedFilter = {0x5e7b0c41, 0x7a0d, 0x4b1e, {0x9c, 0x61, 0x2f, 0x8d, 0x3a, 0x10, 0xb9, 0x01}};
constexpr wchar_t kScriptedFilterText[] = L"{5E7B0C41-7A0D-4B1E-9C61-2F8D3A10B901}";
constexpr wchar_t kHandlerText[] = L"{5E7B0C42-7A0D-4B1E-9C61-2F8D3A10B901}";
constexpr wchar_t kFilterAddin[] = L"PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";

// What the scripted filter answers, call by call.
struct Piece {
    std::wstring text;
    HRESULT hr = S_OK;
};
struct Chunk {
    std::vector<Piece> pieces;
    CHUNK_BREAKTYPE breakType = CHUNK_NO_BREAK;
    HRESULT hr = S_OK; // of GetChunk
    CHUNKSTATE flags = CHUNK_TEXT;
};
struct Script {
    std::vector<Chunk> chunks;
    HRESULT loadResult = S_OK;
    HRESULT initResult = S_OK;
    bool persist = true;
    // Filled in by the filter.
    ULONG initFlags = 0;
    ULONG textCalls = 0;
};
Script g_script;

class CScriptedFilter : public common::CUnknownImpl<CScriptedFilter, IFilter, IPersistStream> {
public:
    static HRESULT Make(REFIID riid, void** ppv) { return CreateInstance(riid, ppv); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!g_script.persist && IsEqualIID(riid, IID_IPersistStream)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return CUnknownImpl::QueryInterface(riid, ppv);
    }

    STDMETHODIMP Init(ULONG grfFlags, ULONG, const FULLPROPSPEC*, ULONG* pFlags) override
    {
        g_script.initFlags = grfFlags;
        *pFlags = 0;
        return g_script.initResult;
    }
    STDMETHODIMP GetChunk(STAT_CHUNK* pStat) override
    {
        if (++m_chunk >= static_cast<int>(g_script.chunks.size()))
            return FILTER_E_END_OF_CHUNKS;
        m_piece = 0;
        const Chunk& chunk = g_script.chunks[m_chunk];
        *pStat = STAT_CHUNK{};
        pStat->idChunk = m_chunk + 1;
        pStat->breakType = chunk.breakType;
        pStat->flags = chunk.flags;
        return chunk.hr;
    }
    STDMETHODIMP GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) override
    {
        ++g_script.textCalls;
        const Chunk& chunk = g_script.chunks[m_chunk];
        if (m_piece >= chunk.pieces.size())
            return FILTER_E_NO_MORE_TEXT;
        const Piece& piece = chunk.pieces[m_piece++];
        const ULONG count = std::min<ULONG>(*pcwcBuffer, static_cast<ULONG>(piece.text.size()));
        std::copy(piece.text.begin(), piece.text.begin() + count, awcBuffer);
        *pcwcBuffer = count;
        return piece.hr;
    }
    STDMETHODIMP GetValue(PROPVARIANT**) override { return FILTER_E_NO_VALUES; }
    STDMETHODIMP BindRegion(FILTERREGION, REFIID, void**) override { return E_NOTIMPL; }

    STDMETHODIMP GetClassID(CLSID* clsid) override
    {
        *clsid = kScriptedFilter;
        return S_OK;
    }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(IStream*) override { return g_script.loadResult; }
    STDMETHODIMP Save(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

private:
    int m_chunk = -1;
    size_t m_piece = 0;
};

class CScriptedFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return CScriptedFilter::Make(riid, ppv); }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
CScriptedFactory g_factory;

// HKEY_CLASSES_ROOT of this process redirected to a scratch key for the test.
class CClassesOverride {
public:
    CClassesOverride()
    {
        static int counter = 0;
        m_path = L"Software\\VostrelSearchTest\\" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(++counter);
        RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &m_key, nullptr);
        EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_CLASSES_ROOT, m_key));
    }
    ~CClassesOverride()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    void Set(const std::wstring& key, const std::wstring& value)
    {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueW(m_key, key.c_str(), REG_SZ, value.c_str(),
                                              static_cast<DWORD>(value.size() * sizeof(wchar_t))));
    }
    // The registration a handler whose filter is clsidText makes.
    void RegisterHandler(const std::wstring& clsidText)
    {
        Set(L".html\\PersistentHandler", kHandlerText);
        Set(std::wstring(L"CLSID\\") + kHandlerText + L"\\" + kFilterAddin, clsidText);
    }

private:
    std::wstring m_path;
    HKEY m_key = nullptr;
};

class HtmlToTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_script = Script{};
        ASSERT_EQ(S_OK, CoRegisterClassObject(kScriptedFilter, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                              &m_cookie));
        m_classes.RegisterHandler(kScriptedFilterText);
    }
    void TearDown() override { CoRevokeClassObject(m_cookie); }

    // The converter's output, and its failure text ("" when none).
    std::wstring Run(std::wstring* failure = nullptr, IStream* output = nullptr)
    {
        ComPtr<IStream> memory = searchtest::EmptyStream();
        if (!output)
            output = memory.Get();
        if (failure)
            failure->clear();
        try {
            HtmlToText converter;
            converter.Convert(searchtest::StreamOf("<p>ignored by the script</p>").Get(), output);
        } catch (const CException& error) {
            if (!failure)
                ADD_FAILURE() << error.GetText();
            else
                *failure = error.GetText();
        }
        return TextOf(memory.Get());
    }

    searchtest::CComScope m_com;
    CClassesOverride m_classes;
    DWORD m_cookie = 0;
};

Chunk Text(CHUNK_BREAKTYPE breakType, std::vector<std::wstring> pieces)
{
    Chunk chunk;
    chunk.breakType = breakType;
    for (auto& text : pieces)
        chunk.pieces.push_back({text});
    return chunk;
}

TEST_F(HtmlToTextTest, TheFilterIsFoundThroughThePersistentHandlerAndInitialisedForIndexing)
{
    HtmlToText converter;
    converter.GetHtmlFilterClsid();
    EXPECT_TRUE(IsEqualCLSID(kScriptedFilter, converter.FilterClsid()));
    g_script.chunks = {Text(CHUNK_NO_BREAK, {L"text"})};
    EXPECT_EQ(L"text", Run());
    EXPECT_EQ(0x5Du, g_script.initFlags);
}

TEST_F(HtmlToTextTest, ChunkBreaksAndTrimmedPiecesMakeTheText)
{
    struct Case {
        const char* name;
        std::vector<Chunk> chunks;
        const wchar_t* text;
    } cases[] = {
        {"breaks", {Text(CHUNK_NO_BREAK, {L"  Hello  "}), Text(CHUNK_EOW, {L"world"}), Text(CHUNK_EOP, {L"Next"}),
                    Text(CHUNK_EOS, {L"s"}), Text(CHUNK_EOC, {L"c"})},
         L"Hello world\r\nNext\r\ns\r\nc"},
        {"a piece of only white space writes nothing but its break",
         {Text(CHUNK_NO_BREAK, {L"a"}), Text(CHUNK_EOW, {L" \t\r\n "}), Text(CHUNK_NO_BREAK, {L"b"})}, L"a b"},
        {"one character between blanks", {Text(CHUNK_NO_BREAK, {L"   x\t"})}, L"x"},
        {"white space between pieces keeps words apart",
         {Text(CHUNK_NO_BREAK, {L"alpha ", L"beta", L"  ", L"gamma", L" delta"})}, L"alpha beta gamma delta"},
        {"a word split between pieces stays whole", {Text(CHUNK_NO_BREAK, {L"infor", L"mation"})}, L"information"},
        {"a NUL inside the text is a blank, not the end", {Text(CHUNK_NO_BREAK, {std::wstring(L"a\0b", 3)})}, L"a b"},
        {"folded punctuation", {Text(CHUNK_NO_BREAK, {L"\x201Cquoted\x201D \xFF21\xFF22 \xE000|\xF8FF"})},
         L"\"quoted\" AB  |\xF8FF"},
        {"no chunks", {}, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_script.chunks = c.chunks;
        EXPECT_EQ(c.text, Run());
    }
}

TEST_F(HtmlToTextTest, ChunksWithoutTextAndUnavailableOnesAreSkipped)
{
    Chunk value = Text(CHUNK_EOP, {L"never read"});
    value.flags = CHUNK_VALUE;
    Chunk embedding = Text(CHUNK_EOP, {L"x"});
    embedding.hr = FILTER_E_EMBEDDING_UNAVAILABLE;
    Chunk link = Text(CHUNK_EOP, {L"y"});
    link.hr = FILTER_E_LINK_UNAVAILABLE;
    g_script.chunks = {Text(CHUNK_NO_BREAK, {L"one"}), value, embedding, link, Text(CHUNK_EOW, {L"two"})};
    EXPECT_EQ(L"one two", Run());
}

TEST_F(HtmlToTextTest, TheLastTextOfAChunkEndsItsTextLoop)
{
    Chunk chunk = Text(CHUNK_NO_BREAK, {L"final", L"not asked for"});
    chunk.pieces[0].hr = FILTER_S_LAST_TEXT;
    g_script.chunks = {chunk, Text(CHUNK_EOW, {L"next"})};
    EXPECT_EQ(L"final next", Run());
    EXPECT_EQ(3u, g_script.textCalls); // "final", then "next" and its end
}

TEST_F(HtmlToTextTest, FailuresNameTheStepAndKeepWhatWasWritten)
{
    struct Case {
        const char* name;
        void (*setUp)(Script&);
        const wchar_t* failure;
        const wchar_t* written;
    } cases[] = {
        {"load", [](Script& s) { s.loadResult = E_FAIL; }, L"fail to load html filter, error=80004005", L""},
        {"no persistence", [](Script& s) { s.persist = false; }, L"fail to get IPersistStream for html filter", L""},
        {"init", [](Script& s) { s.initResult = E_ACCESSDENIED; },
         L"html filter initialization is failed, error=80070005", L""},
        {"chunk", [](Script& s) {
             Chunk denied = Text(CHUNK_EOP, {L"z"});
             denied.hr = FILTER_E_ACCESS;
             s.chunks = {Text(CHUNK_NO_BREAK, {L"kept"}), denied, Text(CHUNK_EOP, {L"lost"})};
         }, L"cannot get next chunk from html filter, error=80041703", L"kept"},
        {"text", [](Script& s) {
             Chunk chunk = Text(CHUNK_NO_BREAK, {L"kept", L"lost"});
             chunk.pieces[1].hr = E_OUTOFMEMORY;
             s.chunks = {chunk};
         }, L"cannot get text from html filter, error=8007000e", L"kept"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_script = Script{};
        c.setUp(g_script);
        std::wstring failure;
        EXPECT_EQ(c.written, Run(&failure));
        EXPECT_EQ(c.failure, failure);
    }
    g_script = Script{};
    g_script.chunks = {Text(CHUNK_NO_BREAK, {L"text"})};
    std::wstring failure;
    Run(&failure, searchtest::CFailingStream::Make(STG_E_MEDIUMFULL).Get());
    EXPECT_EQ(L"cannot write text to ouput stream, error=80030070", failure);
}

TEST_F(HtmlToTextTest, AMissingOrBrokenRegistrationIsReportedWithItsKey)
{
    const std::wstring addinKey = std::wstring(L"CLSID\\") + kHandlerText + L"\\" + kFilterAddin;
    struct Case {
        const char* name;
        const wchar_t* handler;   // null: no ".HTML" handler
        const wchar_t* filter;    // null: no IFilter add-in under it
        std::wstring failure;
    } cases[] = {
        {"no handler", nullptr, nullptr, L"cannot get filter classid, regvalue=.HTML\\PersistentHandler"},
        {"no filter under the handler", kHandlerText, nullptr, L"cannot get filter classid, regvalue=" + addinKey},
        {"not a class id", kHandlerText, L"html-filter", L"cannot get filter classid from string=html-filter"},
        {"class not registered", kHandlerText, L"{5E7B0C43-7A0D-4B1E-9C61-2F8D3A10B901}",
         L"cannot create html filter, error=80040154"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CClassesOverride classes; // a fresh, empty tree over the fixture's
        if (c.handler)
            classes.Set(L".HTML\\PersistentHandler", c.handler);
        if (c.filter)
            classes.Set(addinKey, c.filter);
        std::wstring failure;
        Run(&failure);
        EXPECT_EQ(c.failure, failure);
    }
}

} // namespace

namespace {

// The converter over the stand-in filter, registered in the prefix by its
// own module as a system registers its HTML filter.
class HtmlToTextThroughTheHtmlFilter : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        HMODULE module = LoadLibraryW(L"htmlfilter.dll");
        ASSERT_NE(nullptr, module);
        auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllRegisterServer"));
        ASSERT_NE(nullptr, registerServer);
        EXPECT_EQ(S_OK, registerServer());
        FreeLibrary(module);
    }

    std::wstring Convert(HtmlToText& converter, const std::string& html)
    {
        ComPtr<IStream> output = searchtest::EmptyStream();
        converter.Convert(searchtest::StreamOf(html).Get(), output.Get());
        return TextOf(output.Get());
    }

    searchtest::CComScope m_com;
};

TEST_F(HtmlToTextThroughTheHtmlFilter, HtmlBodiesBecomeTheirText)
{
    struct Case {
        const char* name;
        std::string html;
        const wchar_t* text;
    } cases[] = {
        {"paragraphs", "<html><body><p>One</p><p>Two</p></body></html>", L"One\r\nTwo"},
        {"entities", "<p>Fish &amp; chips &lt;today&gt; &#8211; &euro;5&nbsp;only, caf&eacute;</p>",
         L"Fish & chips <today> - \x20AC" L"5 only, café"},
        {"scripts and styles", "<head><style>.x{font:bold}</style><script>alert('no')</script></head>"
                               "<body>Visible<script>var hidden = 1;</script> text</body>",
         L"Visible text"},
        {"tables", "<table><tr><td>Name</td><td>Amount</td></tr><tr><td>Anna</td><td>12</td></tr></table>",
         L"Name Amount\r\nAnna 12"},
        {"declared code page and smart quotes",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">"
         "<p>\x93Quoted\x94 don\x92t</p>",
         L"\"Quoted\" don't"},
        {"CJK", "<meta charset=\"utf-8\"><p>\xE4\xB8\xAD\xE6\x96\x87 \xEF\xBC\xA1\xEF\xBC\xA2</p>", L"中文 AB"},
        {"empty page", "", L""},
    };
    HtmlToText converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.text, Convert(converter, c.html));
    }
}

TEST_F(HtmlToTextThroughTheHtmlFilter, LongParagraphsKeepTheirWordsApartAcrossPieces)
{
    std::string html = "<p>";
    std::wstring expected;
    for (int i = 0; i < 3000; ++i) {
        html += (i ? " word" : "word") + std::to_string(i);
        expected += (i ? L" word" : L"word") + std::to_wstring(i);
    }
    html += "</p>";
    HtmlToText converter;
    EXPECT_EQ(expected, Convert(converter, html));
}

} // namespace
