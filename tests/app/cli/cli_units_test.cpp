// The command-line tool's pieces: safe names, UTF-16, tables.
#include <set>
#include <string>
#include <vector>

#include "app/cli/cache_report.h"
#include "app/cli/case/case_manifest.h"
#include "app/cli/cli.h"
#include "app/cli/safe_name.h"
#include "app/cli/table.h"
#include "tests/support/test_support.h"

TEST(SafeNames, HostileNamesStayInsideTheFolder)
{
    EXPECT_EQ(safe_file_name("photo.jpg"), "photo.jpg");
    EXPECT_EQ(safe_file_name("../../x"), "x");
    EXPECT_EQ(safe_file_name(".."), "unnamed");
    EXPECT_EQ(safe_file_name("a/b"), "b");
    EXPECT_EQ(safe_file_name("C:\\pics\\sand.bmp"), "sand.bmp");
    EXPECT_EQ(safe_file_name("dir/"), "dir_");
    EXPECT_EQ(safe_file_name("CON"), "_CON");
    EXPECT_EQ(safe_file_name("con.txt"), "_con.txt");
    EXPECT_EQ(safe_file_name("Lpt9.jpg"), "_Lpt9.jpg");
    EXPECT_EQ(safe_file_name("COM0.jpg"), "COM0.jpg");
    EXPECT_EQ(safe_file_name("a\x01" "b\tc\x7F" ".jpg"), "a_b_c_.jpg");
    EXPECT_EQ(safe_file_name("what?<>|*\".jpg"), "what______.jpg");
    EXPECT_EQ(safe_file_name(" .hidden. "), "hidden");
    EXPECT_EQ(safe_file_name(""), "unnamed");
    std::string long_name = std::string(300, 'x') + ".jpeg";
    std::string cut = safe_file_name(long_name);
    EXPECT_EQ(cut.size(), SAFE_NAME_MAX_BYTES);
    EXPECT_EQ(cut.substr(cut.size() - 5), ".jpeg");
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += "\xC3\xA9";  // é, two bytes each
    std::string cut2 = safe_file_name(accents);
    EXPECT_LE(cut2.size(), SAFE_NAME_MAX_BYTES);
    EXPECT_EQ(cut2.size() % 2, 0u) << "cut at a character boundary";
}

TEST(SafeNames, ClashesGetACounterWhateverTheCase)
{
    std::set<std::string> used;
    EXPECT_EQ(unique_file_name("a.jpg", &used), "a.jpg");
    EXPECT_EQ(unique_file_name("A.JPG", &used), "A_2.JPG");
    EXPECT_EQ(unique_file_name("a.jpg", &used), "a_3.jpg");
    EXPECT_EQ(unique_file_name("noext", &used), "noext");
    EXPECT_EQ(unique_file_name("noext", &used), "noext_2");
    EXPECT_EQ(unique_file_name(".x", &used), ".x");
}

TEST(Utf16, ConvertsToUtf8WithSurrogates)
{
    const uint8_t text[] = {'C', 0, 'a', 0, 'f', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xD8, 0x41, 0x01, 0x00, 0x01};
    EXPECT_EQ(utf16_to_utf8(text, 9), "Caf\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\xC5\x81\xC4\x80");
}

TEST(Tables, CsvQuotingAndJsonEscapes)
{
    EXPECT_EQ(csv_field("plain"), "plain");
    EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
    EXPECT_EQ(csv_field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(json_string("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    // JSON is UTF-8: well-formed sequences stay, any other byte becomes U+FFFD.
    EXPECT_EQ(json_string("Caf\xC3\xA9 \xF0\x9F\x93\xB7"), "\"Caf\xC3\xA9 \xF0\x9F\x93\xB7\"");
    EXPECT_EQ(json_string("Caf\xE9/\xC0\xAF/\xED\xA0\x80/\xF0\x9F"),
              "\"Caf\xEF\xBF\xBD/\xEF\xBF\xBD\xEF\xBF\xBD/\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD/\xEF\xBF\xBD\xEF\xBF\xBD\"");
#ifdef _WIN32
    GTEST_SKIP() << "open_memstream is POSIX; the Linux suite checks the JSON table";
#else
    Table t{{"name", "n"}, {ColumnKind::bytes, ColumnKind::number}, {{"Caf\xE9", "3"}, {"x", "-"}}};
    char* buffer = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buffer, &size);
    write_table(f, t, TableFormat::json);
    std::fclose(f);
    EXPECT_EQ(std::string(buffer, size), "[\n {\"name\": \"Caf\xC3\xA9\", \"n\": 3},\n {\"name\": \"x\", \"n\": null}\n]\n");
    std::free(buffer);
#endif
}

TEST(CliOptions, OneRuleForEveryCommand)
{
    struct Case {
        std::vector<std::string> words;
        CliParse outcome;
        long flags, colour;
        bool info;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {{"--flags", "3", "a"}, CLI_PARSED, 3, 0, false, {"a"}},
        {{"--flags=3", "a"}, CLI_PARSED, 3, 0, false, {"a"}},
        {{"--flags=010"}, CLI_BAD_OPTION, 2, 0, false, {}},  // base 10: ten, beyond 3
        {{"--flags", "0x3"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--flags", "-1"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--flags", " 1"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--flags="}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--flags"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--backcol", "0xFFFFFF"}, CLI_PARSED, 2, 0xFFFFFF, false, {}},
        {{"--backcol=0x0000a0"}, CLI_PARSED, 2, 0xA0, false, {}},
        {{"--backcol", "255"}, CLI_PARSED, 2, 255, false, {}},
        {{"--backcol", "0x1000000"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--backcol", "0x"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"a", "--info", "b"}, CLI_PARSED, 2, 0, true, {"a", "b"}},
        {{"-i", "-"}, CLI_PARSED, 2, 0, true, {"-"}},
        {{"--info=1"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--", "--info", "-h"}, CLI_PARSED, 2, 0, false, {"--info", "-h"}},
        {{"x", "-h"}, CLI_HELP_ASKED, 2, 0, false, {"x"}},
        {{"--flagsy", "1"}, CLI_BAD_OPTION, 2, 0, false, {}},
        {{"--bogus"}, CLI_BAD_OPTION, 2, 0, false, {}},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& w : c.words)
            joined += "[" + w + "]";
        SCOPED_TRACE(joined);
        long flags = 2, colour = 0;
        bool info = false;
        const CliOption options[] = {
            {"--flags", nullptr, CLI_NUMBER, nullptr, &flags, 0, 3, nullptr},
            {"--backcol", nullptr, CLI_COLOUR, nullptr, &colour, 0, 0xFFFFFF, nullptr},
            {"--info", "-i", CLI_SWITCH, &info, nullptr, 0, 0, nullptr},
        };
        std::vector<std::string> storage = c.words;
        std::vector<char*> argv;
        for (std::string& w : storage)
            argv.push_back(w.data());
        std::vector<std::string> arguments;
        testing::internal::CaptureStderr();
        const CliParse got = cli_parse_options("test", int(argv.size()), argv.data(), options, 3, &arguments);
        const std::string error = testing::internal::GetCapturedStderr();
        EXPECT_EQ(got, c.outcome);
        EXPECT_EQ(error.empty(), c.outcome != CLI_BAD_OPTION) << error;
        if (c.outcome == CLI_PARSED) {
            EXPECT_EQ(flags, c.flags);
            EXPECT_EQ(colour, c.colour);
            EXPECT_EQ(info, c.info);
            EXPECT_EQ(arguments, c.arguments);
        }
    }
}

TEST(CaseManifest, UnchangedIsComputedFromBothReadings)
{
    TempDir dir;
    CaseManifest m;
    Digests a, b;
    digests_of(reinterpret_cast<const uint8_t*>("cache"), 5, &a);
    digests_of(reinterpret_cast<const uint8_t*>("cachf"), 5, &b);
    struct Case {
        InputPrint after;
        const char* expected;
    };
    const Case cases[] = {
        {{true, 5, a}, "\"unchanged\": true"},
        {{true, 5, b}, "\"unchanged\": false"},   // one byte differs
        {{true, 6, a}, "\"unchanged\": false"},   // the size alone differs
        {{false, -1, {}}, "\"unchanged\": false"},  // gone after the run: not known to be unchanged
    };
    for (const Case& c : cases) {
        m.inputs = {{"cache", {true, 5, a}, c.after}};
        std::string path = dir.file("manifest.json");
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        write_manifest(f, m, {"glimmerdex-cli", "extract", "a\"b"});
        std::fclose(f);
        std::vector<uint8_t> bytes = read_file(path);
        std::string text(bytes.begin(), bytes.end());
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        EXPECT_NE(text.find("\"a\\\"b\""), std::string::npos) << "the command line as JSON strings";
    }
}
