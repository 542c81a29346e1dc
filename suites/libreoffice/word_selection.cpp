// The Word server's insertion point: the selection with its font,
// paragraph format and page-number fields, and the window and view whose
// `SeekView` moves it between the main text, headers and footers.

#include "core/automation/word_constants.h"
#include "suites/libreoffice/word_objects.h"

#include <com/sun/star/awt/FontWeight.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/style/NumberingType.hpp>
#include <com/sun/star/text/PageNumberType.hpp>
#include <com/sun/star/text/XTextContent.hpp>
#include <com/sun/star/text/XTextRangeCompare.hpp>

namespace libreoffice {

namespace {

class WordFont : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        WordDocument& document = usable();
        ensureInsertionPoint(document);
        auto current = uno::must<css::beans::XPropertySet>(document.cursor);
        if (sameName(member, "Name")) {
            if (kind == CallKind::Put) {
                const std::string name = newValue(args).toString();
                if (!name.empty())
                    document.pending.name = name;
                return {};
            }
            if (document.pending.name)
                return Value(*document.pending.name);
            return Value(toUtf8(uno::propertyOf<OUString>(current, "CharFontName")));
        }
        if (sameName(member, "Size")) {
            if (kind == CallKind::Put) {
                document.pending.size = static_cast<float>(fontSizeFrom(newValue(args)));
                return {};
            }
            if (document.pending.size)
                return Value(static_cast<double>(*document.pending.size));
            return Value(static_cast<double>(uno::propertyOf<float>(current, "CharHeight")));
        }
        if (sameName(member, "Bold")) {
            if (kind == CallKind::Put) {
                const Value& v = newValue(args);
                bool bold;
                if (v.type() != Value::Type::Bool && v.toInteger() == word::Toggle) {
                    const bool now = document.pending.bold.value_or(
                        uno::propertyOf<float>(current, "CharWeight") >
                        css::awt::FontWeight::NORMAL);
                    bold = !now;
                } else {
                    bold = v.toBool();
                }
                document.pending.bold = bold;
                return {};
            }
            const bool bold = document.pending.bold.value_or(
                uno::propertyOf<float>(current, "CharWeight") > css::awt::FontWeight::NORMAL);
            return Value(bold ? -1 : 0);
        }
        unknownMember(member);
    }
};

class WordParagraphFormat : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (!sameName(member, "Alignment"))
            unknownMember(member);
        WordDocument& document = usable();
        ensureInsertionPoint(document);
        if (kind == CallKind::Put) {
            setAlignment(document, newValue(args).toInteger());
            return {};
        }
        return Value(alignmentOf(document));
    }
};

class WordField : public DocumentObject {
public:
    WordField(StatePtr state, DocumentPtr document, int type)
        : DocumentObject(std::move(state), std::move(document)), type_(type) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (sameName(member, "Type") && kind == CallKind::Get)
            return Value(type_);
        unknownMember(member);
    }

private:
    int type_;
};

class WordFields : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (!(sameName(member, "Add") && kind == CallKind::Method))
            unknownMember(member);
        const Arguments a(args, {"Range", "Type", "Text", "PreserveFormatting"});
        const Object rangeObject = a.required("Range").toObject();
        auto* range = dynamic_cast<WordRange*>(rangeObject.dispatch());
        if (!range || range->kind() != WordRange::Kind::Position || range->document() != document_)
            throw Error(automation::errors::TypeMismatch,
                        "Fields.Add 的 Range 参数必须是本文档的 Selection.Range。");
        const int type = a.has("Type") ? static_cast<int>(a.find("Type")->toInteger()) : -1;
        const char* service = nullptr;
        if (type == word::field::Page)
            service = "com.sun.star.text.TextField.PageNumber";
        else if (type == word::field::NumPages)
            service = "com.sun.star.text.TextField.PageCount";
        else
            throw Error(automation::errors::InvalidArgument,
                        "不支持域类型 " + std::to_string(type) + "（支持 26 总页数、33 页码）。");

        WordDocument& document = usable();
        ensureInsertionPoint(document);
        Reference<css::text::XTextContent> field(
            uno::must<css::lang::XMultiServiceFactory>(document.component)
                ->createInstance(OUString::createFromAscii(service)),
            uno::UNO_QUERY_THROW);
        auto settings = uno::must<css::beans::XPropertySet>(field);
        if (type == word::field::Page)
            uno::setProperty(settings, "SubType", Any(css::text::PageNumberType_CURRENT));
        uno::setProperty(settings, "NumberingType", Any(css::style::NumberingType::ARABIC));

        // At the insertion point the field is typed like text: the point
        // moves past it and the field takes the pending font.
        const Reference<css::text::XTextCursor>& at = range->position();
        bool atInsertionPoint = false;
        try {
            atInsertionPoint =
                uno::must<css::text::XTextRangeCompare>(document.story)
                    ->compareRegionStarts(rangeOf(document.cursor), rangeOf(at)) == 0;
        } catch (const css::lang::IllegalArgumentException&) {
            // In another story.
        }
        document.changed = true;
        if (atInsertionPoint) {
            document.story->insertTextContent(rangeOf(document.cursor), field, false);
            applyPendingFont(document, 1);
        } else {
            at->getText()->insertTextContent(rangeOf(at), field, false);
        }
        return make<WordField>(state_, document_, type);
    }
};

class WordSelection : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "Font") && kind == CallKind::Get)
            return make<WordFont>(state_, document_);
        if (sameName(member, "ParagraphFormat") && kind == CallKind::Get)
            return make<WordParagraphFormat>(state_, document_);
        if (sameName(member, "Fields") && kind == CallKind::Get)
            return make<WordFields>(state_, document_);
        if (sameName(member, "TypeText") && kind == CallKind::Method) {
            const Arguments a(args, {"Text"});
            typeText(usable(), a.required("Text").toString());
            return {};
        }
        if (sameName(member, "Range") && kind == CallKind::Get) {
            WordDocument& document = usable();
            ensureInsertionPoint(document);
            Reference<css::text::XTextCursor> copy =
                document.story->createTextCursorByRange(rangeOf(document.cursor));
            return make<WordRange>(state_, document_, WordRange::Kind::Position, false, 1, copy);
        }
        if (sameName(member, "Text") && kind == CallKind::Get) {
            WordDocument& document = usable();
            ensureInsertionPoint(document);
            return Value(toUtf8(document.cursor->getString()));
        }
        unknownMember(member);
    }
};

class WordView : public DocumentObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (sameName(member, "SeekView")) {
            WordDocument& document = usable();
            if (kind == CallKind::Put) {
                seek(document, static_cast<int>(newValue(args).toInteger()));
                return {};
            }
            return Value(document.seekView);
        }
        if (sameName(member, "Type")) {
            if (kind == CallKind::Put)
                return {}; // one kind of view only; nothing is shown
            return Value(word::PrintView);
        }
        unknownMember(member);
    }
};

// `ActiveWindow` and `ActiveWindow.ActivePane`: both lead to the view and
// the selection of their document.
class WordWindow : public DocumentObject {
public:
    WordWindow(StatePtr state, DocumentPtr document, bool pane)
        : DocumentObject(std::move(state), std::move(document)), pane_(pane) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args&) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "View"))
                return make<WordView>(state_, document_);
            if (sameName(member, "ActivePane") && !pane_)
                return make<WordWindow>(state_, document_, true);
            if (sameName(member, "Selection"))
                return make<WordSelection>(state_, document_);
        }
        unknownMember(member);
    }

private:
    bool pane_;
};

} // namespace

Value newWordSelection(const StatePtr& state, const DocumentPtr& document) {
    return make<WordSelection>(state, document);
}

Value newWordWindow(const StatePtr& state, const DocumentPtr& document, bool pane) {
    return make<WordWindow>(state, document, pane);
}

} // namespace libreoffice
