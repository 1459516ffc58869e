// Tokenizer, options and help text.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/help.h"
#include "host/headless/desktop_headless.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::string> tokens_of(const char* text)
{
    std::vector<char> line(text, text + std::strlen(text) + 1);
    char* table[COMMAND_LINE_MAX_TOKENS + 2];
    int count = tokenize_command_line(line.data(), table);
    std::vector<std::string> out;
    EXPECT_STREQ(table[0], "exe");
    for (int i = 1; i <= count; ++i)
        out.emplace_back(table[i]);
    EXPECT_EQ(table[count + 1], nullptr);
    return out;
}

CommandLineOutcome parse(const char* text)
{
    reset_start_settings();
    static std::vector<char> line;  // the settings point into it
    line.assign(text, text + std::strlen(text) + 1);
    return parse_command_line(line.data());
}

} // namespace

TEST(Tokenizer, QuotesGroupBlanksAndStayInsideTokens)
{
    EXPECT_EQ(tokens_of("\"c:\\my pics\""), (std::vector<std::string>{"c:\\my pics"}));
    EXPECT_EQ(tokens_of("ab\"c d\"e"), (std::vector<std::string>{"ab\"c d\"e"}));
    EXPECT_EQ(tokens_of("\"\""), (std::vector<std::string>{""}));
    EXPECT_EQ(tokens_of("  a\t\tb  "), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(tokens_of("\"x y\" /flags=3"), (std::vector<std::string>{"x y", "/flags=3"}));
    EXPECT_EQ(tokens_of(""), (std::vector<std::string>{}));
}

TEST(Tokenizer, KeepsAtMost128Tokens)
{
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "t" + std::to_string(i) + " ";
    std::vector<std::string> got = tokens_of(many.c_str());
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got.back(), "t127");
}

TEST(Options, Resolution)
{
    parse("/800x600 /flags=2");
    EXPECT_EQ(start_width, 800);
    EXPECT_EQ(start_height, 600);
    EXPECT_EQ(start_display_flags, 2);
    parse("/640");
    EXPECT_EQ(start_width, 640);
    EXPECT_EQ(start_height, 600);
    parse("/1024x768x32");
    EXPECT_EQ(start_width, 1024);
    EXPECT_EQ(start_height, 768);
    parse("-1024,768");
    EXPECT_EQ(start_height, 768);
    parse("/1024xx768");
    EXPECT_EQ(start_width, 1024);
    EXPECT_EQ(start_height, 0);
    parse("/99999999999999x1");
    EXPECT_EQ(start_width, INT32_MAX) << "saturates instead of overflowing";
}

TEST(Options, FlagsAndBackgroundColour)
{
    parse("/flags=7");
    EXPECT_EQ(start_display_flags, 4);
    parse("/flags=-1");
    EXPECT_EQ(start_display_flags, 0);
    parse("/flags=");
    EXPECT_EQ(start_display_flags, 0);
    parse("/FLAGS=3");
    EXPECT_EQ(start_display_flags, 3);
    parse("/backcol=0xffffff");
    EXPECT_EQ(start_background_colour, 0xFFFFFFu);
    parse("/backcol=255");
    EXPECT_EQ(start_background_colour, 0x0000FFu);
    parse("-BackCol=010");
    EXPECT_EQ(start_background_colour, 8u);
}

TEST(Options, PathsHelpAndUnknownOptions)
{
    EXPECT_EQ(parse("first second /x -foo"), COMMAND_LINE_SETTINGS);
    EXPECT_STREQ(start_path, "second");
    EXPECT_EQ(parse("/flags=3 -? /flags=1 other"), COMMAND_LINE_HELP);
    EXPECT_EQ(start_display_flags, 3) << "options after /? are not applied";
    EXPECT_EQ(start_path, nullptr);
    EXPECT_EQ(parse("/?"), COMMAND_LINE_HELP);
    EXPECT_EQ(parse("--help"), COMMAND_LINE_HELP);
    EXPECT_EQ(parse("-h"), COMMAND_LINE_HELP);
    EXPECT_EQ(parse("--version"), COMMAND_LINE_VERSION);
    EXPECT_EQ(parse("\"\""), COMMAND_LINE_SETTINGS);
    EXPECT_STREQ(start_path, "");

    char a[] = "/flags=1", b[] = "pics";
    char* argv_tokens[] = {a, b};
    reset_start_settings();
    EXPECT_EQ(parse_options(argv_tokens, 2), COMMAND_LINE_SETTINGS);
    EXPECT_EQ(start_display_flags, 1);
    EXPECT_STREQ(start_path, "pics");
}

TEST(Options, AbsoluteLinuxPathsAreStartPaths)
{
    TempDir dir;
    std::string folder = dir.path();
    std::vector<char> a(folder.begin(), folder.end()), b = {'/', 'f', 'l', 'a', 'g', 's', '=', '3'};
    a.push_back(0), b.push_back(0);
    char* tokens[] = {a.data(), b.data()};
    reset_start_settings();
    EXPECT_EQ(parse_arguments(tokens, 2), COMMAND_LINE_SETTINGS);
    EXPECT_EQ(std::string(start_path), folder);
    EXPECT_EQ(start_display_flags, 3);
    char missing[] = "/no/such/folder/anywhere";
    char* one[] = {missing};
    reset_start_settings();
    parse_arguments(one, 1);
    EXPECT_EQ(start_path, nullptr) << "not a path that exists: an option, ignored";
    char help[] = "/?";
    char* two[] = {help, a.data()};
    EXPECT_EQ(parse_arguments(two, 2), COMMAND_LINE_HELP);
}

TEST(Help, TextLinesAndBox)
{
    char text[2048];
    int n = format_help_text(text, sizeof text);
    ASSERT_GT(n, 600);
    std::vector<std::string> lines;
    std::string all(text);
    ASSERT_EQ(all.back(), '\n');
    for (size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(all.substr(start, end - start));
    ASSERT_EQ(lines.size(), 23u);
    // The build date ends the line ("Dec  8 2026"); the test may have been
    // compiled on another day than the help text.
    const std::string head = "Glimmerdex by Orlancey (Mar 09 2008 to ";
    ASSERT_EQ(lines[0].size(), head.size() + std::strlen(__DATE__) + 1);
    EXPECT_EQ(lines[0].substr(0, head.size()), head);
    const std::string date = lines[0].substr(head.size(), 11);
    EXPECT_TRUE(std::strstr("JanFebMarAprMayJunJulAugSepOctNovDec", date.substr(0, 3).c_str())) << date;
    EXPECT_TRUE(date[3] == ' ' && date[6] == ' ' && std::isdigit(uint8_t(date[5])) &&
                std::strspn(date.c_str() + 7, "0123456789") == 4)
        << date;
    EXPECT_EQ(lines[0].back(), ')');
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[7], "\t/flags=#\t\tSelect files to display: 0=none, 1=dir, 2=thumbs (default), 3=dir&thumbs");
    EXPECT_EQ(lines[12], "\tglimmerdex c:\\pics\\thumbs.db /1024x768 /flags=3 /backcol=0xffffff");
    EXPECT_EQ(lines[22], "\tF1\t\tShow this help");

    headless_desktop_reset();
    testing::internal::CaptureStdout();
    show_help(false);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, all);
    ASSERT_EQ(headless_desktop.message_boxes.size(), 1u);
    EXPECT_EQ(headless_desktop.message_boxes[0].caption, "Glimmerdex help");
    EXPECT_FALSE(headless_desktop.message_boxes[0].owned);
    EXPECT_EQ(headless_desktop.message_boxes[0].text, all);
}
