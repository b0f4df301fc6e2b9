#pragma once
// The "About" window (display item IG_007): three pages (Info, Updates,
// Credits), each an animated picture over a list of lines, some of which
// open the guide or a web page or check for a newer version. The pages are
// built off the UI thread (showAboutBox) and swapped in whole; drawing reads
// the pages in force at the start of its frame.
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int32_t kAboutWindowItemId = 7;

// A source rectangle in pixels of the page's picture, shown for durationMs;
// with `blend` the rectangle moves there from the previous key frame.
struct AboutKeyFrame {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int64_t durationMs = 0;
    bool blend = false;
};

// A shown line; a line with an action is clickable. "btn:" actions are the
// window's own, any other action is a web address.
struct AboutLine {
    std::string text;
    std::string action;
};

struct AboutPage {
    std::string picture;  // texture name
    std::vector<AboutKeyFrame> keyFrames;
    std::vector<AboutLine> lines;
};

void drawAboutWindow();
bool isAboutWindowOpen();
// Shows the window (it draws from the next frame on).
void openAboutWindow();
// Hides it; every change of the render state does.
void closeAboutWindow();

// Rebuilds the three pages from the versions and identifiers now known and
// swaps them in; one build at a time, the last one wins. Returns true.
bool showAboutBox();
// A copy of the page (0 Info, 1 Updates, 2 Credits) in force; empty before
// the first build.
AboutPage aboutPage(int page);

// What the picture shows this frame (tests): the page, the key frame, the
// blend factor and the source rectangle in pixels.
struct AboutPictureState {
    int page = 0;
    size_t keyFrame = 0;
    float blend = 0;
    AboutKeyFrame source;
};
AboutPictureState aboutPictureState();

// Back to the start state, no pages (tests).
void resetAboutWindow();
