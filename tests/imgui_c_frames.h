/* Headless Dear ImGui frames for test programs written in C: a context
 * without renderer, frames drawn by a callback, clicks, typing and keys. */
#ifndef VARNHOLT_TESTS_IMGUI_C_FRAMES_H
#define VARNHOLT_TESTS_IMGUI_C_FRAMES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*HeadlessDraw)(void* user);

void headlessCreate(void);
void headlessDestroy(void);
void headlessFrame(HeadlessDraw draw, void* user);
void headlessClick(HeadlessDraw draw, void* user, float x, float y);
void headlessType(HeadlessDraw draw, void* user, const char* utf8);
/* Enter, or Ctrl+A when `selectAll`. */
void headlessKey(HeadlessDraw draw, void* user, int selectAll);
/* Finds the item `label` of the window whose own name starts with `window`
 * by moving the mouse down a vertical line `fromRight` pixels inside the
 * window's right edge; its centre goes to xy. 0 when not found. */
int headlessFindItem(HeadlessDraw draw, void* user, const char* window, const char* label, float fromRight,
                     float* xy);
/* The centres of the hoverable items on that line, top to bottom (at most `max`). */
int headlessItemsDown(HeadlessDraw draw, void* user, const char* window, float fromRight, float* xy, int max);

#ifdef __cplusplus
}
#endif

#endif
