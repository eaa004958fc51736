#include "test_helpers/child_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

using TestHelpers::runToEnd;

namespace {

const std::string pages = VELDRANE_BINARY_DIR "/packaging/";

// The long option at the start of text ("--name", letters and dashes), or
// "" when there is none. (std::regex trips GCC 12's warnings under ASan.)
std::string optionAt(const std::string& text)
{
    if (text.rfind("--", 0) != 0)
        return "";
    const auto name = text.substr(0, text.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", 2));
    return name.size() > 2 ? name : "";
}

// The long options a program's --help lists under "Options:".
std::set<std::string> helpOptions(const std::string& program)
{
    const auto help = runToEnd(program, {"--help"});
    EXPECT_EQ(help.exitCode, 0) << program;
    std::set<std::string> options;
    bool inOptions = false;
    for (const auto& line : help.out) {
        if (line == "Options:")
            inOptions = true;
        else if (line.empty())
            inOptions = false;
        const auto indent = line.find_first_not_of(' ');
        if (inOptions && indent >= 2 && indent <= 4 && !optionAt(line.substr(indent)).empty())
            options.insert(optionAt(line.substr(indent)));
    }
    return options;
}

// The options a manual page describes: the tag line of each .TP item in
// its OPTIONS section.
std::set<std::string> pageOptions(const std::string& page)
{
    std::ifstream in(pages + page);
    EXPECT_TRUE(in) << "cannot read " << pages + page;
    std::set<std::string> options;
    bool inOptions = false;
    bool tag = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(".SH", 0) == 0)
            inOptions = line == ".SH OPTIONS";
        if (inOptions && tag) {
            // Roff writes a dash of an option as "\-".
            std::string plain;
            for (std::size_t i = 0; i < line.size(); ++i)
                if (!(line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '-'))
                    plain += line[i];
            const auto at = plain.find("--");
            if (at != std::string::npos && !optionAt(plain.substr(at)).empty())
                options.insert(optionAt(plain.substr(at)));
        }
        tag = line == ".TP";
    }
    return options;
}

} // namespace

TEST(ManualPages, ListTheOptionsOfHelp)
{
    EXPECT_EQ(pageOptions("veldrane.1"), helpOptions(VELDRANE_BINARY_DIR "/veldrane"));
    EXPECT_EQ(pageOptions("veldrane-send.1"), helpOptions(VELDRANE_BINARY_DIR "/tools/veldrane-send"));
}

TEST(ManualPages, RenderWithoutWarnings)
{
    for (const char* page : {"veldrane.1", "veldrane-send.1"}) {
        const auto man = runToEnd("/usr/bin/man", {"--warnings", "-l", pages + page}, {"MANWIDTH=80"});
        EXPECT_EQ(man.exitCode, 0) << page;
        EXPECT_GT(man.out.size(), 20u) << page;
        for (const auto& line : man.err)
            ADD_FAILURE() << page << ": " << line;
    }
}
