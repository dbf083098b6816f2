// The program's own hold on the X display while the window opens.
#pragma once

// Opens a connection to the display and keeps it until releaseDisplay();
// false when the display cannot be opened.
bool holdDisplay();

// Closes the connection holdDisplay() opened, if it is open.
void releaseDisplay();
