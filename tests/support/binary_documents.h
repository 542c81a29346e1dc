#pragma once

// Office files written byte by byte, for the tests of our own reading of
// these formats: a compound file around given streams, a Word 97-2003
// document reduced to what its main text needs (the FIB, a table stream with
// the piece table, the text), a VBA project, and a zip package.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace binary_documents {

using Stream = std::pair<std::u16string, std::string>;

// A compound file (version 3: 512-byte sectors, or 4: 4096-byte sectors)
// that holds `streams`; a name with "/" lies in the storages its parts name
// (u"VBA/dir"). Streams shorter than 4096 bytes go to the mini stream.
std::string compoundFile(const std::vector<Stream>& streams, int version = 3);

// Little-endian writes.
void putU16(std::string& bytes, std::size_t offset, std::uint16_t value);
void putU32(std::string& bytes, std::size_t offset, std::uint32_t value);
void appendU16(std::string& bytes, std::uint16_t value);
void appendU32(std::string& bytes, std::uint32_t value);

struct WordPiece {
    std::u16string text;
    bool compressed = false; // 8-bit characters (the caller keeps them below 0x100)
};

struct WordDocumentLayout {
    std::vector<WordPiece> pieces;
    // The main text's length; by default all pieces' text.
    std::size_t mainTextLength = SIZE_MAX;
    bool encrypted = false;
    std::uint16_t nFib = 0xC1;
    bool tableStream1 = true;
    // Bytes for the compressed pieces instead of their text (for bytes
    // 0x80-0x9F), by piece index.
    std::vector<std::pair<std::size_t, std::string>> rawCompressed;
};

// The streams of such a document (WordDocument and the table stream).
std::vector<Stream> wordStreams(const WordDocumentLayout& layout);
// The whole file.
std::string wordDocument(const WordDocumentLayout& layout, int version = 3);

// The FIB's offset of fcClx, and of the start of the text in wordStreams().
inline constexpr std::size_t kFcClxOffset = 154 + 33 * 8;
inline constexpr std::size_t kTextOffset = 2048;

// The macro part of a .docm or .xlsm (vbaProject.bin): a VBA project with one
// standard module holding `source` (ASCII, up to 3,640 bytes).
std::string vbaProject(const std::string& module, const std::string& source);

// A .docx or .xlsx as Office encrypts it with a password (standard
// encryption: a compound file with the EncryptionInfo and EncryptedPackage
// streams), whose password is none anyone knows.
std::string encryptedPackage();

// A zip package of stored (uncompressed) entries, in the order given.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries);

} // namespace binary_documents
