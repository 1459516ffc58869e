#pragma once
// The viewer's help box. The text itself is formatted with the command line
// (format_help_text), so the command-line tool gets it without a desktop.

// Prints the help text to standard output and shows it in a box captioned
// "Glimmerdex help", with the window as owner when owned.
void show_help(bool owned);
