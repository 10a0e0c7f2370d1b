#include "MapiStandin.h"
#include "CRtfText.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace {

// Destinations whose content is not body text.
const char* const kSkipped[] = {"fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "header",
                                "footer", "headerl", "headerr", "headerf", "footerl", "footerr", "footerf",
                                "listtable", "listoverridetable", "rsidtbl", "generator", "xmlnstbl",
                                "themedata", "colorschememapping", "latentstyles", "datastore", "fldinst",
                                "filetbl", "revtbl", "pgdsctbl", "mmathPr", "nonshppict", "bkmkstart", "bkmkend"};

bool IsSkipped(const std::string& word)
{
    for (const char* name : kSkipped)
        if (word == name)
            return true;
    return false;
}

struct GroupState {
    bool skip = false;
    int fallback = 1; // characters after \uN that stand in for it
};

class CExtractor {
public:
    explicit CExtractor(const std::string& rtf) : m_rtf(rtf) {}

    std::wstring Run()
    {
        std::vector<GroupState> stack;
        GroupState state;
        bool groupStart = false;
        size_t i = 0;
        while (i < m_rtf.size()) {
            char c = m_rtf[i];
            if (c == '{') {
                Flush();
                stack.push_back(state);
                groupStart = true;
                ++i;
                continue;
            }
            if (c == '}') {
                Flush();
                if (!stack.empty()) {
                    state = stack.back();
                    stack.pop_back();
                }
                m_pendingFallback = 0;
                groupStart = false;
                ++i;
                continue;
            }
            if (c == '\r' || c == '\n') {
                ++i;
                continue;
            }
            if (c != '\\') {
                Byte(state, static_cast<BYTE>(c));
                groupStart = false;
                ++i;
                continue;
            }
            // A control word or symbol.
            ++i;
            if (i >= m_rtf.size())
                break;
            char s = m_rtf[i];
            if (std::isalpha(static_cast<unsigned char>(s))) {
                size_t start = i;
                while (i < m_rtf.size() && std::isalpha(static_cast<unsigned char>(m_rtf[i])))
                    ++i;
                std::string word = m_rtf.substr(start, i - start);
                bool hasParam = false;
                long param = 0;
                size_t paramStart = i;
                if (i < m_rtf.size() && (m_rtf[i] == '-' || std::isdigit(static_cast<unsigned char>(m_rtf[i])))) {
                    ++i;
                    while (i < m_rtf.size() && std::isdigit(static_cast<unsigned char>(m_rtf[i])))
                        ++i;
                    param = std::strtol(m_rtf.substr(paramStart, i - paramStart).c_str(), nullptr, 10);
                    hasParam = true;
                }
                if (i < m_rtf.size() && m_rtf[i] == ' ')
                    ++i;
                Word(state, word, hasParam, param, groupStart);
                groupStart = false;
                continue;
            }
            ++i;
            switch (s) {
            case '*':
                if (groupStart)
                    state.skip = true;
                break;
            case '\'':
                if (i + 2 <= m_rtf.size()) {
                    BYTE value = static_cast<BYTE>(std::strtol(m_rtf.substr(i, 2).c_str(), nullptr, 16));
                    i += 2;
                    Byte(state, value);
                }
                break;
            case '\\':
            case '{':
            case '}':
                Byte(state, static_cast<BYTE>(s));
                break;
            case '~':
                Wide(state, 0x00A0);
                break;
            case '_':
                Wide(state, L'-');
                break;
            case '\r':
            case '\n':
                Wide(state, L'\r');
                Wide(state, L'\n');
                break;
            default:
                break;
            }
            groupStart = false;
        }
        Flush();
        return m_text;
    }

private:
    void Word(GroupState& state, const std::string& word, bool hasParam, long param, bool groupStart)
    {
        if (groupStart && IsSkipped(word)) {
            state.skip = true;
            return;
        }
        if (word == "par" || word == "line" || word == "sect" || word == "row") {
            Wide(state, L'\r');
            Wide(state, L'\n');
        } else if (word == "tab" || word == "cell") {
            Wide(state, L'\t');
        } else if (word == "ansicpg" && hasParam) {
            m_codePage = static_cast<UINT>(param);
        } else if (word == "uc" && hasParam) {
            state.fallback = param < 0 ? 0 : static_cast<int>(param);
        } else if (word == "u" && hasParam) {
            Wide(state, static_cast<WCHAR>(param < 0 ? param + 65536 : param));
            m_pendingFallback = state.fallback;
        } else if (word == "emdash") {
            Wide(state, 0x2014);
        } else if (word == "endash") {
            Wide(state, 0x2013);
        } else if (word == "bullet") {
            Wide(state, 0x2022);
        } else if (word == "lquote") {
            Wide(state, 0x2018);
        } else if (word == "rquote") {
            Wide(state, 0x2019);
        } else if (word == "ldblquote") {
            Wide(state, 0x201C);
        } else if (word == "rdblquote") {
            Wide(state, 0x201D);
        }
    }

    void Byte(const GroupState& state, BYTE b)
    {
        if (m_pendingFallback > 0) {
            --m_pendingFallback;
            return;
        }
        if (!state.skip)
            m_bytes.push_back(static_cast<char>(b));
    }

    void Wide(const GroupState& state, WCHAR w)
    {
        Flush();
        if (!state.skip)
            m_text.push_back(w);
    }

    void Flush()
    {
        if (m_bytes.empty())
            return;
        int length = MultiByteToWideChar(m_codePage, 0, m_bytes.data(), static_cast<int>(m_bytes.size()), nullptr, 0);
        if (length <= 0) {
            for (char b : m_bytes)
                m_text.push_back(static_cast<WCHAR>(static_cast<BYTE>(b)));
        } else {
            std::wstring converted(static_cast<size_t>(length), L'\0');
            MultiByteToWideChar(m_codePage, 0, m_bytes.data(), static_cast<int>(m_bytes.size()), &converted[0], length);
            m_text += converted;
        }
        m_bytes.clear();
    }

    const std::string& m_rtf;
    std::wstring m_text;
    std::string m_bytes;
    UINT m_codePage = 1252;
    int m_pendingFallback = 0;
};

} // namespace

std::wstring CRtfText::ToText(const std::string& rtf)
{
    return CExtractor(rtf).Run();
}

std::string CRtfText::FromText(const std::wstring& text)
{
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\uc1\\pard\\f0\\fs20 ";
    for (size_t i = 0; i < text.size(); ++i) {
        WCHAR c = text[i];
        switch (c) {
        case L'\\': rtf += "\\\\"; break;
        case L'{': rtf += "\\{"; break;
        case L'}': rtf += "\\}"; break;
        case L'\t': rtf += "\\tab "; break;
        case L'\r': break;
        case L'\n': rtf += "\\par\r\n"; break;
        default:
            if (c < 0x80) {
                rtf.push_back(static_cast<char>(c));
            } else {
                rtf += "\\u" + std::to_string(static_cast<short>(c)) + "?";
            }
            break;
        }
    }
    rtf += "}";
    return rtf;
}
