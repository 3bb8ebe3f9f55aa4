#pragma once

#include <string>

// Text helpers of the main window that the dialogues use as well: received bytes as the
// terminal shows them, cleaned replies, macro texts and units-list entries.

// "$" and two upper-case hex digits: "$0D" for a carriage return.
std::string HexByte(unsigned char b);
// `text` without the characters outside 32 ... 122, order kept.
std::string FilterPrintable(const std::string& text);
// `text` cut to 255 characters and stripped of trailing blanks.
std::string TrimTrailingSpaces(const std::string& text);

// Received bytes in hex mode: bytes from 31 up as they are, lower ones as " <$xx>",
// a line feed followed by LF CR so that the display breaks its line there.
std::string HexDisplayText(const std::string& received);
// A macro text with the upper-case tokens CR, ESC and LF replaced by their bytes.
std::string ExpandMacro(const std::string& macro);
// The indexer address of a units-list entry: "<" and the digits after its "#", blanks
// ignored ("# 12 = ..." gives "<12").
std::string UnitAddressOf(const std::string& entry);
// What follows the first "=" of a units-list entry ("" when there is none).
std::string UnitIdOf(const std::string& entry);
// Letter case folded for the comparisons of command-buffer entries.
std::string UpperCase(std::string text);
