#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SNoteEdit.h"

// Scripted corrections for the converter: a JSON array of gestures
//   {"button": "left" | "right" | "middle", "from": [frame, pitch], "to": [frame, pitch]}
// where "from" is the cell the button went down on and "to" the cell it came up on.
namespace zuroka {

// Parses the text. On failure returns nothing and sets error to what is wrong and
// where ("entry 3: \"to\" must be [frame, pitch]").
std::optional<std::vector<SGesture>> ParseEdits(const std::string& text, std::string& error);

// Reads and parses the file; the error also says when the file cannot be read.
std::optional<std::vector<SGesture>> ReadEdits(const std::string& path, std::string& error);

}  // namespace zuroka
