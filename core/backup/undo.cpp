#include "core/backup/undo.h"

#include "core/backup/durable_file.h"
#include "core/backup/sha256.h"
#include "core/platform/atomic_save.h"
#include "core/text/paths.h"

#include <fstream>
#include <iterator>

namespace backup {

namespace fs = std::filesystem;

namespace {

struct Restore {
    std::string line;
    bool leftAlone;
};

Restore restoreDocument(const KeptRun& run, const DocumentEntry& entry) {
    const fs::path document = text::pathFromUtf8(entry.original);
    const fs::path copy = run.folder / text::pathFromUtf8(entry.copy);
    const std::string name = text::quotedPath(document);
    const std::string where = "原件在" + text::quotedPath(copy) + "。";
    std::error_code ec;
    if (!fs::exists(document, ec))
        return {"找不到" + name + "（已被移动或删除），没有还原；" + where, true};
    const auto now = sha256OfFile(document);
    if (!now)
        return {"无法读取" + name + "，没有还原；" + where, true};
    const bool holdsResult = entry.leftHash && *now == *entry.leftHash;
    if (!holdsResult && *now == entry.originalHash)
        return {name + "与原件相同，不需要还原。", false};
    if (!holdsResult && !entry.leftHash)
        return {name + "：这次运行在记下它的结果之前中断，无法确认它之后没有被改过，没有还原；" +
                    where + "需要时请手动把原件复制回去。",
                true};
    if (!holdsResult)
        return {name + "在这次运行之后又被修改过，没有还原，以免丢掉后来的修改；" + where, true};

    std::ifstream in(copy, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof())
        return {"无法读取备份" + text::quotedPath(copy) + "，" + name + "没有还原。", true};
    if (sha256(bytes) != entry.originalHash)
        return {"备份" + text::quotedPath(copy) + "已损坏（与备份时的原件不同），" + name +
                    "没有还原。",
                true};
    std::string error;
    if (!platform::replaceFileContent(
            document, bytes, error, fs::file_time_type(fs::file_time_type::duration(entry.mtime))))
        return {error, true};
    return {"已还原" + name + "。", false};
}

} // namespace

UndoResult undoRun(const fs::path& appFolder, const std::string& id, Clock clock) {
    UndoResult result;
    for (const KeptRun& run : keptRuns(appFolder)) {
        if (run.id != id)
            continue;
        if (run.manifest.undone) {
            result.lines.push_back("运行“" + id + "”已于 " + localTimeText(*run.manifest.undone) +
                                   " 撤销过，这次没有改动任何文档。");
            return result;
        }
        // Marked before the documents are touched: a second undo must never
        // put back what this one restored over later edits.
        std::string why;
        if (!appendToFile(run.folder / text::pathFromUtf8(kManifestName),
                          undoneLine(clock ? clock() : std::time(nullptr)), true, why)) {
            result.lines.push_back("无法在" + text::quotedPath(run.folder) + "中记下撤销（" + why +
                                   "），没有改动任何文档。");
            result.anyLeftAlone = true;
            return result;
        }
        for (const DocumentEntry& entry : run.manifest.documents) {
            Restore restored = restoreDocument(run, entry);
            result.lines.push_back(std::move(restored.line));
            result.anyLeftAlone = result.anyLeftAlone || restored.leftAlone;
        }
        if (run.manifest.documents.empty())
            result.lines.push_back("运行“" + id + "”没有修改任何文档，无需撤销。");
        return result;
    }
    result.lines.push_back("备份中没有运行“" + id + "”。用 batchreplace-cli runs 查看保留的运行。");
    result.anyLeftAlone = true;
    return result;
}

UndoResult undoLastRun(const fs::path& appFolder, Clock clock) {
    const std::vector<KeptRun> runs = keptRuns(appFolder);
    if (runs.empty())
        return {{"没有可以撤销的运行：备份文件夹" + text::quotedPath(storePath(appFolder)) +
                 "中没有保留的运行。"},
                true};
    return undoRun(appFolder, runs.back().id, std::move(clock));
}

} // namespace backup
