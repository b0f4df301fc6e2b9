#pragma once
// Display items: the program's top-level Dear ImGui windows, each with an id,
// a name ("IG_000" to "IG_009"), a draw function and a visible flag. The main
// loop draws the visible ones every frame in name order.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

using DrawFunction = void (*)();

struct DisplayItem {
    std::wstring name;
    int32_t id = 0;
    uint8_t visible = 0;
    DrawFunction draw = nullptr;
};

// Name -> item, so the map iterates in name order; guarded by displayItemMutex.
extern std::map<std::wstring, DisplayItem> displayItemMap;
extern std::mutex displayItemMutex;

// Ids of the open windows in opening order; the back one stays in front.
// Guarded by zOrderMutex.
extern std::deque<int32_t> displayItemZOrder;
extern std::mutex zOrderMutex;

// Registers `id` under `name`. An id registered before moves to the new name
// and keeps its draw function and visible flag. Returns true.
bool registerDisplayItem(int32_t id, const std::wstring& name);
// 1 when an item has the id, 0 (nothing changed) otherwise.
int setDisplayItemVisible(int32_t id, bool visible);
int setDisplayItemDrawFunction(int32_t id, DrawFunction draw);
// Calls the draw function of every visible item in name order, the main
// window (which opens modal popups) last. The draw functions run under
// displayItemMutex and must not call the functions above.
bool drawDisplayItems();

// A window opens (its id goes to the back) or closes (its id leaves).
void pushDisplayItemZOrder(int32_t id);
void removeDisplayItemZOrder(int32_t id);
// Inside a window's Begin/End: brings the current window to the front when
// `id` is at the back of the z-order queue and no popup is open.
void checkDisplayItemZOrder(int32_t id);

// One top-level window: its id, name, draw function and open flag.
struct DisplayItemRow {
    int32_t id;
    const wchar_t* name;
    DrawFunction draw;
    bool (*isOpen)();
};
// The windows the program draws; the windows layer hands them over at start-up.
// `rows` must outlive the program (a static table).
void setDisplayItemRows(const DisplayItemRow* rows, size_t count);

// Registers the windows handed over with their draw functions and their
// current open flags.
void setIGDisplayItem_zOrder();
// Copies every window's open flag into its item's visible flag (each frame).
void copyDisplayItemOpenFlags();

// Empties the map and the z-order queue (tests).
void clearDisplayItems();
