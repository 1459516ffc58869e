#include "store/explorer/thumbnail_id.h"

#include <cstdio>

#include "platform/system.h"
#include "store/thumbsdb/hashed_streams.h"

namespace {

constexpr uint64_t TICKS_PER_SECOND = 10000000;
constexpr uint64_t TICKS_PER_DOS_STEP = 2 * TICKS_PER_SECOND;
constexpr uint64_t DAYS_1601_TO_1970 = 134774;

// Year, month, day of a count of days since 1970-01-01 (proleptic
// Gregorian; the civil-from-days algorithm).
void civil(int64_t days, int* year, int* month, int* day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(yoe + era * 400 + (*month <= 2));
}

// date << 16 | time of the instant, its seconds truncated to 2; -1 outside
// the DOS range.
int dos_date_time(uint64_t filetime, uint32_t* out)
{
    const uint64_t seconds = filetime / TICKS_PER_SECOND;
    const uint64_t days_since_1601 = seconds / 86400;
    if (days_since_1601 < DAYS_1601_TO_1970)
        return -1;
    const uint32_t in_day = uint32_t(seconds % 86400);
    int year, month, day;
    civil(int64_t(days_since_1601 - DAYS_1601_TO_1970), &year, &month, &day);
    if (year < 1980 || year > 2107)
        return -1;
    const uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(month) << 5 | uint32_t(day);
    const uint32_t time = (in_day / 3600) << 11 | (in_day / 60 % 60) << 5 | (in_day % 60) / 2;
    *out = date << 16 | time;
    return 0;
}

void put_le32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

} // namespace

const char* thumbnail_id_form_text(ThumbnailIdForm form)
{
    return form == THUMBNAIL_ID_WINDOWS_8 ? "Windows 8.1+" : "Windows 7";
}

int volume_guid_parse(const char* text, VolumeGuid* out)
{
    if (!text)
        return -1;
    const bool braced = text[0] == '{';
    const char* p = text + (braced ? 1 : 0);
    // The text's bytes in reading order, then put into struct order.
    uint8_t read[16];
    int n = 0;
    for (int group = 0; group < 5; ++group) {
        static const int digits[5] = {8, 4, 4, 4, 12};
        for (int k = 0; k < digits[group]; k += 2) {
            const int hi = ascii_hex_value(p[0]), lo = hi < 0 ? -1 : ascii_hex_value(p[1]);
            if (hi < 0 || lo < 0)
                return -1;
            read[n++] = uint8_t(hi << 4 | lo);
            p += 2;
        }
        if (group < 4 && *p++ != '-')
            return -1;
    }
    if (braced && *p++ != '}')
        return -1;
    if (*p)
        return -1;
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        out->bytes[i] = read[order[i]];
    return 0;
}

void volume_guid_text(const VolumeGuid& g, char out[39])
{
    const uint8_t* b = g.bytes;
    std::snprintf(out, 39, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2], b[1],
                  b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

int thumbnail_id(ThumbnailIdForm form, const VolumeGuid& volume, uint64_t file_reference, const uint16_t* extension,
                 size_t extension_units, uint64_t filetime, uint64_t* id)
{
    uint64_t instant = filetime;
    if (form == THUMBNAIL_ID_WINDOWS_8) {
        const uint64_t up = (filetime + TICKS_PER_DOS_STEP - 1) / TICKS_PER_DOS_STEP * TICKS_PER_DOS_STEP;
        if (up < filetime)
            return -1;  // beyond the last FILETIME: no DOS time either
        instant = up;
    }
    uint32_t dos;
    if (dos_date_time(instant, &dos) != 0)
        return -1;
    uint64_t x = thumbnail_id_mix(THUMBNAIL_ID_SEED, volume.bytes, sizeof volume.bytes);
    uint8_t word[8];
    for (int i = 0; i < 8; ++i)
        word[i] = uint8_t(file_reference >> (8 * i));
    x = thumbnail_id_mix(x, word, 8);
    x = hashed_stream_name_hash(x, extension, extension_units);
    put_le32(word, dos);
    x = thumbnail_id_mix(x, word, 4);
    const uint32_t correction = uint32_t(instant) - uint32_t(filetime);
    if (form == THUMBNAIL_ID_WINDOWS_8 && correction != 0) {
        put_le32(word, correction);
        x = thumbnail_id_mix(x, word, 4);
    }
    *id = x;
    return 0;
}
