#pragma once
// The "User Message Submission" window (display item IG_009, id 8): a
// reason, a message, and the user's name and e-mail address. " Submit "
// stores them in the configuration and hands the message to the user's mail
// program as a "mailto:" draft; the user sends it from there.
#include <cstdint>
#include <string>

inline constexpr int32_t kUserMessageWindowItemId = 8;

void drawUserMessageWindow();
bool isUserMessageWindowOpen();
// Shows the window with the name, address, message and reason the
// configuration holds.
void openUserMessageWindow();

// The "mailto:" address that carries a message to the maker: the reason in
// the subject, the message and the sender in the body, percent-encoded.
std::wstring userMessageMailto(int32_t reason, const std::string& message, const std::string& name,
                               const std::string& email);

// Closed, empty buffers (tests).
void resetUserMessageWindow();
