#pragma once
// The tray menu in the main window, for a desktop where no tray host shows
// the icon (GNOME without its extension, no session bus): a "Menu" button at
// the right end of the "Main Menu" title bar opens the same menu, and its
// entries run the same commands. Drawn inside "Main Menu", on the
// user-interface thread; nothing while a tray host shows the icon.
void drawWindowMenu();
