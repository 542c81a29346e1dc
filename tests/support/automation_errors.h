#pragma once

// The automation error a call raises, for tests that check its number and
// description.

#include "core/automation/automation.h"

#include <gtest/gtest.h>

namespace testing_support {

// The error `f` raised; a failure (and an empty error) when it raised none.
template <class F> automation::Error errorOf(F&& f) {
    try {
        f();
    } catch (const automation::Error& e) {
        return e;
    }
    ADD_FAILURE() << "no automation error was raised";
    return automation::Error(0, "");
}

} // namespace testing_support
