#include "filedialog/file_filters.h"

#include <algorithm>
#include <cstring>

namespace VFD {

namespace {

// A filter item longer than this is dropped: it keeps each compiled
// expression small.
constexpr size_t kMaxExpressionLength = 256;

bool qualifiesAsExtension(const std::string& word) { return word.size() >= 2 && word[0] == '.'; }

bool holdsExpression(const std::string& text) { return text.find("((") != std::string::npos; }

// RE2 matches in time linear in the name, whatever the expression: a filter
// written by a caller can never hold up the thread that draws. An expression
// RE2 does not take (a back reference, a look-ahead) is no expression here.
std::shared_ptr<re2::RE2> compileExpression(const std::string& text) {
    if (text.size() > kMaxExpressionLength) return nullptr;
    re2::RE2::Options options;
    options.set_log_errors(false);
    auto expression = std::make_shared<re2::RE2>(text, options);
    return expression->ok() ? expression : nullptr;
}

bool searchExpression(const re2::RE2& expression, const std::string& text) {
    return re2::RE2::PartialMatch(text, expression);
}

void addUnique(std::vector<std::string>& list, const std::string& text) {
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
}

void addExpression(FilterInfos& filter, const std::string& text) {
    auto regex = compileExpression(text);
    if (!regex) return;
    if (std::find(filter.extensions.begin(), filter.extensions.end(), text) != filter.extensions.end()) return;
    filter.extensions.push_back(text);
    filter.regexes.push_back(std::move(regex));
}

void addExtension(FilterInfos& filter, const std::string& extension) {
    if (extension.find('*') != std::string::npos) {
        std::string regex = "((";
        for (size_t i = 0; i < extension.size(); ++i) {
            const char c = extension[i];
            if (c == '.') regex += "[.]";
            // A run of "*" is one ".*".
            else if (c == '*' && (i == 0 || extension[i - 1] != '*')) regex += ".*";
            // Other characters of a wildcard are literal: "+" or "|" must not
            // turn into operators that nest quantifiers.
            else if (c != '*' && std::strchr("\\^$+?()[]{}|", c)) regex += std::string("\\") + c;
            else if (c != '*') regex += c;
        }
        addExpression(filter, regex + "$))");
        return;
    }
    addUnique(filter.extensions, extension);
    addUnique(filter.extensionsLower, lowerAscii(extension));
    filter.greatestDotCount = std::max(filter.greatestDotCount, countDots(extension));
}

FilterInfos& lastFilter(std::vector<FilterInfos>& filters) {
    if (filters.empty()) filters.emplace_back();
    return filters.back();
}

FilterInfos newFilter(const std::string& text) {
    FilterInfos filter;
    filter.text = text;
    return filter;
}

// One pass over the filter text; see parseFilters.
struct FilterParser {
    explicit FilterParser(std::vector<FilterInfos>& list) : filters(list) {}
    std::vector<FilterInfos>& filters;
    std::string word;
    std::string name;
    bool inCollection = false;
    bool inExpression = false;
    bool parenthesisOpen = false;
    char lastMark = 0;

    void openBrace(char c) {
        if (inExpression) {
            word += c;
        } else {
            filters.push_back(newFilter(name));
            name.clear();
            word.clear();
            inCollection = true;
        }
        lastMark = '{';
    }

    void closeBrace(char c) {
        if (inExpression) {
            word += c;
        } else if (inCollection) {
            if (qualifiesAsExtension(word)) addExtension(lastFilter(filters), word);
            word.clear();
            name.clear();
            inCollection = false;
        }
        lastMark = '}';
    }

    void openParenthesis(char c) {
        word += c;
        if (lastMark == '(') inExpression = true;
        parenthesisOpen = true;
        if (!inCollection) name += c;
        lastMark = '(';
    }

    void closeParenthesis(char c) {
        word += c;
        if (lastMark == ')') {
            if (inExpression) {
                if (inCollection) {
                    addExpression(lastFilter(filters), word);
                } else {
                    FilterInfos filter = newFilter(word);
                    addExpression(filter, word);
                    filters.push_back(std::move(filter));
                }
                word.clear();
                name.clear();
                inExpression = false;
            } else if (!inCollection) {
                if (!filters.empty()) filters.pop_back();
                word.clear();
                name.clear();
            }
        }
        parenthesisOpen = false;
        if (!inCollection) name += c;
        lastMark = ')';
    }

    void comma(char c) {
        if (inExpression) {
            inExpression = false;
            word.clear();
            name.clear();
            return;
        }
        if (qualifiesAsExtension(word)) {
            if (inCollection) {
                addExtension(lastFilter(filters), word);
            } else {
                FilterInfos filter = newFilter(word);
                addExtension(filter, word);
                filters.push_back(std::move(filter));
            }
            word.clear();
            name.clear();
        }
        if (!inCollection && parenthesisOpen) name += c;
    }

    void read(char c) {
        switch (c) {
            case '{': openBrace(c); break;
            case '}': closeBrace(c); break;
            case '(': openParenthesis(c); break;
            case ')': closeParenthesis(c); break;
            case ',': comma(c); break;
            case ' ':
                if (!inCollection) name += c;
                break;
            case '.':
                word += c;
                if (!inCollection) name += c;
                lastMark = '.';
                break;
            default:
                word += c;
                if (!inCollection) name += c;
                break;
        }
    }

    void finish() {
        if (inCollection) {
            if (!filters.empty()) filters.pop_back();
        } else if (qualifiesAsExtension(word)) {
            FilterInfos filter = newFilter(word);
            addExtension(filter, word);
            filters.push_back(std::move(filter));
        }
    }
};

bool levelsHold(const std::vector<std::string>& levels, const std::string& extension) {
    for (const std::string& level : levels)
        if (!level.empty() && level == extension) return true;
    return false;
}

bool kindTakes(int32_t flags, const FileInfos& entry) {
    return ((flags & StyleByTypeFile) && entry.contentType == kContentFile) ||
           ((flags & StyleByTypeDir) && entry.contentType == kContentFolder) ||
           ((flags & StyleByTypeLink) && entry.isLink);
}

bool ruleTakes(int32_t flags, const std::string& criteria, const StyleRule& rule, const FileInfos& entry) {
    const bool expression = holdsExpression(criteria);
    auto found = [&](const std::string& text) { return rule.regex && searchExpression(*rule.regex, text); };
    if (kindTakes(flags, entry)) {
        if (criteria.empty()) return true;
        if (criteria.size() >= 2 && expression) {
            if (found(entry.fileName)) return true;
        } else if (criteria == entry.fileName) {
            return true;
        }
    }
    if (flags & StyleByExtension) {
        if (expression ? found(entry.levelZero()) : extensionMatches(criteria, entry, false, 10)) return true;
    }
    if (flags & StyleByFullName) {
        if (expression ? found(entry.fileName) : criteria == entry.fileName) return true;
    }
    if (flags & StyleByContainedInFullName) {
        if (expression ? found(entry.fileName) : entry.fileName.find(criteria) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

const std::string& FilterInfos::firstExtension() const {
    static const std::string empty;
    return extensions.empty() ? empty : extensions.front();
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

size_t countDots(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '.')); }

void parseFilters(FilterManager& manager, const char* text) {
    manager.filters.clear();
    if (!text || !*text) return;
    FilterParser parser(manager.filters);
    for (const char* c = text; *c; ++c) parser.read(*c);
    parser.finish();
    if (manager.filters.empty()) return;
    for (const FilterInfos& filter : manager.filters) {
        if (filter.text == manager.selected.text) {
            manager.selected = filter;
            return;
        }
    }
    manager.selected = manager.filters.front();
}

void selectFilterForExtension(FilterManager& manager, const std::string& extension) {
    if (!extension.empty()) {
        for (const FilterInfos& filter : manager.filters) {
            if (std::find(filter.extensions.begin(), filter.extensions.end(), extension) != filter.extensions.end())
                manager.selected = filter;
        }
    }
    if (manager.selected.firstExtension().empty() && !manager.filters.empty())
        manager.selected = manager.filters.front();
}

void setExtensionLevels(FileInfos& entry, size_t greatestDotCount) {
    entry.extLevels.clear();
    entry.extLevelsLower.clear();
    const std::string& name = entry.fileName;
    const size_t dots = countDots(name);
    entry.dotCount = dots;
    if (dots == 0) return;
    size_t start = name.find('.');
    if (dots >= 2) {
        const size_t k = std::min(greatestDotCount, dots);
        if (k == 0) return;
        start = name.size();
        for (size_t found = 0; found < k; ++found) start = name.rfind('.', start - 1);
    }
    for (size_t pos = start; pos != std::string::npos && entry.extLevels.size() < 10;
         pos = dots >= 2 ? name.find('.', pos + 1) : std::string::npos) {
        entry.extLevels.push_back(name.substr(pos));
        entry.extLevelsLower.push_back(lowerAscii(entry.extLevels.back()));
    }
}

bool extensionMatches(const std::string& extension, const FileInfos& entry, bool ignoreCase,
                      size_t greatestDotCount) {
    if (extension.empty()) return false;
    if (greatestDotCount >= 1 && entry.dotCount >= greatestDotCount) {
        return ignoreCase ? levelsHold(entry.extLevelsLower, lowerAscii(extension))
                          : levelsHold(entry.extLevels, extension);
    }
    return extension == entry.levelZero();
}

bool filterTakesEntry(const FilterInfos& filter, const FileInfos& entry, bool ignoreCase) {
    if (filter.firstExtension().empty()) return false;
    for (const std::string& extension : filter.extensions)
        if (extensionMatches(extension, entry, ignoreCase, filter.greatestDotCount)) return true;
    for (const auto& regex : filter.regexes)
        if (searchExpression(*regex, entry.fileName)) return true;
    return false;
}

void storeFileStyle(FilterManager& manager, int32_t flags, const std::string& criteria,
                    std::shared_ptr<FileStyle> style) {
    StyleRule rule;
    rule.style = std::move(style);
    if (holdsExpression(criteria)) rule.regex = compileExpression(criteria);
    manager.styles[flags][criteria] = std::move(rule);
}

void applyFileStyle(const FilterManager& manager, FileInfos& entry) {
    for (const auto& [flags, rules] : manager.styles) {
        for (const auto& [criteria, rule] : rules) {
            if (ruleTakes(flags, criteria, rule, entry)) {
                entry.style = rule.style;
                return;
            }
        }
    }
}

}  // namespace VFD
