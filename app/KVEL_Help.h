#pragma once

// The program's help pages: a contents page and one page per help context.

inline constexpr int kContentsHelpContext = 1;
inline constexpr int kAboutHelpContext = 99999;

// Hands every page to the help viewer; calling it again replaces them with the same set.
void RegisterHelpPages();
