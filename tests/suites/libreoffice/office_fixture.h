#pragma once

// The fixture of the Word and Excel server tests: template documents made by
// the office once per test program, one application object (so one office)
// shared by the tests, and a fresh folder for each test.

#include "core/automation/automation.h"
#include "office_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace office_testing {

// `Model` gives `static automation::Object create()`, `static void
// closeAll(const automation::Object&)`, `static const char* extension()` and
// `static std::map<std::string, std::filesystem::path> makeTemplates(const
// std::filesystem::path& folder)`.
template <class Model> class OfficeFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared().reason = missingOfficeReason();
        if (!shared().reason.empty())
            return;
        shared().templates = std::make_unique<testing_support::TempFolder>();
        shared().documents = Model::makeTemplates(shared().templates->path());
        shared().app = std::make_unique<automation::Object>(Model::create());
    }

    static void TearDownTestSuite() {
        if (shared().app) {
            try {
                shared().app->call("Quit");
            } catch (const automation::Error&) {
            }
        }
        shared().app.reset();
        shared().templates.reset();
    }

    void SetUp() override {
        if (!shared().reason.empty())
            GTEST_SKIP() << shared().reason;
    }

    void TearDown() override {
        // A failed test must not leave a document open for the next one.
        if (shared().app) {
            try {
                Model::closeAll(*shared().app);
            } catch (const automation::Error&) {
            }
        }
    }

    // A fresh copy of a template document in this test's folder.
    std::filesystem::path copyOf(const std::string& name, const std::string& as = "") {
        const std::filesystem::path target =
            folder_ / ((as.empty() ? name : as) + "." + Model::extension());
        std::filesystem::copy_file(shared().documents.at(name), target);
        return target;
    }

    const automation::Object& app() { return *shared().app; }
    static const std::map<std::string, std::filesystem::path>& documents() {
        return shared().documents;
    }
    static const std::filesystem::path& templateFolder() { return shared().templates->path(); }

    testing_support::TempFolder folder_;

private:
    struct Shared {
        std::string reason;
        std::unique_ptr<testing_support::TempFolder> templates;
        std::map<std::string, std::filesystem::path> documents;
        std::unique_ptr<automation::Object> app;
    };
    static Shared& shared() {
        static Shared instance;
        return instance;
    }
};

} // namespace office_testing
