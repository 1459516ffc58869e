// MD5, SHA-1 and SHA-256 together: the published vectors, and md5sum /
// sha1sum / sha256sum over lengths around the block boundary.
#include <string>

#include "app/cli/digests/digests.h"
#include "tests/support/test_support.h"

namespace {

Digests of(const std::string& s)
{
    Digests d;
    digests_of(reinterpret_cast<const uint8_t*>(s.data()), s.size(), &d);
    return d;
}

} // namespace

TEST(Digests, PublishedVectors)
{
    // RFC 1321 appendix A.5 and FIPS 180 (SHA-1) examples.
    struct Vector {
        std::string input;
        const char* md5;
        const char* sha1;
    };
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"a", "0cc175b9c0f1b6a831c399e269772661", "86f7e437faa5a7fce15d1ddcb9eaeaea377667b8"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", "c12252ceda8be8994d5fa0290a47231c1d16aae3"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b", "32d10c7b8cf96570ca04ce37f2a19d84240d3a89"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a", "50abf5706a150990a08b2c5ea40fa0e585554732"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215ef0796a20bcaaae116d3876c664a",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21", "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.input.substr(0, 20));
        Digests d = of(v.input);
        EXPECT_EQ(d.md5, v.md5);
        EXPECT_EQ(d.sha1, v.sha1);
    }
    EXPECT_EQ(of("abc").sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Digests, FilesAgreeWithCoreutils)
{
#ifdef _WIN32
    GTEST_SKIP() << "md5sum and sha1sum are Linux tools; the Linux suite compares with them";
#endif
    if (run_command("md5sum --version >/dev/null 2>&1 && sha1sum --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "md5sum/sha1sum not installed; test skipped";
    TempDir dir;
    for (int n : {55, 56, 57, 63, 64, 65, 119, 120, 128, 65536 + 7}) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> bytes(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            bytes[size_t(i)] = uint8_t(i * 7 + n);
        std::string path = dir.file("f" + std::to_string(n));
        write_file(path, bytes);
        Digests d;
        int64_t size = -1;
        ASSERT_EQ(digests_of_file(path, &d, &size), 0);
        EXPECT_EQ(size, n);
        std::string md5, sha1, sha256;
        run_command("md5sum < '" + path + "' | cut -c1-32", &md5);
        run_command("sha1sum < '" + path + "' | cut -c1-40", &sha1);
        run_command("sha256sum < '" + path + "' | cut -c1-64", &sha256);
        EXPECT_EQ(d.md5 + "\n", md5);
        EXPECT_EQ(d.sha1 + "\n", sha1);
        EXPECT_EQ(d.sha256 + "\n", sha256);
    }
    Digests d;
    int64_t size;
    EXPECT_EQ(digests_of_file(dir.file("absent"), &d, &size), -1);
}
