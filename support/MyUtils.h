#pragma once
// Small shared routines: the text checks used on settings and addresses.
// Texts are byte strings.
#include <string>
#include <string_view>

// Four groups of 1 to 3 decimal digits, each at most 255, joined by dots.
bool IsDottedQuad(std::string_view text);

// Pieces are numbered from 1 and each ends at its delimiter: callers append a
// delimiter to the text so the last piece is closed too. The closing
// delimiter of the last wanted piece is not returned.
std::string GetPiece(std::string_view text, int first, int count, char delimiter);

// The characters of text that are hexadecimal digits, in order.
std::string HexDigitsOf(std::string_view text);
