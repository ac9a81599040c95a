#include "tools/hostsim/console_input.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "platform/platform.h"

namespace hostsim {

// Shared with the reading thread, which may outlive the ConsoleInput.
struct ConsoleInput::Lines {
  platform::Mutex mutex;
  std::deque<std::string> waiting;
};

ConsoleInput::ConsoleInput() : lines_(std::make_shared<Lines>()) {}

ConsoleInput::~ConsoleInput() = default;

void ConsoleInput::start() {
  platform::Thread reader([lines = lines_] {
    std::string line;
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
      if (c != '\n') {
        line += static_cast<char>(c);
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard lock(lines->mutex);
      lines->waiting.push_back(std::move(line));
      line.clear();
    }
  });
  reader.detach();
}

std::optional<std::string> ConsoleInput::next_line() {
  std::lock_guard lock(lines_->mutex);
  if (lines_->waiting.empty()) return std::nullopt;
  std::string line = std::move(lines_->waiting.front());
  lines_->waiting.pop_front();
  return line;
}

}  // namespace hostsim
