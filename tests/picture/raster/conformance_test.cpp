// Every GIF, BMP, TGA, PCX, CEL and DDS file of the conformance corpus through
// picture_decode, compared with its reference decode as the manifest's
// `compare` column says. Where our rules differ on purpose from the reference
// decoders, the comparison applies our rule (see compare_mode below).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "picture/bytes.h"
#include "picture/picture.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint32_t sentinel = 0x5A3C1E0Fu;
// Window for files without a reference decode: enough to exercise the decoder
// on any header size without allocating what a hostile header asks for.
constexpr int32_t unreferenced_window = 256;

struct CorpusCase {
    std::string path;
    std::string format;
    std::string expected;
    std::string compare;
    std::string reference;
};

void PrintTo(const CorpusCase& c, std::ostream* os) { *os << c.path; }

std::vector<CorpusCase> load_cases()
{
    std::vector<CorpusCase> cases;
    std::string dir = corpus_dir();
    if (dir.empty()) {
        cases.push_back({"", "", "", "", ""});  // one case that skips
        return cases;
    }
    std::vector<std::string> header;
    auto rows = read_tsv(dir + "/conformance/manifest.tsv", &header);
    auto column = [&](const char* name) {
        return size_t(std::find(header.begin(), header.end(), name) - header.begin());
    };
    size_t path = column("path"), format = column("format"), expected = column("expected"),
           compare = column("compare"), reference = column("reference");
    static const char* ours[] = {"gif", "bmp", "tga", "pcx", "cel", "dds"};
    for (auto& row : rows) {
        if (row.size() <= std::max({path, format, expected, compare, reference}))
            continue;
        if (std::find_if(std::begin(ours), std::end(ours), [&](const char* f) { return row[format] == f; }) ==
            std::end(ours))
            continue;
        cases.push_back({row[path], row[format], row[expected], row[compare], row[reference]});
    }
    return cases;
}

std::string case_name(const testing::TestParamInfo<CorpusCase>& info)
{
    if (info.param.path.empty())
        return "corpus_absent";
    std::string name;
    for (char ch : info.param.path)
        name += std::isalnum(uint8_t(ch)) ? ch : '_';
    return name;
}

struct GifLayout {
    int64_t screen_width, screen_height, left, top, width, height;
};

// An independent walk to the first image descriptor.
bool gif_layout(const std::vector<uint8_t>& f, GifLayout* g)
{
    if (f.size() < 13)
        return false;
    g->screen_width = read_le16(&f[6]);
    g->screen_height = read_le16(&f[8]);
    size_t at = 13;
    if (f[10] & 0x80)
        at += 3u << ((f[10] & 7) + 1);
    while (at < f.size() && f[at] == 0x21) {
        at += 2;
        while (at < f.size() && f[at] != 0)
            at += f[at] + 1u;
        at += 1;
    }
    if (at + 10 > f.size() || f[at] != 0x2C)
        return false;
    g->left = read_le16(&f[at + 1]);
    g->top = read_le16(&f[at + 3]);
    g->width = read_le16(&f[at + 5]);
    g->height = read_le16(&f[at + 7]);
    return true;
}

// How one picture is compared: per-channel masks applied to the reference,
// tolerances, and whether alpha counts (where it does not, ours must be 255).
struct CompareMode {
    bool pixels = true;
    uint8_t mask[3] = {0xFF, 0xFF, 0xFF};
    int tolerance_rgb = 0;
    int tolerance_alpha = 0;
    bool alpha_counts = true;
    // 32-bit BMPs carry alpha by our rules (bmp_test.cpp checks them against
    // Pillow); the references agree where they carry alpha at all, and where
    // they are wholly opaque their tool dropped it, so alpha is not compared.
    bool bmp_alpha = false;
    bool alpha_unchecked = false;
    bool gif_rectangle = false;  // exact inside the image, our colour around it
    uint32_t gif_background = 0;  // 0xAARRGGBB
    // ImageMagick widens an n-bit channel as v x 255 / 2^n, one below our v << (8 - n).
    bool narrow_within_one = false;
    // DXT2/DXT4 references were un-premultiplied from alphas that may differ
    // from ours by 1; colours are compared premultiplied again.
    bool premultiplied = false;
};

uint8_t top_bits_mask(int width)
{
    int kept = std::min(width, 8);
    return kept <= 0 ? 0 : uint8_t(0xFF << (8 - kept));
}

int popcount_above_trailing_zeros(uint32_t mask)
{
    if (mask == 0)
        return 0;
    while (!(mask & 1))
        mask >>= 1;
    return __builtin_popcount(mask);
}

// BMP channels narrower than 8 bits are widened without replication; derive
// the masks from the file (at offset 54 for headers of 40 bytes and more).
void bmp_channel_masks(const std::vector<uint8_t>& file, CompareMode* mode)
{
    uint32_t header = read_le32(file.data() + 14);
    if (header == 12 || file.size() < 34)
        return;
    uint32_t bits = read_le16(file.data() + 28);
    uint32_t compression = read_le32(file.data() + 30);
    if (bits != 16 && bits != 32)
        return;
    mode->bmp_alpha = bits == 32;
    int widths[3] = {5, 5, 5};
    if (bits == 32)
        widths[0] = widths[1] = widths[2] = 8;
    if (compression == 3) {
        size_t at = header >= 40 ? 54 : 14 + header;
        for (int k = 0; k < 3; ++k)
            widths[k] = at + 4 * k + 4 <= file.size()
                            ? popcount_above_trailing_zeros(read_le32(file.data() + at + 4 * k))
                            : 0;
    }
    for (int k = 0; k < 3; ++k) {
        mode->mask[k] = top_bits_mask(widths[k]);
        if (widths[k] > 8)
            mode->tolerance_rgb = 1;
    }
}

CompareMode compare_mode(const CorpusCase& c, const std::vector<uint8_t>& file)
{
    CompareMode mode;
    const std::string& s = c.compare;
    if (s.empty() || s.rfind("none", 0) == 0) {
        mode.pixels = false;
        return mode;
    }
    if (s.find("alpha ignored") != std::string::npos)
        mode.alpha_counts = false;
    if (s.find("tolerance 8 on RGB") != std::string::npos || c.format == "dds") {
        // DXT endpoints are widened without replication and interpolated with
        // our own multiply-shift rounding; the references replicate bits.
        // The spec_* DDS files are checked value for value in dds_test.cpp.
        if (s.find("exact incl. alpha") == std::string::npos) {
            mode.tolerance_rgb = 8;
            mode.tolerance_alpha = 1;
        }
    }
    if (s.find("tolerance 1 on RGB") != std::string::npos)
        mode.tolerance_rgb = 1;
    size_t masking = s.find("masking R,G,B with ");
    if (masking != std::string::npos) {
        unsigned m[3];
        const char* p = s.c_str() + masking + 19;
        if (std::sscanf(p, "%2x/%2x/%2x", &m[0], &m[1], &m[2]) == 3) {
            for (int k = 0; k < 3; ++k)
                mode.mask[k] = uint8_t(m[k]);
        } else if (std::sscanf(p, "%2x", &m[0]) == 1) {
            mode.mask[0] = mode.mask[1] = mode.mask[2] = uint8_t(m[0]);
        }
    }
    if (s.find("bit-field masks are read at offset 54") != std::string::npos || c.format == "bmp")
        bmp_channel_masks(file, &mode);
    if (c.reference.find("by ImageMagick") != std::string::npos && c.format == "bmp")
        mode.narrow_within_one = true;
    if (s.find("un-premultiply") != std::string::npos)
        mode.premultiplied = true;
    size_t paint = s.find(" paints #");
    if (paint != std::string::npos) {
        unsigned rgba = 0;
        std::sscanf(s.c_str() + paint + 9, "%8x", &rgba);
        mode.gif_rectangle = true;
        mode.gif_background = (rgba & 0xFF) << 24 | rgba >> 8;
    }
    return mode;
}

bool near(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }


int premultiply(int c, int a) { return (c * a + 127) / 255; }

// One pixel of ours (0xAARRGGBB) against the reference's R, G, B, A.
bool pixel_matches(uint32_t p, const uint8_t* r, const CompareMode& mode)
{
    int ours[3] = {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
    int alpha = int(p >> 24);
    if (!mode.alpha_unchecked && (mode.alpha_counts ? !near(alpha, r[3], mode.tolerance_alpha) : alpha != 255))
        return false;
    for (int k = 0; k < 3; ++k) {
        int want = r[k] & mode.mask[k];
        int got = ours[k];
        if (mode.premultiplied) {
            want = premultiply(r[k], r[3]);
            got = premultiply(ours[k], alpha);
        }
        bool ok = near(got, want, mode.tolerance_rgb) || (mode.narrow_within_one && near(got, r[k], 1));
        if (!ok)
            return false;
    }
    return true;
}

// Files where our result differs from the reference for a reason the
// reference decoder has, pinned by a checksum of our whole output.
struct KnownDifference {
    const char* path;
    const char* why;
    uint32_t top_left;  // worked out by hand from the file
    uint64_t checksum;
};
constexpr KnownDifference known_differences[] = {
    {"tga/imagers/b5-cmap.tga",
     "Pillow 9.4 ignores 15-bit colour maps and shows the indices on its default palette; the map entries are "
     "5-5-5 colours (top-left pixel: index 0, entry 0x1778 -> FF28D8C0)",
     0xFF28D8C0u, 9585096526094540779ull},
    // Pillow shows indices beyond a short palette on a grey ramp (index i as
    // i, i, i); here they are opaque black, as for GIF tables.
    {"bmp/bmpsuite/b/pal8badindex.bmp", "palette of 101 entries; top-left: index 6, stored 00 00 FF 00",
     0xFFFF0000u, 4419071250442769673ull},
    {"bmp/pillow/mmap_error.bmp", "palette gap of 0 entries: every pixel is opaque black", 0xFF000000u,
     16911759311438395779ull},
    {"gif/pygif/invalid-colors.gif", "index 2 of a 2-entry table is opaque black", 0xFF000000u,
     3554540362634767386ull},
};

uint64_t fnv1a(const std::vector<uint32_t>& words)
{
    uint64_t h = 1469598103934665603ull;
    for (uint32_t w : words)
        for (int k = 0; k < 4; ++k) {
            h ^= (w >> (8 * k)) & 0xFF;
            h *= 1099511628211ull;
        }
    return h;
}

class FormatConformance : public testing::TestWithParam<CorpusCase> {};

TEST_P(FormatConformance, MatchesReference)
{
    REQUIRE_CORPUS();
    const CorpusCase& c = GetParam();
    std::string base = corpus_dir() + "/conformance/" + c.path;
    std::vector<uint8_t> file = read_file(base);
    ASSERT_FALSE(file.empty()) << base;
    std::vector<uint8_t> ref;
    if (file_exists(base + ".ref.rgba"))
        ref = read_file(base + ".ref.rgba");
    int32_t width = unreferenced_window, height = unreferenced_window;
    if (ref.size() >= 8) {
        width = int32_t(read_le32(ref.data()));
        height = int32_t(read_le32(ref.data() + 4));
        ASSERT_EQ(ref.size(), 8 + size_t(width) * size_t(height) * 4);
    }
    std::vector<uint32_t> out(size_t(width) * size_t(height), sentinel);
    int rc = picture_decode(file.data(), int32_t(file.size()), reinterpret_cast<uint8_t*>(out.data()), width * 4,
                            width, height, 0, 0);

    if (c.expected == "reject") {
        EXPECT_EQ(rc, -1);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint32_t p) { return p == sentinel; }))
            << "a rejected file wrote pixels";
        return;
    }
    if (c.expected == "either") {
        // Only safety is asked; what each yields is pinned in robustness_test.cpp.
        EXPECT_TRUE(rc == 0 || rc == -1);
        return;
    }
    ASSERT_EQ(rc, 0);
    CompareMode mode = compare_mode(c, file);
    if (!mode.pixels || ref.empty())
        return;
    for (const KnownDifference& k : known_differences) {
        if (c.path == k.path) {
            EXPECT_EQ(out[0], k.top_left) << k.why;
            EXPECT_EQ(fnv1a(out), k.checksum) << k.why;
            return;
        }
    }
    if (mode.bmp_alpha) {
        bool reference_has_alpha = false;
        for (size_t k = 8 + 3; k < ref.size(); k += 4)
            reference_has_alpha = reference_has_alpha || ref[k] != 255;
        mode.alpha_counts = reference_has_alpha;
        mode.alpha_unchecked = !reference_has_alpha;
    }
    GifLayout g{};
    if (mode.gif_rectangle) {
        ASSERT_TRUE(gif_layout(file, &g));
    }

    int bad = 0;
    std::string first_bad;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t p = out[size_t(y) * size_t(width) + size_t(x)];
            const uint8_t* r = ref.data() + 8 + (size_t(y) * size_t(width) + size_t(x)) * 4;
            bool ok;
            uint32_t want = uint32_t(r[3]) << 24 | uint32_t(r[0]) << 16 | uint32_t(r[1]) << 8 | r[2];
            if (mode.gif_rectangle && !(x >= g.left && x < g.left + g.width && y >= g.top && y < g.top + g.height)) {
                // Around the image our background colour, off the screen nothing.
                bool on_screen = x < g.screen_width && y < g.screen_height;
                want = on_screen ? mode.gif_background : sentinel;
                ok = p == want;
            } else {
                ok = pixel_matches(p, r, mode);
            }
            if (!ok && bad++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "first at (%d,%d): got %08X want %08X", x, y, p, want);
                first_bad = text;
            }
        }
    }
    EXPECT_EQ(bad, 0) << bad << " pixels differ; " << first_bad << " (compare: " << c.compare << ")";
}

INSTANTIATE_TEST_SUITE_P(Corpus, FormatConformance, testing::ValuesIn(load_cases()), case_name);

} // namespace
