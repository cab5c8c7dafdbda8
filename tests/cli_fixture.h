#pragma once
// What the tests of the brevant program share: a folder of the test's own to run in, where the
// simulated machines are described and where the old CIS pages a format keeps go.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/brevant_process.h"
#include "tests/temp_dir.h"

namespace brevant_test {

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        ASSERT_EQ(access(kBrevant.c_str(), X_OK), 0) << kBrevant << " is not built";
        // The old CIS pages a format keeps go to the test's own folder.
        setenv("XDG_STATE_HOME", Path("state").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_STATE_HOME");
        unsetenv("BREVANT_SIM_CONTROL");
        unsetenv("BREVANT_SIM_STATE");
    }
    std::string Path(const std::string& name) const { return dir_.Path() + "/" + name; }
    Brevant::Options InDir() const {
        Brevant::Options o;
        o.dir = dir_.Path();
        return o;
    }
    std::string Describe(const std::string& name, const std::string& text) const {
        WriteFile(Path(name), text);
        return Path(name);
    }
    // The files of a folder of the test's, sorted.
    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(Path(folder), error)) {
            files.push_back(entry.path().string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }
    // The old-page backups the runs left, oldest first.
    std::vector<std::string> Backups() const { return FilesIn("state/brevant/cis"); }

    TempDir dir_;
};

}  // namespace brevant_test
