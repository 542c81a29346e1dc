#include "suites/libreoffice/document_files.h"

#include "core/text/paths.h"

#include "core/automation/automation.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace libreoffice::files {

namespace fs = std::filesystem;
using automation::Error;

namespace {

// Word 97 documents and Excel 97 workbooks are OLE2 compound files, and so
// are the 2007 formats when encrypted; unencrypted they are zip packages,
// which begin with a local file header.
constexpr std::array<unsigned char, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                                 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<unsigned char, 4> kZipSignature = {0x50, 0x4B, 0x03, 0x04};

fs::path folderOf(const fs::path& p) {
    fs::path folder = p.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// What to do with a file that is not what its name promises.
std::string saveAsAdvice(const fs::path& file, Kind kind) {
    const auto format = formatNamedBy(file, kind);
    switch (format.value_or(kind == Kind::Word ? Format::Word2007 : Format::Excel2007)) {
    case Format::Word97:
        return "请在 Word 中另存为“Word 97-2003 文档”后再试。";
    case Format::Word2007:
        return "请在 Word 中另存为“Word 文档”后再试。";
    case Format::Word2007Macro:
        return "请在 Word 中另存为“启用宏的 Word 文档”后再试。";
    case Format::Excel97:
        return "请在 Excel 中另存为“Excel 97-2003 工作簿”后再试。";
    case Format::Excel2007:
        return "请在 Excel 中另存为“Excel 工作簿”后再试。";
    case Format::Excel2007Macro:
        break;
    }
    return "请在 Excel 中另存为“Excel 启用宏的工作簿”后再试。";
}

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Kind kindOf(Format format) {
    return format == Format::Word97 || format == Format::Word2007 || format == Format::Word2007Macro
               ? Kind::Word
               : Kind::Excel;
}

std::string formatLabel(Format format) {
    switch (format) {
    case Format::Word97:
        return "Word 97-2003 文档（.doc）";
    case Format::Word2007:
        return "Word 文档（.docx）";
    case Format::Word2007Macro:
        return "启用宏的 Word 文档（.docm）";
    case Format::Excel97:
        return "Excel 97-2003 工作簿（.xls）";
    case Format::Excel2007:
        return "Excel 工作簿（.xlsx）";
    case Format::Excel2007Macro:
        break;
    }
    return "Excel 启用宏的工作簿（.xlsm）";
}

std::string kindLabel(Kind kind) {
    return kind == Kind::Word ? "Word 文档（.doc、.docx 或 .docm）"
                              : "Excel 工作簿（.xls、.xlsx 或 .xlsm）";
}

std::optional<Format> formatNamedBy(const fs::path& file, Kind kind) {
    std::string extension = file.extension().string();
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const bool word = kind == Kind::Word;
    if (extension == (word ? ".doc" : ".xls"))
        return word ? Format::Word97 : Format::Excel97;
    if (extension == (word ? ".docx" : ".xlsx"))
        return word ? Format::Word2007 : Format::Excel2007;
    if (extension == (word ? ".docm" : ".xlsm"))
        return word ? Format::Word2007Macro : Format::Excel2007Macro;
    return std::nullopt;
}

std::string expectedLabel(const fs::path& file, Kind kind) {
    const auto format = formatNamedBy(file, kind);
    return format ? formatLabel(*format) : kindLabel(kind);
}

const char* filterName(Format format) {
    switch (format) {
    case Format::Word97:
        return "MS Word 97";
    case Format::Word2007:
        return "MS Word 2007 XML";
    case Format::Word2007Macro:
        return "MS Word 2007 XML VBA";
    case Format::Excel97:
        return "MS Excel 97";
    case Format::Excel2007:
        return "Calc MS Excel 2007 XML";
    case Format::Excel2007Macro:
        break;
    }
    return "Calc MS Excel 2007 VBA XML";
}

std::string_view macroPart(Format format) {
    if (format == Format::Word2007Macro)
        return "word/vbaProject.bin";
    if (format == Format::Excel2007Macro)
        return "xl/vbaProject.bin";
    return {};
}

OpenCheck checkBeforeOpen(const std::string& pathText, Kind kind, long errorNumber) {
    if (pathText.empty())
        throw Error(errorNumber, "没有给出要打开的文件名。");
    const fs::path path(pathText);
    const fs::path folder = folderOf(path);

    struct stat folderStat {};
    if (::stat(folder.c_str(), &folderStat) != 0) {
        if (errno == EACCES)
            throw Error(errorNumber, "无法进入文件夹" + text::quotedPath(folder) +
                                         "：没有访问权限。请检查该文件夹的权限后再试。");
        throw Error(errorNumber, "找不到文件夹" + text::quotedPath(folder) + "，无法打开" +
                                     text::quotedPath(path) + "。请确认文件夹仍然存在。");
    }
    if (!S_ISDIR(folderStat.st_mode))
        throw Error(errorNumber, text::quotedPath(folder) + "不是文件夹，无法打开" +
                                     text::quotedPath(path) + "。");
    if (::access(folder.c_str(), R_OK | X_OK) != 0)
        throw Error(errorNumber, "无法读取文件夹" + text::quotedPath(folder) +
                                     "：没有访问权限。请检查该文件夹的权限后再试。");

    struct stat fileStat {};
    if (::stat(path.c_str(), &fileStat) != 0) {
        if (errno == EACCES)
            throw Error(errorNumber, "无法读取文件" + text::quotedPath(path) +
                                         "：没有访问权限。请检查文件和文件夹的权限后再试。");
        throw Error(errorNumber, "找不到文件" + text::quotedPath(path) +
                                     "。请确认文件仍在该文件夹中，然后再试。");
    }
    const std::string label = expectedLabel(path, kind);
    if (S_ISDIR(fileStat.st_mode))
        throw Error(errorNumber, text::quotedPath(path) + "是文件夹，不是 " + label + "。");
    if (!S_ISREG(fileStat.st_mode))
        throw Error(errorNumber,
                    text::quotedPath(path) + "不是普通文件，无法作为 " + label + " 打开。");

    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        throw Error(errorNumber, "无法读取文件" + text::quotedPath(path) + "：" +
                                     (errno == EACCES ? std::string("没有读取权限")
                                                      : std::string(std::strerror(errno))) +
                                     "。请检查文件的权限后再试。");
    std::array<unsigned char, 8> head{};
    ssize_t got = 0;
    while (got < static_cast<ssize_t>(head.size())) {
        const ssize_t n = ::read(file.fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    if (got == 0)
        throw Error(errorNumber,
                    "文件" + text::quotedPath(path) + "是空文件，不是 " + label + "。");
    const bool compound =
        got == static_cast<ssize_t>(head.size()) && head == kCompoundFileSignature;
    const bool package = got >= static_cast<ssize_t>(kZipSignature.size()) &&
                         std::equal(kZipSignature.begin(), kZipSignature.end(), head.begin());
    if (!compound && !package)
        throw Error(errorNumber, "文件" + text::quotedPath(path) + "不是 " + label +
                                     "，可能是其他格式的文件改了扩展名。" +
                                     saveAsAdvice(path, kind));

    OpenCheck result;
    result.path = path;
    result.folderWritable = ::access(folder.c_str(), W_OK) == 0;
    result.fileWritable = (fileStat.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                          ::access(path.c_str(), W_OK) == 0;
    return result;
}

fs::path lockFilePath(const fs::path& document) {
    return folderOf(document) / (".~lock." + document.filename().string() + "#");
}

std::string LockOwner::displayName() const {
    if (!name.empty())
        return name;
    if (!account.empty())
        return host.empty() ? account : account + "@" + host;
    return "其他用户";
}

std::optional<LockOwner> readLockFile(const fs::path& lockFile) {
    std::ifstream in(lockFile, std::ios::binary);
    if (!in)
        return std::nullopt;
    // A lock file is one short line; anything longer is not one.
    std::string content(512, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (const auto end = content.find(';'); end != std::string::npos)
        content.resize(end);

    // Fields are separated by commas; a comma or backslash inside a field is
    // escaped with a backslash.
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\\' && i + 1 < content.size()) {
            fields.back() += content[++i];
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '\r' && c != '\n') {
            fields.back() += c;
        }
    }
    if (fields.size() < 5)
        return std::nullopt;
    return LockOwner{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

void checkWritable(const fs::path& document, long errorNumber) {
    struct stat st {};
    if (::stat(document.c_str(), &st) == 0) {
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
            ::access(document.c_str(), W_OK) != 0)
            throw Error(errorNumber,
                        "文件" + text::quotedPath(document) +
                            "是只读的，不能保存，原文件保持不变。请去掉只读属性后再试。");
    }
    const fs::path folder = folderOf(document);
    if (::access(folder.c_str(), W_OK) != 0)
        throw Error(errorNumber, "文件夹" + text::quotedPath(folder) + "不可写，不能保存文件" +
                                     text::quotedPath(document) +
                                     "，原文件保持不变。请检查该文件夹的权限后再试。");
}

} // namespace libreoffice::files
