// An E01's own record of its media, read through sleuthkit: the MD5 the
// acquiring tool stored, and the media bytes to check it against. libewf is
// not called directly: linked beside libesedb, its private copies of the
// libraries both bundle would stand in for libesedb's own.
#include <tsk/libtsk.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/disk_image.h"
#include "platform/failure.h"
#include "platform/system.h"

namespace {

constexpr size_t MEDIA_CHUNK = 1u << 20;
constexpr const char* STORED_MD5_LINE = "MD5 hash of data:";

std::string tsk_reason()
{
    const char* e = tsk_error_get();
    std::string text = e ? e : "unknown error";
    tsk_error_reset();
    for (char& c : text)
        if (c == '\n')
            c = ' ';  // a line of a report must stay one
    return text;
}

// The MD5 sleuthkit's E01 reader took from the image's hash section, as its
// description of the image states it; 1, or 0 where it states none.
int stored_md5_of(TSK_IMG_INFO* img, uint8_t md5[16])
{
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    if (!out)
        return 0;
    img->imgstat(img, out);
    std::fclose(out);
    int found = 0;
    const char* at = text ? std::strstr(text, STORED_MD5_LINE) : nullptr;
    if (at) {
        at += std::strlen(STORED_MD5_LINE);
        while (*at == '\t' || *at == ' ')
            ++at;
        found = 1;
        for (int i = 0; i < 16 && found; ++i) {
            const int hi = ascii_hex_value(at[2 * i]), lo = hi < 0 ? -1 : ascii_hex_value(at[2 * i + 1]);
            if (hi < 0 || lo < 0)
                found = 0;
            else
                md5[i] = uint8_t(hi << 4 | lo);
        }
    }
    std::free(text);
    return found;
}

} // namespace

int disk_image_e01_media(const char* path, uint8_t stored_md5[16], int (*feed)(void*, const uint8_t*, size_t),
                         void* context)
{
    failure_clear();
    if (disk_image_container(path) != IMAGE_CONTAINER_E01) {
        failure_concerns(path);
        return fail("not an E01 image: it stores no digest of its media");
    }
    TSK_IMG_INFO* img = tsk_img_open_utf8_sing(path, TSK_IMG_TYPE_EWF_EWF, 0);
    if (!img) {
        failure_concerns(path);
        return fail("cannot be opened (%s)", tsk_reason().c_str());
    }
    const int stored = stored_md5_of(img, stored_md5);
    std::vector<char> chunk(MEDIA_CHUNK);
    const TSK_OFF_T media = img->size;
    TSK_OFF_T at = 0;
    while (at < media) {
        const size_t want = size_t(std::min<TSK_OFF_T>(media - at, TSK_OFF_T(chunk.size())));
        const ssize_t got = tsk_img_read(img, at, chunk.data(), want);
        if (got <= 0) {
            failure_concerns(path);
            fail("its media cannot be read past byte %lld (%s)", static_cast<long long>(at), tsk_reason().c_str());
            break;
        }
        if (feed(context, reinterpret_cast<const uint8_t*>(chunk.data()), size_t(got)) != 0) {
            fail("the digest of its media failed");
            break;
        }
        at += got;
    }
    tsk_img_close(img);
    if (at < media)
        return -1;
    return stored;
}
