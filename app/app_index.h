#pragma once
// The Windows Search index the viewer names thumbcache entries from: the
// one of /index=FILE, or the one of the mounted disk whose profile Explorer
// folder was opened.

// After a load from folder: names the list's entries from the index. The
// index is read once per path; one that cannot be read is reported once on
// standard error ("search index not read: REASON"). Returns the entries
// named, or -1 when the index could not be read.
int app_name_from_index(const char* folder);

// Frees the index (program exit).
void app_index_release();
