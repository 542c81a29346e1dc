#include "core/backup/backup_store.h"

#include "core/backup/durable_file.h"
#include "core/backup/sha256.h"
#include "core/journal.h"
#include "core/text/paths.h"

#include <algorithm>
#include <tuple>

namespace backup {

namespace fs = std::filesystem;

namespace {

bool allDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// "yyyy-mm-dd"
bool isDayName(const std::string& s) {
    return s.size() == 10 && s[4] == '-' && s[7] == '-' && allDigits(s.substr(0, 4)) &&
           allDigits(s.substr(5, 2)) && allDigits(s.substr(8, 2));
}

// "hhmmss-n": the time and the number, for ordering; nothing for other names.
std::optional<std::pair<std::string, unsigned long>> runNameParts(const std::string& s) {
    if (s.size() < 8 || s[6] != '-' || !allDigits(s.substr(0, 6)) || !allDigits(s.substr(7)) ||
        s.size() > 16)
        return std::nullopt;
    return std::pair{s.substr(0, 6), std::stoul(s.substr(7))};
}

// "hhmmss" of local time.
std::string timeOfDayName(std::time_t t) {
    std::string text = localTimeText(t).substr(11); // "hh:mm:ss"
    text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
    return text;
}

// "a.doc", "a (2).doc", "a (3).doc", ...
fs::path numberedName(const fs::path& name, int n) {
    if (n == 1)
        return name;
    const std::string suffix = " (" + std::to_string(n) + ")";
    return fs::path(name.stem().u8string() + std::u8string(suffix.begin(), suffix.end()) +
                    name.extension().u8string());
}

std::string copyFailure(const fs::path& where, const std::string& why) {
    return "无法把原件备份到" + text::quotedPath(where) + "（" + why +
           "），为了能够撤销，这个文档没有修改。请腾出磁盘空间或检查备份文件夹的权限后再试。";
}

} // namespace

fs::path storePath(const fs::path& appFolder) {
    return appFolder / text::pathFromUtf8(storeFolder);
}

std::string operationLabel(engines::Operation operation) {
    switch (operation) {
    case engines::Operation::WordReplace:
        return "Word 替换";
    case engines::Operation::ExcelReplace:
        return "Excel 替换";
    case engines::Operation::HeaderFooter:
        return "页眉页脚";
    }
    return "";
}

BackupStore::BackupStore(fs::path appFolder, std::string operation, std::string folder, Clock clock)
    : appFolder_(std::move(appFolder)) {
    // Full paths: the journal and the run list name them whatever the
    // current folder is later.
    std::error_code ec;
    if (const fs::path full = fs::absolute(appFolder_, ec); !ec)
        appFolder_ = full;
    if (fs::path full = fs::absolute(text::pathFromUtf8(folder), ec).lexically_normal();
        !ec && !folder.empty()) {
        if (!full.has_filename() && full != full.root_path())
            full = full.parent_path(); // "/a/b/" as "/a/b"
        folder = text::pathToUtf8(full);
    }
    header_.time = clock ? clock() : std::time(nullptr);
    header_.operation = std::move(operation);
    header_.folder = std::move(folder);
}

bool BackupStore::openRunFolder(std::string& error) {
    const fs::path store = storePath(appFolder_);
    const fs::path day = store / journal::isoDate(header_.time);
    std::error_code ec;
    fs::create_directories(day, ec);
    if (ec) {
        error = copyFailure(day, reasonOf(ec));
        return false;
    }
    const std::string time = timeOfDayName(header_.time);
    fs::path folder;
    for (int n = 1;; ++n) {
        folder = day / (time + "-" + std::to_string(n));
        if (fs::create_directory(folder, ec))
            break;
        if (ec) {
            error = copyFailure(folder, reasonOf(ec));
            return false;
        }
    }
    std::string why;
    if (!appendToFile(folder / text::pathFromUtf8(kManifestName), manifestStart(header_), true,
                      why)) {
        fs::remove_all(folder, ec);
        error = copyFailure(folder, why);
        return false;
    }
    syncFolder(folder);
    syncFolder(day);
    syncFolder(store);
    syncFolder(appFolder_);
    runFolder_ = folder;
    return true;
}

bool BackupStore::beforeChange(const fs::path& document, std::string& error) {
    std::lock_guard lock(mutex_);
    if (kept_.count(document))
        return true; // the original was kept before its first change
    if (runFolder_.empty() && !openRunFolder(error))
        return false;

    DocumentEntry entry;
    entry.number = kept_.size() + 1;
    entry.original = text::pathToUtf8(fs::absolute(document));
    std::error_code ec;
    entry.mtime = fs::last_write_time(document, ec).time_since_epoch().count();
    if (ec) {
        error =
            "无法读取文件" + text::quotedPath(document) + "（" + reasonOf(ec) + "），没有修改它。";
        return false;
    }
    fs::path name = document.filename();
    // Case-insensitive file systems make "A.doc" and "a.doc" one name.
    for (int n = 2; copyNames_.count(name) || fs::exists(runFolder_ / name, ec); ++n)
        name = numberedName(document.filename(), n);
    const fs::path copy = runFolder_ / name;
    std::string why;
    if (!copyDurably(document, copy, entry.originalHash, entry.size, why)) {
        error = copyFailure(copy, why);
        return false;
    }
    entry.copy = text::pathToUtf8(name);
    syncFolder(runFolder_);
    if (!appendToFile(runFolder_ / text::pathFromUtf8(kManifestName), documentLine(entry), true,
                      why)) {
        fs::remove(copy, ec);
        error = copyFailure(runFolder_ / text::pathFromUtf8(kManifestName), why);
        return false;
    }
    copyNames_.insert(name);
    kept_[document] = {entry.number, copy};
    return true;
}

void BackupStore::afterChange(const fs::path& document) {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(document);
    if (it == kept_.end())
        return;
    // Without a result line undo treats the document as unknown and leaves
    // it alone unless it equals the original. Flushed to the system, not to
    // the disk: a killed program loses nothing of it.
    if (const auto hash = sha256OfFile(document)) {
        std::string why;
        (void)appendToFile(runFolder_ / text::pathFromUtf8(kManifestName),
                           resultLine(it->second.number, *hash), false, why);
    }
}

fs::path BackupStore::backupOf(const fs::path& document) const {
    std::lock_guard lock(mutex_);
    const auto it = kept_.find(document);
    return it == kept_.end() ? fs::path() : it->second.copy;
}

fs::path BackupStore::runFolder() const {
    std::lock_guard lock(mutex_);
    return runFolder_;
}

std::size_t BackupStore::documentsKept() const {
    std::lock_guard lock(mutex_);
    return kept_.size();
}

std::optional<std::string> BackupStore::journalLine() const {
    std::lock_guard lock(mutex_);
    if (kept_.empty())
        return std::nullopt;
    return "本次运行修改前的 " + std::to_string(kept_.size()) + " 个文档原件已备份到" +
           text::quotedPath(runFolder_) +
           "，可用“撤销上次替换”（命令行 batchreplace-cli undo）恢复。";
}

std::vector<KeptRun> keptRuns(const fs::path& appFolder) {
    using Key = std::tuple<std::string, std::string, unsigned long>;
    std::vector<std::pair<Key, KeptRun>> found;
    std::error_code ec;
    for (const auto& day : fs::directory_iterator(storePath(appFolder), ec)) {
        const std::string dayName = text::pathToUtf8(day.path().filename());
        if (!isDayName(dayName) || !day.is_directory(ec))
            continue;
        std::error_code inner;
        for (const auto& run : fs::directory_iterator(day.path(), inner)) {
            const std::string runName = text::pathToUtf8(run.path().filename());
            const auto parts = runNameParts(runName);
            if (!parts)
                continue;
            auto manifest = readManifest(run.path() / text::pathFromUtf8(kManifestName));
            if (!manifest)
                continue;
            found.push_back({Key{dayName, parts->first, parts->second},
                             KeptRun{dayName + "/" + runName, run.path(), std::move(*manifest)}});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<KeptRun> runs;
    for (auto& [key, run] : found)
        runs.push_back(std::move(run));
    return runs;
}

std::size_t documentsChanged(const Manifest& manifest) {
    return static_cast<std::size_t>(
        std::count_if(manifest.documents.begin(), manifest.documents.end(),
                      [](const DocumentEntry& e) { return e.leftHash != e.originalHash; }));
}

} // namespace backup
