#include "suites/libreoffice/document_store.h"

#include "core/platform/atomic_save.h"
#include "core/text/paths.h"
#include "suites/libreoffice/office_process.h"
#include "suites/libreoffice/package_parts.h"

#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/document/LockedDocumentRequest.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XTypeDetection.hpp>
#include <com/sun/star/frame/XComponentLoader.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/task/DocumentMSPasswordRequest2.hpp>
#include <com/sun/star/task/DocumentPasswordRequest2.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <cppuhelper/implbase1.hxx>
#include <rtl/ref.hxx>

#include <cstdio>
#include <mutex>
#include <optional>
#include <system_error>

namespace libreoffice {

using automation::Error;

namespace fs = std::filesystem;
using text::quotedPath;

namespace {

// Selects the continuation of the wanted kind; false when there is none.
template <class Wanted>
bool choose(const uno::Sequence<Reference<css::task::XInteractionContinuation>>& continuations) {
    for (const auto& c : continuations) {
        Reference<Wanted> choice(c, uno::UNO_QUERY);
        if (choice.is()) {
            choice->select();
            return true;
        }
    }
    return false;
}

// Whether a password request asks for the password to modify (a write
// reservation) rather than the one to open.
bool asksPasswordToModify(const Any& request) {
    css::task::DocumentMSPasswordRequest2 ms;
    if (request >>= ms)
        return ms.IsRequestPasswordToModify;
    css::task::DocumentPasswordRequest2 odf;
    if (request >>= odf)
        return odf.IsRequestPasswordToModify;
    return false;
}

// Whether the document carries a password to modify (a write reservation
// with a password), which the office keeps in the document's arguments.
bool hasPasswordToModify(const Reference<css::lang::XComponent>& component) {
    const auto arguments = uno::must<css::frame::XModel>(component)->getArgs();
    for (const auto& argument : arguments) {
        if (argument.Name != "ModifyPasswordInfo")
            continue;
        sal_Int32 hash = 0;
        if (argument.Value >>= hash)
            return hash != 0;
        uno::Sequence<css::beans::PropertyValue> info;
        if (argument.Value >>= info)
            return info.getLength() > 0;
    }
    return false;
}

// Lets calls change a document the office opened read-only. The text
// document takes changes through the interface in any case; the
// spreadsheet needs its switch.
void allowEditing(const Reference<css::lang::XComponent>& component) {
    const auto settings = uno::as<css::beans::XPropertySet>(component);
    if (settings.is() &&
        settings->getPropertySetInfo()->hasPropertyByName("IsChangeReadOnlyEnabled"))
        uno::setProperty(settings, "IsChangeReadOnlyEnabled", Any(true));
}

// Why a document with a password to modify is not saved.
std::string modifyPasswordText(const fs::path& path) {
    return "文件" + quotedPath(path) +
           "设有修改密码，只能以只读方式打开，不能保存，原文件保持不变。请先在 Word/Excel "
           "中去掉修改密码（“修改权限密码”）后再试。";
}

// Answers the office's questions while a document loads: nobody is asked,
// and what was asked is kept for the error description.
class LoadQuestions : public cppu::WeakImplHelper1<css::task::XInteractionHandler> {
public:
    void SAL_CALL handle(const Reference<css::task::XInteractionRequest>& request) override {
        const Any what = request->getRequest();
        const OUString type = what.getValueTypeName();
        const auto continuations = request->getContinuations();
        auto approve = [&] { return choose<css::task::XInteractionApprove>(continuations); };
        auto abort = [&] { choose<css::task::XInteractionAbort>(continuations); };

        std::lock_guard lock(mutex_);
        css::document::LockedDocumentRequest locked;
        css::task::ErrorCodeRequest errorCode;
        if (what >>= locked) {
            // Opened read-only, as Word opens a document in use; saving it
            // is refused later.
            lockedBy_ = toUtf8(locked.UserInfo);
            if (!approve())
                abort();
        } else if (type.indexOf("PasswordRequest") >= 0) {
            // A password to modify only: the office opens the document
            // read-only when it is not given; one to open stops the load.
            if (asksPasswordToModify(what))
                modifyPasswordAsked_ = true;
            else
                passwordAsked_ = true;
            abort();
        } else if (type.endsWith("LockFileIgnoreRequest") ||
                   type.endsWith("LockFileCorruptRequest")) {
            // The lock file cannot be made or read: open anyway; the
            // document is read-only for the server then.
            lockFileProblem_ = true;
            if (!approve())
                abort();
        } else if (what >>= errorCode) {
            // Warnings (the high bit) do not stop a load.
            const auto code = static_cast<std::uint32_t>(errorCode.ErrCode);
            if ((code & 0x80000000u) != 0 && approve())
                return;
            if (errorCode_ == 0)
                errorCode_ = code;
            abort();
        } else {
            if (otherQuestion_.empty())
                otherQuestion_ = toUtf8(type);
            abort();
        }
    }

    bool passwordAsked() {
        std::lock_guard lock(mutex_);
        return passwordAsked_;
    }
    bool modifyPasswordAsked() {
        std::lock_guard lock(mutex_);
        return modifyPasswordAsked_;
    }
    std::string lockedBy() {
        std::lock_guard lock(mutex_);
        return lockedBy_;
    }
    bool lockFileProblem() {
        std::lock_guard lock(mutex_);
        return lockFileProblem_;
    }
    std::uint32_t errorCode() {
        std::lock_guard lock(mutex_);
        return errorCode_;
    }
    std::string otherQuestion() {
        std::lock_guard lock(mutex_);
        return otherQuestion_;
    }

private:
    std::mutex mutex_;
    bool passwordAsked_ = false;
    bool modifyPasswordAsked_ = false;
    bool lockFileProblem_ = false;
    std::string lockedBy_;
    std::uint32_t errorCode_ = 0;
    std::string otherQuestion_;
};

// The format of a type the office detected, for a document of the kind;
// nullopt for every type the server does not open as that kind.
std::optional<files::Format> formatOfType(files::Kind kind, const std::string& type) {
    using files::Format;
    if (kind == files::Kind::Word) {
        if (type == "writer_MS_Word_97" || type == "writer_MS_Word_97_Vorlage")
            return Format::Word97;
        // writer_OOXML: the ISO variant of the same format.
        if (type == "writer_MS_Word_2007" || type == "writer_OOXML")
            return Format::Word2007;
        if (type == "writer_MS_Word_2007_VBA")
            return Format::Word2007Macro;
        return std::nullopt;
    }
    if (type == "calc_MS_Excel_97" || type == "calc_MS_Excel_97_VorlageTemplate")
        return Format::Excel97;
    if (type == "MS Excel 2007 XML" || type == "Office Open XML Spreadsheet")
        return Format::Excel2007;
    if (type == "MS Excel 2007 VBA XML")
        return Format::Excel2007Macro;
    return std::nullopt;
}

bool isOlderVersionType(const std::string& type) {
    return type.find("Word_95") != std::string::npos || type.find("WinWord") != std::string::npos ||
           type.find("Excel_95") != std::string::npos ||
           type.find("Excel_5095") != std::string::npos ||
           type.find("Excel_40") != std::string::npos;
}

bool isTemplateType(const std::string& type) {
    return type.find("Template") != std::string::npos;
}

// The office tells a .docm from a .docx partly by the file's name; the
// package's content types decide.
files::Format byContent(files::Format detected, const fs::path& path) {
    using files::Format;
    if (detected != Format::Word2007 && detected != Format::Word2007Macro &&
        detected != Format::Excel2007 && detected != Format::Excel2007Macro)
        return detected;
    const auto macros = packages::declaresMacros(path);
    if (!macros)
        return detected;
    if (files::kindOf(detected) == files::Kind::Word)
        return *macros ? Format::Word2007Macro : Format::Word2007;
    return *macros ? Format::Excel2007Macro : Format::Excel2007;
}

// The office writes the macros of a .docm or .xlsm anew; the file's own
// macro part goes back in as it stands. A copy that lost the macros is not
// saved. A package this reader does not take keeps the office's part.
void keepMacros(const fs::path& path, const fs::path& copy, files::Format format,
                long errorNumber) {
    const std::string_view part = files::macroPart(format);
    if (!part.empty() && packages::carryPartOver(path, copy, part) == packages::Carry::NotInCopy)
        throw Error(errorNumber, "保存文件" + quotedPath(path) +
                                     "时 LibreOffice 没能保留其中的宏，为免宏丢失，原文件保持不变。"
                                     "请在 Word/Excel 中处理这个文件。");
}

} // namespace

LoadedDocument DocumentStore::load(const files::OpenCheck& check, files::Kind kind,
                                   long errorNumber) {
    const fs::path& path = check.path;
    const std::string label = files::expectedLabel(path, kind);
    const bool word = kind == files::Kind::Word;
    // Without a detected type (a password stops the detection) the name
    // decides, and the office's questions tell what went wrong.
    files::Format format = files::formatNamedBy(path, kind)
                               .value_or(word ? files::Format::Word97 : files::Format::Excel97);
    process_.removeStaleLock(path);

    rtl::Reference<LoadQuestions> questions(new LoadQuestions);
    const Reference<css::task::XInteractionHandler> handler(questions.get());
    const OUString url = uno::fileUrl(path);

    // The content decides, not the name: a .doc that holds a .docx is opened
    // and stored as one, and a Word 95 document or a workbook named .doc is
    // refused before a filter would convert it.
    {
        Reference<css::document::XTypeDetection> detection(
            process_.context()->getServiceManager()->createInstanceWithContext(
                "com.sun.star.document.TypeDetection", process_.context()),
            uno::UNO_QUERY_THROW);
        auto descriptor =
            uno::properties({{"URL", Any(url)}, {"InteractionHandler", Any(handler)}});
        const std::string type = toUtf8(detection->queryTypeByDescriptor(descriptor, true));
        if (const auto detected = formatOfType(kind, type)) {
            format = byContent(*detected, path);
        } else if (!questions->passwordAsked()) {
            const std::string advice = word ? "请在 Word 中另存为“Word 文档”后再试。"
                                            : "请在 Excel 中另存为“Excel 工作簿”后再试。";
            if (isOlderVersionType(type))
                throw Error(errorNumber, "文件" + quotedPath(path) + "是旧版本（" +
                                             (word ? "Word 95 或更早" : "Excel 95 或更早") +
                                             "）的格式，不是 " + label + "。" + advice);
            if (word && (type.rfind("calc_", 0) == 0 || type.find("Excel") != std::string::npos))
                throw Error(errorNumber, "文件" + quotedPath(path) + "是电子表格，不是 " + label +
                                             "。请确认文件的扩展名。");
            if (!word && type.rfind("writer_", 0) == 0)
                throw Error(errorNumber, "文件" + quotedPath(path) + "是文字处理文档，不是 " +
                                             label + "。请确认文件的扩展名。");
            if (isTemplateType(type))
                throw Error(errorNumber, "文件" + quotedPath(path) + "是" +
                                             (word ? "Word 模板" : "Excel 模板") + "，不是 " +
                                             label + "。请确认文件的扩展名。");
            if (type.find("Binary") != std::string::npos)
                throw Error(errorNumber, "文件" + quotedPath(path) +
                                             "是 Excel 二进制工作簿（.xlsb），不是 " + label +
                                             "。" + advice);
            throw Error(errorNumber, "文件" + quotedPath(path) + "已损坏，或不是 " + label + "。");
        }
    }

    std::vector<std::pair<const char*, Any>> settings = {
        {"Hidden", Any(true)},
        {"MacroExecutionMode", Any(css::document::MacroExecMode::NEVER_EXECUTE)},
        {"UpdateDocMode", Any(css::document::UpdateDocMode::NO_UPDATE)},
        {"FilterName", Any(OUString::createFromAscii(files::filterName(format)))},
        {"InteractionHandler", Any(handler)},
    };
    // A writable file is opened for writing even when it is marked "read-only
    // recommended" (or reserved for writing without a password): the user
    // asked for the change. "ReadOnly" false would demand write access and
    // make a read-only file fail to load, so that one is opened read-only.
    settings.emplace_back("ReadOnly", Any(!check.folderWritable || !check.fileWritable));
    auto arguments = uno::properties(settings);
    Reference<css::lang::XComponent> component;
    try {
        component = uno::must<css::frame::XComponentLoader>(process_.desktop())
                        ->loadComponentFromURL(url, "_blank", 0, arguments);
    } catch (const css::lang::IllegalArgumentException&) {
        // Reported below from what the office asked.
    } catch (const css::io::IOException&) {
        // Likewise.
    }

    if (!component.is()) {
        if (questions->passwordAsked())
            throw Error(errorNumber,
                        "文件" + quotedPath(path) +
                            "有密码保护，无法打开。请先在 Word/Excel 中去掉密码后再试。");
        if (questions->modifyPasswordAsked())
            throw Error(errorNumber, modifyPasswordText(path));
        std::string detail;
        if (questions->errorCode() != 0) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%X", questions->errorCode());
            detail = "（LibreOffice 错误代码 " + std::string(code) + "）";
        } else if (!questions->otherQuestion().empty()) {
            detail = "（" + questions->otherQuestion() + "）";
        }
        throw Error(errorNumber, "无法打开文件" + quotedPath(path) + "：文件已损坏，或不是 " +
                                     label + detail + "。");
    }

    process_.opened(path);
    LoadedDocument loaded;
    loaded.component = component;
    loaded.format = format;
    std::string lockedBy = questions->lockedBy();
    if (!lockedBy.empty()) {
        // The lock file names the user plainly; the office's text adds the time.
        if (const auto owner = files::readLockFile(files::lockFilePath(path)))
            lockedBy = owner->displayName();
        loaded.readOnlyReason = "文件" + quotedPath(path) + "正被 " + lockedBy +
                                " 打开并锁定，不能保存，原文件保持不变。请等对方关闭该文件后再试。";
    } else if (questions->modifyPasswordAsked() || hasPasswordToModify(component)) {
        loaded.readOnlyReason = modifyPasswordText(path);
    } else if (!check.fileWritable) {
        loaded.readOnlyReason = "文件" + quotedPath(path) +
                                "是只读的，不能保存，原文件保持不变。请去掉只读属性后再试。";
    } else if (!check.folderWritable) {
        loaded.readOnlyReason =
            "文件夹" + quotedPath(path.parent_path().empty() ? fs::path(".") : path.parent_path()) +
            "不可写，不能保存文件" + quotedPath(path) +
            "，原文件保持不变。请检查该文件夹的权限后再试。";
    } else if (questions->lockFileProblem()) {
        loaded.readOnlyReason =
            "文件" + quotedPath(path) +
            "只能以只读方式打开，不能保存，原文件保持不变。请检查文件和文件夹的权限后再试。";
    } else if (uno::must<css::frame::XStorable>(component)->isReadonly()) {
        // A writable file, not in use, that the office opened read-only on
        // its own: it is marked "read-only recommended" (or reserved for
        // writing without a password). The user asked for the change; the
        // document is saved through a copy, so only editing is switched on.
        allowEditing(component);
    }
    return loaded;
}

void DocumentStore::save(const Reference<css::lang::XComponent>& document, const fs::path& path,
                         files::Format format, const std::string& readOnlyReason,
                         long errorNumber) {
    if (!readOnlyReason.empty())
        throw Error(errorNumber, readOnlyReason);
    files::checkWritable(path, errorNumber);

    platform::AtomicSave atomic(path);
    try {
        uno::must<css::frame::XStorable>(document)->storeToURL(
            uno::fileUrl(atomic.temporaryPath()),
            uno::properties(
                {{"FilterName", Any(OUString::createFromAscii(files::filterName(format)))},
                 {"Overwrite", Any(true)}}));
    } catch (const css::io::IOException& e) {
        if (!process_.exited())
            throw Error(errorNumber, "保存文件" + quotedPath(path) + "失败（" + toUtf8(e.Message) +
                                         "），原文件保持不变。请检查磁盘空间和文件夹权限后再试。");
        throw;
    }
    try {
        keepMacros(path, atomic.temporaryPath(), format, errorNumber);
        atomic.commit();
    } catch (const std::system_error& e) {
        throw Error(errorNumber, "保存文件" + quotedPath(path) + "失败（" + e.code().message() +
                                     "），原文件保持不变。请检查磁盘空间和文件夹权限后再试。");
    }
    if (auto modifiable = uno::as<css::util::XModifiable>(document); modifiable.is())
        modifiable->setModified(false);
}

void DocumentStore::close(const Reference<css::lang::XComponent>& document) noexcept {
    if (!document.is())
        return;
    try {
        if (auto closeable = uno::as<css::util::XCloseable>(document); closeable.is()) {
            closeable->close(true);
            return;
        }
        document->dispose();
    } catch (...) {
        try {
            document->dispose();
        } catch (...) {
            // The office is gone or refuses; ending it closes the document.
        }
    }
}

} // namespace libreoffice
