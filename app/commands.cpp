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
#include "store/thumbsdb/catalog.h"
#include "store/thumbsdb/compound_file.h"
#include "store/file_list.h"

namespace {

// The colour dialog's custom colours (COLORREF), kept between uses.
uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS];

// Explorer's cache files have other names (thumbcache_256.db, thm523.tmp).
const DesktopFileFilter load_filters[2] = {{"Thumbs.db", "Thumbs.db"}, {"All files", "*.*"}};
const DesktopFileFilter save_filters[1] = {{"All files", "*.*"}};

// 0x00RRGGBB <-> COLORREF 0x00BBGGRR: the same swap both ways.
uint32_t swap_red_blue(uint32_t c) { return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF); }

void couldnt_write() { desktop_message_box(true, "ERROR: Couldn't write file!", host_name); }

void save_png(int32_t entry, const char* path)
{
    const Picture& p = file_list_picture(entry);
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

// What S writes for an entry: the picture of an old catalog as PNG, else
// the stored bytes as they are (nothing for a name without a record), with
// the catalog time where the entry has one.
void save_entry(int32_t entry, const char* path)
{
    const StoreEntry& e = file_list_entry(entry);
    if (e.kind == STORE_ENTRY_CATALOG_OLD || (e.kind == STORE_ENTRY_NONE && catalog_version() < STORE_FILE_CATALOG_VERSION)) {
        save_png(entry, path);
        return;
    }
    // An entry without a catalog time keeps the time of writing.
    const FileTime time = file_list.times ? file_list.times[entry] : 0;
    if (desktop_write_copy(path, e.payload.data, int64_t(e.payload.length), time != 0, time) != 0)
        couldnt_write();
}

}  // namespace

void command_save(int32_t entry)
{
    // Catalog entries may be saved whenever a catalog is loaded (a name
    // without a record gives an empty file); streams and Explorer records
    // when they store bytes, under the extension of their format.
    const StoreEntry* e = entry >= 0 ? &file_list_entry(entry) : nullptr;
    const bool keyed = e && (e->kind == STORE_ENTRY_STREAM || e->kind == STORE_ENTRY_EXPLORER);
    const bool stored = keyed ? e->payload.length > 0 : e && stream_table.catalog_slot >= 0;
    if (stored) {
        std::strncpy(path_buffer, file_list_name(entry), PATH_BUFFER_BYTES - 1);
        path_buffer[PATH_BUFFER_BYTES - 1] = 0;
        const char* extension = keyed ? store_entry_extension(*e) : "jpg";
        if (desktop_save_dialog(true, "Save thumbnail as..", save_filters, 1, extension, path_buffer, PATH_BUFFER_BYTES))
            save_entry(entry, path_buffer);
    }
    host_input.mouse_buttons = 0;
}

void command_colour()
{
    uint32_t colour = swap_red_blue(start_background_colour);
    if (desktop_choose_colour(true, &colour, custom_colours) && swap_red_blue(colour) != start_background_colour) {
        start_background_colour = swap_red_blue(colour);
        // Fitted pictures were composited over the old colour.
        file_list_refit(start_background_colour);
    }
    host_input.mouse_buttons = 0;
}

void command_load()
{
    if (desktop_open_dialog(true, "Select new Thumbs.db", load_filters, 2, "db", path_buffer, PATH_BUFFER_BYTES))
        app_load(path_buffer);
}

void command_open(int32_t entry)
{
    if (entry < 0 || !host_input.app_active)
        return;
    // A thumbnail stream of a cache without a Catalog, or an Explorer
    // record, is named by a hash, and a disk image's names are no files
    // here: there is no file to open.
    if (!file_list_keyed(entry) && !app_load_is_image() && desktop_shell_open(file_list_name(entry)))
        host_input.mouse_buttons = 0;
    else
        desktop_beep();
}
