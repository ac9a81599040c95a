// What a test running beside the driver needs to work its real windows from another thread: find a
// form by caption and its controls by model name, click, type, pick tree nodes, answer message
// boxes, read texts back, and photograph a window. Texts are code page 936. Clicks are posted, so
// that a handler that opens a box never holds up the test; waits poll with a deadline.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ui::win32::probe {

using Window = void*;

// Polls `ready` every 20 ms until it holds or timeout_ms have passed.
bool wait_until(const std::function<bool()>& ready, uint32_t timeout_ms);

// A visible form of this process with exactly this caption, or nullptr after the timeout.
Window wait_for_form(std::string_view caption, uint32_t timeout_ms);
// A visible message box of this process, or nullptr after the timeout.
Window wait_for_message_box(uint32_t timeout_ms);
bool message_box_open();
std::string message_box_text(Window box);
// Presses the box's button with this id (1 = OK).
void answer_message_box(Window box, int button_id);

// The control window of a form that shows the model with this name, nullptr when none.
Window Control(Window form, std::string_view name);
std::string Text(Window w);
size_t TextLength(Window w);
bool Visible(Window w);
bool Enabled(Window w);
bool Checked(Window w);

void Click(Window button);
// Clicks into a control and waits until it has the keyboard focus.
bool Focus(Window w);
// Clicks into an edit and replaces its text as typing would (the edit reports the change).
void Type(Window edit, std::string_view text);
// Clicks into a multi-line edit and types at its end.
void Append(Window edit, std::string_view text);
std::vector<std::string> tree_items(Window tree);
// Clicks the tree's n-th top-level node with the mouse.
void click_tree_item(Window tree, int index);
// A grid's text in a column of its header, and in a cell of its rows below the header (row 0 is
// the first row below it). Empty outside the grid.
std::string grid_header(Window grid, int col);
std::string grid_cell(Window grid, int col, int row);
// Double-clicks a grid's cell with the mouse (row as above).
void double_click_grid_cell(Window grid, int col, int row);
// Presses a key (a virtual-key code) in the window.
void press_key(Window w, unsigned key);

// Saves what the screen shows of the window's client area as a 24-bit BMP. False when it could not.
bool save_bitmap(Window w, const std::string& path);

}  // namespace ui::win32::probe
