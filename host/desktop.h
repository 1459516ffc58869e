#pragma once
// Desktop services the browser asks for: message boxes and the beep. One
// implementation talks to the real desktop; the headless one records every
// call for tests and tools that run without a display.

// A box with a single OK button. owned: shown with the window as owner.
void desktop_message_box(bool owned, const char* text, const char* caption);

// The system's default beep.
void desktop_beep();
