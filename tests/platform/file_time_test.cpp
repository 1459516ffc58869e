// FILETIME to civil UTC date, checked against dates computed elsewhere.
#include "platform/system.h"
#include "tests/support/test_support.h"

TEST(FileTime, CivilDatesAndWeekdays)
{
    SystemTime t;
    file_time_to_system_time(128980119090000000ull, &t);  // Monday 2009-09-21 13:05:09
    EXPECT_EQ(t.year, 2009);
    EXPECT_EQ(t.month, 9);
    EXPECT_EQ(t.day, 21);
    EXPECT_EQ(t.day_of_week, 1);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 5);
    EXPECT_EQ(t.second, 9);
    file_time_to_system_time(0, &t);  // Monday 1601-01-01
    EXPECT_EQ(t.year, 1601);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.day_of_week, 1);
    file_time_to_system_time(126227808000000000ull + 864000000000ull * 59, &t);  // 2001-03-01, after no leap day
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 1);
    file_time_to_system_time(125911584000000000ull + 864000000000ull * 59, &t);  // 2000-02-29
    EXPECT_EQ(t.year, 2000);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.day_of_week, 2);
    file_time_to_system_time(0xFFFFFFFFFFFFFFFFull, &t);  // year 60056; nothing overflows
    EXPECT_EQ(t.year, 60056);
}

TEST(FileTime, WhatIsSetIsReadBack)
{
    TempDir dir;
    const std::string path = dir.file("stamped");
    write_file(path, {1, 2, 3});
    const FileTime when = 128980119090000000ull + 1234500;  // 2009-09-21 13:05:09.12345
    ASSERT_EQ(sys_set_file_time(path.c_str(), when), 0);
    FileTime read = 0;
    ASSERT_EQ(sys_get_file_time(path.c_str(), &read), 0);
    EXPECT_EQ(read, when);
    EXPECT_EQ(read_file(path), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(sys_get_file_time(dir.file("absent").c_str(), &read), -1);
}
