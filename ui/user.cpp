#include "ui/user.h"

namespace ui::user {

void Click(Control& c) {
  Form& form = c.OwnerForm();
  form.FocusControl(&c);
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
      Form::Fire(c.OnClick);
      const int result = static_cast<Button&>(c).ModalResult;
      if (result != mrNone) form.SetModalResult(result);
      return;
    }
    default:
      Form::Fire(c.OnClick);
  }
}

void DoubleClick(Control& c) {
  Click(c);
  Form::Fire(c.OnDblClick);
}

void Type(Control& c, std::string_view text) {
  c.OwnerForm().FocusControl(&c);
  if (c.kind() == Kind::Edit)
    static_cast<Edit&>(c).UserSetText(text);
  else if (c.kind() == Kind::Memo)
    static_cast<Memo&>(c).UserSetText(text);
}

void Choose(ListControl& list, int index) {
  list.OwnerForm().FocusControl(&list);
  const int before = list.ItemIndex();
  list.SetItemIndex(index);
  if (list.kind() == Kind::ComboBox)
    Form::Fire(static_cast<ComboBox&>(list).OnChange);
  else if (list.ItemIndex() != before)
    Form::Fire(list.OnClick);
}

void SelectNode(TreeView& tree, int index) {
  tree.OwnerForm().FocusControl(&tree);
  tree.SetSelected(index);
  Form::Fire(tree.OnClick);
}

void ShowTab(PageControl& pages, TabSheet& sheet) {
  pages.OwnerForm().FocusControl(&pages);
  if (pages.ActivePage() == &sheet) return;
  pages.SetActivePage(&sheet);
  Form::Fire(pages.OnChange);
}

void LeaveFocus(Form& form) { form.FocusControl(nullptr); }

}  // namespace ui::user
