// A MIME header field with parameters (Content-Type, Content-Disposition):
// its lower-case value ("text/plain", "attachment") and its parameters.
// Parameter names are case-insensitive; values may be tokens or quoted
// strings (lenient: an unquoted value runs to the next ';'). RFC 2231
// continuations ("name*0", "name*1*") are joined in order and extended values
// ("name*=charset'lang'%XX") are percent-decoded and carry their charset; a
// value in RFC 2231 form wins over a plain one of the same name.
#pragma once
#include <map>
#include <string>

class CContentField {
public:
    static CContentField Parse(const std::string& raw);

    const std::string& Value() const { return m_value; }
    bool Has(const std::string& name) const;
    // The parameter's bytes as written (after decoding RFC 2231), empty when absent.
    std::string Raw(const std::string& name) const;
    // The parameter as text: its RFC 2231 charset, else RFC 2047 encoded
    // words (written by many mailers in file names), else UTF-8 or windows-1252.
    std::wstring Text(const std::string& name) const;

    // Parameters kept per field; further ones are ignored.
    static constexpr size_t kMaxParameters = 64;
    // Highest continuation index joined.
    static constexpr int kMaxSection = 999;

private:
    struct Parameter {
        std::string bytes;
        std::string charset; // RFC 2231 extended values only
        bool extended = false;
    };
    std::string m_value;
    std::map<std::string, Parameter> m_parameters;
};
