#include "bench/ini_merge.h"

#include <cstddef>
#include <string_view>

#include "bench/text.h"

namespace bench {

namespace {

struct Line {
    std::string text; // without its line ending
};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// "[Name]" gives Name; anything else is not a section header.
bool sectionOf(std::string_view line, std::string_view& name) {
    const std::string_view t = trimmed(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') {
        return false;
    }
    name = trimmed(t.substr(1, t.size() - 2));
    return true;
}

// "Key=value" gives Key; comments and other lines give nothing.
bool keyOf(std::string_view line, std::string_view& key) {
    const std::string_view t = trimmed(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') {
        return false;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return false;
    }
    key = trimmed(t.substr(0, eq));
    return !key.empty();
}

void apply(std::vector<Line>& lines, const SettingOverride& s) {
    const std::string assignment = s.key + "=" + s.value;
    bool inSection = false;
    std::size_t sectionEnd = lines.size(); // where the section's last key line ends
    bool sectionFound = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (sectionOf(lines[i].text, name)) {
            inSection = sameIgnoringCase(name, s.section);
            if (inSection && !sectionFound) {
                sectionFound = true;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        std::string_view key;
        if (keyOf(lines[i].text, key)) {
            if (sameIgnoringCase(key, s.key)) {
                lines[i].text = assignment;
                return; // Windows reads the first occurrence
            }
            sectionEnd = i + 1;
        }
    }
    if (sectionFound) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), Line{assignment});
        return;
    }
    lines.push_back(Line{"[" + s.section + "]"});
    lines.push_back(Line{assignment});
}

} // namespace

std::string mergeSettings(const std::string& iniText,
                          const std::vector<SettingOverride>& settings) {
    std::vector<Line> lines;
    std::string newline = "\n";
    bool newlineKnown = false;
    std::size_t start = 0;
    while (start < iniText.size()) {
        std::size_t end = iniText.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) {
            end = iniText.size();
        }
        std::string text = iniText.substr(start, end - start);
        const bool crlf = !text.empty() && text.back() == '\r';
        if (crlf) {
            text.pop_back();
        }
        if (!newlineKnown && !last) {
            newline = crlf ? "\r\n" : "\n";
            newlineKnown = true;
        }
        lines.push_back(Line{std::move(text)});
        start = end + 1;
    }
    for (const SettingOverride& s : settings) {
        apply(lines, s);
    }
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += newline;
    }
    return out;
}

} // namespace bench
