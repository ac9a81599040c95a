// What the dialogs need besides their controls: the application object with the window the
// modal forms are owned by, message boxes, the save and print dialogs and a text printer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ui/controls.h"

namespace ui {

// Buttons, icons and answers of a message box, with the values Windows gives them.
enum MessageBoxFlags : unsigned {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
};
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// A message box over the active window; returns the button the user pressed.
int MessageBox(std::string_view text, std::string_view caption, unsigned flags);
// An information box with an OK button, captioned "信息".
void show_information(std::string_view text);
// An error box with an OK button, captioned "错误".
void show_error(std::string_view text);
// A confirmation box (question icon) with an OK button, captioned "确认".
void show_confirmation(std::string_view text);

struct ScreenSize {
  int width = 1024, height = 768;
};

class Application {
 public:
  // The window that modal forms are owned by and disabled over; the host's window while a
  // dialog of the driver runs. nullptr: none.
  void* Handle() const { return handle_; }
  void SetHandle(void* window) { handle_ = window; }
  ScreenSize Screen() const;

 private:
  void* handle_ = nullptr;
};

Application& app();

// The common save-file dialog. Filter is "description|pattern|description|pattern...".
class SaveDialog {
 public:
  std::string DefaultExt;
  std::string Filter;
  std::string FileName;  // in: proposed name; out: the chosen file
  std::string Title;
  // True when the user chose a file.
  bool Execute();
};

// The common printer dialog.
class PrintDialog {
 public:
  // True when the user confirmed; the chosen printer then becomes the current printer.
  bool Execute();
};

// Text output to the current printer: lines in order, a new page when one is full. Every step
// that fails throws IoError; the destructor abandons a job that was not ended.
class TextPrinter {
 public:
  TextPrinter();
  ~TextPrinter();
  TextPrinter(const TextPrinter&) = delete;
  TextPrinter& operator=(const TextPrinter&) = delete;

  void begin(std::string_view title, const Font& font);
  void write_line(std::string_view line);
  void end();

  class Job;

 private:
  std::unique_ptr<Job> job_;
};

}  // namespace ui
