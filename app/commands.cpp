// The commands: open the hovered entry, switch the information lines, choose
// the background colour, load another cache, save a thumbnail.
#include "app/commands.h"

#include <cstring>

#include "app/app_load.h"
#include "app/command_line.h"
#include "host/desktop.h"
#include "platform/system.h"
#include "host/window.h"
#include "picture/bytes.h"
#include "pngout/png_writer.h"
#include "store/catalog.h"
#include "store/compound_file.h"
#include "store/file_list.h"
#include "store/hashed_streams.h"

namespace {

// The colour dialog's custom colours (COLORREF), kept between uses.
uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS];

const DesktopFileFilter load_filters[1] = {{"Thumbs.db", "Thumbs.db"}};
const DesktopFileFilter save_filters[1] = {{"All files", "*.*"}};

// Current thumbnail streams: 12-byte header, data length at byte 8.
constexpr int32_t COMMAND_STREAM_HEADER_BYTES = 12;
// Catalogs from this version on store whole JPEG files.
constexpr int16_t COMMAND_JPEG_CATALOG_VERSION = 7;

// 0x00RRGGBB <-> COLORREF 0x00BBGGRR: the same swap both ways.
uint32_t swap_red_blue(uint32_t c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

ByteView slot_bytes(int32_t slot)
{
    if (slot < 0 || slot >= stream_table.count)
        return ByteView{nullptr, 0};
    return ByteView{stream_table.pool + stream_table.offset[slot], size_t(store_slot_length(slot))};
}

void couldnt_write() { desktop_message_box(true, "ERROR: Couldn't write file!", host_name); }

// The stored JPEG of the entry's catalog record, written as it is stored.
void save_jpeg_copy(int32_t entry, const char* path)
{
    const uint8_t* data = nullptr;
    int64_t length = 0;
    CatalogCursor cursor;
    int16_t version = 0;
    CatalogEntry record;
    if (catalog_begin(&cursor, &version) == 0) {
        while (catalog_next(&cursor, &record)) {
            if (ascii_stricmp(record.name, file_list_name(entry)) != 0)
                continue;
            ByteView stream = slot_bytes(catalog_stream_slot(record.stream_number));
            if (view_has(stream, 0, COMMAND_STREAM_HEADER_BYTES)) {
                // The stored length may claim more than the stream holds;
                // only the stream's own bytes are written.
                int64_t claimed = read_le32(stream.data + 8);
                int64_t available = int64_t(stream.length) - COMMAND_STREAM_HEADER_BYTES;
                data = stream.data + COMMAND_STREAM_HEADER_BYTES;
                length = claimed < available ? claimed : available;
            }
            break;
        }
    }
    // An entry without a record (or time) keeps the time of writing.
    const FileTime time = file_list.times ? file_list.times[entry] : 0;
    if (desktop_write_copy(path, data, length, time != 0, time) != 0)
        couldnt_write();
}

void save_png(int32_t entry, const char* path)
{
    const Picture& p = file_list.pictures[entry];
    if (!p.pixels || png_begin(path, p.width, p.height) != 0) {
        couldnt_write();
        return;
    }
    for (int32_t y = 0; y < p.height; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(p.pixels) + int64_t(y) * p.pitch);
        for (int32_t x = 0; x < p.width; ++x)
            png_put_pixel(row[x] & 0x00FFFFFF);
    }
}

// A thumbnail stream of a cache without a Catalog: its picture as stored;
// there is no catalog time, so the file keeps the time of writing.
void save_stored_picture(int32_t entry, const char* path)
{
    const uint8_t* data = nullptr;
    int32_t length = 0;
    if (hashed_stream_payload(file_list_source_slot(entry), &data, &length) != 0)
        length = 0;
    if (desktop_write_copy(path, data, length, false, 0) != 0)
        couldnt_write();
}

// What S writes for an entry: the stored picture of a catalog-less stream,
// the stored JPEG of a current catalog, a PNG of an old catalog's picture.
void save_entry(int32_t entry, const char* path)
{
    if (int32_t record = file_list_thumbcache_entry(entry); record >= 0) {
        // An Explorer record: its payload as stored, whatever its format.
        ByteView payload = file_list.thumbcache.entries[record].payload;
        if (desktop_write_copy(path, payload.data, int32_t(payload.length), false, 0) != 0)
            couldnt_write();
        return;
    }
    if (file_list_source_slot(entry) >= 0) {
        save_stored_picture(entry, path);
        return;
    }
    ByteView catalog = slot_bytes(stream_table.catalog_slot);
    // A catalog too short to hold its version counts as an old one.
    int16_t version = view_has(catalog, 2, 2) ? int16_t(read_le16(catalog.data + 2)) : 0;
    if (version >= COMMAND_JPEG_CATALOG_VERSION)
        save_jpeg_copy(entry, path);
    else
        save_png(entry, path);
}

}  // namespace

void command_save(int32_t entry)
{
    // Without a catalog or a stream of its own an entry has nothing to save.
    int32_t record = entry >= 0 ? file_list_thumbcache_entry(entry) : -1;
    const char* extension = "jpg";
    if (record >= 0) {
        ThumbcacheFormat format = file_list.thumbcache.entries[record].format;
        extension = format == THUMBCACHE_BMP ? "bmp" : format == THUMBCACHE_PNG ? "png"
                    : format == THUMBCACHE_JPEG ? "jpg" : "bin";
    }
    bool stored = record >= 0 ? file_list.thumbcache.entries[record].payload.length > 0
                              : entry >= 0 && (file_list_source_slot(entry) >= 0 || stream_table.catalog_slot >= 0);
    if (stored) {
        std::strncpy(path_buffer, file_list_name(entry), PATH_BUFFER_BYTES - 1);
        path_buffer[PATH_BUFFER_BYTES - 1] = 0;
        if (desktop_save_dialog(true, "Save thumbnail as..", save_filters, 1, extension, path_buffer, PATH_BUFFER_BYTES))
            save_entry(entry, path_buffer);
    }
    host_input.mouse_buttons = 0;
}

void command_colour()
{
    uint32_t colour = swap_red_blue(start_background_colour);
    if (desktop_choose_colour(true, &colour, custom_colours))
        start_background_colour = swap_red_blue(colour);
    host_input.mouse_buttons = 0;
}

void command_load()
{
    if (desktop_open_dialog(true, "Select new Thumbs.db", load_filters, 1, "db", path_buffer, PATH_BUFFER_BYTES))
        app_load(path_buffer);
}

void command_open(int32_t entry)
{
    if (entry < 0 || !host_input.app_active)
        return;
    // A thumbnail stream of a cache without a Catalog is named by a hash:
    // there is no file to open.
    // Nor is there for a record of an Explorer cache file.
    if (file_list_source_slot(entry) < 0 && file_list_thumbcache_entry(entry) < 0 &&
        desktop_shell_open(file_list_name(entry)))
        host_input.mouse_buttons = 0;
    else
        desktop_beep();
}
