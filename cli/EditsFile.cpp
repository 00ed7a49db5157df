#include "EditsFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "SErrorText.h"

namespace zuroka {

namespace {

// A [frame, pitch] pair of integers that fit an int.
bool ReadCell(const nlohmann::json& v, int& frame, int& pitch) {
  if (!v.is_array() || v.size() != 2) return false;
  for (const auto& n : v) {
    if (!n.is_number_integer()) return false;
    const auto x = n.get<std::int64_t>();
    if (x < std::numeric_limits<int>::min() || x > std::numeric_limits<int>::max()) return false;
  }
  frame = v[0].get<int>();
  pitch = v[1].get<int>();
  return true;
}

}  // namespace

std::optional<std::vector<SGesture>> ParseEdits(const std::string& text, std::string& error) {
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  if (doc.is_discarded()) {
    error = "not valid JSON";
    return std::nullopt;
  }
  if (!doc.is_array()) {
    error = "must be a JSON array of gestures";
    return std::nullopt;
  }
  std::vector<SGesture> gestures;
  for (std::size_t i = 0; i < doc.size(); ++i) {
    const auto& e = doc[i];
    const std::string where = "entry " + std::to_string(i + 1) + ": ";
    if (!e.is_object()) {
      error = where + "must be an object with \"button\", \"from\" and \"to\"";
      return std::nullopt;
    }
    for (const auto& [key, value] : e.items()) {
      if (key != "button" && key != "from" && key != "to") {
        error = where + "unknown key \"" + key + "\"";
        return std::nullopt;
      }
    }
    SGesture g;
    const auto button = e.find("button");
    if (button == e.end() || !button->is_string()) {
      error = where + "\"button\" must be \"left\", \"right\" or \"middle\"";
      return std::nullopt;
    }
    const std::string b = button->get<std::string>();
    if (b == "left") {
      g.button = SButton::Left;
    } else if (b == "right") {
      g.button = SButton::Right;
    } else if (b == "middle") {
      g.button = SButton::Middle;
    } else {
      error = where + "\"button\" must be \"left\", \"right\" or \"middle\", not \"" + b + "\"";
      return std::nullopt;
    }
    const auto from = e.find("from");
    if (from == e.end() || !ReadCell(*from, g.startFrame, g.downPitch)) {
      error = where + "\"from\" must be [frame, pitch] (two integers)";
      return std::nullopt;
    }
    const auto to = e.find("to");
    if (to == e.end() || !ReadCell(*to, g.endFrame, g.newPitch)) {
      error = where + "\"to\" must be [frame, pitch] (two integers)";
      return std::nullopt;
    }
    gestures.push_back(g);
  }
  return gestures;
}

std::optional<std::vector<SGesture>> ReadEdits(const std::string& path, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read: " + SErrorText(errno);
    return std::nullopt;
  }
  std::stringstream text;
  text << f.rdbuf();
  return ParseEdits(text.str(), error);
}

}  // namespace zuroka
