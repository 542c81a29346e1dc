#include "core/backup/manifest.h"

#include "core/journal.h"

#include <charconv>
#include <fstream>
#include <iterator>

namespace backup {

namespace {

constexpr const char* kFirstLine = "batchreplace 备份清单 1";

std::string escaped(const std::string& field) {
    std::string out;
    for (const char c : field) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescaped(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        out += c == 't' ? '\t' : c == 'r' ? '\r' : c == 'n' ? '\n' : c;
    }
    return out;
}

std::string line(const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i ? "\t" : "") + escaped(fields[i]);
    return out + "\r\n";
}

std::vector<std::string> fieldsOf(std::string_view line) {
    std::vector<std::string> fields;
    for (std::size_t at = 0;;) {
        const std::size_t tab = line.find('\t', at);
        fields.push_back(unescaped(line.substr(at, tab - at)));
        if (tab == std::string_view::npos)
            return fields;
        at = tab + 1;
    }
}

template <class Number> bool number(const std::string& text, Number& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool isHash(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

std::string localTimeText(std::time_t time) {
    // journal::shortTime leaves the hour unpadded; the store's names pad it.
    std::string clock = journal::shortTime(time);
    if (clock.size() == 7)
        clock = "0" + clock;
    return journal::isoDate(time) + " " + clock;
}

std::string manifestStart(const RunHeader& header) {
    return std::string(kFirstLine) + "\r\n" +
           line({"运行", std::to_string(static_cast<long long>(header.time)),
                 localTimeText(header.time), header.operation, header.folder});
}

std::string documentLine(const DocumentEntry& e) {
    return line({"文档", std::to_string(e.number), e.copy, e.original, std::to_string(e.size),
                 std::to_string(e.mtime), e.originalHash});
}

std::string resultLine(std::size_t number, const std::string& hash) {
    return line({"结果", std::to_string(number), hash});
}

std::string undoneLine(std::time_t time) {
    return line({"撤销", std::to_string(static_cast<long long>(time)), localTimeText(time)});
}

Manifest parseManifest(const std::string& text) {
    Manifest manifest;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size(); // a line cut short by a kill is still read if whole
        std::string_view raw(text.data() + at, end - at);
        at = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        const std::vector<std::string> f = fieldsOf(raw);
        long long seconds = 0;
        if (f[0] == "运行" && f.size() == 5 && number(f[1], seconds)) {
            manifest.header = RunHeader{static_cast<std::time_t>(seconds), f[3], f[4]};
        } else if (f[0] == "文档" && f.size() == 7) {
            DocumentEntry e;
            if (number(f[1], e.number) && number(f[4], e.size) && number(f[5], e.mtime) &&
                isHash(f[6]) && !f[2].empty() && !f[3].empty()) {
                e.copy = f[2];
                e.original = f[3];
                e.originalHash = f[6];
                manifest.documents.push_back(std::move(e));
            }
        } else if (f[0] == "结果" && f.size() == 3 && isHash(f[2])) {
            std::size_t n = 0;
            if (number(f[1], n))
                for (DocumentEntry& e : manifest.documents)
                    if (e.number == n)
                        e.leftHash = f[2];
        } else if (f[0] == "撤销" && f.size() == 3 && number(f[1], seconds)) {
            manifest.undone = static_cast<std::time_t>(seconds);
        }
    }
    return manifest;
}

std::optional<Manifest> readManifest(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return parseManifest(text);
}

} // namespace backup
