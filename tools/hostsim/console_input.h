// Commands typed while the driver runs. Standard input is read on a thread of its own, so the
// polls keep their pace while nobody types; the poll loop collects whole lines between polls.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace hostsim {

class ConsoleInput {
 public:
  ConsoleInput();
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;

  // Starts reading standard input until its end. The reading thread is never joined: it may sit in
  // a read when the host is done, and the process ends it.
  void start();

  // The next whole line typed, without its line end; nullopt when none is waiting.
  std::optional<std::string> next_line();

 private:
  struct Lines;
  std::shared_ptr<Lines> lines_;
};

}  // namespace hostsim
