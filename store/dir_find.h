#pragma once
// A one-search-at-a-time folder lister on top of the platform's find services.

// Begins a listing of pattern (closes one still open).
void dir_find_start(const char* pattern);

// 1 with the next entry in buffer (260 bytes: prefix + name, '\\' appended for
// a directory), 0 at the end (buffer empty). Hidden entries and "." are skipped.
int dir_find_next(char* buffer);
