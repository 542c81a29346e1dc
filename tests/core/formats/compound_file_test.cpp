// The compound file reader on files written byte by byte: both versions,
// mini and regular streams, the DIFAT, and broken structures.

#include "core/formats/compound_file.h"
#include "support/binary_documents.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace {

using binary_documents::compoundFile;
using binary_documents::putU32;
using formats::CompoundFile;
using formats::FormatError;

std::string pattern(std::size_t size, unsigned seed) {
    std::string s(size, '\0');
    std::mt19937 random(seed);
    for (char& c : s)
        c = static_cast<char>(random());
    return s;
}

struct StreamCase {
    const char* label;
    int version;
    std::size_t size;
};

class StreamSizes : public testing::TestWithParam<StreamCase> {};

TEST_P(StreamSizes, StreamsReadBackWhole) {
    const StreamCase c = GetParam();
    const std::string data = pattern(c.size, 7);
    const std::string small = pattern(100, 8);
    const std::string file =
        compoundFile({{u"Data", data}, {u"Small", small}, {u"Empty", ""}}, c.version);
    const CompoundFile cf(file);
    EXPECT_EQ(cf.stream(u"Data"), data);
    EXPECT_EQ(cf.stream(u"data"), data) << "names compare without regard to case";
    EXPECT_EQ(cf.stream(u"Small"), small);
    EXPECT_EQ(cf.stream(u"Empty"), std::string());
    EXPECT_FALSE(cf.stream(u"Missing").has_value());
    EXPECT_FALSE(cf.hasStream(u"Dat"));
}

INSTANTIATE_TEST_SUITE_P(Containers, StreamSizes,
                         testing::Values(StreamCase{"v3_mini", 3, 4095},
                                         StreamCase{"v3_regular", 3, 4096},
                                         StreamCase{"v3_several_sectors", 3, 70000},
                                         StreamCase{"v4_mini", 4, 100},
                                         StreamCase{"v4_regular", 4, 20000},
                                         // More than 109 allocation table sectors: the DIFAT chain.
                                         StreamCase{"v3_difat", 3, 7'400'000}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(CompoundFile, ManyStreamsAreFoundThroughTheTree) {
    std::vector<binary_documents::Stream> streams;
    for (int i = 0; i < 40; ++i) {
        std::u16string name = u"S";
        for (char c : std::to_string(i))
            name.push_back(static_cast<char16_t>(c));
        streams.emplace_back(name, std::string(static_cast<std::size_t>(i + 1), 'x'));
    }
    const CompoundFile cf(compoundFile(streams));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(cf.stream(streams[static_cast<std::size_t>(i)].first)->size(),
                  static_cast<std::size_t>(i + 1));
}

// A damaged field of a valid file.
struct Damage {
    const char* label;
    std::function<void(std::string&)> apply;
};

class DamagedFiles : public testing::TestWithParam<Damage> {};

TEST_P(DamagedFiles, AreFormatErrors) {
    std::string file = compoundFile({{u"Data", pattern(9000, 3)}, {u"Small", pattern(300, 4)}});
    GetParam().apply(file);
    EXPECT_THROW(
        {
            const CompoundFile cf(file);
            cf.stream(u"Data");
            cf.stream(u"Small");
            cf.hasStream(u"Missing");
        },
        FormatError);
}

// The sectors of the test file: Data (18 sectors), the mini stream, the mini
// allocation table, the directory, the allocation table.
constexpr std::size_t kFat = 512 + 512 * 21;

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFiles,
    testing::Values(
        Damage{"signature", [](std::string& f) { f[0] = 'X'; }},
        Damage{"version", [](std::string& f) { f[26] = 5; }},
        Damage{"sector_size", [](std::string& f) { f[30] = 10; }},
        Damage{"truncated_header", [](std::string& f) { f.resize(300); }},
        Damage{"truncated_data", [](std::string& f) { f.resize(3000); }},
        Damage{"no_allocation_table", [](std::string& f) { putU32(f, 44, 0); }},
        Damage{"allocation_table_count_huge", [](std::string& f) { putU32(f, 44, 0x7FFFFFFF); }},
        Damage{"allocation_table_sector_out_of_range",
               [](std::string& f) { putU32(f, 76, 0x00FFFFFF); }},
        Damage{"cyclic_chain", [](std::string& f) { putU32(f, kFat + 4 * 5, 2); }},
        Damage{"self_loop", [](std::string& f) { putU32(f, kFat + 4 * 5, 5); }},
        Damage{"chain_out_of_range", [](std::string& f) { putU32(f, kFat + 4 * 5, 0x00FFFFF0); }},
        Damage{"chain_ends_early", [](std::string& f) { putU32(f, kFat + 4 * 5, 0xFFFFFFFE); }},
        Damage{"directory_start_out_of_range", [](std::string& f) { putU32(f, 48, 0x0FFFFFFF); }},
        Damage{"huge_stream_size",
               [](std::string& f) {
                   // The first stream's entry is the directory's second.
                   const std::size_t dir = 512 + 512 * 20;
                   for (std::size_t e = 1; e < 4; ++e)
                       putU32(f, dir + 128 * e + 120, 0xFFFFFFF0);
               }},
        Damage{"mini_chain_cycle",
               [](std::string& f) {
                   const std::size_t miniFat = 512 + 512 * 19;
                   putU32(f, miniFat, 0);
               }},
        Damage{"root_child_out_of_range",
               [](std::string& f) { putU32(f, 512 + 512 * 20 + 76, 4000); }},
        Damage{"directory_tree_cycle",
               [](std::string& f) {
                   const std::size_t dir = 512 + 512 * 20;
                   for (std::size_t e = 1; e < 3; ++e)
                       putU32(f, dir + 128 * e + 68, 1);
               }}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
