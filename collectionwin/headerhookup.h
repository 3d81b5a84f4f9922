// How the program joins the Check Collection window to the header window:
// File > Check Collection... makes it (starting at the header window's
// directory), a .zip archive opened or dropped there is checked in it, and
// a row double-clicked in it is shown in the header window.
#pragma once

namespace kelvo {

class HeaderWindow;
class LoadedLists;

// `lists` (may be null) outlive both windows.
void attachCollectionWindow(HeaderWindow& window, LoadedLists* lists);

} // namespace kelvo
