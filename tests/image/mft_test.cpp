// Explorer records named from the MFT: the id on the real vectors of two
// Windows 11 files, MountedDevices values, and end to end on an NTFS test
// image whose caches' ids tools/make-test-images computed from its files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/mft_names.h"
#include "store/explorer/thumbnail_id.h"
#include "tests/image/test_images.h"
#include "tests/support/test_support.h"

namespace {

constexpr char MFT_VOLUME_GUID[] = "{5D1E4C2A-0B3F-4A6E-9C8D-7F6A5B4C3D2E}";

std::u16string u16(const char* ascii)
{
    std::u16string s;
    for (const char* p = ascii; *p; ++p)
        s += char16_t(*p);
    return s;
}

uint64_t id_of(ThumbnailIdForm form, const char* guid, uint64_t entry, uint64_t seq, const char* ext, uint64_t time)
{
    VolumeGuid g;
    EXPECT_EQ(volume_guid_parse(guid, &g), 0);
    const std::u16string e = u16(ext);
    uint64_t id = 0;
    EXPECT_EQ(thumbnail_id(form, g, entry | seq << 48, reinterpret_cast<const uint16_t*>(e.data()), e.size(), time, &id), 0);
    return id;
}

TEST(ThumbnailId, RealWindows11FilesAndTheTwoForms)
{
    const char* guid = "{6924D67C-D058-4337-8E3E-954A5CC57C23}";
    EXPECT_EQ(id_of(THUMBNAIL_ID_WINDOWS_8, guid, 106897, 11, ".exe", 0x01D9AB81FC049AE8), 0xF2F9C3147EC3DDA8ull);
    EXPECT_EQ(id_of(THUMBNAIL_ID_WINDOWS_8, guid, 110619, 1, ".jpg", 0x01D9AB8176154FB2), 0x942C5E04753E441Dull);
    // The Windows 7 form hashes the time as it is, with no correction.
    EXPECT_NE(id_of(THUMBNAIL_ID_WINDOWS_7, guid, 110619, 1, ".jpg", 0x01D9AB8176154FB2), 0x942C5E04753E441Dull);
    // On an even 2 s both forms hash the same bytes.
    const uint64_t even = 0x01D9AB8176154FB2 / 20000000 * 20000000;
    EXPECT_EQ(id_of(THUMBNAIL_ID_WINDOWS_7, guid, 5, 1, ".jpg", even), id_of(THUMBNAIL_ID_WINDOWS_8, guid, 5, 1, ".jpg", even));
    // The extension is hashed as spelled.
    EXPECT_NE(id_of(THUMBNAIL_ID_WINDOWS_8, guid, 5, 1, ".JPG", even), id_of(THUMBNAIL_ID_WINDOWS_8, guid, 5, 1, ".jpg", even));

    // Times without a DOS date have no id: 1601, and past 2107.
    VolumeGuid g{};
    uint64_t id;
    EXPECT_EQ(thumbnail_id(THUMBNAIL_ID_WINDOWS_8, g, 1, nullptr, 0, 0, &id), -1);
    EXPECT_EQ(thumbnail_id(THUMBNAIL_ID_WINDOWS_8, g, 1, nullptr, 0, 0xFFFFFFFFFFFFFFFFull, &id), -1);
}

TEST(ThumbnailId, VolumeGuidTextInStructOrder)
{
    VolumeGuid g;
    ASSERT_EQ(volume_guid_parse("6924d67c-d058-4337-8e3e-954a5cc57c23", &g), 0);
    const uint8_t want[16] = {0x7C, 0xD6, 0x24, 0x69, 0x58, 0xD0, 0x37, 0x43,
                              0x8E, 0x3E, 0x95, 0x4A, 0x5C, 0xC5, 0x7C, 0x23};
    EXPECT_EQ(std::memcmp(g.bytes, want, 16), 0);
    char text[39];
    volume_guid_text(g, text);
    EXPECT_STREQ(text, "{6924D67C-D058-4337-8E3E-954A5CC57C23}");
    for (const char* bad : {"", "{6924D67C-D058-4337-8E3E-954A5CC57C23", "6924D67C-D058-4337-8E3E-954A5CC57C2",
                            "6924D67C-D058-4337-8E3E-954A5CC57C23x", "6924D67CD0584337-8E3E-954A5CC57C23-",
                            "{6924D67C-D058-4337-8E3E-954A5CC57CG3}"})
        EXPECT_EQ(volume_guid_parse(bad, &g), -1) << bad;
}

TEST(MountedDevices, ValuesPlaceVolumesOnMbrAndGptDisks)
{
    VolumeGuid g;
    EXPECT_EQ(mounted_devices_volume_name("\\??\\Volume{6924D67C-D058-4337-8E3E-954A5CC57C23}", &g), 0);
    EXPECT_EQ(mounted_devices_volume_name("\\DosDevices\\C:", &g), -1);
    EXPECT_EQ(mounted_devices_volume_name("\\??\\Volume6924D67C-D058-4337-8E3E-954A5CC57C23", &g), -1);

    // MBR: the disk signature, then the partition's byte offset.
    const uint8_t mbr[12] = {0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x10, 0x00, 0, 0, 0, 0};
    MountedVolume v;
    ASSERT_EQ(mounted_devices_value(mbr, sizeof mbr, &v), 0);
    EXPECT_FALSE(v.gpt);
    EXPECT_EQ(v.disk_signature, 0x12345678u);
    EXPECT_EQ(v.offset, 1048576u);
    DiskLayout mbr_disk;
    mbr_disk.disk_signature = 0x12345678;
    EXPECT_TRUE(mounted_volume_matches(v, mbr_disk, 1048576));
    EXPECT_FALSE(mounted_volume_matches(v, mbr_disk, 2097152));
    mbr_disk.disk_signature = 0x12345679;
    EXPECT_FALSE(mounted_volume_matches(v, mbr_disk, 1048576));

    // GPT: "DMIO:ID:" and the partition's GUID as its table entry holds it.
    std::vector<uint8_t> gpt(8 + 16);
    std::memcpy(gpt.data(), "DMIO:ID:", 8);
    for (int i = 0; i < 16; ++i)
        gpt[size_t(8 + i)] = uint8_t(0xA0 + i);
    ASSERT_EQ(mounted_devices_value(gpt.data(), gpt.size(), &v), 0);
    EXPECT_TRUE(v.gpt);
    DiskLayout gpt_disk;
    gpt_disk.gpt = true;
    gpt_disk.gpt_partitions.push_back({1048576, std::vector<uint8_t>(gpt.begin() + 8, gpt.end())});
    EXPECT_TRUE(mounted_volume_matches(v, gpt_disk, 1048576));
    EXPECT_FALSE(mounted_volume_matches(v, gpt_disk, 4096));
    EXPECT_FALSE(mounted_volume_matches(v, mbr_disk, 1048576));

    // Other forms (a removable device's path in UTF-16) name no partition.
    const uint8_t path[] = {'_', 0, '?', 0, '?', 0, '_', 0, 'U', 0, 'S', 0, 'B', 0};
    EXPECT_EQ(mounted_devices_value(path, sizeof path, &v), -1);
    EXPECT_EQ(mounted_devices_value(gpt.data(), 20, &v), -1);

    // A "hive" that is none is refused, not read.
    std::vector<VolumeGuidAt> found;
    EXPECT_EQ(mounted_devices_read(std::vector<uint8_t>(8192, 0x5A), mbr_disk, {1048576}, &found), -1);
    EXPECT_EQ(mounted_devices_read({}, mbr_disk, {1048576}, &found), -1);
    EXPECT_TRUE(found.empty());
}

TEST(MountedDevices, TheDiskSignatureIsReadFromTheImagesMbr)
{
    // An MBR disk of one partition (its file system blank: reported, not read).
    TempDir tmp;
    std::vector<uint8_t> disk(4u << 20);
    const uint8_t signature[4] = {0x78, 0x56, 0x34, 0x12};
    std::memcpy(&disk[440], signature, 4);
    const uint8_t entry[16] = {0, 0xFE, 0xFF, 0xFF, 0x07, 0xFE, 0xFF, 0xFF, 0x00, 0x08, 0, 0, 0x00, 0x10, 0, 0};
    std::memcpy(&disk[446], entry, 16);
    disk[510] = 0x55, disk[511] = 0xAA;
    write_file(tmp.file("disk.raw"), disk);
    DiskImage* image = nullptr;
    std::vector<std::string> problems;
    ASSERT_EQ(disk_image_open(tmp.file("disk.raw").c_str(), &image, &problems), 0);
    DiskLayout layout;
    EXPECT_EQ(disk_image_layout(image, &layout), 0);
    EXPECT_FALSE(layout.gpt);
    EXPECT_EQ(layout.disk_signature, 0x12345678u);
    disk_image_close(image);
}

TEST(MftNames, EveryExtensionAndFormIsLookedUpById)
{
    MftNames names;
    ASSERT_EQ(volume_guid_parse(MFT_VOLUME_GUID, &names.volume), 0);
    names.files.push_back({64 | 3ull << 48, 0x01D9AB8176154FB2, false, "/a/Photo.jpeg", {u16(".jpeg"), u16(".JPE")}});
    names.files.push_back({65 | 1ull << 48, 0x01D9AB81FC049AE8, true, "/b.png", {u16(".png")}});
    names.files.push_back({66 | 1ull << 48, 0, false, "/old.png", {u16(".png")}});  // no DOS time: no id
    mft_names_index(&names);
    EXPECT_EQ(names.by_id.size(), 6u);
    EXPECT_EQ(names.without_time, 1);
    for (const char* ext : {".jpeg", ".JPE"})
        for (const ThumbnailIdForm form : {THUMBNAIL_ID_WINDOWS_8, THUMBNAIL_ID_WINDOWS_7}) {
            const MftName* n = mft_names_find(names, id_of(form, MFT_VOLUME_GUID, 64, 3, ext, 0x01D9AB8176154FB2));
            ASSERT_NE(n, nullptr) << ext;
            EXPECT_EQ(n->file, 0u);
            EXPECT_EQ(n->form, form);
        }
    const MftName* b = mft_names_find(names, id_of(THUMBNAIL_ID_WINDOWS_8, MFT_VOLUME_GUID, 65, 1, ".png", 0x01D9AB81FC049AE8));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->file, 1u);
    EXPECT_EQ(mft_names_find(names, 0x1234), nullptr);
}

class MftImage : public TestImages {
protected:
    static void SetUpTestSuite() { make_images("mft"); }

    // list --catalog of the image (options first); rows keyed by column.
    static std::vector<std::vector<std::string>> list(const std::string& options, int* code, std::string* err,
                                                      const char* image = "mft.img")
    {
        const std::string errors = dir->file("stderr.txt");
        std::string out;
        *code = run_command(cli_command() + " list --catalog " + options + " " + dir->file(image) + " 2>" + errors, &out);
        const std::vector<uint8_t> e = read_file(errors);
        err->assign(e.begin(), e.end());
        return tsv_lines(out);
    }
    // names.tsv: id, form, path, state of every file a record was made for.
    static std::vector<std::vector<std::string>> expected()
    {
        const std::vector<uint8_t> b = read_file(dir->file("parts/mft/names.tsv"));
        return tsv_lines(std::string(b.begin(), b.end()));
    }
};

size_t column(const std::vector<std::string>& header, const char* name)
{
    return size_t(std::find(header.begin(), header.end(), name) - header.begin());
}

TEST_F(MftImage, EveryRecordIsNamedByItsFilesPathTheDeletedOneFlagged)
{
    const std::vector<std::vector<std::string>> expected = MftImage::expected();
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(expected[0][2], "/Users/a/Pictures/beach.jpg") << "paths through folders";
    // The GUID given by hand, read from the volume's own search database, or
    // from the SYSTEM hive (written by hivex) of a disk holding the volume.
    const struct {
        const char* image;
        const char* source;
    } cases[] = {{"mft.img", "given"},
                 {"mft-indexed.img", "from its search database's System.VolumeId"},
                 {"mft-disk.raw", "from the SYSTEM hive's MountedDevices"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        int code;
        std::string err;
        const bool given = std::string(c.image) == "mft.img";
        const auto rows = list(given ? std::string("--volume-guid ") + MFT_VOLUME_GUID : "", &code, &err, c.image);
        EXPECT_EQ(code, 0) << err;
        EXPECT_NE(err.find(std::string("volume ") + MFT_VOLUME_GUID + " (" + c.source + ")"), std::string::npos) << err;
        ASSERT_EQ(rows.size(), 5u) << err;
        const auto& h = rows[0];
        size_t named = 0;
        for (size_t r = 1; r < rows.size(); ++r) {
            const std::string hash = rows[r][column(h, "hash")];
            const auto e = std::find_if(expected.begin(), expected.end(), [&](const auto& x) { return x[0] == hash; });
            ASSERT_NE(e, expected.end()) << hash;
            EXPECT_EQ(rows[r][column(h, "path")], (*e)[2]);
            EXPECT_EQ(rows[r][column(h, "name_source")], (*e)[3] == "deleted" ? "mft-deleted" : "mft") << (*e)[2];
            ++named;
        }
        EXPECT_EQ(named, 4u);
        EXPECT_NE(err.find("thumbcache_256.db: 3 of 3 records named from the MFT (3 by the Windows 8.1+ form of the id, 0 by "
                           "the Windows 7 form)"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("thumbcache_96.db: 1 of 1 records named from the MFT (0 by the Windows 8.1+ form of the id, 1 by "
                           "the Windows 7 form)"),
                  std::string::npos)
            << err;
    }
}

TEST_F(MftImage, WhereTheSearchIndexAndTheMftDisagreeBothAreToldNeitherSilentlyWins)
{
    const std::vector<std::vector<std::string>> files = expected();
    ASSERT_EQ(files.size(), 4u);
    // A Windows.db naming beach.jpg as the MFT does, /harbour.png elsewhere.
    const std::string script =
        "import sqlite3, struct, sys\n"
        "d = sqlite3.connect(sys.argv[1])\n"
        "d.executescript('CREATE TABLE SystemIndex_1_PropertyStore_Metadata (Id INTEGER PRIMARY KEY, UniqueKey TEXT, "
        "Name TEXT); CREATE TABLE SystemIndex_1_PropertyStore (WorkId INTEGER, ColumnId INTEGER, Value BLOB, PRIMARY "
        "KEY (WorkId, ColumnId)) WITHOUT ROWID; INSERT INTO SystemIndex_1_PropertyStore_Metadata VALUES "
        "(7, \"4678-System_ThumbnailCacheId\", \"System.ThumbnailCacheId\"), "
        "(9, \"4447-System_ItemPathDisplay\", \"System.ItemPathDisplay\")')\n"
        "for work, (hexid, path) in enumerate(zip(sys.argv[2::2], sys.argv[3::2]), 1):\n"
        "    d.execute('INSERT INTO SystemIndex_1_PropertyStore VALUES (?, 7, ?)', (work, struct.pack('<Q', int(hexid, 16))))\n"
        "    d.execute('INSERT INTO SystemIndex_1_PropertyStore VALUES (?, 9, ?)', (work, path))\n"
        "d.commit()\n";
    write_file(dir->file("make_index.py"), std::vector<uint8_t>(script.begin(), script.end()));
    ASSERT_EQ(run_command("python3 " + dir->file("make_index.py") + " " + dir->file("Windows.db") + " " + files[0][0] +
                          " 'C:\\Users\\a\\Pictures\\beach.jpg' " + files[3][0] + " 'C:\\Pictures\\elsewhere.png'"),
              0);
    int code;
    std::string err;
    const auto rows = list("--search-index " + dir->file("Windows.db") + " --volume-guid " + MFT_VOLUME_GUID, &code, &err);
    EXPECT_EQ(code, 0) << err;
    ASSERT_EQ(rows.size(), 5u) << err;
    const auto& h = rows[0];
    for (size_t r = 1; r < rows.size(); ++r) {
        const std::string hash = rows[r][column(h, "hash")], path = rows[r][column(h, "path")];
        const std::string source = rows[r][column(h, "name_source")];
        if (hash == files[0][0])
            EXPECT_EQ(path + " " + source, "C:\\Users\\a\\Pictures\\beach.jpg search-index");
        else if (hash == files[3][0])
            EXPECT_EQ(path + " " + source, "C:\\Pictures\\elsewhere.png search-index");
        else
            EXPECT_EQ(source.rfind("mft", 0), 0u) << path << ": unknown to the index, named from the MFT";
    }
    EXPECT_NE(err.find("the search index names it C:\\Pictures\\elsewhere.png, the MFT /harbour.png (mft)"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("beach.jpg, the MFT"), std::string::npos) << "agreeing names are no warning: " << err;
}

TEST_F(MftImage, WithoutTheVolumeGuidRecordsKeepTheirHashAndTheUserIsTold)
{
    int code;
    std::string err;
    auto rows = list("", &code, &err);
    EXPECT_EQ(code, 0) << err;
    ASSERT_EQ(rows.size(), 5u);
    for (size_t r = 1; r < rows.size(); ++r)
        EXPECT_EQ(rows[r][column(rows[0], "name_source")], "");
    EXPECT_NE(err.find("its volume GUID is not known"), std::string::npos) << err;

    // Another volume's GUID names nothing: the ids are of this one.
    rows = list("--volume-guid {00000000-0000-0000-0000-000000000001}", &code, &err);
    for (size_t r = 1; r < rows.size(); ++r)
        EXPECT_EQ(rows[r][column(rows[0], "name_source")], "");

    list("--volume-guid C:", &code, &err);
    EXPECT_EQ(code, 2);
    EXPECT_NE(err.find("--volume-guid takes a GUID"), std::string::npos) << err;
}

} // namespace
