#pragma once
// Loading a cache into the list, and the path the viewer's dialogs share.

// The one path shared by the start-up, load and save dialogs, so each opens
// with the path last chosen or proposed.
constexpr int PATH_BUFFER_BYTES = 260;
extern char path_buffer[PATH_BUFFER_BYTES];

// Loads the cache a path names: a folder's Thumbs.db, or, for a path naming
// a file, that file itself. The cache's folder is the current directory
// afterwards, as the viewer's open and save rely on; nothing but the viewer
// moves it. A disk image loads its Explorer caches, or where it has none its
// first live Thumbs.db, and leaves the current directory alone. 0 when it was
// loaded, -1 otherwise (the list is then empty).
int app_load(const char* path);

// Whether the list came from a disk image: none of its names is a file here.
bool app_load_is_image();

// Frees the list and closes the images it read from (program exit).
void app_load_release();
