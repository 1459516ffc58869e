// MD5, SHA-1 and SHA-256 from the system's library (OpenSSL on Linux, CNG on
// Windows): the published vectors fed whole, in odd pieces and from files;
// md5sum / sha1sum / sha256sum on files and on what extract writes; a
// library that fails.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli/digests/digests.h"
#include "tests/support/test_support.h"
#include "tools/fixture/thumbsdb_writer.h"

namespace {

struct Vector {
    std::string input;
    const char* md5;
    const char* sha1;
    const char* sha256;
};

// RFC 1321 appendix A.5; FIPS 180 examples (one and two blocks, a million
// 'a'). Where a standard gives no value for a digest, the coreutils tool's.
const Vector VECTORS[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"a", "0cc175b9c0f1b6a831c399e269772661", "86f7e437faa5a7fce15d1ddcb9eaeaea377667b8",
     "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d",
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", "c12252ceda8be8994d5fa0290a47231c1d16aae3",
     "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b", "32d10c7b8cf96570ca04ce37f2a19d84240d3a89",
     "71c480df93d6ae2f1efad1447c66c9525e316218cf51fc8d9ed832f2daf18b73"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a", "50abf5706a150990a08b2c5ea40fa0e585554732",
     "f371bc4a311f2b009eef952dd83ca80e2b60026c8e935592d0f9c308453c813e"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1", "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "03dd8807a93175fb062dfb55dc7d359c", "a49b2446a02c645bf419f995b67091253a04a259",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

const uint8_t* bytes_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// Fed in pieces of sizes that fall across block and slice boundaries.
Digests in_pieces(const std::string& s, unsigned which)
{
    const size_t sizes[] = {1, 3, 7, 55, 63, 65, 127, 4093, 65537};
    DigestRun run;
    EXPECT_EQ(digest_begin(&run, which), 0);
    for (size_t at = 0, i = 0; at < s.size(); ++i) {
        size_t n = std::min(sizes[i % std::size(sizes)], s.size() - at);
        EXPECT_EQ(digest_add(&run, bytes_of(s) + at, n), 0);
        at += n;
    }
    Digests d;
    EXPECT_EQ(digest_end(&run, &d), 0);
    return d;
}

// The digest a coreutils tool (md5sum, ...) gives for a file.
std::string tool_digest(const char* tool, const std::string& path)
{
    std::string out;
    run_command(std::string(tool) + " < '" + path + "' | cut -d' ' -f1", &out);
    return out.substr(0, out.find('\n'));
}

const char* const COREUTILS[DIGEST_KINDS] = {"md5sum", "sha1sum", "sha256sum"};

// Why the coreutils tools cannot be the oracle here, or null.
const char* no_coreutils()
{
#ifdef _WIN32
    return "md5sum, sha1sum and sha256sum are Linux tools; the Linux suite compares with them";
#else
    if (run_command("{ md5sum --version && sha1sum --version && sha256sum --version; } >/dev/null 2>&1") != 0)
        return "md5sum/sha1sum/sha256sum not installed; test skipped";
    return nullptr;
#endif
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> cells;
    std::istringstream in(line);
    for (std::string cell; std::getline(in, cell, separator);)
        cells.push_back(cell);
    return cells;
}

void expect_digests(const Digests& d, const Vector& v, const char* how)
{
    EXPECT_EQ(d.md5, v.md5) << how;
    EXPECT_EQ(d.sha1, v.sha1) << how;
    EXPECT_EQ(d.sha256, v.sha256) << how;
}

} // namespace

TEST(Digests, PublishedVectorsWholeInPiecesAndFromFiles)
{
    TempDir dir;
    for (const Vector& v : VECTORS) {
        SCOPED_TRACE(v.input.substr(0, 20) + " (" + std::to_string(v.input.size()) + " bytes)");
        Digests d;
        EXPECT_EQ(digests_of(bytes_of(v.input), v.input.size(), &d), 0);
        expect_digests(d, v, "whole");
        expect_digests(in_pieces(v.input, DIGEST_ALL), v, "in pieces");

        Digests sha256_only = in_pieces(v.input, 1u << DIGEST_SHA256);
        EXPECT_EQ(sha256_only.md5 + sha256_only.sha1, "") << "only what was asked for";
        EXPECT_EQ(sha256_only.sha256, v.sha256);
        char hex[65];
        EXPECT_EQ(sha256_hex(bytes_of(v.input), v.input.size(), hex), 0);
        EXPECT_STREQ(hex, v.sha256);

        write_file(dir.file("vector"), std::vector<uint8_t>(v.input.begin(), v.input.end()));
        int64_t size = -1;
        EXPECT_EQ(digests_of_file(dir.file("vector"), &d, &size), 0);
        EXPECT_EQ(size, int64_t(v.input.size()));
        expect_digests(d, v, "from a file");
    }
    Digests d{"x", "y", "z"};
    int64_t size = 5;
    EXPECT_EQ(digests_of_file(dir.file("absent"), &d, &size), -1);
    EXPECT_EQ(size, 5);
}

TEST(Digests, FilesAgreeWithCoreutils)
{
    if (const char* why = no_coreutils())
        GTEST_SKIP() << why;
    TempDir dir;
    // Around the 64-byte block and its padding, and across several slices.
    for (size_t n : {size_t(0), size_t(55), size_t(56), size_t(57), size_t(63), size_t(64), size_t(65), size_t(119),
                     size_t(120), size_t(128), 3 * DIGEST_SLICE + 17}) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i)
            bytes[i] = uint8_t(i * 7 + n + i / 251);
        std::string path = dir.file("f" + std::to_string(n));
        write_file(path, bytes);
        Digests d;
        int64_t size = -1;
        ASSERT_EQ(digests_of_file(path, &d, &size), 0);
        EXPECT_EQ(size, int64_t(n));
        const std::string* got[DIGEST_KINDS] = {&d.md5, &d.sha1, &d.sha256};
        for (int k = 0; k < DIGEST_KINDS; ++k)
            EXPECT_EQ(*got[k], tool_digest(COREUTILS[k], path)) << COREUTILS[k];
    }
}

// Every digest extract writes, by the glimmerdex-cli under test (wine.cli_tests
// runs this with the Windows one, whose digests come from CNG): the stored
// bytes' in report.csv, the folder's in hashes.txt, the evidence's in the
// manifest.
TEST(CliExtract, DigestsAgreeWithCoreutils)
{
    if (const char* why = no_coreutils())
        GTEST_SKIP() << why;
    TempDir dir;
    fixture::CacheSpec spec;
    for (int i = 0; i < 3; ++i) {
        fixture::CacheEntry e;
        e.name = "p" + std::to_string(i) + ".jpg";
        e.time = 128980119090000000ull;
        e.picture = fixture::encode_jpeg(fixture::make_test_image(20 + 400 * i, 15 + 300 * i, uint32_t(i)), 100);
        spec.entries.push_back(e);
    }
    ASSERT_GT(spec.entries[2].picture.size(), DIGEST_SLICE) << "one picture spans slices";
    const std::string cache = dir.file("Thumbs.db"), out = dir.file("case");
    write_file(cache, fixture::write_thumbs_db(spec));
    ASSERT_EQ(run_command(cli_command() + " extract '" + cache + "' '" + out + "' >/dev/null 2>&1"), 0);

    // No field of this report holds a comma or a quote.
    std::vector<uint8_t> report = read_file(out + "/report.csv");
    std::istringstream lines(std::string(report.begin(), report.end()));
    std::string line;
    std::getline(lines, line);
    std::map<std::string, size_t> col;
    for (const std::string& name : split(line.substr(0, line.find('\r')), ','))
        col.emplace(name, col.size());
    const char* columns[DIGEST_KINDS] = {"md5", "sha1", "sha256"};
    int rows = 0;
    for (; std::getline(lines, line); ++rows) {
        std::vector<std::string> cells = split(line.substr(0, line.find('\r')), ',');
        ASSERT_EQ(cells.size(), col.size()) << line;
        const std::string file = out + "/" + cells[col["file"]];
        for (int k = 0; k < DIGEST_KINDS; ++k)
            EXPECT_EQ(cells[col[columns[k]]], tool_digest(COREUTILS[k], file)) << file << " " << columns[k];
    }
    EXPECT_EQ(rows, 3);

    // size,md5,sha256,filename
    std::vector<uint8_t> hashes = read_file(out + "/hashes.txt");
    std::istringstream hash_lines(std::string(hashes.begin(), hashes.end()));
    int files = 0;
    while (std::getline(hash_lines, line))
        if (!line.empty() && line[0] != '%' && line[0] != '#') {
            std::vector<std::string> cells = split(line.substr(0, line.find('\r')), ',');
            ASSERT_EQ(cells.size(), 4u) << line;
            EXPECT_EQ(cells[1], tool_digest("md5sum", out + "/" + cells[3])) << cells[3];
            EXPECT_EQ(cells[2], tool_digest("sha256sum", out + "/" + cells[3])) << cells[3];
            ++files;
        }
    EXPECT_GE(files, 4) << "the pictures and the report";

    std::vector<uint8_t> manifest = read_file(out + "/manifest.json");
    const std::string evidence = "\"md5\": \"" + tool_digest("md5sum", cache) + "\", \"sha1\": \"" +
                                 tool_digest("sha1sum", cache) + "\", \"sha256\": \"" + tool_digest("sha256sum", cache) + "\"";
    EXPECT_NE(std::string(manifest.begin(), manifest.end()).find(evidence), std::string::npos) << evidence;
}

// A library that cannot compute a digest (here OpenSSL left with only its
// null provider, as a FIPS-only configuration is for MD5) is named on
// standard error, and no digest stands in the case folder.
TEST(Digests, ALibraryFailureIsReportedAndGivesNoDigest)
{
#ifdef _WIN32
    GTEST_SKIP() << "OpenSSL is the Linux build's library";
#endif
    if (std::getenv("GLIMMERDEX_CLI"))
        GTEST_SKIP() << "the OpenSSL configuration reaches only this build's glimmerdex-cli";
    TempDir dir;
    write_file(dir.file("openssl.cnf"), [] {
        std::string text = "openssl_conf = init\n[init]\nproviders = providers\n[providers]\nnull = null\n"
                           "[null]\nactivate = 1\n";
        return std::vector<uint8_t>(text.begin(), text.end());
    }());
    write_hashed_cache(dir.file("Thumbs.db"), {0x1234});
    std::string errors;
    int status = run_command("OPENSSL_CONF='" + dir.file("openssl.cnf") + "' " + cli_command() + " extract '" +
                                 dir.file("Thumbs.db") + "' '" + dir.file("case") + "' 2>&1 >/dev/null",
                             &errors);
    EXPECT_NE(status, 0) << "the files written cannot be vouched for";
    EXPECT_NE(errors.find("cannot compute MD5: OpenSSL's EVP_DigestInit_ex failed ("), std::string::npos) << errors;
    ASSERT_TRUE(file_exists(dir.file("case/report.csv")));
    for (const char* name : {"report.csv", "manifest.json", "hashes.txt"}) {
        std::vector<uint8_t> b = file_exists(dir.file("case/") + name) ? read_file(dir.file("case/") + name)
                                                                        : std::vector<uint8_t>();
        std::string text(b.begin(), b.end());
        EXPECT_FALSE(std::regex_search(text, std::regex("[0-9a-f]{32}"))) << name << ":\n" << text;
    }
}
