#pragma once
// The images tools/make-test-images builds from our own fixture caches, made
// in a temporary folder when a suite starts: each image suite's fixture
// derives from TestImages.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

class TestImages : public ::testing::Test {
protected:
    // only: the script's word for one image alone ("mft"), or null for all.
    static void make_images(const char* only = nullptr)
    {
        dir = new TempDir;
        std::string command = std::string(GLIMMERDEX_SOURCE_DIR) + "/tools/make-test-images " +
                              GLIMMERDEX_BINARY_DIR + " " + dir->path();
        if (only)
            command += std::string(" ") + only;
        made = run_command(command + " >/dev/null") == 0;
    }
    static void SetUpTestSuite() { make_images(); }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made) << "tools/make-test-images failed (tools/install-deps installs what it needs)"; }
    static std::string at(const std::string& name) { return dir->file(name); }

    static inline TempDir* dir = nullptr;
    static inline bool made = false;
};
