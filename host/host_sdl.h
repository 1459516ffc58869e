#pragma once
// What the SDL desktop services need from the SDL window host.
struct SDL_Window;

// The window, null before host_create or after host_destroy.
SDL_Window* host_sdl_window();

// Handles pending events while a modal dialog runs, as the window procedure
// runs inside a dialog's own message loop: input is recorded and the frame
// kept shown; a quit message is kept for the next host_pump.
void host_sdl_pump_modal();
