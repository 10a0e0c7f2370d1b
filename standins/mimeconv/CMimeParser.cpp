#include "Platform.h"
#include "CMimeParser.h"
#include "CMimeDecoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One line of [pos, end): where its content ends (without "\r\n" or "\n")
// and where the next line starts.
struct Line {
    size_t start;
    size_t contentEnd;
    size_t next;
};

Line LineAt(const std::string& s, size_t pos, size_t end)
{
    const void* found = std::memchr(s.data() + pos, '\n', end - pos);
    const size_t newline = found ? static_cast<size_t>(static_cast<const char*>(found) - s.data()) : end;
    size_t contentEnd = newline;
    if (contentEnd > pos && s[contentEnd - 1] == '\r')
        --contentEnd;
    return Line{pos, contentEnd, newline < end ? newline + 1 : end};
}

std::string Trimmed(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (IsBlank(text[begin]) || text[begin] == '\r' || text[begin] == '\n'))
        ++begin;
    while (end > begin && (IsBlank(text[end - 1]) || text[end - 1] == '\r' || text[end - 1] == '\n'))
        --end;
    return text.substr(begin, end - begin);
}

bool EqualsIgnoringCase(const std::string& a, const char* b)
{
    const size_t length = std::strlen(b);
    if (a.size() != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = a[i];
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        char d = b[i];
        d = static_cast<char>(d >= 'A' && d <= 'Z' ? d + 32 : d);
        if (c != d)
            return false;
    }
    return true;
}

bool IsTokenChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 32 && u < 127 && !std::strchr("()<>@,;:\\\"/[]?=", c);
}

// "type/subtype" made of tokens.
bool IsValidType(const std::string& value)
{
    const size_t slash = value.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == value.size())
        return false;
    for (size_t i = 0; i < value.size(); ++i) {
        if (i != slash && !IsTokenChar(value[i]))
            return false;
    }
    return true;
}

} // namespace

void CMimeHeaders::Add(std::string name, std::string value)
{
    m_fields.push_back(Field{std::move(name), std::move(value)});
}

void CMimeHeaders::ContinueLast(const char* data, size_t size)
{
    if (!m_fields.empty())
        m_fields.back().value.append(data, size);
}

void CMimeHeaders::TrimValues()
{
    for (Field& field : m_fields)
        field.value = Trimmed(field.value);
}

const std::string* CMimeHeaders::Find(const char* name) const
{
    for (const Field& field : m_fields) {
        if (EqualsIgnoringCase(field.name, name))
            return &field.value;
    }
    return nullptr;
}

std::vector<const std::string*> CMimeHeaders::FindAll(const char* name) const
{
    std::vector<const std::string*> values;
    for (const Field& field : m_fields) {
        if (EqualsIgnoringCase(field.name, name))
            values.push_back(&field.value);
    }
    return values;
}

std::string CMimePart::MainType() const
{
    return contentType.substr(0, contentType.find('/'));
}

std::string CMimePart::Subtype() const
{
    const size_t slash = contentType.find('/');
    return slash == std::string::npos ? std::string() : contentType.substr(slash + 1);
}

std::string CMimePart::DecodedBody() const
{
    return CMimeDecoder::Decode(transferEncoding, Body(), bodySize);
}

std::wstring CMimePart::FileName() const
{
    if (disposition.Has("filename")) {
        std::wstring name = disposition.Text("filename");
        if (!name.empty())
            return name;
    }
    return typeField.Text("name");
}

std::unique_ptr<CMimePart> CMimeParser::Parse(std::shared_ptr<const std::string> data)
{
    CMimeParser parser;
    const size_t size = data->size();
    return parser.Entity(data, 0, size, 0, "text/plain", true);
}

std::unique_ptr<CMimePart> CMimeParser::Entity(const std::shared_ptr<const std::string>& source, size_t begin,
                                               size_t end, size_t depth, const char* defaultType, bool topLevel)
{
    ++m_parts;
    auto part = std::make_unique<CMimePart>();
    part->source = source;
    Headers(*part, begin, end, topLevel);
    Interpret(*part, defaultType);
    const bool nested = part->IsMultipart() || part->contentType == "message/rfc822" ||
                        part->contentType == "message/global";
    if (nested && depth >= kMaxDepth) {
        // Too deep to open: kept whole as opaque data.
        part->contentType = "application/octet-stream";
        part->truncated = true;
    } else if (part->IsMultipart()) {
        Multipart(*part, depth);
    } else if (nested) {
        Enclosed(*part, depth);
    }
    return part;
}

void CMimeParser::Headers(CMimePart& part, size_t begin, size_t end, bool topLevel)
{
    const std::string& s = *part.source;
    size_t pos = begin;
    if (topLevel && end - pos >= 5 && s.compare(pos, 5, "From ") == 0)
        pos = LineAt(s, pos, end).next;
    part.headerOffset = pos;
    part.bodyOffset = end;
    bool haveField = false;
    size_t fields = 0;
    while (pos < end) {
        const Line line = LineAt(s, pos, end);
        if (line.contentEnd == line.start) {
            part.bodyOffset = line.next;
            break;
        }
        if (IsBlank(s[pos])) {
            // A continuation line; one before any field is dropped.
            if (haveField)
                part.headers.ContinueLast(s.data() + pos, line.contentEnd - pos);
            pos = line.next;
            continue;
        }
        const void* colonAt = std::memchr(s.data() + pos, ':', line.contentEnd - pos);
        size_t nameEnd = colonAt ? static_cast<size_t>(static_cast<const char*>(colonAt) - s.data()) : pos;
        const size_t colon = nameEnd;
        while (nameEnd > pos && IsBlank(s[nameEnd - 1]))
            --nameEnd;
        bool validName = colonAt && nameEnd > pos;
        for (size_t i = pos; validName && i < nameEnd; ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            validName = c > 32 && c < 127;
        }
        if (!validName) {
            // Not a header field: the body starts on this line.
            part.bodyOffset = pos;
            break;
        }
        if (fields < kMaxFields) {
            part.headers.Add(s.substr(pos, nameEnd - pos), s.substr(colon + 1, line.contentEnd - colon - 1));
            haveField = true;
            ++fields;
        } else {
            haveField = false;
            part.truncated = true;
        }
        pos = line.next;
    }
    part.headerSize = (part.bodyOffset > part.headerOffset ? part.bodyOffset : part.headerOffset) - part.headerOffset;
    part.bodySize = end - part.bodyOffset;
    part.headers.TrimValues();
}

void CMimeParser::Interpret(CMimePart& part, const char* defaultType)
{
    if (const std::string* type = part.headers.Find("Content-Type")) {
        part.typeField = CContentField::Parse(*type);
        part.contentType = IsValidType(part.typeField.Value()) ? part.typeField.Value() : "text/plain";
    } else {
        part.contentType = defaultType;
    }
    if (const std::string* disposition = part.headers.Find("Content-Disposition"))
        part.disposition = CContentField::Parse(*disposition);
    if (const std::string* encoding = part.headers.Find("Content-Transfer-Encoding")) {
        for (char c : *encoding) {
            if (!IsBlank(c) && c != '"')
                part.transferEncoding.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
        }
    }
}

void CMimeParser::Multipart(CMimePart& part, size_t depth)
{
    const std::string& s = *part.source;
    const std::string boundary = part.typeField.Raw("boundary");
    const std::string delimiter = "--" + boundary;
    const size_t end = part.bodyOffset + part.bodySize;

    std::vector<Delimiter> delimiters;
    size_t pos = part.bodyOffset;
    while (!boundary.empty() && pos < end) {
        const Line line = LineAt(s, pos, end);
        const size_t length = line.contentEnd - line.start;
        bool isDelimiter = length >= delimiter.size() && s.compare(line.start, delimiter.size(), delimiter) == 0;
        bool isClose = false;
        if (isDelimiter) {
            size_t rest = line.start + delimiter.size();
            if (line.contentEnd - rest >= 2 && s[rest] == '-' && s[rest + 1] == '-') {
                isClose = true;
                rest += 2;
            }
            for (; rest < line.contentEnd && isDelimiter; ++rest)
                isDelimiter = IsBlank(s[rest]);
        }
        if (isDelimiter)
            delimiters.push_back(Delimiter{line.start, line.next, isClose});
        pos = line.next;
    }
    // The first delimiter that opens a part; a body without one is read as text.
    size_t next = 0;
    while (next < delimiters.size() && delimiters[next].close)
        ++next;
    if (next == delimiters.size()) {
        part.contentType = "text/plain";
        return;
    }
    Parts(part, boundary, delimiters, next, end, depth);
}

bool CMimeParser::Parts(CMimePart& part, const std::string& boundary, const std::vector<Delimiter>& delimiters,
                        size_t& next, size_t end, size_t depth)
{
    const std::string& s = *part.source;
    const char* childType = part.contentType == "multipart/digest" ? "message/rfc822" : "text/plain";
    while (next < delimiters.size()) {
        const Delimiter& opening = delimiters[next++];
        if (opening.close)
            return true;
        const size_t start = opening.next;
        size_t partEnd = end;
        if (next < delimiters.size()) {
            // The line break before a delimiter belongs to the delimiter.
            partEnd = delimiters[next].lineStart;
            if (partEnd > start && s[partEnd - 1] == '\n')
                --partEnd;
            if (partEnd > start && s[partEnd - 1] == '\r')
                --partEnd;
            partEnd = std::max(partEnd, start);
        } else {
            part.truncated = true;
        }
        if (m_parts >= kMaxParts) {
            part.truncated = true;
            return false;
        }
        part.children.push_back(Entity(part.source, start, partEnd, depth + 1, childType, false));
        CMimePart& child = *part.children.back();
        // Some mailers give a nested multipart its parent's boundary: the
        // parts that follow, up to a closing delimiter, are its own.
        const bool sharesBoundary = child.children.empty() &&
                                    child.typeField.Value().compare(0, 10, "multipart/") == 0 &&
                                    child.typeField.Raw("boundary") == boundary;
        if (sharesBoundary && depth + 1 < kMaxDepth) {
            child.contentType = child.typeField.Value();
            // After the nested close the parent goes on with its next delimiter.
            if (!Parts(child, boundary, delimiters, next, end, depth + 1))
                part.truncated = true;
        }
    }
    return false;
}

void CMimeParser::Enclosed(CMimePart& part, size_t depth)
{
    if (m_parts >= kMaxParts) {
        part.truncated = true;
        return;
    }
    if (part.transferEncoding == "base64" || part.transferEncoding == "quoted-printable") {
        auto decoded = std::make_shared<const std::string>(part.DecodedBody());
        part.children.push_back(Entity(decoded, 0, decoded->size(), depth + 1, "text/plain", false));
    } else {
        part.children.push_back(
            Entity(part.source, part.bodyOffset, part.bodyOffset + part.bodySize, depth + 1, "text/plain", false));
    }
}
