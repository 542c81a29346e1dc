// XML events with their byte ranges: names with namespaces and prefixes,
// attributes, references decoded while the raw bytes stay addressable; and
// the documents an office part never is (a document type, entities, deep
// nesting, too large, malformed) refused without expanding anything.

#include "core/formats/xml_events.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using formats::XmlResult;
using namespace std::string_literals;
using Outcome = formats::XmlResult::Outcome;

std::string nameOf(const formats::XmlName& n) {
    std::string s = n.uri.empty() ? "" : "{" + std::string(n.uri) + "}";
    s += n.local;
    if (!n.prefix.empty())
        s += "|" + std::string(n.prefix);
    return s;
}

// Each event as a line: what it carries, then the raw bytes it covers.
class Recorder : public formats::XmlEvents {
public:
    explicit Recorder(std::string_view document, int stopAfter = -1)
        : document_(document), stopAfter_(stopAfter) {}
    std::vector<std::string> lines;

    void startElement(const formats::XmlStartTag& t) override {
        std::string line = "<" + nameOf(t.name);
        for (const auto& a : t.attributes)
            line += " " + nameOf(a.name) + "=" + std::string(a.value);
        add(line + "> " + std::to_string(t.depth), t.offset, t.length);
    }
    void endElement(const formats::XmlEndTag& t) override {
        add("</" + nameOf(t.name) + "> " + std::to_string(t.depth), t.offset, t.length);
    }
    void characters(const formats::XmlText& t) override {
        add("'" + std::string(t.text) + "'" + (t.literal ? "" : "*"), t.offset, t.length);
    }

private:
    void add(const std::string& line, std::size_t offset, std::size_t length) {
        lines.push_back(line + " @" + std::string(document_.substr(offset, length)));
        if (stopAfter_ >= 0 && static_cast<int>(lines.size()) >= stopAfter_)
            stop();
    }
    std::string_view document_;
    int stopAfter_;
};

struct EventCase {
    const char* label;
    std::string xml;
    std::vector<std::string> events;
};

class XmlEventRanges : public testing::TestWithParam<EventCase> {};

TEST_P(XmlEventRanges, EventsCarryTheirRawBytes) {
    const EventCase& c = GetParam();
    Recorder r(c.xml);
    const XmlResult result = formats::parseXml(c.xml, r);
    EXPECT_TRUE(result.complete()) << result.message;
    EXPECT_EQ(r.lines, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlEventRanges,
    testing::Values(
        EventCase{"namespaces_and_references",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                  "<w:doc xmlns:w=\"urn:w\" xmlns=\"urn:d\"><p a=\"1\" w:b=\"&lt;x&gt;\">"
                  "中文 &amp;&#x4E2D;&#20013;</p><e/></w:doc>",
                  {"<{urn:w}doc|w> 0 @<w:doc xmlns:w=\"urn:w\" xmlns=\"urn:d\">",
                   "<{urn:d}p a=1 {urn:w}b|w=<x>> 1 @<p a=\"1\" w:b=\"&lt;x&gt;\">",
                   "'中文 ' @中文 ", "'&'* @&amp;", "'中'* @&#x4E2D;", "'中'* @&#20013;",
                   "</{urn:d}p> 1 @</p>", "<{urn:d}e> 1 @<e/>", "</{urn:d}e> 1 @",
                   "</{urn:w}doc|w> 0 @</w:doc>"}},
        EventCase{"line_ends_and_cdata",
                  "<a>x\r\ny<![CDATA[<b>&amp;]]></a>",
                  {"<a> 0 @<a>", "'x' @x", "'\n'* @\r\n", "'y' @y", "'<b>&amp;' @<b>&amp;",
                   "</a> 0 @</a>"}},
        EventCase{"no_namespace_and_whitespace",
                  "<r>\n  <c r=\"A1\" t='s'><v>0</v></c>\n</r>",
                  {"<r> 0 @<r>", "'\n' @\n", "'  ' @  ", "<c r=A1 t=s> 1 @<c r=\"A1\" t='s'>",
                   "<v> 2 @<v>", "'0' @0", "</v> 2 @</v>", "</c> 1 @</c>", "'\n' @\n",
                   "</r> 0 @</r>"}},
        EventCase{"utf16_input",
                  std::string("\xFF\xFE<\0a\0>\0\x2D\x4E<\0/\0a\0>\0", 18),
                  {"<a> 0 @<\0a\0>\0"s, "'中'* @\x2D\x4E", "</a> 0 @<\0/\0a\0>\0"s}}),
    [](const auto& info) { return std::string(info.param.label); });

// A document of several hundred kilobytes: the ranges stay right past the
// pieces the parser is fed in.
TEST(XmlEvents, RangesHoldAcrossALargeDocument) {
    std::string xml = "<r>";
    for (int i = 0; i < 20000; ++i)
        xml += "<c a=\"" + std::to_string(i) + "\">文字" + std::to_string(i) + " &amp; x</c>";
    xml += "</r>";
    struct Check : formats::XmlEvents {
        std::string_view xml;
        int starts = 0, texts = 0, bad = 0;
        void startElement(const formats::XmlStartTag& t) override {
            const auto raw = xml.substr(t.offset, t.length);
            bad += raw != "<" + std::string(t.name.local) +
                              (t.attributes.empty()
                                   ? ""
                                   : " a=\"" + std::string(t.attributes[0].value) + "\"") +
                              ">";
            ++starts;
        }
        void endElement(const formats::XmlEndTag& t) override {
            bad += xml.substr(t.offset, t.length) != "</" + std::string(t.name.local) + ">";
        }
        void characters(const formats::XmlText& t) override {
            const auto raw = xml.substr(t.offset, t.length);
            bad += t.literal ? raw != t.text : raw != "&amp;";
            ++texts;
        }
    } check;
    check.xml = xml;
    ASSERT_GT(xml.size(), 500000u);
    EXPECT_TRUE(formats::parseXml(xml, check).complete());
    EXPECT_EQ(check.starts, 20001);
    EXPECT_GE(check.texts, 60000);
    EXPECT_EQ(check.bad, 0);
}

// ---------------------------------------------------------------- refused and malformed

struct RefusalCase {
    const char* label;
    std::string xml;
    Outcome outcome;
    formats::XmlLimits limits = {};
};

std::string nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i)
        s += "<a>";
    for (int i = 0; i < depth; ++i)
        s += "</a>";
    return s;
}

class XmlRefusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(XmlRefusals, EndWithTheirOutcome) {
    const RefusalCase& c = GetParam();
    Recorder r(c.xml);
    const XmlResult result = formats::parseXml(c.xml, r, c.limits);
    EXPECT_EQ(static_cast<int>(result.outcome), static_cast<int>(c.outcome)) << result.message;
    for (const auto& line : r.lines)
        EXPECT_EQ(line.find("lol"), std::string::npos) << "an entity was expanded: " << line;
}

const char* kLaughs = "<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY lol \"lol\">"
                      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
                      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">]>"
                      "<l>&lol3;</l>";

INSTANTIATE_TEST_SUITE_P(
    Documents, XmlRefusals,
    testing::Values(
        RefusalCase{"entity_expansion", kLaughs, Outcome::Refused},
        RefusalCase{"external_entity",
                    "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
                    Outcome::Refused},
        RefusalCase{"external_doctype", "<!DOCTYPE a SYSTEM \"http://example.org/a.dtd\"><a/>",
                    Outcome::Refused},
        RefusalCase{"deeper_than_the_default", nested(300), Outcome::Refused},
        RefusalCase{"as_deep_as_the_limit", nested(3), Outcome::Complete, {1000, 3}},
        RefusalCase{"one_deeper_than_the_limit", nested(4), Outcome::Refused, {1000, 3}},
        RefusalCase{"larger_than_the_limit", nested(10), Outcome::Refused, {20, 100}},
        RefusalCase{"unclosed", "<a><b></a>", Outcome::Malformed},
        RefusalCase{"undeclared_entity", "<a>&lol;</a>", Outcome::Malformed},
        RefusalCase{"unbound_prefix", "<x:a/>", Outcome::Malformed},
        RefusalCase{"empty", "", Outcome::Malformed},
        RefusalCase{"after_the_root", "<a/>junk", Outcome::Malformed},
        RefusalCase{"unknown_encoding", "<?xml version=\"1.0\" encoding=\"GB2312\"?><a/>",
                    Outcome::Malformed},
        RefusalCase{"invalid_utf8", "<a>\xFF\xFE</a>", Outcome::Malformed},
        RefusalCase{"control_character_reference", "<a>&#1;</a>", Outcome::Malformed}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(XmlEvents, ReceiverStopsOrThrows) {
    const std::string xml = "<a><b>text</b><c/></a>";
    Recorder stopping(xml, 2);
    const XmlResult stopped = formats::parseXml(xml, stopping);
    EXPECT_EQ(static_cast<int>(stopped.outcome), static_cast<int>(Outcome::Stopped));
    EXPECT_EQ(stopping.lines.size(), 2u);

    struct Throwing : formats::XmlEvents {
        int calls = 0;
        void characters(const formats::XmlText&) override {
            ++calls;
            throw std::runtime_error("receiver failed");
        }
    } throwing;
    EXPECT_THROW(formats::parseXml(xml, throwing), std::runtime_error);
    EXPECT_EQ(throwing.calls, 1);
}

} // namespace
