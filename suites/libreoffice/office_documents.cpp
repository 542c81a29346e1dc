#include "suites/libreoffice/office_documents.h"

#include "suites/libreoffice/model_objects.h"

#include "core/text/paths.h"
#include "suites/libreoffice/dispatch_support.h"
#include "suites/libreoffice/office_session.h"

namespace libreoffice {

using text::quotedPath;

void OpenDocuments::checkNotQuit() const {
    if (quit_)
        throw Error(automation::errors::ServerUnavailable,
                    std::string("LibreOffice 已经退出（调用过 Quit），这个 ") + kind_.application +
                        " 对象不能再使用。");
}

void OpenDocuments::dropLost() {
    const auto generation = session_->generation();
    const bool running = session_->isRunning();
    std::erase_if(documents_, [&](const OfficeDocumentPtr& d) {
        if (running && d->generation == generation)
            return false;
        d->open = false;
        return true;
    });
    if (active_ && !active_->open)
        active_ = documents_.empty() ? nullptr : documents_.back();
}

void OpenDocuments::checkOpen(const OfficeDocument& document) const {
    checkNotQuit();
    if (!document.open)
        throw Error(kind_.closedError, kind_.noun + quotedPath(document.path) + "已经关闭。");
}

void OpenDocuments::checkUsable(const OfficeDocument& document) const {
    checkOpen(document);
    if (!session_->isRunning() || document.generation != session_->generation())
        throw Error(automation::errors::ServerUnavailable,
                    "LibreOffice 已经退出，" + (kind_.noun + quotedPath(document.path)) +
                        "不再打开。");
}

const std::vector<OfficeDocumentPtr>& OpenDocuments::list() {
    checkNotQuit();
    dropLost();
    return documents_;
}

OfficeDocumentPtr OpenDocuments::item(const Value& index) {
    list();
    if (index.type() == Value::Type::String) {
        for (const auto& d : documents_)
            if (sameName(d->name, index.toString()) || d->path.string() == index.toString())
                return d;
    } else {
        const auto i = index.toInteger();
        if (i >= 1 && i <= static_cast<std::int64_t>(documents_.size()))
            return documents_[static_cast<std::size_t>(i - 1)];
    }
    throw Error(kind_.noSuchItemError,
                std::string("没有") + kind_.noun + " " + index.toString() + "。");
}

OfficeDocumentPtr OpenDocuments::active() {
    list();
    if (!active_)
        throw Error(kind_.noDocumentError, kind_.noDocumentText);
    return active_;
}

OfficeDocumentPtr
OpenDocuments::open(const std::string& path, bool readOnly,
                    const std::function<OfficeDocumentPtr(const LoadedDocument&)>& make) {
    checkNotQuit();
    // The file is checked before the office starts: a missing file is
    // reported at once.
    const auto check = files::checkBeforeOpen(path, kind_.kind, kind_.openError);
    try {
        session_->ensureRunning();
        dropLost();
        const LoadedDocument loaded = session_->load(check, kind_.kind, kind_.openError);
        OfficeDocumentPtr document = make(loaded);
        document->path = check.path;
        document->name = check.path.filename().string();
        document->component = loaded.component;
        document->format = loaded.format;
        document->readOnlyReason = loaded.readOnlyReason;
        if (readOnly && document->readOnlyReason.empty())
            document->readOnlyReason =
                kind_.noun + quotedPath(check.path) + "以只读方式打开，不能保存。";
        document->generation = session_->generation();
        documents_.push_back(document);
        active_ = document;
        return document;
    } catch (...) {
        session_->rethrowAsError(kind_.openError, path);
    }
}

void OpenDocuments::save(OfficeDocument& document) {
    checkUsable(document);
    if (!document.changed)
        return;
    session_->save(document.component, document.path, document.format, document.readOnlyReason,
                   kind_.saveError);
    document.changed = false;
}

void OpenDocuments::close(const OfficeDocumentPtr& document, bool save) {
    if (save)
        this->save(*document);
    if (document->open && session_->isRunning() && document->generation == session_->generation())
        Session::close(document->component);
    session_->closed(document->path);
    document->open = false;
    document->component.clear();
    document->release();
    std::erase(documents_, document);
    if (active_ == document)
        active_ = documents_.empty() ? nullptr : documents_.back();
}

void OpenDocuments::closeAll(bool save) {
    dropLost();
    // A failed save stops here and leaves that document open.
    while (!documents_.empty())
        close(documents_.front(), save);
}

void OpenDocuments::quit(bool save) {
    if (quit_)
        return;
    closeAll(save);
    session_->stop();
    quit_ = true;
}

void OpenDocuments::release() noexcept {
    try {
        Session::Call call(*session_);
        quit(false);
    } catch (...) {
        // Released without Quit: the office ends in any case.
        session_->stop();
    }
}

std::optional<Value> answerDocumentMember(automation::CallKind kind, std::string_view member,
                                          OpenDocuments& documents,
                                          const OfficeDocumentPtr& document) {
    if (kind == automation::CallKind::Method) {
        if (sameName(member, "Activate")) {
            documents.checkUsable(*document);
            documents.activate(document);
            return Value();
        }
        if (sameName(member, "Save")) {
            documents.save(*document);
            return Value();
        }
        return std::nullopt;
    }
    if (kind != automation::CallKind::Get)
        return std::nullopt;
    if (member.empty() || sameName(member, "Name"))
        return Value(document->name);
    if (sameName(member, "FullName"))
        return Value(document->path.string());
    if (sameName(member, "Path"))
        return Value(document->path.parent_path().string());
    if (sameName(member, "ReadOnly"))
        return Value(!document->readOnlyReason.empty());
    if (sameName(member, "Saved")) {
        documents.checkUsable(*document);
        return Value(!document->changed);
    }
    return std::nullopt;
}

std::optional<Value> answerCollectionMember(automation::CallKind kind, std::string_view member,
                                            const automation::Args& args, OpenDocuments& documents,
                                            const DocumentWrapper& wrap) {
    if (kind != automation::CallKind::Get)
        return std::nullopt;
    if (sameName(member, "Count"))
        return Value(static_cast<int>(documents.list().size()));
    if ((member.empty() || sameName(member, "Item")) && args.positional.size() == 1)
        return wrap(documents.item(args.positional[0]));
    return std::nullopt;
}

std::unique_ptr<automation::Enumeration> listDocuments(OpenDocuments& documents,
                                                       const DocumentWrapper& wrap) {
    std::vector<Value> items;
    for (const auto& d : documents.list())
        items.push_back(wrap(d));
    return std::make_unique<Listing>(std::move(items));
}

} // namespace libreoffice
