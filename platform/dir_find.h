#pragma once
// A one-search-at-a-time folder lister on top of the platform's find services.

// Begins a listing of pattern within folder (null or empty: the current
// directory); closes one still open.
void dir_find_start(const char* folder, const char* pattern);

// 1 with the next entry in buffer (260 bytes: the pattern's own prefix +
// name, '\\' appended for a directory; the folder is not part of it), 0 at
// the end (buffer empty). Hidden entries and "." are skipped.
int dir_find_next(char* buffer);
