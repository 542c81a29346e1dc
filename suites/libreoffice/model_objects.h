#pragma once

// What the objects of the Word and the Excel model share: the base classes
// of objects that belong to an application or to one of its documents, and
// the members of a document and of the documents collection that both
// models answer alike. `State` is the model's application state, with its
// open documents in `documents`.

#include "suites/libreoffice/dispatch_support.h"
#include "suites/libreoffice/office_documents.h"
#include "suites/libreoffice/server_objects.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace libreoffice {

template <class State> class ApplicationMember : public ServerObject {
public:
    explicit ApplicationMember(std::shared_ptr<State> state)
        : ServerObject(state->documents.session()), state_(std::move(state)) {}

protected:
    long failureNumber() const override { return state_->documents.kind().saveError; }
    std::shared_ptr<State> state_;
};

template <class State, class Document> class DocumentMember : public ApplicationMember<State> {
public:
    DocumentMember(std::shared_ptr<State> state, std::shared_ptr<Document> document)
        : ApplicationMember<State>(std::move(state)), document_(std::move(document)) {}

protected:
    std::string subject() const override { return document_->path.string(); }
    Document& usable() {
        this->state_->documents.checkUsable(*document_);
        return *document_;
    }
    std::shared_ptr<Document> document_;
};

// `Name`, `FullName`, `Path`, `ReadOnly`, `Saved`, `Activate` and `Save` of
// a document; absent for every other member.
std::optional<automation::Value> answerDocumentMember(automation::CallKind kind,
                                                      std::string_view member,
                                                      OpenDocuments& documents,
                                                      const OfficeDocumentPtr& document);

// The model's object of one open document.
using DocumentWrapper = std::function<automation::Value(const OfficeDocumentPtr&)>;

// `Count` and `Item` of the documents collection; absent for every other
// member.
std::optional<automation::Value> answerCollectionMember(automation::CallKind kind,
                                                        std::string_view member,
                                                        const automation::Args& args,
                                                        OpenDocuments& documents,
                                                        const DocumentWrapper& wrap);
// `For Each` over the documents collection.
std::unique_ptr<automation::Enumeration> listDocuments(OpenDocuments& documents,
                                                       const DocumentWrapper& wrap);

// The documents collection (`Documents`, `Workbooks`). `Model` gives the
// model's state type `State`, the parameters of `Open` (the file name first),
// whether `Close` with its arguments saves, the record of a loaded document
// and the model's object of a document.
template <class Model> class DocumentCollection : public ApplicationMember<typename Model::State> {
public:
    using ApplicationMember<typename Model::State>::ApplicationMember;

    std::unique_ptr<automation::Enumeration> enumerate() override {
        return listDocuments(this->state_->documents, wrapper());
    }

protected:
    automation::Value dispatch(automation::CallKind kind, std::string_view member,
                               const automation::Args& args) final {
        OpenDocuments& documents = this->state_->documents;
        documents.checkNotQuit();
        if (sameName(member, "Open") && kind == automation::CallKind::Method) {
            const auto parameters = Model::openParameters();
            const Arguments a(args, parameters);
            const bool readOnly = a.has("ReadOnly") && a.find("ReadOnly")->toBool();
            return Model::wrap(this->state_,
                               documents.open(a.required(parameters.front()).toString(), readOnly,
                                              &Model::newDocument));
        }
        if (sameName(member, "Close") && kind == automation::CallKind::Method) {
            documents.closeAll(Model::closeSaves(args));
            return {};
        }
        if (auto answer = answerCollectionMember(kind, member, args, documents, wrapper()))
            return *answer;
        unknownMember(member);
    }

private:
    DocumentWrapper wrapper() const {
        return [state = this->state_](const OfficeDocumentPtr& document) {
            return Model::wrap(state, document);
        };
    }
};

// The application object: the members answered without the office
// (`Name`, `Version`, the kept settings), `Quit`, and the end of the office
// when the object is released; the model's own members in
// `applicationMember`.
template <class State>
class ModelApplication : public ApplicationMember<State>, public ApplicationObject {
public:
    // `program` completes the application's name: "Writer", "Calc".
    ModelApplication(std::shared_ptr<State> state, const char* program)
        : ApplicationMember<State>(std::move(state)), program_(program) {}
    ~ModelApplication() override { this->state_->documents.release(); }
    int processGroup() const override { return this->session_->processGroup(); }

protected:
    // Whether `Quit` with these arguments saves the open documents.
    virtual bool quitSaves(const automation::Args& args) const = 0;
    virtual automation::Value applicationMember(automation::CallKind kind, std::string_view member,
                                                const automation::Args& args) = 0;

    automation::Value dispatch(automation::CallKind kind, std::string_view member,
                               const automation::Args& args) final {
        // Answered without the office, and after Quit as well.
        if (auto answer = answerApplicationSetting(kind, member, args, this->state_->settings,
                                                   this->session_->installation(), program_))
            return *answer;
        if (sameName(member, "Quit") && kind == automation::CallKind::Method) {
            this->state_->documents.quit(quitSaves(args));
            return {};
        }
        this->state_->documents.checkNotQuit();
        return applicationMember(kind, member, args);
    }

private:
    const char* program_;
};

// A new application object of a model, with its state.
template <class Application, class State>
automation::Object newApplication(std::shared_ptr<Session> session) {
    return automation::Object(
        std::make_shared<Application>(std::make_shared<State>(std::move(session))));
}

} // namespace libreoffice
