// Names of caches inside a disk image come from the image: a Thumbs.db's
// streams from the names of its directory there (deleted ones flagged), and
// every cache of a volume from that volume's own Windows Search database,
// live or deleted, unless one is given by hand; never from a folder of this
// machine whose path looks like the cache's label.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "store/thumbsdb/hashed_streams.h"
#include "tests/image/test_images.h"
#include "tests/support/test_support.h"

namespace {

class ImageNames : public TestImages {};

// The key of a stream of the file of this name (UTF-8 here), Windows 8 and later.
std::string stream_of(const std::u16string& name)
{
    std::vector<uint16_t> units(name.begin(), name.end());
    return "256_" + hash_hex(hashed_stream_name_hash(HASHED_SEED_WINDOWS_8, units.data(), units.size()));
}

// "path|name_source" of every row of list --catalog, by stream (Thumbs.db)
// or by hash (Explorer records); stderr into *errors.
std::map<std::string, std::string> names_listed(const std::string& arguments, int* code, std::string* errors,
                                                const std::string& env = "")
{
    TempDir err;
    std::string out;
    *code = run_command(env + cli_command() + " list --catalog " + arguments + " 2>" + err.file("err"), &out);
    const std::vector<uint8_t> e = read_file(err.file("err"));
    errors->assign(e.begin(), e.end());
    std::vector<std::vector<std::string>> lines = tsv_lines(out);
    std::map<std::string, std::string> named;
    if (lines.empty())
        return named;
    const std::vector<std::string>& header = lines[0];
    auto column = [&](const char* c) { return size_t(std::find(header.begin(), header.end(), c) - header.begin()); };
    for (size_t r = 1; r < lines.size(); ++r) {
        const std::vector<std::string>& row = lines[r];
        if (row.size() != header.size())
            continue;
        const std::string key = row[column("stream")] != "-" ? row[column("stream")] : row[column("hash")];
        named[key] = row[column("path")] + "|" + row[column("name_source")];
    }
    return named;
}

const std::string BEACH = stream_of(u"Beach.JPG"), STRASSE = stream_of(u"Stra\u00dfe \u6771\u4eac.png"),
                  GONE = stream_of(u"Gone Away.jpg"), OTHER_CASE = stream_of(u"beach.jpg"),
                  INDEXED = stream_of(u"indexed.jpg");
const char* const DRAWING = "0123456789abcdef";  // a record of the fixture's Explorer cache

TEST_F(ImageNames, StreamsAndRecordsAreNamedFromTheImageItself)
{
    // The volume's database live, then deleted: the same names either way.
    for (const char* image : {"names.img", "names-gone.img"}) {
        SCOPED_TRACE(image);
        int code;
        std::string errors;
        std::map<std::string, std::string> named = names_listed(at(image), &code, &errors);
        EXPECT_EQ(code, 0) << errors;
        EXPECT_EQ(named[BEACH], "C:\\Pics\\Beach.JPG|search-index") << "the database outranks the folder";
        EXPECT_EQ(named[STRASSE], "Stra\u00dfe \u6771\u4eac.png|folder");
        EXPECT_EQ(named[GONE], "Gone Away.jpg|folder-deleted");
        EXPECT_EQ(named[OTHER_CASE], "|identifier") << "the hash is of the name as spelled";
        EXPECT_EQ(named[INDEXED], "C:\\Pics\\indexed.jpg|search-index");
        EXPECT_EQ(named[DRAWING], "C:\\Users\\x\\Pictures\\drawing.png|search-index");
        EXPECT_EQ(named["9d5bc1f0a3e4d2c7"], "|identifier");
        const bool gone = std::string(image) == "names-gone.img";
        EXPECT_NE(errors.find("Windows/Windows.db" + std::string(gone ? " (deleted)" : "") + ": 3 items"),
                  std::string::npos)
            << errors;
    }
}

TEST_F(ImageNames, NoHostFolderNamesAndAnIndexByHandWins)
{
    // A folder here spelled like the cache's label, holding the name of a
    // stream the image's directory does not know.
    TempDir work, tmp;
    write_file(work.file("names.img"), read_file(at("names.img")));
    ASSERT_TRUE(make_folders(work.file("names.img@0:/Pics")));
    write_file(work.file("names.img@0:/Pics/beach.jpg"), {1});
    const std::vector<std::string> before = list_folder(work.path());
    const std::vector<uint8_t> image = read_file(work.file("names.img"));

    int code;
    std::string errors;
    std::map<std::string, std::string> named =
        names_listed("--search-index " + at("parts/names/other.db") + " " + work.file("names.img"), &code, &errors,
                     "TMPDIR=" + tmp.path() + " ");
    EXPECT_EQ(code, 0) << errors;
    EXPECT_EQ(named[OTHER_CASE], "|identifier");
    EXPECT_EQ(named[BEACH], "Beach.JPG|folder") << "the volume's own database is not read";
    EXPECT_EQ(named[INDEXED], "D:\\elsewhere\\indexed.jpg|search-index");
    EXPECT_EQ(named[DRAWING], "|identifier");
    EXPECT_EQ(errors.find("names.img@0:/ProgramData"), std::string::npos) << errors;

    // Without it, the volume's database is copied out to a private folder
    // of the temporary one, and nothing is left there or beside the image.
    named = names_listed(work.file("names.img"), &code, &errors, "TMPDIR=" + tmp.path() + " ");
    EXPECT_EQ(named[INDEXED], "C:\\Pics\\indexed.jpg|search-index");
    EXPECT_EQ(list_folder(tmp.path()), std::vector<std::string>{});
    EXPECT_EQ(list_folder(work.path()), before);
    EXPECT_EQ(read_file(work.file("names.img")), image);
}

} // namespace

namespace {

std::string text_of(const std::string& path)
{
    const std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
}

TEST_F(ImageNames, VerifyImageChecksAnE01AgainstItsStoredMd5)
{
    // ewfacquire stored the MD5 of disk.raw, which is the media.
    std::string raw_md5;
    ASSERT_EQ(run_command("md5sum " + at("disk.raw") + " | cut -c1-32", &raw_md5), 0);
    raw_md5 = raw_md5.substr(0, 32);
    TempDir work;
    std::string errors;
    ASSERT_EQ(run_command(cli_command() + " extract --verify-image " + at("disk.E01") + " " + work.file("case") +
                          " 2>" + work.file("err")),
              0)
        << text_of(work.file("err"));
    EXPECT_NE(text_of(work.file("err")).find("verified"), std::string::npos);
    const std::string manifest = text_of(work.file("case/manifest.json"));
    EXPECT_NE(manifest.find("\"verify_image\": {\"result\": \"match\", \"stored_md5\": \"" + raw_md5 +
                            "\", \"media_md5\": \"" + raw_md5 + "\"}"),
              std::string::npos)
        << manifest;

    // A byte of the media changed in a copy: not the image that was acquired.
    std::vector<uint8_t> e01 = read_file(at("disk.E01"));
    e01[e01.size() / 2] ^= 0x55;
    write_file(work.file("copy.E01"), e01);
    EXPECT_EQ(run_command(cli_command() + " extract --verify-image " + work.file("copy.E01") + " " +
                          work.file("case2") + " 2>" + work.file("err2")),
              1);
    const std::string said = text_of(work.file("err2"));
    EXPECT_NE(said.find("copy.E01: verify: "), std::string::npos) << said;
    EXPECT_EQ(said.find("verified"), std::string::npos) << said;
    EXPECT_NE(text_of(work.file("case2/manifest.json")).find("\"verify_image\": {\"result\": \"mismatch\""),
              std::string::npos);
}

} // namespace
