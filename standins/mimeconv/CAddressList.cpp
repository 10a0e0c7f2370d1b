#include "Platform.h"
#include "CAddressList.h"
#include "CEncodedWords.h"
#include "CMimeCharset.h"

#include <cstring>

namespace {

enum class Kind { Word, Quoted, Comment, Literal, Special };

struct Token {
    Kind kind;
    std::string text; // quoted strings and comments without their delimiters
    bool spaceBefore;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsSpecial(char c)
{
    return std::strchr("<>,:;@.", c) != nullptr;
}

// Reads up to the closing character; '\\' escapes the next one. An
// unterminated run ends at the end of the field.
size_t Delimited(const std::string& raw, size_t i, char close, std::string& text)
{
    while (i < raw.size() && raw[i] != close) {
        if (raw[i] == '\\' && i + 1 < raw.size())
            ++i;
        text.push_back(raw[i]);
        ++i;
    }
    return i < raw.size() ? i + 1 : i;
}

std::vector<Token> Tokenize(const std::string& raw)
{
    std::vector<Token> tokens;
    size_t i = 0;
    bool space = false;
    while (i < raw.size()) {
        const char c = raw[i];
        if (IsBlank(c)) {
            space = true;
            ++i;
            continue;
        }
        Token token{Kind::Word, std::string(), space};
        space = false;
        if (c == '"') {
            token.kind = Kind::Quoted;
            i = Delimited(raw, i + 1, '"', token.text);
        } else if (c == '[') {
            token.kind = Kind::Literal;
            token.text.push_back('[');
            i = Delimited(raw, i + 1, ']', token.text);
            token.text.push_back(']');
        } else if (c == '(') {
            // Nested comments: a depth count, not recursion.
            token.kind = Kind::Comment;
            int depth = 1;
            ++i;
            while (i < raw.size() && depth > 0) {
                const char d = raw[i];
                if (d == '\\' && i + 1 < raw.size()) {
                    token.text.push_back(raw[i + 1]);
                    i += 2;
                    continue;
                }
                if (d == '(')
                    ++depth;
                else if (d == ')' && --depth == 0) {
                    ++i;
                    break;
                }
                token.text.push_back(d);
                ++i;
            }
        } else if (IsSpecial(c)) {
            token.kind = Kind::Special;
            token.text.push_back(c);
            ++i;
        } else if (c == ')' || c == ']' || c == '\\') {
            // Stray closing characters are not part of any address.
            ++i;
            continue;
        } else {
            while (i < raw.size() && !IsBlank(raw[i]) && !IsSpecial(raw[i]) && !std::strchr("\"([)]\\", raw[i])) {
                token.text.push_back(raw[i]);
                ++i;
            }
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

std::wstring TextOf(const std::string& bytes)
{
    return CMimeCharset::FromCodePage(bytes.data(), bytes.size(),
                                      CMimeCharset::FallbackCodePage(bytes.data(), bytes.size()));
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == L' ' || text[begin] == L'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t'))
        --end;
    return text.substr(begin, end - begin);
}

bool IsSpecialToken(const Token& token, char c)
{
    return token.kind == Kind::Special && token.text[0] == c;
}

// The display phrase of tokens [begin, end): words and quoted strings with
// the spacing they were written with; encoded words decoded.
std::wstring Phrase(const std::vector<Token>& tokens, size_t begin, size_t end)
{
    std::string bytes;
    for (size_t i = begin; i < end; ++i) {
        const Token& token = tokens[i];
        if (token.kind == Kind::Comment)
            continue;
        if (token.spaceBefore && !bytes.empty())
            bytes.push_back(' ');
        bytes += token.text;
    }
    return Trimmed(CEncodedWords::Decode(bytes));
}

// An addr-spec from tokens [begin, end): written together, without blanks
// between its pieces; a route ("@relay,@relay2:") before the last ':' goes.
std::wstring AddrSpec(const std::vector<Token>& tokens, size_t begin, size_t end)
{
    std::string bytes;
    for (size_t i = begin; i < end; ++i) {
        const Token& token = tokens[i];
        if (token.kind == Kind::Comment)
            continue;
        if (IsSpecialToken(token, ':')) {
            bytes.clear();
            continue;
        }
        if (token.kind == Kind::Quoted)
            bytes += "\"" + token.text + "\"";
        else
            bytes += token.text;
    }
    return TextOf(bytes);
}

void Flush(const std::vector<Token>& tokens, std::vector<CMailbox>& mailboxes)
{
    if (tokens.empty() || mailboxes.size() >= CAddressList::kMaxMailboxes)
        return;
    size_t open = tokens.size();
    for (size_t i = 0; i < tokens.size() && open == tokens.size(); ++i) {
        if (IsSpecialToken(tokens[i], '<'))
            open = i;
    }
    CMailbox mailbox;
    std::wstring comment;
    for (const Token& token : tokens) {
        if (token.kind == Kind::Comment && !token.text.empty())
            comment = Trimmed(CEncodedWords::Decode(token.text));
    }
    if (open < tokens.size()) {
        size_t close = open + 1;
        while (close < tokens.size() && !IsSpecialToken(tokens[close], '>'))
            ++close;
        mailbox.name = Phrase(tokens, 0, open);
        mailbox.address = AddrSpec(tokens, open + 1, close);
    } else {
        // "user@host (Name)": the old form names the mailbox in a comment.
        std::string bytes;
        for (const Token& token : tokens) {
            if (token.kind == Kind::Comment)
                continue;
            const bool joins = token.kind == Kind::Special || (!bytes.empty() && IsSpecial(bytes.back()));
            if (token.spaceBefore && !bytes.empty() && !joins)
                bytes.push_back(' ');
            bytes += token.kind == Kind::Quoted ? "\"" + token.text + "\"" : token.text;
        }
        mailbox.address = TextOf(bytes);
    }
    if (mailbox.name.empty())
        mailbox.name = comment;
    if (!mailbox.address.empty() || !mailbox.name.empty())
        mailboxes.push_back(std::move(mailbox));
}

} // namespace

std::vector<CMailbox> CAddressList::Parse(const std::string& raw)
{
    const std::vector<Token> tokens = Tokenize(raw);
    std::vector<CMailbox> mailboxes;
    std::vector<Token> current;
    bool inAngle = false;
    bool inGroup = false;
    for (const Token& token : tokens) {
        if (token.kind == Kind::Special && !inAngle) {
            const char c = token.text[0];
            if (c == ',') {
                Flush(current, mailboxes);
                current.clear();
                continue;
            }
            if (c == ':' && !inGroup) {
                bool plainPhrase = true;
                for (const Token& earlier : current)
                    plainPhrase = plainPhrase && !IsSpecialToken(earlier, '@') && !IsSpecialToken(earlier, '<');
                if (plainPhrase) {
                    // A group's name is no mailbox; its members follow.
                    current.clear();
                    inGroup = true;
                    continue;
                }
            }
            if (c == ';' && inGroup) {
                Flush(current, mailboxes);
                current.clear();
                inGroup = false;
                continue;
            }
        }
        if (IsSpecialToken(token, '<'))
            inAngle = true;
        else if (IsSpecialToken(token, '>'))
            inAngle = false;
        current.push_back(token);
    }
    Flush(current, mailboxes);
    return mailboxes;
}
