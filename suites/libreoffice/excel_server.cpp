// The Excel object model over LibreOffice Calc: the application, its
// workbooks, their worksheets, and cell ranges with Excel's search and
// replace.

#include "core/automation/excel_constants.h"
#include "core/text/paths.h"
#include "suites/libreoffice/dispatch_support.h"
#include "suites/libreoffice/model_objects.h"
#include "suites/libreoffice/office_documents.h"
#include "suites/libreoffice/office_session.h"
#include "suites/libreoffice/server_objects.h"

#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellRange.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/CellProtection.hpp>
#include <com/sun/star/util/XProtectable.hpp>
#include <com/sun/star/util/XReplaceDescriptor.hpp>
#include <com/sun/star/util/XReplaceable.hpp>

#include <optional>

namespace libreoffice {

namespace fs = std::filesystem;

namespace {

constexpr long kFailure = automation::errors::ExcelFailure;

const DocumentKind kWorkbooks{files::Kind::Excel,
                              "工作簿",
                              "Excel",
                              kFailure,
                              kFailure,
                              kFailure,
                              automation::errors::ObjectNotSet,
                              "没有打开的工作簿。",
                              automation::errors::SubscriptOutOfRange};

struct Workbook : OfficeDocument {
    Reference<css::sheet::XSpreadsheetDocument> document;
    int activeSheet = 1;
    void release() override { document.clear(); }
};
using WorkbookPtr = std::shared_ptr<Workbook>;

WorkbookPtr asWorkbook(const OfficeDocumentPtr& document) {
    return std::static_pointer_cast<Workbook>(document);
}

// Search settings kept from one search to the next, as Excel keeps them;
// these are Excel's values on first use.
struct SearchSettings {
    int lookIn = excel::lookIn::Formulas;
    bool whole = false;
    bool byRows = true;
    bool matchCase = false;
};

struct ExcelState {
    explicit ExcelState(std::shared_ptr<Session> session)
        : documents(std::move(session), kWorkbooks) {}
    OpenDocuments documents;
    ApplicationSettings settings{false, Value(true), Value(true)};
    SearchSettings search;
};
using StatePtr = std::shared_ptr<ExcelState>;

Reference<css::container::XIndexAccess> sheetsOf(Workbook& book) {
    return uno::must<css::container::XIndexAccess>(book.document->getSheets());
}

// "A", "B", ..., "Z", "AA", ...
std::string columnName(sal_Int32 column) {
    std::string name;
    for (sal_Int32 n = column + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
    return name;
}

// ---------------------------------------------------------------- search

void applyArguments(SearchSettings& settings, const Arguments& a, bool withLookIn) {
    if (withLookIn) {
        if (const Value* v = a.find("LookIn")) {
            const auto lookIn = v->toInteger();
            if (lookIn != excel::lookIn::Formulas && lookIn != excel::lookIn::Values &&
                lookIn != excel::lookIn::Comments)
                throw Error(kFailure, "LookIn 参数 " + std::to_string(lookIn) + " 无效。");
            settings.lookIn = static_cast<int>(lookIn);
        }
    }
    if (const Value* v = a.find("LookAt")) {
        const auto lookAt = v->toInteger();
        if (lookAt != excel::lookAt::Whole && lookAt != excel::lookAt::Part)
            throw Error(kFailure,
                        "LookAt 参数 " + std::to_string(lookAt) + " 无效（应为 1 或 2）。");
        settings.whole = lookAt == excel::lookAt::Whole;
    }
    if (const Value* v = a.find("SearchOrder")) {
        const auto order = v->toInteger();
        if (order != excel::order::ByRows && order != excel::order::ByColumns)
            throw Error(kFailure,
                        "SearchOrder 参数 " + std::to_string(order) + " 无效（应为 1 或 2）。");
        settings.byRows = order == excel::order::ByRows;
    }
    if (const Value* v = a.find("MatchCase"))
        settings.matchCase = v->toBool();
    for (const char* format : {"SearchFormat", "ReplaceFormat"}) {
        if (const Value* v = a.find(format); v && v->toBool())
            throw Error(kFailure, std::string("不支持按格式查找或替换（") + format + "）。");
    }
}

void configure(const Reference<css::util::XSearchDescriptor>& descriptor, const std::string& what,
               const SearchSettings& settings, int lookIn, bool backwards) {
    descriptor->setSearchString(toOUString(what));
    auto properties = uno::must<css::beans::XPropertySet>(descriptor);
    uno::setProperty(properties, "SearchCaseSensitive", Any(settings.matchCase));
    // "Words" means whole cells in the spreadsheet.
    uno::setProperty(properties, "SearchWords", Any(settings.whole));
    uno::setProperty(properties, "SearchByRow", Any(settings.byRows));
    uno::setProperty(properties, "SearchBackwards", Any(backwards));
    const sal_Int16 type = lookIn == excel::lookIn::Values     ? 1
                           : lookIn == excel::lookIn::Comments ? 2
                                                               : 0;
    uno::setProperty(properties, "SearchType", Any(type));
    uno::setProperty(properties, "SearchRegularExpression", Any(false));
    uno::setProperty(properties, "SearchSimilarity", Any(false));
    if (properties->getPropertySetInfo()->hasPropertyByName("SearchWildcard"))
        uno::setProperty(properties, "SearchWildcard", Any(false));
}

// ---------------------------------------------------------------- objects

using ExcelObject = ApplicationMember<ExcelState>;
using BookObject = DocumentMember<ExcelState, Workbook>;

// A rectangle of cells of one worksheet: `Cells` (the whole sheet), a cell,
// or a found range.
class ExcelRange : public BookObject {
public:
    ExcelRange(StatePtr state, WorkbookPtr book, Reference<css::table::XCellRange> range)
        : BookObject(std::move(state), std::move(book)), range_(std::move(range)) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        usable();
        if (sameName(member, "Find") && kind == CallKind::Method)
            return find(args);
        if (sameName(member, "Replace") && kind == CallKind::Method)
            return replace(args);
        if ((member.empty() || sameName(member, "Item") || sameName(member, "Cells")) &&
            kind == CallKind::Get && args.positional.size() == 2)
            return cellAt(args.positional[0], args.positional[1]);
        if (sameName(member, "Cells") && kind == CallKind::Get && args.positional.empty())
            return make<ExcelRange>(state_, document_, range_);
        if (sameName(member, "Value") || member.empty()) {
            if (kind == CallKind::Put) {
                setValue(newValue(args));
                document_->changed = true;
                return {};
            }
            if (kind == CallKind::Get && args.positional.empty())
                return value();
        }
        if (kind == CallKind::Get) {
            const auto address =
                uno::must<css::sheet::XCellRangeAddressable>(range_)->getRangeAddress();
            if (sameName(member, "Row"))
                return Value(static_cast<int>(address.StartRow) + 1);
            if (sameName(member, "Column"))
                return Value(static_cast<int>(address.StartColumn) + 1);
            if (sameName(member, "Address")) {
                std::string text = "$" + columnName(address.StartColumn) + "$" +
                                   std::to_string(address.StartRow + 1);
                if (address.EndColumn != address.StartColumn || address.EndRow != address.StartRow)
                    text += ":$" + columnName(address.EndColumn) + "$" +
                            std::to_string(address.EndRow + 1);
                return Value(text);
            }
            if (sameName(member, "Text"))
                return Value(toUtf8(uno::must<css::text::XText>(firstCell())->getString()));
            if (sameName(member, "Formula"))
                return Value(toUtf8(firstCell()->getFormula()));
        }
        unknownMember(member);
    }

private:
    Reference<css::table::XCell> firstCell() const { return range_->getCellByPosition(0, 0); }

    Value cellAt(const Value& row, const Value& column) {
        const auto r = row.toInteger();
        const auto c = column.toInteger();
        if (r < 1 || c < 1 || r > 1048576 || c > 16384)
            throw Error(kFailure, "单元格位置（" + std::to_string(r) + ", " + std::to_string(c) +
                                      "）超出工作表范围。");
        Reference<css::table::XCell> cell =
            range_->getCellByPosition(static_cast<sal_Int32>(c - 1), static_cast<sal_Int32>(r - 1));
        return make<ExcelRange>(state_, document_, uno::must<css::table::XCellRange>(cell));
    }

    Value value() const {
        Reference<css::table::XCell> cell = firstCell();
        switch (cell->getType()) {
        case css::table::CellContentType_EMPTY:
            return {};
        case css::table::CellContentType_VALUE:
            return Value(cell->getValue());
        case css::table::CellContentType_FORMULA: {
            const auto result = uno::propertyOf<sal_Int32>(
                uno::must<css::beans::XPropertySet>(cell), "FormulaResultType2");
            if (result == css::sheet::FormulaResult::VALUE)
                return Value(cell->getValue());
            return Value(toUtf8(uno::must<css::text::XText>(cell)->getString()));
        }
        default:
            return Value(toUtf8(uno::must<css::text::XText>(cell)->getString()));
        }
    }

    void setValue(const Value& v) {
        Reference<css::table::XCell> cell = firstCell();
        switch (v.type()) {
        case Value::Type::Empty:
            cell->setFormula(OUString());
            break;
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Double:
            cell->setValue(v.toDouble());
            break;
        default:
            uno::must<css::text::XText>(cell)->setString(toOUString(v.toString()));
        }
    }

    // `Find`: the first matching cell, or Nothing.
    Value find(const Args& args) {
        const Arguments a(args, {"What", "After", "LookIn", "LookAt", "SearchOrder",
                                 "SearchDirection", "MatchCase", "MatchByte", "SearchFormat"});
        const std::string what = a.required("What").toString();
        applyArguments(state_->search, a, true);
        bool backwards = false;
        if (const Value* v = a.find("SearchDirection")) {
            const auto direction = v->toInteger();
            if (direction != excel::direction::Next && direction != excel::direction::Previous)
                throw Error(kFailure,
                            "SearchDirection 参数 " + std::to_string(direction) + " 无效。");
            backwards = direction == excel::direction::Previous;
        }
        if (what.empty())
            return Value(Object());
        auto searchable = uno::must<css::util::XSearchable>(range_);
        auto descriptor = searchable->createSearchDescriptor();
        configure(descriptor, what, state_->search, state_->search.lookIn, backwards);
        Reference<css::table::XCellRange> hit(searchable->findFirst(descriptor), uno::UNO_QUERY);
        if (!hit.is())
            return Value(Object());
        return make<ExcelRange>(state_, document_, hit);
    }

    // `Replace`: every match in the range; always True, as in Excel.
    Value replace(const Args& args) {
        const Arguments a(args, {"What", "Replacement", "LookAt", "SearchOrder", "MatchCase",
                                 "MatchByte", "SearchFormat", "ReplaceFormat"});
        const std::string what = a.required("What").toString();
        const std::string replacement = a.required("Replacement").toString();
        applyArguments(state_->search, a, false);
        if (what.empty())
            return Value(true);
        auto replaceable = uno::must<css::util::XReplaceable>(range_);
        Reference<css::util::XReplaceDescriptor> descriptor =
            replaceable->createReplaceDescriptor();
        // Replacing always works on the cells' formulas and constants.
        configure(uno::must<css::util::XSearchDescriptor>(descriptor), what, state_->search,
                  excel::lookIn::Formulas, false);
        descriptor->setReplaceString(toOUString(replacement));
        const Reference<css::util::XSearchDescriptor> search =
            uno::must<css::util::XSearchDescriptor>(descriptor);
        refuseLockedHits(search, what);
        // Found is changed: a workbook opened read-only keeps its cells, and
        // saving it must fail, not pass for a save of an unchanged one.
        const bool found = replaceable->findFirst(search).is();
        if (replaceable->replaceAll(search) > 0 || found)
            document_->changed = true;
        return Value(true);
    }

    // The office leaves locked cells of a protected sheet as they are and
    // says nothing; Excel raises error 1004 for them. Nothing is replaced
    // then, so the sheet is not half done.
    void refuseLockedHits(const Reference<css::util::XSearchDescriptor>& descriptor,
                          const std::string& what) {
        Reference<css::sheet::XSpreadsheet> sheet =
            uno::must<css::sheet::XSheetCellRange>(range_)->getSpreadsheet();
        if (!uno::must<css::util::XProtectable>(sheet)->isProtected())
            return;
        Reference<css::container::XIndexAccess> hits =
            uno::must<css::util::XSearchable>(range_)->findAll(descriptor);
        const sal_Int32 count = hits.is() ? hits->getCount() : 0;
        for (sal_Int32 i = 0; i < count; ++i) {
            const auto address =
                uno::must<css::sheet::XCellRangeAddressable>(
                    Reference<css::uno::XInterface>(hits->getByIndex(i), uno::UNO_QUERY_THROW))
                    ->getRangeAddress();
            // A hit is a block of cells; each is asked (bounded by the sheet).
            for (sal_Int32 row = address.StartRow; row <= address.EndRow; ++row) {
                for (sal_Int32 column = address.StartColumn; column <= address.EndColumn;
                     ++column) {
                    const auto protection = uno::propertyOf<css::util::CellProtection>(
                        uno::must<css::beans::XPropertySet>(sheet->getCellByPosition(column, row)),
                        "CellProtection");
                    if (!protection.IsLocked)
                        continue;
                    const std::string sheetName =
                        toUtf8(uno::must<css::container::XNamed>(sheet)->getName());
                    throw Error(kFailure, "工作表“" + sheetName + "”受保护：单元格 " +
                                              columnName(column) + std::to_string(row + 1) +
                                              " 含有“" + what + "”，但不能修改（工作簿" +
                                              text::quotedPath(document_->path) +
                                              "）。请在 Excel 中撤销该工作表的保护后再试。");
                }
            }
        }
    }

    Reference<css::table::XCellRange> range_;
};

class ExcelWorksheet : public BookObject {
public:
    ExcelWorksheet(StatePtr state, WorkbookPtr book, Reference<css::sheet::XSpreadsheet> sheet,
                   int index)
        : BookObject(std::move(state), std::move(book)), sheet_(std::move(sheet)), index_(index) {}

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        usable();
        if (sameName(member, "Name")) {
            auto named = uno::must<css::container::XNamed>(sheet_);
            if (kind == CallKind::Put) {
                named->setName(toOUString(newValue(args).toString()));
                document_->changed = true;
                return {};
            }
            return Value(toUtf8(named->getName()));
        }
        if ((sameName(member, "Activate") || sameName(member, "Select")) &&
            kind == CallKind::Method) {
            // The active sheet is what `ActiveSheet` answers; a hidden
            // document keeps its own view, so nothing else changes.
            document_->activeSheet = index_;
            state_->documents.activate(document_);
            return {};
        }
        if (sameName(member, "Index") && kind == CallKind::Get)
            return Value(index_);
        if (sameName(member, "Cells") && kind == CallKind::Get) {
            Value cells =
                make<ExcelRange>(state_, document_, uno::must<css::table::XCellRange>(sheet_));
            if (args.positional.size() == 2)
                return cells.toObject().item(args.positional);
            if (!args.positional.empty())
                throw Error(450, "Cells 需要行号和列号两个参数。");
            return cells;
        }
        if (sameName(member, "Range") && kind == CallKind::Get && args.positional.size() == 1) {
            auto byName = uno::must<css::table::XCellRange>(sheet_);
            Reference<css::table::XCellRange> range =
                uno::must<css::sheet::XSpreadsheet>(byName)->getCellRangeByName(
                    toOUString(args.positional[0].toString()));
            return make<ExcelRange>(state_, document_, range);
        }
        unknownMember(member);
    }

private:
    Reference<css::sheet::XSpreadsheet> sheet_;
    int index_;
};

Value sheetAt(const StatePtr& state, const WorkbookPtr& book, const Value& index) {
    auto sheets = sheetsOf(*book);
    const sal_Int32 count = sheets->getCount();
    if (index.type() == Value::Type::String) {
        const std::string name = index.toString();
        for (sal_Int32 i = 0; i < count; ++i) {
            Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(i), uno::UNO_QUERY_THROW);
            if (sameName(toUtf8(uno::must<css::container::XNamed>(sheet)->getName()), name))
                return make<ExcelWorksheet>(state, book, sheet, static_cast<int>(i) + 1);
        }
        throw Error(automation::errors::SubscriptOutOfRange,
                    "工作簿" + text::quotedPath(book->path) + "中没有名为“" + name + "”的工作表。");
    }
    const auto i = index.toInteger();
    if (i < 1 || i > count)
        throw Error(automation::errors::SubscriptOutOfRange,
                    "工作簿" + text::quotedPath(book->path) + "只有 " + std::to_string(count) +
                        " 个工作表，没有第 " + std::to_string(i) + " 个。");
    Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(static_cast<sal_Int32>(i - 1)),
                                              uno::UNO_QUERY_THROW);
    return make<ExcelWorksheet>(state, book, sheet, static_cast<int>(i));
}

// `Worksheets` and `Sheets`: every sheet of a spreadsheet document is a
// worksheet, so both list the same sheets.
class ExcelSheets : public BookObject {
public:
    using DocumentMember::DocumentMember;

    std::unique_ptr<automation::Enumeration> enumerate() override {
        Session::Call call(*session_);
        try {
            usable();
            std::vector<Value> items;
            const sal_Int32 count = sheetsOf(*document_)->getCount();
            for (sal_Int32 i = 1; i <= count; ++i)
                items.push_back(sheetAt(state_, document_, Value(static_cast<int>(i))));
            return std::make_unique<Listing>(std::move(items));
        } catch (...) {
            session_->rethrowAsError(kFailure, subject());
        }
    }

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        usable();
        if (kind == CallKind::Get && (member.empty() || sameName(member, "Item")) &&
            args.positional.size() == 1)
            return sheetAt(state_, document_, args.positional[0]);
        if (sameName(member, "Count") && kind == CallKind::Get)
            return Value(static_cast<int>(sheetsOf(*document_)->getCount()));
        unknownMember(member);
    }
};

class ExcelWorkbook : public BookObject {
public:
    using DocumentMember::DocumentMember;

protected:
    Value dispatch(CallKind kind, std::string_view member, const Args& args) override {
        if (auto answer = answerDocumentMember(kind, member, state_->documents, document_))
            return *answer;
        if (kind == CallKind::Get) {
            if (sameName(member, "Worksheets") || sameName(member, "Sheets")) {
                usable();
                return args.positional.size() == 1 ? sheetAt(state_, document_, args.positional[0])
                                                   : make<ExcelSheets>(state_, document_);
            }
            if (sameName(member, "ActiveSheet")) {
                usable();
                return sheetAt(state_, document_, Value(document_->activeSheet));
            }
        }
        if (kind == CallKind::Method) {
            if (sameName(member, "Close")) {
                const Arguments a(args, {"SaveChanges", "Filename", "RouteWorkbook"});
                if (a.has("Filename"))
                    throw Error(kFailure, "不支持在关闭时另存为其他文件。");
                state_->documents.checkOpen(*document_);
                // Stored when asked and something changed.
                const Value* save = a.find("SaveChanges");
                state_->documents.close(document_, save && save->toBool());
                return {};
            }
        }
        unknownMember(member);
    }
};

// `Workbooks`.
struct WorkbooksModel {
    using State = ExcelState;
    static OfficeDocumentPtr newDocument(const LoadedDocument& loaded) {
        auto book = std::make_shared<Workbook>();
        book->document = uno::must<css::sheet::XSpreadsheetDocument>(loaded.component);
        return book;
    }
    static Value wrap(const StatePtr& state, const OfficeDocumentPtr& book) {
        return make<ExcelWorkbook>(state, asWorkbook(book));
    }
    // `Workbooks.Close` closes without saving.
    static bool closeSaves(const Args&) { return false; }
    static std::vector<std::string_view> openParameters() {
        return parameterList("Filename UpdateLinks ReadOnly Format Password WriteResPassword "
                             "IgnoreReadOnlyRecommended Origin Delimiter Editable Notify Converter "
                             "AddToMru Local CorruptLoad");
    }
};
using ExcelWorkbooks = DocumentCollection<WorkbooksModel>;

class ExcelApplication : public ModelApplication<ExcelState> {
public:
    explicit ExcelApplication(StatePtr state) : ModelApplication(std::move(state), "Calc") {}

protected:
    bool quitSaves(const Args&) const override { return false; }

    Value applicationMember(CallKind kind, std::string_view member, const Args& args) override {
        if (kind == CallKind::Get) {
            if (sameName(member, "Workbooks"))
                return make<ExcelWorkbooks>(state_);
            if (sameName(member, "ActiveWorkbook"))
                return make<ExcelWorkbook>(state_, asWorkbook(state_->documents.active()));
            if (sameName(member, "ActiveSheet") || sameName(member, "Worksheets") ||
                sameName(member, "Sheets")) {
                const WorkbookPtr book = asWorkbook(state_->documents.active());
                state_->documents.checkUsable(*book);
                if (sameName(member, "ActiveSheet"))
                    return sheetAt(state_, book, Value(book->activeSheet));
                if (args.positional.size() == 1)
                    return sheetAt(state_, book, args.positional[0]);
                return make<ExcelSheets>(state_, book);
            }
        }
        unknownMember(member);
    }
};

} // namespace

Object newExcelApplication(std::shared_ptr<Session> session) {
    return newApplication<ExcelApplication, ExcelState>(std::move(session));
}

} // namespace libreoffice
