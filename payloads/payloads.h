#pragma once

// The payloads linked into batchreplace at build time (resource type
// "CUSTOM", ids 101 to 107).

#include <optional>
#include <string_view>

namespace payloads {

// The bytes of payload `id`, or nothing when this build carries no payload of
// that id.
std::optional<std::string_view> find(int id);

} // namespace payloads
