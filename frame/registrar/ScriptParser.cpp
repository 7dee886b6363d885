#include "frame/registrar/ScriptParser.h"

#include <cstring>

namespace {
bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

wchar_t Lower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 0x20) : c;
}

bool SameText(std::wstring_view left, std::wstring_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (Lower(left[i]) != Lower(right[i])) return false;
    }
    return true;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    c = Lower(c);
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

struct Token {
    enum class Kind { End, Word, Quoted, Equals, Close } kind = Kind::End;
    std::wstring text;

    bool IsWord(std::wstring_view word) const { return kind == Kind::Word && SameText(text, word); }
    bool IsOpen() const { return kind == Kind::Word && text == L"{"; }
    bool IsName() const { return (kind == Kind::Word && !IsOpen()) || kind == Kind::Quoted; }
};

class Lexer {
  public:
    explicit Lexer(std::wstring_view text) : text_(text) {}

    // The next token without taking it; false for an unterminated quoted string.
    [[nodiscard]] bool Peek(const Token*& token) {
        if (!peeked_) {
            if (!Read(next_)) return false;
            peeked_ = true;
        }
        token = &next_;
        return true;
    }
    [[nodiscard]] bool Next(Token& token) {
        const Token* peeked = nullptr;
        if (!Peek(peeked)) return false;
        token = std::move(next_);
        peeked_ = false;
        return true;
    }

  private:
    bool Read(Token& token) {
        while (position_ < text_.size() && IsSpace(text_[position_])) ++position_;
        token.text.clear();
        if (position_ == text_.size()) {
            token.kind = Token::Kind::End;
            return true;
        }
        const wchar_t first = text_[position_];
        if (first == L'=' || first == L'}') {
            token.kind = first == L'=' ? Token::Kind::Equals : Token::Kind::Close;
            ++position_;
            return true;
        }
        if (first == L'\'') {
            token.kind = Token::Kind::Quoted;
            for (++position_; position_ < text_.size(); ++position_) {
                if (text_[position_] != L'\'') {
                    token.text.push_back(text_[position_]);
                } else if (position_ + 1 < text_.size() && text_[position_ + 1] == L'\'') {
                    token.text.push_back(L'\'');
                    ++position_;
                } else {
                    ++position_;
                    return true;
                }
            }
            return false;  // no closing quote
        }
        token.kind = Token::Kind::Word;
        while (position_ < text_.size() && !IsSpace(text_[position_])) {
            token.text.push_back(text_[position_++]);
        }
        return true;
    }

    std::wstring_view text_;
    std::size_t position_ = 0;
    Token next_;
    bool peeked_ = false;
};

bool ParseNumber(const std::wstring& text, DWORD& number) {
    std::wstring_view digits(text);
    int base = 10;
    if (digits.size() > 2 &&
        (SameText(digits.substr(0, 2), L"0x") || SameText(digits.substr(0, 2), L"&h"))) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty()) return false;
    std::uint64_t value = 0;
    for (wchar_t c : digits) {
        const int digit = HexValue(c);
        if (digit < 0 || digit >= base) return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return false;
    }
    number = static_cast<DWORD>(value);
    return true;
}

class Parser {
  public:
    explicit Parser(std::wstring_view text) : lexer_(text) {}

    bool Script(ParsedScript& script) {
        for (;;) {
            Token token;
            if (!lexer_.Next(token)) return false;
            if (token.kind == Token::Kind::End) return true;
            ScriptRootBlock block;
            if (token.IsWord(L"HKCR") || token.IsWord(L"HKEY_CLASSES_ROOT")) {
                block.root = ScriptRoot::ClassesRoot;
            } else if (token.IsWord(L"HKCU") || token.IsWord(L"HKEY_CURRENT_USER")) {
                block.root = ScriptRoot::CurrentUser;
            } else if (token.IsWord(L"HKLM") || token.IsWord(L"HKEY_LOCAL_MACHINE")) {
                block.root = ScriptRoot::LocalMachine;
            } else {
                return false;
            }
            if (!lexer_.Next(token) || !token.IsOpen() || !Body(block.body, 0)) return false;
            script.push_back(std::move(block));
        }
    }

  private:
    // The items of a block up to and including its closing brace.
    bool Body(ScriptKey& key, unsigned depth) {
        for (;;) {
            Token token;
            if (!lexer_.Next(token)) return false;
            if (token.kind == Token::Kind::Close) return true;
            if (token.IsWord(L"val")) {
                ScriptValue value;
                if (!lexer_.Next(token) || !token.IsName() ||
                    token.text.size() > kRegistryMaxValueNameLength) {
                    return false;
                }
                value.name = std::move(token.text);
                if (!lexer_.Next(token) || token.kind != Token::Kind::Equals || !Value(value)) {
                    return false;
                }
                key.values.push_back(std::move(value));
                continue;
            }
            ScriptKey child;
            if (token.IsWord(L"NoRemove")) child.flag = ScriptKeyFlag::NoRemove;
            if (token.IsWord(L"ForceRemove")) child.flag = ScriptKeyFlag::ForceRemove;
            if (token.IsWord(L"Delete")) child.flag = ScriptKeyFlag::Delete;
            if (child.flag != ScriptKeyFlag::Plain && !lexer_.Next(token)) return false;
            if (!token.IsName() || token.text.empty() ||
                token.text.size() > kRegistryMaxKeyNameLength ||
                token.text.find(L'\\') != std::wstring::npos) {
                return false;
            }
            child.name = std::move(token.text);
            const Token* next = nullptr;
            if (!lexer_.Peek(next)) return false;
            if (next->kind == Token::Kind::Equals) {
                (void)lexer_.Next(token);
                child.defaultValue.emplace();
                if (child.flag == ScriptKeyFlag::Delete || !Value(*child.defaultValue))
                    return false;
                if (!lexer_.Peek(next)) return false;
            }
            if (next->IsOpen()) {
                (void)lexer_.Next(token);
                if (child.flag == ScriptKeyFlag::Delete || depth + 1 >= kMaxScriptDepth ||
                    !Body(child, depth + 1)) {
                    return false;
                }
            }
            key.subkeys.push_back(std::move(child));
        }
    }

    // A value's type letter and data, after its '='.
    bool Value(ScriptValue& value) {
        Token type;
        Token data;
        if (!lexer_.Next(type) || type.kind != Token::Kind::Word || type.text.size() != 1 ||
            !lexer_.Next(data) || !data.IsName()) {
            return false;
        }
        switch (Lower(type.text[0])) {
            case L's':
            case L'e': {
                value.type = Lower(type.text[0]) == L's' ? REG_SZ : REG_EXPAND_SZ;
                const std::size_t bytes = (data.text.size() + 1) * sizeof(wchar_t);
                value.data.assign(reinterpret_cast<const char*>(data.text.c_str()), bytes);
                return true;
            }
            case L'd': {
                DWORD number = 0;
                if (!ParseNumber(data.text, number)) return false;
                value.type = REG_DWORD;
                value.data.assign(reinterpret_cast<const char*>(&number), sizeof(number));
                return true;
            }
            case L'b': {
                if (data.text.size() % 2 != 0) return false;
                value.type = REG_BINARY;
                value.data.clear();
                for (std::size_t i = 0; i < data.text.size(); i += 2) {
                    const int high = HexValue(data.text[i]);
                    const int low = HexValue(data.text[i + 1]);
                    if (high < 0 || low < 0) return false;
                    value.data.push_back(static_cast<char>(high * 16 + low));
                }
                return true;
            }
            default:
                return false;
        }
    }

    Lexer lexer_;
};
}  // namespace

bool ExpandReplacements(std::wstring_view script,
                        const std::vector<RegistrarReplacement>& replacements,
                        std::wstring& expanded) {
    expanded.clear();
    std::size_t position = 0;
    for (;;) {
        const std::size_t open = script.find(L'%', position);
        expanded.append(script.substr(position, open - position));
        if (open == std::wstring_view::npos) return true;
        const std::size_t close = script.find(L'%', open + 1);
        if (close == std::wstring_view::npos) return false;
        const std::wstring_view name = script.substr(open + 1, close - open - 1);
        if (name.empty()) {
            expanded.push_back(L'%');
        } else {
            const RegistrarReplacement* found = nullptr;
            for (const RegistrarReplacement& replacement : replacements) {
                if (found == nullptr && SameText(replacement.name, name)) found = &replacement;
            }
            if (found == nullptr) return false;
            expanded.append(found->value);
        }
        position = close + 1;
    }
}

bool ParseRegistryScript(std::wstring_view text, ParsedScript& script) {
    script.clear();
    Parser parser(text);
    if (parser.Script(script)) return true;
    script.clear();
    return false;
}
