// The Word object model over LibreOffice Writer: the application, its
// documents, the main text and its search, and the header and footer stories
// of the first section. The insertion point is in word_selection.cpp, the
// text work in word_text.cpp.

#include "core/automation/word_constants.h"
#include "suites/libreoffice/office_session.h"
#include "suites/libreoffice/server_objects.h"
#include "suites/libreoffice/word_objects.h"

namespace libreoffice {

namespace {

const DocumentKind kWordDocuments{files::Kind::Word,
                                  "文档",
                                  "Word",
                                  kWordOpenFailure,
                                  kWordCommandFailure,
                                  automation::errors::WordObjectDeleted,
                                  automation::errors::WordNoDocument,
                                  "没有打开的文档，此命令无效。",
                                  automation::errors::WordNoSuchMember};

// `SaveChanges` of `Close` and `Quit`: true (-1) saves; false (0) and
// wdPromptToSaveChanges (-2), which nobody can answer here, do not.
bool savesChanges(const Args& args) {
    const Arguments a(args, {"SaveChanges", "OriginalFormat", "RouteDocument"});
    const Value* v = a.find("SaveChanges");
    return v && v->toInteger() == word::save::Yes;
}

DocumentPtr asDocument(const OfficeDocumentPtr& document) {
    return std::static_pointer_cast<WordDocument>(document);
}

} // namespace

WordState::WordState(std::shared_ptr<Session> session)
    : documents(std::move(session), kWordDocuments) {}

namespace {

class WordFind : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "Execute") && kind == CallKind::Method)
            return execute(args);
        if (sameName(member, "Text")) {
            if (kind == CallKind::Put) {
                text_ = newValue(args).toString();
                return {};
            }
            return Value(text_);
        }
        if (sameName(member, "MatchCase") || sameName(member, "MatchWholeWord")) {
            bool& setting =
                sameName(member, "MatchCase") ? state_->matchCase : state_->matchWholeWord;
            if (kind == CallKind::Put) {
                setting = newValue(args).toBool();
                return {};
            }
            return Value(setting);
        }
        if (sameName(member, "ClearFormatting") && kind == CallKind::Method)
            return {};
        unknownMember(member);
    }

private:
    Value execute(const Args& args) {
        const Arguments a(args, {"FindText", "MatchCase", "MatchWholeWord", "MatchWildcards",
                                 "MatchSoundsLike", "MatchAllWordForms", "Forward", "Wrap",
                                 "Format", "ReplaceWith", "Replace", "MatchKashida",
                                 "MatchDiacritics", "MatchAlefHamza", "MatchControl"});
        if (const Value* v = a.find("FindText"))
            text_ = v->toString();
        if (const Value* v = a.find("MatchCase"))
            state_->matchCase = v->toBool();
        if (const Value* v = a.find("MatchWholeWord"))
            state_->matchWholeWord = v->toBool();
        for (const char* unsupported : {"MatchWildcards", "MatchSoundsLike", "MatchAllWordForms"}) {
            if (const Value* v = a.find(unsupported); v && v->toBool())
                throw Error(automation::errors::InvalidArgument,
                            std::string("不支持按 ") + unsupported + " 查找。");
        }
        const int mode = a.has("Replace") ? static_cast<int>(a.find("Replace")->toInteger())
                                          : word::replace::None;
        if (mode != word::replace::None && mode != word::replace::One && mode != word::replace::All)
            throw Error(automation::errors::InvalidArgument,
                        "Replace 参数 " + std::to_string(mode) + " 无效（应为 0、1 或 2）。");
        const std::string replacement =
            a.has("ReplaceWith") ? a.find("ReplaceWith")->toString() : "";

        WordDocument& document = usable();
        if (mode == word::replace::None)
            return Value(
                findInMainText(document, text_, state_->matchCase, state_->matchWholeWord));
        return Value(replaceInMainText(document, text_, replacement, state_->matchCase,
                                       state_->matchWholeWord, mode) > 0);
    }

    std::string text_;
};

} // namespace

Value WordRange::dispatch(CallKind kind, std::string_view member, const Args&) {
    if (sameName(member, "Text") && kind != CallKind::Put) {
        WordDocument& document = usable();
        switch (kind_) {
        case Kind::MainText:
            return Value(mainText(document));
        case Kind::Story:
            return Value(storyText(document, header_, index_));
        case Kind::Position:
            return Value(toUtf8(position_->getString()));
        }
    }
    if (sameName(member, "Find") && kind == CallKind::Get) {
        if (kind_ != Kind::MainText)
            throw Error(kWordCommandFailure, "只能在文档正文（Content）中查找。");
        return make<WordFind>(state_, document_);
    }
    unknownMember(member);
}

namespace {

class WordHeaderFooter : public DocumentObject {
public:
    WordHeaderFooter(StatePtr state, DocumentPtr document, bool header, int index)
        : DocumentObject(std::move(state), std::move(document)), header_(header), index_(index) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (sameName(member, "Range") && kind == CallKind::Get)
            return make<WordRange>(state_, document_, WordRange::Kind::Story, header_, index_);
        if (sameName(member, "Exists") && kind == CallKind::Get)
            return Value(storyExists(usable(), header_, index_));
        unknownMember(member);
    }

private:
    bool header_;
    int index_;
};

int headerFooterIndex(const Value& v) {
    const auto index = v.toInteger();
    if (index < 1 || index > 3)
        throw Error(automation::errors::WordNoSuchMember,
                    "页眉页脚编号 " + std::to_string(index) + " 不存在（应为 1、2 或 3）。");
    return static_cast<int>(index);
}

class WordHeadersFooters : public DocumentObject {
public:
    WordHeadersFooters(StatePtr state, DocumentPtr document, bool header)
        : DocumentObject(std::move(state), std::move(document)), header_(header) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1)
            return make<WordHeaderFooter>(state_, document_, header_,
                                          headerFooterIndex(args.positional[0]));
        if (sameName(member, "Count") && kind == CallKind::Get)
            return Value(3);
        unknownMember(member);
    }

private:
    bool header_;
};

class WordSection : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (sameName(member, "Headers") || sameName(member, "Footers"))) {
            const bool header = sameName(member, "Headers");
            if (args.positional.size() == 1)
                return make<WordHeaderFooter>(state_, document_, header,
                                              headerFooterIndex(args.positional[0]));
            return make<WordHeadersFooters>(state_, document_, header);
        }
        unknownMember(member);
    }
};

// Only the first section is served: the header and footer writer uses it.
Value sectionAt(const StatePtr& state, const DocumentPtr& document, const Value& index) {
    if (index.toInteger() != 1)
        throw Error(automation::errors::WordNoSuchMember,
                    "只支持第 1 节（Sections(1)），不支持 Sections(" + index.toString() + ")。");
    return make<WordSection>(state, document);
}

class WordSections : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1)
            return sectionAt(state_, document_, args.positional[0]);
        if (sameName(member, "First") && kind == CallKind::Get)
            return make<WordSection>(state_, document_);
        unknownMember(member);
    }
};

class WordDocumentObject : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "Content")) {
                usable();
                return make<WordRange>(state_, document_, WordRange::Kind::MainText);
            }
            if (sameName(member, "Sections")) {
                usable();
                if (args.positional.size() == 1)
                    return sectionAt(state_, document_, args.positional[0]);
                return make<WordSections>(state_, document_);
            }
            if (sameName(member, "ActiveWindow")) {
                usable();
                return newWordWindow(state_, document_, false);
            }
        }
        if (auto answer = answerDocumentMember(kind, member, state_->documents, document_))
            return *answer;
        if (kind == CallKind::Method) {
            if (sameName(member, "Close")) {
                state_->documents.checkOpen(*document_);
                state_->documents.close(document_, savesChanges(args));
                return {};
            }
        }
        unknownMember(member);
    }
};

// `Documents`.
struct DocumentsModel {
    using State = WordState;
    static std::vector<std::string_view> openParameters() {
        return parameterList(
            "FileName ConfirmConversions ReadOnly AddToRecentFiles PasswordDocument "
            "PasswordTemplate Revert WritePasswordDocument WritePasswordTemplate Format Encoding "
            "Visible OpenAndRepair DocumentDirection NoEncodingDialog XMLTransform");
    }
    static bool closeSaves(const Args& args) { return savesChanges(args); }
    static Value wrap(const StatePtr& state, const OfficeDocumentPtr& document) {
        return make<WordDocumentObject>(state, asDocument(document));
    }
    static OfficeDocumentPtr newDocument(const LoadedDocument& loaded) {
        auto document = std::make_shared<WordDocument>();
        document->text = uno::must<css::text::XTextDocument>(loaded.component);
        return document;
    }
};
using WordDocuments = DocumentCollection<DocumentsModel>;

class WordApplication : public ModelApplication<WordState> {
public:
    explicit WordApplication(StatePtr state) : ModelApplication(std::move(state), "Writer") {}

protected:
    bool quitSaves(const Args& args) const override { return savesChanges(args); }

    Value applicationMember(CallKind kind, std::string_view member, const Args&) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "Documents"))
                return make<WordDocuments>(state_);
            if (sameName(member, "ActiveDocument"))
                return make<WordDocumentObject>(state_, state_->active());
            if (sameName(member, "Selection"))
                return newWordSelection(state_, state_->active());
            if (sameName(member, "ActiveWindow"))
                return newWordWindow(state_, state_->active(), false);
        }
        unknownMember(member);
    }
};

} // namespace

Object newWordApplication(std::shared_ptr<Session> session) {
    return newApplication<WordApplication, WordState>(std::move(session));
}

} // namespace libreoffice
