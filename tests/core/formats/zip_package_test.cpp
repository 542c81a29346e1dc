// The zip container on packages written byte by byte: every layout reads back
// what was written, rewrites without change are byte-identical, a rewrite
// with one change keeps every other entry's raw record; broken, encrypted,
// oversized and randomly damaged packages give the right error and never
// more. Packages the office made are in tests/suites/libreoffice/.

#include "core/formats/zip_package.h"
#include "support/binary_documents.h"
#include "support/zip_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using binary_documents::putU16;
using binary_documents::putU32;
using binary_documents::ZipItem;
using binary_documents::ZipLayout;
using formats::ZipError;
using formats::ZipPackage;
using Kind = formats::ZipError::Kind;
using Descriptor = ZipItem::Descriptor;

std::string text(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string s;
    while (s.size() < size)
        s += "<w:t>段落 " + std::to_string(random() % 1000) + "</w:t>";
    s.resize(size);
    return s;
}

ZipItem item(std::string name, std::string content, bool deflated = true,
             Descriptor descriptor = Descriptor::None, bool zip64 = false) {
    ZipItem i;
    i.name = std::move(name);
    i.content = std::move(content);
    i.deflated = deflated;
    i.descriptor = descriptor;
    i.zip64 = zip64;
    return i;
}

// Three entries of the given kind around a fixed first and last one.
ZipLayout layoutOf(bool deflated, Descriptor descriptor, bool zip64) {
    ZipLayout l;
    l.items.push_back(item("[Content_Types].xml", text(300, 1)));
    l.items.push_back(item("word/document.xml", text(5000, 2), deflated, descriptor, zip64));
    l.items.push_back(item("word/media/image 1.png", text(2000, 3), deflated, descriptor, zip64));
    l.items.push_back(item("word/empty.xml", "", deflated, descriptor, zip64));
    l.items.push_back(item("docProps/app.xml", text(700, 4), false));
    return l;
}

struct LayoutCase {
    const char* label;
    ZipLayout layout;
};

class ZipLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(ZipLayouts, ReadRewriteAndChangeOneEntry) {
    const ZipLayout& layout = GetParam().layout;
    const std::string bytes = binary_documents::zipArchive(layout);
    const ZipPackage package(bytes);
    ASSERT_EQ(package.entries().size(), layout.items.size());
    for (std::size_t i = 0; i < layout.items.size(); ++i) {
        EXPECT_EQ(package.entries()[i].name, layout.items[i].name);
        EXPECT_EQ(package.read(package.entries()[i]), layout.items[i].content) << i;
    }
    EXPECT_EQ(package.comment(), layout.comment);
    EXPECT_EQ(package.hasZip64End(), layout.zip64End);

    EXPECT_EQ(package.rewrite({}), bytes);

    const std::string changed = "<w:t>新的内容</w:t>" + text(9000, 9);
    const std::string rewritten = package.rewrite({{1, changed}});
    const ZipPackage after(rewritten);
    ASSERT_EQ(after.entries().size(), layout.items.size());
    EXPECT_EQ(after.comment(), layout.comment);
    EXPECT_EQ(after.hasZip64End(), layout.zip64End);
    for (std::size_t i = 0; i < layout.items.size(); ++i) {
        const auto& was = package.entries()[i];
        const auto& now = after.entries()[i];
        EXPECT_EQ(now.name, was.name);
        EXPECT_EQ(now.method, was.method);
        EXPECT_EQ(now.flags, was.flags);
        EXPECT_EQ(now.descriptorSize, was.descriptorSize);
        EXPECT_EQ(after.read(now), i == 1 ? changed : layout.items[i].content) << i;
        if (i != 1) {
            EXPECT_EQ(after.rawRecord(now), package.rawRecord(was)) << i;
        }
    }
    // The changed record is the only difference before the directory.
    EXPECT_EQ(rewritten.substr(0, package.entries()[1].localOffset),
              bytes.substr(0, package.entries()[1].localOffset));
    // Changing it back gives the original directory entries' fields.
    EXPECT_EQ(ZipPackage(after.rewrite({{1, layout.items[1].content}})).read("word/document.xml"),
              layout.items[1].content);
}

ZipLayout commented() {
    ZipLayout l = layoutOf(true, Descriptor::None, false);
    l.comment = "归档注释 archive comment";
    l.items[2].comment = "entry comment";
    l.items[2].extra = std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9);
    return l;
}

ZipLayout zip64Everything() {
    ZipLayout l = layoutOf(true, Descriptor::WithSignature, true);
    l.zip64End = true;
    return l;
}

ZipLayout withPrefix() {
    ZipLayout l = layoutOf(false, Descriptor::WithoutSignature, false);
    l.prefix = std::string(100, 'x');
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Packages, ZipLayouts,
    testing::Values(
        LayoutCase{"deflated", layoutOf(true, Descriptor::None, false)},
        LayoutCase{"stored", layoutOf(false, Descriptor::None, false)},
        LayoutCase{"descriptor_signed", layoutOf(true, Descriptor::WithSignature, false)},
        LayoutCase{"descriptor_unsigned", layoutOf(true, Descriptor::WithoutSignature, false)},
        LayoutCase{"stored_with_descriptor", layoutOf(false, Descriptor::WithSignature, false)},
        LayoutCase{"zip64_extra_fields", layoutOf(true, Descriptor::None, true)},
        LayoutCase{"zip64_everything", zip64Everything()},
        LayoutCase{"comments_and_extra_fields", commented()},
        LayoutCase{"bytes_before_the_first_entry", withPrefix()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ZipPackage, PartNamesAsOpcComparesThem) {
    const std::string bytes = binary_documents::zipArchive(layoutOf(true, Descriptor::None, false));
    const ZipPackage package(bytes);
    struct Lookup {
        const char* name;
        const char* entry; // nullptr: not found
    };
    for (const Lookup& l :
         {Lookup{"/word/document.xml", "word/document.xml"},
          Lookup{"WORD/Document.XML", "word/document.xml"},
          Lookup{"/[content_types].xml", "[Content_Types].xml"},
          Lookup{"/word/media/image%201.png", "word/media/image 1.png"},
          Lookup{"/word/media/image%2", nullptr}, Lookup{"word/document.xm", nullptr},
          Lookup{"//word/document.xml", nullptr}}) {
        const auto* e = package.find(l.name);
        EXPECT_EQ(e ? e->name : "(none)", l.entry ? l.entry : "(none)") << l.name;
        if (l.entry) {
            EXPECT_TRUE(package.read(l.name).has_value());
        } else {
            EXPECT_FALSE(package.read(l.name).has_value());
        }
    }
}

// ---------------------------------------------------------------- errors

// Kind when the package is opened, or when every entry is read.
struct BrokenCase {
    const char* label;
    std::string bytes;
    Kind kind;
    formats::ZipLimits limits = {};
};

std::string plainZip() {
    return binary_documents::zipArchive(layoutOf(true, Descriptor::None, false));
}

std::string patched(std::string bytes, std::size_t at, std::uint32_t value, int width = 4) {
    if (width == 2)
        putU16(bytes, at, static_cast<std::uint16_t>(value));
    else
        putU32(bytes, at, value);
    return bytes;
}

std::string withItem(ZipItem extra) {
    ZipLayout l = layoutOf(true, Descriptor::None, false);
    l.items.push_back(std::move(extra));
    return binary_documents::zipArchive(l);
}

// A deflated entry of 8 MB of zeros whose headers say `declared` bytes.
std::string bomb(std::uint32_t declared) {
    ZipLayout l;
    l.items.push_back(item("bomb.xml", std::string(8u << 20, '\0')));
    std::string z = binary_documents::zipArchive(l);
    const std::size_t central = z.size() - 22 - 46 - 8;
    putU32(z, 22, declared);
    putU32(z, central + 24, declared);
    return z;
}

std::size_t centralOf(const std::string& z) {
    return formats::readU32(z, z.size() - 6);
}

class BrokenPackages : public testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenPackages, FailWithTheirKind) {
    const BrokenCase& c = GetParam();
    try {
        const ZipPackage package(c.bytes, c.limits);
        for (const auto& e : package.entries())
            (void)package.read(e);
        FAIL() << "no error";
    } catch (const ZipError& e) {
        EXPECT_EQ(static_cast<int>(e.kind), static_cast<int>(c.kind)) << e.what();
        EXPECT_NE(formats::describePackageProblem(e, "报告.docx").find("“报告.docx”"),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Packages, BrokenPackages,
    testing::Values(
        BrokenCase{"empty", "", Kind::NotAPackage},
        BrokenCase{"plain_text", "not a zip file at all, just words", Kind::NotAPackage},
        BrokenCase{"truncated", plainZip().substr(0, plainZip().size() / 2), Kind::Damaged},
        BrokenCase{"end_record_cut", plainZip().substr(0, plainZip().size() - 3), Kind::Damaged},
        BrokenCase{"crc_differs_from_the_local_header",
                   patched(plainZip(), centralOf(plainZip()) + 46 + 19 + 16, 0x1234),
                   Kind::Damaged},
        BrokenCase{"crc_wrong_in_both_headers",
                   patched(patched(plainZip(), 14, 0x1234), centralOf(plainZip()) + 16, 0x1234),
                   Kind::Damaged},
        BrokenCase{"compressed_data_flipped", patched(plainZip(), 30 + 19 + 10, 0xFFFFFFFF),
                   Kind::Damaged},
        BrokenCase{"central_offset_outside", patched(plainZip(), plainZip().size() - 6, 0x7FFFFFF0),
                   Kind::Damaged},
        BrokenCase{"entry_count_too_large",
                   patched(patched(plainZip(), plainZip().size() - 12, 9, 2),
                           plainZip().size() - 14, 9, 2),
                   Kind::Damaged},
        BrokenCase{"local_offset_into_another_entry",
                   patched(plainZip(), centralOf(plainZip()) + 46 + 19 + 42, 0), Kind::Damaged},
        BrokenCase{"split_archive", patched(plainZip(), plainZip().size() - 18, 1, 2),
                   Kind::Unsupported},
        BrokenCase{"encrypted_entry", withItem([] {
                       ZipItem i = item("word/secret.xml", "x");
                       i.flags = 1;
                       return i;
                   }()),
                   Kind::Encrypted},
        BrokenCase{"bzip2_entry", withItem([] {
                       ZipItem i = item("word/other.xml", "x", false);
                       i.method = 12;
                       return i;
                   }()),
                   Kind::Unsupported},
        BrokenCase{"same_name_twice", withItem(item("WORD/Document.xml", "x")), Kind::Damaged},
        BrokenCase{
            "encrypted_document",
            binary_documents::compoundFile({{u"EncryptionInfo", "x"}, {u"EncryptedPackage", "y"}}),
            Kind::Encrypted},
        BrokenCase{"word_97_document", binary_documents::compoundFile({{u"WordDocument", "x"}}),
                   Kind::NotAPackage},
        BrokenCase{"bomb_declared_small", bomb(1000), Kind::Damaged},
        BrokenCase{"bomb_declared_huge", bomb(0xFFFFFFF0), Kind::TooLarge},
        BrokenCase{"declared_beyond_what_deflate_can_reach", bomb(200u << 20), Kind::Damaged},
        BrokenCase{"bomb_over_entry_cap", bomb(8u << 20), Kind::TooLarge, {1u << 20, 1u << 30}},
        BrokenCase{"over_total_cap", plainZip(), Kind::TooLarge, {1u << 20, 6000}},
        BrokenCase{"over_entry_count_cap", plainZip(), Kind::TooLarge, {1u << 20, 1u << 30, 4}}),
    [](const auto& info) { return std::string(info.param.label); });

// Random damage with a fixed seed: each package opens, reads and rewrites or
// fails with a ZipError, never otherwise.
TEST(ZipPackage, RandomDamageEndsInAnswerOrZipError) {
    std::vector<std::string> originals{plainZip(), binary_documents::zipArchive(zip64Everything()),
                                       binary_documents::zipArchive(withPrefix())};
    std::mt19937 random(2025);
    int opened = 0, failed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string z = originals[round % originals.size()];
        const std::size_t at = random() % z.size();
        switch (random() % 4) {
        case 0:
            for (int k = 0; k < 3; ++k)
                z[random() % z.size()] = static_cast<char>(random());
            break;
        case 1: {
            const std::uint32_t values[] = {
                0xFFFFFFFF, 0xFFFFFFFE, 0x7FFFFFFF, 0, 1, static_cast<std::uint32_t>(random())};
            if (at + 4 <= z.size())
                putU32(z, at, values[random() % 6]);
            break;
        }
        case 2:
            z.resize(at);
            break;
        default:
            z.erase(at, std::min<std::size_t>(random() % 50, z.size() - at));
        }
        try {
            const ZipPackage package(z);
            for (const auto& e : package.entries())
                (void)package.read(e);
            if (!package.entries().empty())
                (void)package.rewrite({{0, "changed"}});
            ++opened;
        } catch (const ZipError&) {
            ++failed;
        }
    }
    EXPECT_EQ(opened + failed, 3000);
    EXPECT_GT(failed, 1000);
}

} // namespace
