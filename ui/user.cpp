#include "ui/user.h"

namespace ui::user {

void Click(Control& c) {
  Form& form = c.owner_form();
  form.focus_control(&c);
  switch (c.kind()) {
    case Kind::CheckBox: {
      auto& box = static_cast<CheckBox&>(c);
      box.SetChecked(!box.Checked());
      return;
    }
    case Kind::RadioButton:
      static_cast<RadioButton&>(c).SetChecked(true);
      return;
    case Kind::Button: {
      Form::fire(c.OnClick);
      const int result = static_cast<Button&>(c).ModalResult;
      if (result != mrNone) form.SetModalResult(result);
      return;
    }
    default:
      Form::fire(c.OnClick);
  }
}

void DoubleClick(Control& c) {
  Click(c);
  second_click(c);
}

void second_click(Control& c) {
  c.owner_form().focus_control(&c);
  Form::fire(c.OnDblClick);
}

void Type(Control& c, std::string_view text) {
  c.owner_form().focus_control(&c);
  if (c.kind() == Kind::Edit)
    static_cast<Edit&>(c).user_set_text(text);
  else if (c.kind() == Kind::Memo)
    static_cast<Memo&>(c).user_set_text(text);
}

void edit_cell(StringGrid& grid, int col, int row, std::string_view text) {
  grid.owner_form().focus_control(&grid);
  if (grid.cell_editable(col, row)) grid.SetCell(col, row, text);
}

void choose(ListControl& list, int index) {
  list.owner_form().focus_control(&list);
  const int before = list.ItemIndex();
  list.SetItemIndex(index);
  if (list.kind() == Kind::ComboBox)
    Form::fire(static_cast<ComboBox&>(list).OnChange);
  else if (list.ItemIndex() != before)
    Form::fire(list.OnClick);
}

void select_node(TreeView& tree, int index) {
  tree.owner_form().focus_control(&tree);
  tree.SetSelected(index);
  Form::fire(tree.OnClick);
}

void move_selection(TreeView& tree, int index) {
  tree.owner_form().focus_control(&tree);
  tree.SetSelected(index);
}

void show_tab(PageControl& pages, TabSheet& sheet) {
  pages.owner_form().focus_control(&pages);
  if (pages.ActivePage() == &sheet) return;
  pages.SetActivePage(&sheet);
  Form::fire(pages.OnChange);
}

void leave_focus(Form& form) { form.focus_control(nullptr); }

}  // namespace ui::user
