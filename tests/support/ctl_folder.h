// A folder of files for qm730ctl runs, with a table file t.tbl in it: the
// tests of commands that write files start from one.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/config/configfile.h"
#include "run_ctl.h"
#include "tempdir.h"

namespace qm730::test {

class CtlFolder : public ::testing::Test {
protected:
    CtlFolder() { save(defaultImage()); }

    std::string file(const std::string& name) const { return dir_.file(name); }
    CtlRun ctl(const std::string& arguments, int limitSeconds = 15) {
        return runQm730ctl(dir_.path().string(), arguments, limitSeconds);
    }
    // Runs under limits set by the shell first ("ulimit -v 50000").
    CtlRun ctlLimited(const std::string& limits, const std::string& arguments) {
        return ctl("--version >/dev/null; " + limits + "; exec " QM730CTL_PATH " " + arguments);
    }
    std::vector<CtlRun> together(const std::vector<std::string>& arguments) {
        return runQm730ctlTogether(dir_.path().string(), arguments);
    }
    void save(const ConfigImage& image) { ASSERT_TRUE(saveTableFile(table, image).ok()); }
    ConfigImage load() const {
        ConfigImage image;
        EXPECT_TRUE(loadTableFile(table, image).ok());
        return image;
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(dir_.path()), std::filesystem::directory_iterator()));
    }

    TempDir dir_;
    const std::string table = file("t.tbl");
};

}  // namespace qm730::test
