#include "core/formats/excel_workbook.h"

#include "core/text/encoding.h"

#include <map>

namespace formats {

namespace {

namespace record {
constexpr std::uint16_t Formula = 0x0006;
constexpr std::uint16_t Eof = 0x000A;
constexpr std::uint16_t Name = 0x0018;
constexpr std::uint16_t ExternName = 0x0023;
constexpr std::uint16_t FilePass = 0x002F;
constexpr std::uint16_t Continue = 0x003C;
constexpr std::uint16_t WsBool = 0x0081;
constexpr std::uint16_t BoundSheet = 0x0085;
constexpr std::uint16_t MulRk = 0x00BD;
constexpr std::uint16_t RString = 0x00D6;
constexpr std::uint16_t Xf = 0x00E0;
constexpr std::uint16_t Sst = 0x00FC;
constexpr std::uint16_t LabelSst = 0x00FD;
constexpr std::uint16_t SupBook = 0x01AE;
constexpr std::uint16_t Number = 0x0203;
constexpr std::uint16_t Label = 0x0204;
constexpr std::uint16_t BoolErr = 0x0205;
constexpr std::uint16_t String = 0x0207;
constexpr std::uint16_t Array = 0x0221;
constexpr std::uint16_t Rk = 0x027E;
constexpr std::uint16_t Format = 0x041E;
constexpr std::uint16_t SharedFormula = 0x04BC;
constexpr std::uint16_t Bof = 0x0809;
} // namespace record

constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kGlobals = 0x0005;
constexpr std::uint16_t kWorksheet = 0x0010;
constexpr std::size_t kMaxRecord = 8224;

struct Record {
    std::uint16_t type;
    std::size_t offset;
    std::string_view data;
};

// Reads through a record and the CONTINUE records after it. Characters of a
// string that go on in the next record are preceded there by a new flags
// byte that says their width again.
class ContinuedReader {
public:
    explicit ContinuedReader(std::vector<std::string_view> parts) : parts_(std::move(parts)) {}

    bool atEnd() {
        skipEmpty();
        return part_ >= parts_.size();
    }
    std::uint8_t byte() {
        skipEmpty();
        if (part_ >= parts_.size())
            throw FormatError("string past its records");
        return static_cast<std::uint8_t>(parts_[part_][at_++]);
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    std::uint32_t u32() { return u16() | static_cast<std::uint32_t>(u16()) << 16; }
    void skip(std::uint64_t n) {
        while (n > 0) {
            skipEmpty();
            if (part_ >= parts_.size())
                throw FormatError("string past its records");
            const std::size_t here = std::min<std::uint64_t>(n, parts_[part_].size() - at_);
            at_ += here;
            n -= here;
        }
    }
    // `count` characters, 16-bit when `wide`.
    std::u16string characters(std::size_t count, bool wide) {
        std::u16string out;
        while (out.size() < count) {
            if (part_ >= parts_.size())
                throw FormatError("string past its records");
            if (at_ >= parts_[part_].size()) {
                ++part_;
                at_ = 0;
                if (part_ >= parts_.size() || parts_[part_].empty())
                    throw FormatError("string past its records");
                wide = (static_cast<std::uint8_t>(parts_[part_][at_++]) & 0x01) != 0;
                continue;
            }
            if (wide) {
                if (parts_[part_].size() - at_ < 2)
                    throw FormatError("character split between records");
                out.push_back(static_cast<char16_t>(readU16(parts_[part_], at_)));
                at_ += 2;
            } else {
                out.push_back(static_cast<std::uint8_t>(parts_[part_][at_++]));
            }
        }
        return out;
    }
    // XLUnicodeRichExtendedString (SST) or XLUnicodeString (STRING).
    std::u16string unicodeString(bool rich) {
        const std::uint16_t cch = u16();
        const std::uint8_t flags = byte();
        std::uint16_t runs = 0;
        std::uint32_t extra = 0;
        if (rich && (flags & 0x08))
            runs = u16();
        if (rich && (flags & 0x04))
            extra = u32();
        std::u16string s = characters(cch, (flags & 0x01) != 0);
        skip(4ull * runs + extra);
        return s;
    }

private:
    void skipEmpty() {
        while (part_ < parts_.size() && at_ >= parts_[part_].size()) {
            ++part_;
            at_ = 0;
        }
    }
    std::vector<std::string_view> parts_;
    std::size_t part_ = 0;
    std::size_t at_ = 0;
};

// A string whose bytes stand in one record: ShortXLUnicodeString (8-bit
// count) or XLUnicodeString (16-bit count) at `offset`.
std::u16string simpleString(std::string_view data, std::size_t offset, bool shortCount) {
    const std::size_t cch = shortCount ? readU8(data, offset) : readU16(data, offset);
    const std::size_t at = offset + (shortCount ? 1 : 2);
    const bool wide = (readU8(data, at) & 0x01) != 0;
    const std::size_t bytes = wide ? 2 * cch : cch;
    if (data.size() - at - 1 < bytes)
        throw FormatError("string past its record");
    std::u16string s;
    for (std::size_t i = 0; i < cch; ++i)
        s.push_back(wide ? static_cast<char16_t>(readU16(data, at + 1 + 2 * i))
                         : static_cast<std::uint8_t>(data[at + 1 + i]));
    return s;
}

class Search {
public:
    explicit Search(const std::vector<SearchPattern>& patterns) : patterns_(patterns) {}
    bool found = false;

    void string(std::u16string_view s) {
        if (found)
            return;
        form_.clear();
        appendSearchForm(s, form_);
        for (const SearchPattern& pattern : patterns_)
            found = found || pattern.foundIn(form_);
    }
    // Every string a record may hold, whatever its layout: its bytes as
    // 8-bit characters and as 16-bit characters at both alignments.
    void anywhereIn(std::string_view data) {
        if (found)
            return;
        std::u16string narrow, even, odd;
        for (const char c : data)
            narrow.push_back(static_cast<std::uint8_t>(c));
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            even.push_back(static_cast<char16_t>(readU16(data, i)));
        for (std::size_t i = 1; i + 1 < data.size(); i += 2)
            odd.push_back(static_cast<char16_t>(readU16(data, i)));
        string(narrow);
        string(even);
        string(odd);
    }

private:
    const std::vector<SearchPattern>& patterns_;
    std::u32string form_;
};

} // namespace

WorkbookScan scanWorkbook(const CompoundFile& file, const std::vector<SearchPattern>& patterns) {
    const auto stream = file.stream(u"Workbook");
    if (!stream)
        throw FormatError("no Workbook stream (older than Excel 97)");
    const std::string_view bytes(*stream);

    std::vector<Record> records;
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        const std::uint16_t type = readU16(bytes, at);
        const std::uint16_t size = readU16(bytes, at + 2);
        if (size > kMaxRecord || bytes.size() - at - 4 < size)
            throw FormatError("record size");
        records.push_back({type, at, bytes.substr(at + 4, size)});
        at += 4 + size;
    }
    if (records.empty() || records[0].type != record::Bof ||
        readU16(records[0].data, 0) != kBiff8 || readU16(records[0].data, 2) != kGlobals)
        throw FormatError("not a BIFF8 workbook");

    Search search(patterns);
    WorkbookScan scan;
    bool otherThanText = false;
    bool localizedFormat = false;
    std::map<std::size_t, std::uint16_t> substreams; // BOF offset -> kind
    std::vector<std::size_t> dialogSheets;
    std::size_t currentSubstream = 0;
    std::vector<std::uint32_t> sheetPositions;

    auto continuation = [&](std::size_t i) {
        std::vector<std::string_view> parts{records[i].data};
        for (std::size_t k = i + 1; k < records.size() && records[k].type == record::Continue; ++k)
            parts.push_back(records[k].data);
        return parts;
    };
    auto followedByContinue = [&](std::size_t i) {
        return i + 1 < records.size() && records[i + 1].type == record::Continue;
    };

    for (std::size_t i = 0; i < records.size(); ++i) {
        const Record& r = records[i];
        switch (r.type) {
        case record::Bof: {
            if (readU16(r.data, 0) != kBiff8)
                throw FormatError("substream of another version");
            const std::uint16_t kind = readU16(r.data, 2);
            substreams[r.offset] = kind;
            currentSubstream = r.offset;
            break;
        }
        case record::FilePass:
            throw FormatError("encrypted");
        case record::WsBool:
            if (readU8(r.data, 0) & 0x10)
                dialogSheets.push_back(currentSubstream);
            break;
        case record::BoundSheet: {
            const std::uint8_t state = readU8(r.data, 4) & 0x03;
            const std::uint8_t kind = readU8(r.data, 5);
            if (state != 0 || kind != 0)
                throw FormatError("a hidden sheet or one that is not a worksheet");
            sheetPositions.push_back(readU32(r.data, 0));
            scan.worksheets.push_back(text::utf16ToUtf8(simpleString(r.data, 6, true)));
            search.anywhereIn(r.data);
            break;
        }
        case record::Sst: {
            ContinuedReader reader(continuation(i));
            reader.u32();
            const std::uint32_t unique = reader.u32();
            for (std::uint32_t k = 0; k < unique; ++k)
                search.string(reader.unicodeString(true));
            break;
        }
        case record::String: {
            ContinuedReader reader(continuation(i));
            search.string(reader.unicodeString(false));
            break;
        }
        case record::Label:
        case record::RString:
            search.string(simpleString(r.data, 6, false));
            break;
        case record::Format:
            search.string(simpleString(r.data, 2, false));
            break;
        case record::Xf: {
            // Built-in formats 27-36 and 50-58 differ by locale (Chinese,
            // Japanese and Korean dates among them) and are not stored.
            const std::uint16_t format = readU16(r.data, 2);
            if ((format >= 27 && format <= 36) || (format >= 50 && format <= 58))
                localizedFormat = true;
            break;
        }
        case record::Formula:
        case record::SharedFormula:
        case record::Array:
        case record::SupBook:
        case record::Name:
        case record::ExternName:
            if (r.type == record::Formula)
                otherThanText = true;
            // A link to another file shows its path in formulas, in a form
            // other than the one stored: not sure.
            if (r.type == record::SupBook && readU16(r.data, 2) != 0x0401 &&
                readU16(r.data, 2) != 0x3A01)
                throw FormatError("link to another file");
            if (followedByContinue(i))
                throw FormatError("formula or name continued in another record");
            search.anywhereIn(r.data);
            break;
        case record::Number:
        case record::Rk:
        case record::MulRk:
        case record::BoolErr:
            otherThanText = true;
            break;
        case record::LabelSst:
        case record::Eof:
        default:
            break;
        }
    }

    if (scan.worksheets.empty())
        throw FormatError("no worksheets");
    for (const std::uint32_t position : sheetPositions) {
        const auto it = substreams.find(position);
        if (it == substreams.end() || it->second != kWorksheet)
            throw FormatError("sheet position does not lead to a worksheet");
        for (const std::size_t dialog : dialogSheets)
            if (dialog == position)
                throw FormatError("dialog sheet");
    }
    for (const auto& [offset, kind] : substreams)
        if (offset != 0 && kind != kWorksheet)
            throw FormatError("a sheet that is not a worksheet");

    // Numbers, dates, booleans and formulas show as ASCII (and, in some
    // languages, as Latin words) in a cell's formula text.
    bool anyLatin = false;
    for (const SearchPattern& pattern : patterns)
        anyLatin = anyLatin || pattern.isLatin();
    scan.mayHold =
        search.found || (otherThanText && anyLatin) || (otherThanText && localizedFormat);
    return scan;
}

} // namespace formats
