// Every PNG of the conformance corpus against its reference decode, and the
// two Paeth variants against each other.
#include <cstring>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "picture/png/png_internal.h"
#include "tests/picture/png/png_test_util.h"
#include "tests/support/test_support.h"

namespace {

struct PngCase {
    std::string path;
    std::string expected;
};

std::vector<PngCase> png_cases()
{
    std::vector<PngCase> cases;
    std::string dir = corpus_dir();
    if (!dir.empty()) {
        std::vector<std::string> header;
        for (const auto& row : read_tsv(dir + "/conformance/manifest.tsv", &header))
            if (row.size() > 6 && row[1] == "png")
                cases.push_back({row[0], row[6]});
    }
    if (cases.empty())
        cases.push_back({"", ""});  // skips with the corpus message
    return cases;
}

// The references of two grey files with tRNS come from a reader that compares
// the tRNS grey value with samples already widened to 8 bits. Here the value is
// a sample at the picture's own depth: 15 at depth 4 is white, so white is
// transparent; 255 at depth 1 names no sample, so nothing is. Returns the
// number of reference pixels changed.
int32_t adjust_reference(const std::string& path, std::vector<uint8_t>& ref)
{
    uint8_t from = 0, to = 0;
    if (path == "png/pngsuite/tbbn0g04.png") {
        from = 255;
        to = 0;
    } else if (path == "png/pillow/1_trns.png") {
        from = 0;
        to = 255;
    } else {
        return 0;
    }
    int32_t changed = 0;
    for (size_t i = 8; i + 4 <= ref.size(); i += 4)
        if (ref[i] == 255 && ref[i + 1] == 255 && ref[i + 2] == 255 && ref[i + 3] == from) {
            ref[i + 3] = to;
            ++changed;
        }
    return changed;
}

class PngConformance : public testing::TestWithParam<PngCase> {};

TEST_P(PngConformance, MatchesReference)
{
    REQUIRE_CORPUS();
    const PngCase& c = GetParam();
    const std::string path = corpus_dir() + "/conformance/" + c.path;
    std::vector<uint8_t> file = read_file(path);
    ASSERT_FALSE(file.empty()) << path;

    int32_t width = 0, height = 0;
    picture_probe(file.data(), int32_t(file.size()), &width, &height);
    if (c.expected == "reject") {
        // A reject must fail before it writes anything; give it a small window.
        GuardedWindow w(8, 8);
        EXPECT_EQ(-1, w.decode(file)) << c.path;
        EXPECT_TRUE(w.margins_intact()) << c.path;
        return;
    }
    if (width <= 0 || height <= 0 || int64_t(width) * height > 4000000) {
        GuardedWindow w(16, 16);
        int result = w.decode(file);
        EXPECT_TRUE(w.margins_intact()) << c.path;
        EXPECT_NE("decode", c.expected) << c.path << " result " << result;
        return;
    }
    GuardedWindow w(width, height);
    int result = w.decode(file);
    EXPECT_TRUE(w.margins_intact()) << c.path;
    if (c.expected != "decode")
        return;  // "either": any result, as long as it stayed inside the window
    ASSERT_EQ(0, result) << c.path;
    std::vector<uint8_t> ref = read_file(path + ".ref.rgba");
    ASSERT_EQ(size_t(8) + size_t(width) * height * 4, ref.size()) << c.path;
    if (c.path == "png/pngsuite/tbbn0g04.png" || c.path == "png/pillow/1_trns.png") {
        EXPECT_GT(adjust_reference(c.path, ref), 0) << c.path;
    }
    int32_t bad = w.count_differences(ref);
    EXPECT_EQ(0, bad) << c.path << ": " << bad << " pixels differ from the reference, first at "
                      << w.first_difference(ref);
}

std::string case_name(const testing::TestParamInfo<PngCase>& info)
{
    std::string name = info.param.path.empty() ? "no_corpus" : info.param.path;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Manifest, PngConformance, testing::ValuesIn(png_cases()), case_name);

// Filter type 4 is done by the table variant on processors with conditional
// moves; both must agree byte for byte on every corpus PNG.
TEST(PngPaeth, VariantsAgreeOnEveryCorpusFile)
{
    REQUIRE_CORPUS();
    std::vector<uint8_t> probe = make_test_png_gray(1, 1, {0, 0});
    GuardedWindow init(1, 1);
    init.decode(probe);  // builds the tables
    if (!png_paeth_table_filled)
        GTEST_SKIP() << "processor without conditional moves: only the plain Paeth step exists";
    int32_t compared = 0;
    for (const PngCase& c : png_cases()) {
        std::vector<uint8_t> file = read_file(corpus_dir() + "/conformance/" + c.path);
        int32_t width = 0, height = 0;
        picture_probe(file.data(), int32_t(file.size()), &width, &height);
        if (width <= 0 || height <= 0 || int64_t(width) * height > 4000000)
            continue;
        GuardedWindow plain(width, height), table(width, height);
        png_paeth_variant = 0;
        int r0 = plain.decode(file);
        png_paeth_variant = 1;
        int r1 = table.decode(file);
        EXPECT_EQ(r0, r1) << c.path;
        EXPECT_TRUE(plain.pixels_equal(table)) << c.path;
        ++compared;
    }
    EXPECT_GT(compared, 150);
}

}  // namespace
