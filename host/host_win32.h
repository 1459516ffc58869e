#pragma once
// What the Win32 desktop services need from the Win32 window host.

// The window (an HWND), owner of the dialogs and boxes; null before
// host_create and after host_destroy.
void* host_window_handle();
