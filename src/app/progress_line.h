// One line of progress on standard error, rewritten in place.
#pragma once

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace tlq {

class ProgressLine {
 public:
  void show(const std::string& text) {
    if (text == shown_) return;
    std::string line = "\r" + text;
    if (text.size() < shown_.size()) line.append(shown_.size() - text.size(), ' ');
    writeText(stderr, line);
    shown_ = text;
  }
  void clear() {
    if (!shown_.empty()) writeText(stderr, "\r" + std::string(shown_.size(), ' ') + "\r");
    shown_.clear();
  }

 private:
  std::string shown_;
};

}  // namespace tlq
