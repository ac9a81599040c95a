// What a user's action does to the models, the same under every backend: the Windows backend
// calls these from the controls' notifications, the headless test driver calls them directly.
// Each first moves the focus to the control, as a mouse click does.
#pragma once

#include <string_view>

#include "ui/controls.h"

namespace ui::user {

// A button runs OnClick and then closes its form with its ModalResult; a check box toggles; a
// radio button becomes checked; anything else runs OnClick.
void Click(Control& c);
void DoubleClick(Control& c);
// The second click of a double click, after the first went through Click: runs OnDblClick.
void second_click(Control& c);
// Replaces the text of an edit or memo as typing would (Modified set, OnChange).
void Type(Control& c, std::string_view text);
// Replaces the text of a grid's cell as typing into it would; a cell the user cannot edit stays.
void edit_cell(StringGrid& grid, int col, int row, std::string_view text);
// Chooses an item of a combo box (OnChange) or radio group (OnClick).
void choose(ListControl& list, int index);
// Selects a tree node and clicks it.
void select_node(TreeView& tree, int index);
// Moves a tree's selection with the keyboard (the arrow keys): no click.
void move_selection(TreeView& tree, int index);
// Clicks a tab: the page control takes the focus (the sheet left hears OnExit), then the sheet
// becomes active.
void show_tab(PageControl& pages, TabSheet& sheet);
// Moves the focus away from whatever has it (another window became active).
void leave_focus(Form& form);

}  // namespace ui::user
