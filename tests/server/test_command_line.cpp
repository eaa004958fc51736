// locks: ports
#include "test_helpers/child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using TestHelpers::runToEnd;

namespace {

const std::string receiver = VELDRANE_BINARY_DIR "/veldrane";

// "veldrane X.Y.Z" (std::regex trips GCC 12's warnings under ASan).
bool isVersionLine(const std::string& line)
{
    const std::string prefix = "veldrane ";
    if (line.rfind(prefix, 0) != 0)
        return false;
    const std::string number = line.substr(prefix.size());
    return std::count(number.begin(), number.end(), '.') == 2 && std::isdigit(number.front())
           && std::isdigit(number.back())
           && std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(c) || c == '.'; })
           && number.find("..") == std::string::npos;
}

} // namespace

TEST(CommandLine, HelpAndVersionAnswerAndExitZero)
{
    const auto version = runToEnd(receiver, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    ASSERT_EQ(version.out.size(), 1u);
    EXPECT_TRUE(isVersionLine(version.out[0])) << version.out[0];
    EXPECT_TRUE(version.err.empty());

    const auto help = runToEnd(receiver, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    ASSERT_FALSE(help.out.empty());
    EXPECT_EQ(help.out[0], "Usage: veldrane [--help | --version]");
}

// A usage error must end the receiver before it takes the ports.
TEST(CommandLine, AnyOtherArgumentIsAUsageError)
{
    const std::vector<std::vector<std::string>> wrong = {{"-h"}, {"--verbose"},           {"8888"},
                                                         {""},   {"--help", "--version"}, {"--version", "x"}};
    for (const auto& args : wrong) {
        const auto run = runToEnd(receiver, args);
        EXPECT_EQ(run.exitCode, 2) << args[0];
        EXPECT_TRUE(run.out.empty()) << args[0];
        ASSERT_EQ(run.err.size(), 1u) << args[0];
        EXPECT_NE(run.err[0].find("(see veldrane --help)"), std::string::npos) << run.err[0];
    }
}
