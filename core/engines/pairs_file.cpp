#include "core/engines/pairs_file.h"

#include "core/text/encoding.h"
#include "core/text/paths.h"

#include <fstream>
#include <iterator>

namespace engines {

namespace {

bool isUtf8(std::string_view text) {
    return text::utf16ToUtf8(text::utf8ToUtf16(text)) == text;
}

} // namespace

bool parsePairs(std::string_view content, const std::string& source,
                std::vector<ReplacePair>& pairs, std::string& error) {
    pairs.clear();
    if (content.substr(0, 3) == "\xEF\xBB\xBF")
        content.remove_prefix(3);
    const auto lineError = [&](std::size_t number, const std::string& what) {
        error = "替换表" + source + "第 " + std::to_string(number) + " 行" + what;
        return false;
    };
    std::size_t number = 0;
    while (!content.empty()) {
        ++number;
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (!isUtf8(line))
            return lineError(number, "不是 UTF-8 文本。请把替换表另存为 UTF-8 编码后再试。");
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            return lineError(
                number, "没有制表符（Tab）：每行应为“原内容<Tab>新内容”，原内容和新内容之间用一个 "
                        "Tab 隔开。");
        if (tab == 0)
            return lineError(number, "的原内容是空的：Tab 前面要写上要替换的原内容。");
        if (pairs.size() == kMaxPairs)
            return lineError(number, "超出上限：一个替换表最多 " + std::to_string(kMaxPairs) +
                                         " 对原内容和新内容。");
        pairs.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
    }
    if (pairs.empty()) {
        error = "替换表" + source + "中没有替换对：每行应为“原内容<Tab>新内容”。";
        return false;
    }
    return true;
}

bool readPairsFile(const std::filesystem::path& file, std::vector<ReplacePair>& pairs,
                   std::string& error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        error = "无法读取替换表" + text::quotedPath(file) + "：" + ec.message() + "。";
        return false;
    }
    if (size > kMaxPairsFileSize) {
        error = "替换表" + text::quotedPath(file) + "太大（超过 4 MB），请检查是否选错了文件。";
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        error = "无法读取替换表" + text::quotedPath(file) + "。";
        return false;
    }
    return parsePairs(content, text::quotedPath(file), pairs, error);
}

} // namespace engines
