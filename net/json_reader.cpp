#include "net/json_reader.h"

namespace {

// ASCII classes: the text is a server reply widened byte by byte, and the
// result must not depend on the process locale.
bool isJsonSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }
bool isJsonLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool isJsonDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool isNumberChar(wchar_t c) { return isJsonDigit(c) || c == L'-' || c == L'.'; }
bool isQuote(wchar_t c) { return c == L'"' || c == L'\''; }

void skipSpace(std::wstring_view text, size_t& position, size_t limit) {
    while (position < limit && isJsonSpace(text[position])) ++position;
}

void skipSeparators(std::wstring_view text, size_t& position, size_t limit) {
    while (position < limit && (text[position] == L',' || isJsonSpace(text[position]))) ++position;
}

JsonValue readQuoted(std::wstring_view text, size_t& position) {
    JsonValue value;
    value.kind = JsonValueKind::String;
    const wchar_t quote = text[position];
    size_t i = position + 1;
    while (i < text.size() && text[i] != quote) ++i;
    value.text.assign(text.substr(position + 1, i - position - 1));
    position = i < text.size() ? i + 1 : i;
    return value;
}

JsonValue readWhile(std::wstring_view text, size_t& position, JsonValueKind kind, bool (*accept)(wchar_t)) {
    JsonValue value;
    value.kind = kind;
    const size_t first = position;
    while (position < text.size() && accept(text[position])) ++position;
    value.text.assign(text.substr(first, position - first));
    return value;
}

// Finds the "}" that closes the "{" at `position`. Braces inside quotes do
// not count, and a quote of one kind inside the other kind is plain text.
JsonValue readObject(std::wstring_view text, size_t& position) {
    JsonValue value;
    bool single = false, dbl = false;
    long depth = 0;
    for (size_t i = position; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\'' && !dbl) {
            single = !single;
        } else if (c == L'"' && !single) {
            dbl = !dbl;
        } else if (!single && !dbl && (c == L'{' || c == L'}')) {
            depth += c == L'{' ? 1 : -1;
            if (depth < 1) {
                value.kind = JsonValueKind::Object;
                value.start = static_cast<int64_t>(position);
                value.end = static_cast<int64_t>(i);
                position = i;
                return value;
            }
        }
    }
    position = text.size();
    return value;
}

// Elements are all strings or all numbers, decided by the first one; no
// nesting; the first "]" ends the array, an element cut off by the end of
// the text is dropped.
JsonValue readArray(std::wstring_view text, size_t& position) {
    enum { unset, strings, numbers } elementKind = unset;
    JsonValue value;
    value.kind = JsonValueKind::Array;
    bool inElement = false;
    std::wstring current;
    auto finish = [&] {
        if (!current.empty()) value.elements.push_back(current);
        current.clear();
        inElement = false;
    };
    for (++position; position < text.size(); ++position) {
        const wchar_t c = text[position];
        if (c == L']') {
            if (inElement) finish();
            ++position;
            return value;
        }
        if (inElement && elementKind == strings) {
            if (c == L'"') finish();
            else current += c;
        } else if (inElement) {
            if (isNumberChar(c)) current += c;
            else finish();
        } else if (c == L'"' && elementKind != numbers) {
            elementKind = strings;
            inElement = true;
        } else if (isNumberChar(c) && elementKind != strings) {
            elementKind = numbers;
            inElement = true;
            current = c;
        }
    }
    return value;  // the element in progress, if any, is dropped
}

struct PendingObject {
    size_t start;
    size_t end;
    size_t depth;
    std::wstring path;
};

void addLeaf(JsonPathMap& map, const std::wstring& path, JsonValue value) {
    if (map.size() >= kMaxJsonEntries) return;
    map.emplace(path, std::move(value));
}

// Reads the members of one object. Reads stop at the object's closing "}",
// so no member of one object is ever taken from the text after it.
void walkObject(JsonPathMap& map, std::wstring_view text, const PendingObject& object,
                std::vector<PendingObject>& pending) {
    const std::wstring_view inside = text.substr(0, object.end);
    const size_t limit = object.end - 1;
    size_t position = object.start + 1;
    while (position < inside.size()) {
        const size_t before = position;
        skipSpace(inside, position, limit);
        const std::wstring key = readJsonKey(inside, position);
        skipSpace(inside, position, inside.size());
        JsonValue value = readJsonValue(inside, position);
        std::wstring path = object.path;
        if (path.empty() || path.back() != L'/') path += L'/';
        path += key;
        if (path.size() <= kMaxJsonPathLength) {
            if (value.kind == JsonValueKind::Object) {
                if (object.depth < kMaxJsonDepth)
                    pending.push_back({static_cast<size_t>(value.start), static_cast<size_t>(value.end),
                                       object.depth + 1, path});
            } else if (value.kind != JsonValueKind::None) {
                addLeaf(map, path, std::move(value));
            }
        }
        skipSeparators(inside, position, limit);
        if (position < inside.size() && inside[position] == L'}') {
            ++position;
            skipSeparators(inside, position, limit);
        } else if (position >= limit) {
            break;
        }
        if (position == before) break;  // nothing read: the rest is not a member
    }
}

}  // namespace

std::wstring readJsonKey(std::wstring_view text, size_t& position) {
    std::wstring key;
    if (position >= text.size()) return key;
    const wchar_t quote = text[position];
    if (!isQuote(quote)) {
        key.assign(text.substr(position, kMaxJsonKeyLength));
        position = text.size();
        return key;
    }
    bool copying = false;
    size_t i = position;
    for (; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == quote) {
            copying = !copying;
        } else if (copying) {
            if (key.size() < kMaxJsonKeyLength) key += c;
        } else if (c == L':') {
            ++i;
            break;
        }
    }
    // An empty key moves on as well: staying put would read the same text
    // again for every member, which costs time quadratic in the text.
    position = i;
    return key;
}

JsonValue readJsonValue(std::wstring_view text, size_t& position) {
    if (position >= text.size()) return {};
    const wchar_t c = text[position];
    if (isQuote(c)) return readQuoted(text, position);
    if (isNumberChar(c)) return readWhile(text, position, JsonValueKind::Number, isNumberChar);
    if (c == L'{') return readObject(text, position);
    if (c == L'[') return readArray(text, position);
    if (c == L't' || c == L'f') return readWhile(text, position, JsonValueKind::Boolean, isJsonLetter);
    if (c == L'n') return readWhile(text, position, JsonValueKind::Null, isJsonLetter);
    return {};
}

bool walkJsonDocument(JsonPathMap& map, std::wstring_view text) {
    if (text.empty() || text.size() > kMaxJsonTextLength) return false;
    const size_t start = text.find(L'{');
    const size_t end = text.rfind(L'}');
    if (start == std::wstring_view::npos || end == std::wstring_view::npos || start > end) return false;
    // Last in, first out: an object's leaves are entered before those of the
    // objects inside it, which decides between two equal paths.
    std::vector<PendingObject> pending{{start, end, 0, L"/"}};
    while (!pending.empty()) {
        const PendingObject object = std::move(pending.back());
        pending.pop_back();
        walkObject(map, text, object, pending);
    }
    return true;
}

size_t findJsonValue(const JsonPathMap& map, const std::wstring& path, std::vector<std::wstring>& out) {
    out.clear();
    const auto found = map.find(path);
    if (found == map.end()) return 0;
    if (found->second.kind == JsonValueKind::Array) out = found->second.elements;
    else out.push_back(found->second.text);
    return out.size();
}
