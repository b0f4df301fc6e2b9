#pragma once
// The modal message window (display item IG_003): draws the question that an
// engine task asked through engine/confirm_request.h, with its option
// checkboxes and its OK and Cancel buttons, and writes the answer back.
#include "engine/confirm_request.h"

// Draw function of IG_003; the main loop calls it each frame while the window is open.
void drawModalMessage();
