#include "test_helpers/child_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::string debIn(const std::string& dir)
{
    DIR* d = opendir(dir.c_str());
    std::string found;
    while (dirent* e = d ? readdir(d) : nullptr) {
        const std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".deb") == 0)
            found = dir + "/" + name;
    }
    if (d)
        closedir(d);
    return found;
}

} // namespace

TEST(Package, DebiansCheckerFindsNoError)
{
    const std::string dir = "/tmp/veldrane-package-test-" + std::to_string(getpid());
    const auto built =
        TestHelpers::runToEnd("/bin/bash", {VELDRANE_SOURCE_DIR "/scripts/package.sh", dir}, {}, 170s);
    ASSERT_EQ(built.exitCode, 0) << (built.err.empty() ? "" : built.err.back());
    const std::string deb = debIn(dir);
    ASSERT_FALSE(deb.empty());
    const auto checked = TestHelpers::runToEnd("/usr/bin/lintian", {"--fail-on", "error", deb}, {}, 120s);
    EXPECT_EQ(checked.exitCode, 0);
    for (const std::string& line : checked.out)
        EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
    std::system(("rm -rf '" + dir + "'").c_str());
}
