#pragma once

// The support files batchreplace carries inside itself and writes beside
// itself when they are missing: the configuration file, the updater and five
// Windows support files.

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace support_files {

// The resource type every payload is stored under.
inline constexpr std::string_view payloadType = "CUSTOM";
// The payload that is the updater program.
inline constexpr int updaterPayloadId = 102;

struct PayloadTarget {
    int id;
    // Relative to the application folder.
    std::filesystem::path relativePath;
};

// The seven payloads and where they go, in ascending id order.
const std::array<PayloadTarget, 7>& payloadTargets();

// Where payload bytes come from: the bytes of payload `id`, or nothing when
// the program carries no payload of that id.
using PayloadSource = std::function<std::optional<std::string_view>(int id)>;

// `ExtractResource`: writes payload `id` of resource type `type` to `path`
// in one write. The bytes go to a temporary file beside the target first and
// take the target's name only when complete, so a failed write never leaves a
// truncated file that a later start would take for the real one. The updater
// is made executable. A payload the program does not carry writes nothing.
// Returns nothing on success, otherwise a sentence naming the path.
std::optional<std::string> ExtractResource(const PayloadSource& source, int id,
                                           std::string_view type,
                                           const std::filesystem::path& path);

// Writes every payload whose target file does not exist, in ascending id
// order; an existing file is left as it is, whatever it holds. A target that
// cannot be written does not stop the others. Returns the messages of the
// targets that could not be written.
std::vector<std::string> writeMissingSupportFiles(const std::filesystem::path& appFolder,
                                                  const PayloadSource& source);

} // namespace support_files
