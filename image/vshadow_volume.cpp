// Shadow copies through libvshadow. libvshadow reads the volume through a
// libbfio handle of ours that reads the volume's byte range through
// sleuthkit's image (whatever container it is); each store then goes back to
// sleuthkit as an image of its own (external_image.h).
#include "image/vshadow_volume.h"

#include <libbfio.h>
#include <libvshadow.h>

#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "image/external_image.h"
#include "platform/failure.h"
#include "platform/system.h"

namespace {

constexpr uint64_t HEADER_OFFSET = 0x1E00;  // the volume header's place in an NTFS volume
constexpr uint8_t VSS_IDENTIFIER[16] = {0x6B, 0x87, 0x08, 0x38, 0x76, 0xC1, 0x48, 0x4E,
                                        0xB7, 0xAE, 0x04, 0x04, 0x6E, 0x6C, 0xC7, 0x52};

constexpr uint64_t BLOCK = 0x4000;  // the catalog's and the stores' blocks
constexpr int MAX_STORES = 512;      // Windows keeps at most 512 a volume

uint64_t le64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

bool read_at(TSK_IMG_INFO* img, uint64_t at, void* out, size_t length)
{
    if (tsk_img_read(img, TSK_OFF_T(at), static_cast<char*>(out), length) == ssize_t(length))
        return true;
    tsk_error_reset();
    return false;
}

// libvshadow follows the chains of blocks of the catalog and of each store
// (each block names the next) without asking whether they end: a chain that
// comes back on itself would hang it. So each is walked here first: every
// block inside the volume, none twice. A store's header is one block: only
// its place is checked.
bool chain_ends(TSK_IMG_INFO* img, uint64_t base, uint64_t size, uint64_t start, bool follow = true)
{
    std::unordered_set<uint64_t> seen;
    for (uint64_t at = start; at != 0;) {
        uint8_t head[48];
        if (size < BLOCK || at > size - BLOCK || !seen.insert(at).second || !read_at(img, base + at, head, sizeof head))
            return false;
        at = follow ? le64(head + 40) : 0;
    }
    return true;
}

// Whether every chain the catalog names ends.
bool chains_end(TSK_IMG_INFO* img, uint64_t base, uint64_t size)
{
    uint8_t header[64];
    if (!read_at(img, base + HEADER_OFFSET, header, sizeof header))
        return false;
    const uint64_t catalog = le64(header + 48);
    if (catalog == 0)
        return true;  // a header and no copies
    if (!chain_ends(img, base, size, catalog))
        return false;
    std::vector<uint8_t> bytes(BLOCK);
    const uint8_t* block = bytes.data();
    for (uint64_t at = catalog; at != 0;) {
        if (!read_at(img, base + at, bytes.data(), BLOCK))
            return false;
        for (size_t e = 128; e + 128 <= BLOCK; e += 128) {
            if (le64(block + e) != 3)
                continue;  // the store's own entry (2), or none
            for (size_t field : {8, 32, 40, 48, 72})  // block list, header, ranges, bitmaps
                if (le64(block + e + field) != 0 && !chain_ends(img, base, size, le64(block + e + field), field != 32))
                    return false;
        }
        at = le64(block + 40);
    }
    return true;
}

// The volume's byte range, as libbfio sees it.
struct Range {
    TSK_IMG_INFO* img;
    uint64_t base;
    uint64_t size;
    uint64_t at;
};

int range_free(intptr_t** handle, libbfio_error_t**)
{
    delete reinterpret_cast<Range*>(*handle);
    *handle = nullptr;
    return 1;
}

int range_clone(intptr_t** out, intptr_t* from, libbfio_error_t**)
{
    *out = reinterpret_cast<intptr_t*>(new Range(*reinterpret_cast<Range*>(from)));
    return 1;
}

int range_open(intptr_t*, int access, libbfio_error_t**) { return (access & LIBBFIO_ACCESS_FLAG_WRITE) ? -1 : 1; }
int range_close(intptr_t*, libbfio_error_t**) { return 0; }
int range_yes(intptr_t*, libbfio_error_t**) { return 1; }
ssize_t range_write(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) { return -1; }

ssize_t range_read(intptr_t* handle, uint8_t* out, size_t length, libbfio_error_t**)
{
    Range* r = reinterpret_cast<Range*>(handle);
    if (r->at >= r->size)
        return 0;
    if (uint64_t(length) > r->size - r->at)
        length = size_t(r->size - r->at);
    const ssize_t got = tsk_img_read(r->img, TSK_OFF_T(r->base + r->at), reinterpret_cast<char*>(out), length);
    if (got < 0) {
        tsk_error_reset();
        return -1;
    }
    r->at += uint64_t(got);
    return got;
}

off64_t range_seek(intptr_t* handle, off64_t offset, int whence, libbfio_error_t**)
{
    Range* r = reinterpret_cast<Range*>(handle);
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(r->at) : whence == SEEK_END ? int64_t(r->size) : -1;
    if (base < 0 || offset < -base || offset > INT64_MAX - base)
        return -1;
    r->at = uint64_t(base + offset);
    return off64_t(r->at);
}

int range_size(intptr_t* handle, size64_t* size, libbfio_error_t**)
{
    *size = reinterpret_cast<Range*>(handle)->size;
    return 1;
}

// The volume's shadow-copy data, shared by its stores: the last store closed
// closes it.
struct Shadows {
    libbfio_handle_t* handle = nullptr;
    libvshadow_volume_t* volume = nullptr;
    int users = 0;
};

void shadows_release(Shadows* s)
{
    if (--s->users > 0)
        return;
    if (s->volume) {
        libvshadow_volume_close(s->volume, nullptr);
        libvshadow_volume_free(&s->volume, nullptr);
    }
    if (s->handle)
        libbfio_handle_free(&s->handle, nullptr);
    delete s;
}

// One store, read as an image of its own; it keeps the volume's handles.
struct StoreReader {
    libvshadow_store_t* store;
    Shadows* shadows;
};

int64_t store_read(void* context, uint64_t offset, char* out, size_t length)
{
    StoreReader* s = static_cast<StoreReader*>(context);
    libvshadow_error_t* error = nullptr;
    const ssize_t got = libvshadow_store_read_buffer_at_offset(s->store, out, length, off64_t(offset), &error);
    libvshadow_error_free(&error);
    return got;
}

void store_close(void* context)
{
    StoreReader* s = static_cast<StoreReader*>(context);
    libvshadow_store_free(&s->store, nullptr);
    shadows_release(s->shadows);
    delete s;
}

// libvshadow's reason, on one line, and the error freed.
std::string reason(libvshadow_error_t** error)
{
    char text[512] = "unknown error";
    if (*error)
        libvshadow_error_sprint(*error, text, sizeof text);
    libvshadow_error_free(error);
    std::string s = text;
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string store_label(int index, uint64_t created)
{
    SystemTime t;
    file_time_to_system_time(created, &t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "vss%d %04d-%02d-%02dT%02d:%02d:%02dZ", index, t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

} // namespace

void vshadow_volume_stores(TSK_IMG_INFO* img, uint64_t offset, uint64_t size, std::vector<ShadowStore>* out,
                           std::vector<std::string>* problems)
{
    const std::string where = "shadow copies of the volume at " + std::to_string(offset);
    // Most volumes have none: their header's place holds no identifier, and
    // libvshadow is not asked.
    uint8_t head[16] = {};
    if (size < HEADER_OFFSET + 512 ||
        tsk_img_read(img, TSK_OFF_T(offset + HEADER_OFFSET), reinterpret_cast<char*>(head), sizeof head) !=
            ssize_t(sizeof head)) {
        tsk_error_reset();
        return;
    }
    if (std::memcmp(head, VSS_IDENTIFIER, sizeof head) != 0)
        return;
    if (!chains_end(img, offset, size)) {
        problems->push_back(where + ": damaged, not read (a chain of its blocks leaves the volume or loops)");
        return;
    }

    Shadows* shadows = new Shadows;
    shadows->users = 1;
    libbfio_error_t* bfio_error = nullptr;
    Range* range = new Range{img, offset, size, 0};
    if (libbfio_handle_initialize(&shadows->handle, reinterpret_cast<intptr_t*>(range), range_free, range_clone,
                                  range_open, range_close, range_read, range_write, range_seek, range_yes, range_yes,
                                  range_size, LIBBFIO_FLAG_IO_HANDLE_MANAGED, &bfio_error) != 1) {
        libbfio_error_free(&bfio_error);
        delete range;
        shadows_release(shadows);
        problems->push_back(where + ": out of memory");
        return;
    }
    libvshadow_error_t* error = nullptr;
    int stores = 0;
    if (libvshadow_volume_initialize(&shadows->volume, &error) != 1 ||
        libvshadow_volume_open_file_io_handle(shadows->volume, shadows->handle, LIBVSHADOW_OPEN_READ, &error) != 1 ||
        libvshadow_volume_get_number_of_stores(shadows->volume, &stores, &error) != 1) {
        problems->push_back(where + ": damaged, not read (" + reason(&error) + ")");
        if (shadows->volume)
            libvshadow_volume_free(&shadows->volume, nullptr);  // never opened: nothing to close
        shadows_release(shadows);
        return;
    }
    if (stores > MAX_STORES) {
        problems->push_back(where + ": " + std::to_string(stores) + " stores named, the first " +
                            std::to_string(MAX_STORES) + " read");
        stores = MAX_STORES;
    }
    for (int i = 0; i < stores; ++i) {
        const std::string which = where + ": store " + std::to_string(i + 1);
        libvshadow_store_t* store = nullptr;
        size64_t store_size = 0;
        uint64_t created = 0;
        if (libvshadow_volume_get_store(shadows->volume, i, &store, &error) != 1 ||
            libvshadow_store_get_size(store, &store_size, &error) != 1 ||
            libvshadow_store_get_creation_time(store, &created, &error) != 1) {
            problems->push_back(which + ": damaged, not read (" + reason(&error) + ")");
            libvshadow_store_free(&store, nullptr);
            continue;
        }
        const int in_volume = libvshadow_store_has_in_volume_data(store, &error);
        if (in_volume != 1 || store_size == 0 || store_size > uint64_t(INT64_MAX)) {
            problems->push_back(which + (in_volume == 1 ? ": has no size we can read" : ": its saved blocks are not in the volume (" + reason(&error) + ")"));
            libvshadow_store_free(&store, nullptr);
            continue;
        }
        ++shadows->users;
        TSK_IMG_INFO* info =
            external_image_open(new StoreReader{store, shadows}, store_size, ExternalImageCalls{store_read, store_close});
        if (!info) {
            problems->push_back(which + ": " + failure_last().reason);
            continue;
        }
        out->push_back({info, store_label(i + 1, created)});
    }
    shadows_release(shadows);
}
