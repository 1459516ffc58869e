// FileTime to civil UTC date: days since 1601-01-01 to year/month/day
// (proleptic Gregorian, the calendar Windows uses for FILETIME).
#include "platform/system.h"

void file_time_to_system_time(FileTime time, SystemTime* out)
{
    constexpr uint64_t ticks_per_second = 10000000;
    uint64_t seconds = time / ticks_per_second;
    uint64_t days = seconds / 86400;
    uint64_t second_of_day = seconds % 86400;
    out->milliseconds = int(time % ticks_per_second / 10000);
    out->hour = int(second_of_day / 3600);
    out->minute = int(second_of_day / 60 % 60);
    out->second = int(second_of_day % 60);
    out->day_of_week = int((days + 1) % 7);  // 1601-01-01 was a Monday

    // Shift the era to start on 1600-03-01 so that leap days end a year.
    int64_t z = int64_t(days) + 306;  // days from 1600-03-01
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t day = doy - (153 * mp + 2) / 5 + 1;
    int64_t month = mp < 10 ? mp + 3 : mp - 9;
    int64_t year = 1600 + era * 400 + yoe + (month <= 2 ? 1 : 0);
    out->year = int(year);
    out->month = int(month);
    out->day = int(day);
}
