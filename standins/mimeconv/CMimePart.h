// One entity of a MIME message: its header fields, its content type and
// disposition, and its body as a range of the bytes it was parsed from. A
// multipart entity holds its parts as children; a message/rfc822 entity holds
// the enclosed message as its one child. Parts share the bytes they were
// parsed from (a decoded enclosed message gets bytes of its own).
#pragma once
#include "CContentField.h"

#include <memory>
#include <string>
#include <vector>

class CMimeHeaders {
public:
    struct Field {
        std::string name;  // as written
        std::string value; // unfolded: line breaks of continuation lines removed
    };

    void Add(std::string name, std::string value);
    // A continuation line of the last field, appended as written.
    void ContinueLast(const char* data, size_t size);
    // Removes the blanks around every value once the block is read.
    void TrimValues();
    // The first field of that name (case-insensitive), or null.
    const std::string* Find(const char* name) const;
    std::vector<const std::string*> FindAll(const char* name) const;
    const std::vector<Field>& All() const { return m_fields; }

private:
    std::vector<Field> m_fields;
};

class CMimePart {
public:
    CMimeHeaders headers;
    std::string contentType;      // lower-case "type/subtype", the default when absent or invalid
    CContentField typeField;      // parameters of Content-Type
    CContentField disposition;    // Content-Disposition (empty value when absent)
    std::string transferEncoding; // lower-case Content-Transfer-Encoding, empty when absent

    std::shared_ptr<const std::string> source;
    size_t headerOffset = 0; // the header block as written, line breaks included
    size_t headerSize = 0;
    size_t bodyOffset = 0;
    size_t bodySize = 0;

    std::vector<std::unique_ptr<CMimePart>> children;
    // The part ended before its closing delimiter or a limit cut it short.
    bool truncated = false;

    bool IsMultipart() const { return contentType.compare(0, 10, "multipart/") == 0; }
    bool IsEnclosedMessage() const { return !children.empty() && !IsMultipart(); }
    std::string Subtype() const;
    std::string MainType() const;

    const char* Body() const { return source->data() + bodyOffset; }
    std::string HeaderBlock() const { return source->substr(headerOffset, headerSize); }
    // The body with its content transfer encoding undone.
    std::string DecodedBody() const;
    // The charset parameter, empty when absent.
    std::string Charset() const { return typeField.Raw("charset"); }
    // The file name: Content-Disposition's filename, else Content-Type's name.
    std::wstring FileName() const;
    bool IsAttachmentDisposition() const { return disposition.Value() == "attachment"; }
};
