#pragma once

// The XML parts of a package as a stream of events (start tag, end tag,
// character data), each with where it stands in the input: its byte offset
// and byte length. A caller can so change a text in place and keep every
// other byte of the part.
//
// Parsed with Expat, with everything an office part never needs turned off:
// a document with a document type declaration is refused (so no entity is
// ever declared or expanded, internal or external), parameter entities are
// never parsed, nothing outside the input is loaded. The five predefined
// entities and character references are decoded in the text the events
// carry; the raw bytes stay reachable through the offsets.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace formats {

struct XmlName {
    std::string_view uri;    // the namespace; empty for a name without one
    std::string_view local;  // the name without its prefix
    std::string_view prefix; // as written; empty for the default namespace or none

    bool is(std::string_view namespaceUri, std::string_view localName) const {
        return local == localName && uri == namespaceUri;
    }
};

struct XmlAttribute {
    XmlName name;
    std::string_view value; // decoded and normalized as XML says
};

struct XmlStartTag {
    XmlName name;
    std::span<const XmlAttribute> attributes;
    // The whole tag: from '<' to '>' (for an empty-element tag `<a/>` its
    // end tag event follows with the same offset and length 0).
    std::size_t offset = 0;
    std::size_t length = 0;
    // The open elements around this one (0 for the root).
    std::size_t depth = 0;

    // The value of an attribute, or nothing when absent.
    std::optional<std::string_view> attribute(std::string_view namespaceUri,
                                              std::string_view localName) const;
};

struct XmlEndTag {
    XmlName name;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t depth = 0;
};

// One piece of character data. Expat hands text over in pieces: a run of
// plain characters, a line end, a reference (`&amp;`, `&#x4E2D;`) or a CDATA
// section's content; a caller that wants a whole text joins them.
struct XmlText {
    std::string_view text; // decoded, UTF-8
    std::size_t offset = 0;
    std::size_t length = 0;
    // Whether the input's bytes [offset, offset + length) are exactly `text`
    // (not a reference, not a normalized line end, not UTF-16 input).
    bool literal = false;
};

// What receives the events. Each view (names, texts, attributes) is valid
// only during the call.
class XmlEvents {
public:
    virtual ~XmlEvents() = default;
    virtual void startElement(const XmlStartTag&) {}
    virtual void endElement(const XmlEndTag&) {}
    virtual void characters(const XmlText&) {}

    // Ends the parse after the current event (the result is Stopped).
    void stop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

private:
    bool stopRequested_ = false;
};

struct XmlLimits {
    std::size_t maxSize = 256u * 1024 * 1024;
    std::size_t maxDepth = 256;
};

struct XmlResult {
    enum class Outcome {
        Complete,  // the whole document was parsed
        Stopped,   // the receiver asked to stop
        Malformed, // not well-formed XML (or not namespace-well-formed)
        Refused,   // a document type declaration, or over the limits
    };
    Outcome outcome = Outcome::Complete;
    // What went wrong (English, for logs and tests), and where.
    std::string message;
    std::size_t offset = 0;

    bool complete() const { return outcome == Outcome::Complete; }
};

// Parses `document` and sends its events to `events`. An exception thrown by
// the receiver ends the parse and is thrown on from here.
XmlResult parseXml(std::string_view document, XmlEvents& events, const XmlLimits& limits = {});

} // namespace formats
