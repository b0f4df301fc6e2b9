#pragma once
// The numbered actions that clickable parts of the program's message texts
// carry (a notification's detail lines among them).
#include <cstdint>
#include <string>
#include <vector>

// Runs action `code` with the clicked part's texts:
//   1 check for a newer version      2 open the user-message window
//   3 open the style editor          4 open the maker's home page
//   6 open args[1], an existing absolute path or an http(s) address
//   7 open the installed user guide  9 open the product's web page
// Opening happens on a thread of its own through the windows' opener.
// 1 when the code names an action and it was started; 0 for any other code,
// for code 6 without a second text or with a target that may not be opened,
// and when no thread could be started.
int32_t runTextAction(int32_t code, const std::vector<std::string>& args);
