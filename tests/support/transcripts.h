#pragma once

// Helpers for writing down the expected call transcripts of an engine run
// against the scripted server.

#include "core/engines/suite.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace engines_testing {

// Expected transcript lines, in call order.
using Lines = std::vector<std::string>;

// A string argument as the transcript shows it.
inline std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// The full path the engines form for a document of the tests' folder.
inline std::string pathOf(const std::string& name) {
    return engines::documentPath("/docs", name);
}

// The parts one after the other.
inline Lines concat(std::initializer_list<Lines> parts) {
    Lines out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace engines_testing
