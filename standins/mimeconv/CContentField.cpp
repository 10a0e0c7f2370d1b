#include "Platform.h"
#include "CContentField.h"
#include "CEncodedWords.h"
#include "CMimeCharset.h"

#include <cstdlib>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return text;
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>((high << 4) | low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// The main value: up to the first ';' outside quotes, without comments and blanks.
size_t MainValue(const std::string& raw, std::string& value)
{
    size_t i = 0;
    int commentDepth = 0;
    bool quoted = false;
    for (; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quoted) {
            if (c == '\\' && i + 1 < raw.size())
                value.push_back(raw[++i]);
            else if (c == '"')
                quoted = false;
            else
                value.push_back(c);
            continue;
        }
        if (commentDepth > 0) {
            if (c == '\\' && i + 1 < raw.size())
                ++i;
            else if (c == '(')
                ++commentDepth;
            else if (c == ')')
                --commentDepth;
            continue;
        }
        if (c == ';')
            break;
        if (c == '(')
            commentDepth = 1;
        else if (c == '"')
            quoted = true;
        else if (!IsBlank(c))
            value.push_back(c);
    }
    value = Lower(value);
    return i;
}

struct Collected {
    std::string plain;
    bool hasPlain = false;
    std::string single; // "name*=" value
    bool hasSingle = false;
    std::map<int, std::pair<std::string, bool>> sections; // index -> value, extended
};

} // namespace

CContentField CContentField::Parse(const std::string& raw)
{
    CContentField field;
    size_t i = MainValue(raw, field.m_value);

    std::map<std::string, Collected> collected;
    size_t count = 0;
    while (i < raw.size() && count < kMaxParameters) {
        while (i < raw.size() && (raw[i] == ';' || IsBlank(raw[i])))
            ++i;
        const size_t nameStart = i;
        while (i < raw.size() && raw[i] != '=' && raw[i] != ';')
            ++i;
        std::string name = Lower(Trimmed(raw.substr(nameStart, i - nameStart)));
        if (i >= raw.size() || raw[i] != '=')
            continue;
        ++i;
        while (i < raw.size() && IsBlank(raw[i]))
            ++i;
        std::string value;
        if (i < raw.size() && raw[i] == '"') {
            ++i;
            while (i < raw.size() && raw[i] != '"') {
                if (raw[i] == '\\' && i + 1 < raw.size())
                    ++i;
                value.push_back(raw[i]);
                ++i;
            }
            while (i < raw.size() && raw[i] != ';')
                ++i;
        } else {
            const size_t valueStart = i;
            while (i < raw.size() && raw[i] != ';')
                ++i;
            value = Trimmed(raw.substr(valueStart, i - valueStart));
        }
        if (name.empty())
            continue;
        ++count;

        bool extended = false;
        if (name.back() == '*') {
            extended = true;
            name.pop_back();
        }
        int section = -1;
        const size_t star = name.rfind('*');
        if (star != std::string::npos && star + 1 < name.size() && star + 5 > name.size() &&
            name.find_first_not_of("0123456789", star + 1) == std::string::npos) {
            section = std::atoi(name.c_str() + star + 1);
            name.erase(star);
        }
        Collected& entry = collected[name];
        if (section >= 0 && section <= kMaxSection) {
            entry.sections.emplace(section, std::make_pair(value, extended));
        } else if (section < 0 && extended) {
            entry.single = value;
            entry.hasSingle = true;
        } else if (section < 0 && !entry.hasPlain) {
            entry.plain = value;
            entry.hasPlain = true;
        }
    }

    // "charset'language'text": the charset, and the rest percent-decoded.
    auto splitExtended = [](const std::string& text, Parameter& parameter) {
        const size_t first = text.find('\'');
        const size_t second = first == std::string::npos ? first : text.find('\'', first + 1);
        if (second == std::string::npos) {
            parameter.bytes += PercentDecoded(text);
            return;
        }
        parameter.charset = text.substr(0, first);
        parameter.bytes += PercentDecoded(text.substr(second + 1));
    };
    for (auto& item : collected) {
        Collected& entry = item.second;
        Parameter parameter;
        if (!entry.sections.empty()) {
            parameter.extended = true;
            bool first = true;
            for (const auto& section : entry.sections) {
                const std::string& text = section.second.first;
                if (first && section.second.second)
                    splitExtended(text, parameter);
                else
                    parameter.bytes += section.second.second ? PercentDecoded(text) : text;
                first = false;
            }
            // Continuations without any encoded section are plain text.
            bool anyEncoded = false;
            for (const auto& section : entry.sections)
                anyEncoded = anyEncoded || section.second.second;
            parameter.extended = anyEncoded;
        } else if (entry.hasSingle) {
            parameter.extended = true;
            splitExtended(entry.single, parameter);
        } else {
            parameter.bytes = entry.plain;
        }
        field.m_parameters[item.first] = parameter;
    }
    return field;
}

bool CContentField::Has(const std::string& name) const
{
    return m_parameters.count(Lower(name)) != 0;
}

std::string CContentField::Raw(const std::string& name) const
{
    auto it = m_parameters.find(Lower(name));
    return it == m_parameters.end() ? std::string() : it->second.bytes;
}

std::wstring CContentField::Text(const std::string& name) const
{
    auto it = m_parameters.find(Lower(name));
    if (it == m_parameters.end())
        return std::wstring();
    const Parameter& parameter = it->second;
    if (parameter.extended)
        return CMimeCharset::ToWide(parameter.bytes, parameter.charset);
    return CEncodedWords::Decode(parameter.bytes);
}
