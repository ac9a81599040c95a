// The kinds of control the Windows backend shows, one row each in kKinds: the window that shows
// the model, how the model's changes reach it, and what its notifications hand to the models
// through ui::user.
#include <utility>

#include "ui/user.h"
#include "ui/win32/windows_backend.h"

namespace ui::win32 {

// ---------------------------------------------------------------- the kinds of control

const WindowsBackend::KindRow WindowsBackend::kKinds[] = {
    {Kind::Label, L"STATIC", [](const Control&, DWORD&) -> DWORD { return SS_LEFT | SS_NOPREFIX; }, false, 0,
     nullptr, &WindowsBackend::apply_caption, nullptr, nullptr},
    {Kind::Panel, L"STATIC",
     [](const Control& c, DWORD& ex) -> DWORD {
       if (static_cast<const Panel&>(c).Bevel) ex |= WS_EX_STATICEDGE;
       return SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX;
     },
     true, 0, nullptr, &WindowsBackend::apply_caption, nullptr, nullptr},
    {Kind::Button, L"BUTTON",
     [](const Control& c, DWORD&) -> DWORD {
       return WS_TABSTOP | BS_NOTIFY | (static_cast<const Button&>(c).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
     },
     false, 0, nullptr, &WindowsBackend::apply_caption, &WindowsBackend::command_button, nullptr},
    {Kind::CheckBox, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | BS_NOTIFY | BS_CHECKBOX; },
     false, 0, nullptr, &WindowsBackend::apply_check, &WindowsBackend::command_button, nullptr},
    {Kind::RadioButton, L"BUTTON",
     [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | BS_NOTIFY | BS_RADIOBUTTON; }, false, 0, nullptr,
     &WindowsBackend::apply_check, &WindowsBackend::command_button, nullptr},
    {Kind::GroupBox, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return BS_GROUPBOX; }, true, 0, nullptr,
     &WindowsBackend::apply_caption, nullptr, nullptr},
    // Its items are windows of their own (fill_radio_group), whose clicks on_command takes.
    {Kind::RadioGroup, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return BS_GROUPBOX; }, true, 0, nullptr,
     &WindowsBackend::apply_radio_group, nullptr, nullptr},
    {Kind::Edit, L"EDIT",
     [](const Control& c, DWORD& ex) -> DWORD {
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | ES_AUTOHSCROLL | (static_cast<const Edit&>(c).ReadOnly ? ES_READONLY : 0);
     },
     false, 0, &WindowsBackend::limit_edit, &WindowsBackend::apply_caption, &WindowsBackend::command_edit, nullptr},
    {Kind::Memo, L"EDIT",
     [](const Control& c, DWORD& ex) -> DWORD {
       const auto& m = static_cast<const Memo&>(c);
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL |
              (m.WordWrap ? 0 : ES_AUTOHSCROLL | WS_HSCROLL) | (m.VerticalScrollBar ? WS_VSCROLL : 0) |
              (m.ReadOnly ? ES_READONLY : 0);
     },
     false, 0, &WindowsBackend::limit_memo, &WindowsBackend::apply_memo, &WindowsBackend::command_memo, nullptr},
    {Kind::ComboBox, L"COMBOBOX",
     [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST; }, false, 200,
     nullptr, &WindowsBackend::apply_combo, &WindowsBackend::command_combo, nullptr},
    {Kind::TreeView, WC_TREEVIEWW,
     [](const Control& c, DWORD& ex) -> DWORD {
       const auto& t = static_cast<const TreeView&>(c);
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | (t.HideSelection ? 0 : TVS_SHOWSELALWAYS) | (t.RowSelect ? TVS_FULLROWSELECT : 0) |
              (t.ReadOnly ? 0 : TVS_EDITLABELS);
     },
     false, 0, nullptr, &WindowsBackend::apply_tree, nullptr, &WindowsBackend::notify_tree},
    {Kind::PageControl, WC_TABCONTROLW, [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP; }, true, 0,
     nullptr, &WindowsBackend::apply_pages, nullptr, &WindowsBackend::notify_pages},
    // A sheet is the area of its page control; its controls stand on the form.
    {Kind::TabSheet, nullptr, nullptr, false, 0, nullptr, &WindowsBackend::apply_sheet, nullptr, nullptr},
    {Kind::ProgressBar, PROGRESS_CLASSW, [](const Control&, DWORD&) -> DWORD { return 0; }, false, 0, nullptr,
     &WindowsBackend::apply_bar, nullptr, nullptr},
    {Kind::StringGrid, WC_LISTVIEWW,
     [](const Control&, DWORD& ex) -> DWORD {
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
     },
     false, 0, &WindowsBackend::grid_lines, &WindowsBackend::apply_grid, nullptr, &WindowsBackend::notify_grid},
};

const WindowsBackend::KindRow& WindowsBackend::row_of(Kind kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return row;
  return kKinds[0];  // every kind has its row; a label is the harmless answer
}

int WindowsBackend::window_height(const Control& c, const Rect& r) {
  return r.height + row_of(c.kind()).drop_down;
}

void WindowsBackend::create_control_window(Control& c) {
  const KindRow& row = row_of(c.kind());
  if (!row.window_class) return;  // a sheet is the area of its page control; its controls stand on the form
  DWORD ex = 0;
  const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | row.styles(c, ex);
  Form& form = c.owner_form();
  const Rect r = c.form_bounds();
  const auto id = static_cast<UINT_PTR>(kFirstControlId + controls_.size());
  HWND w = CreateWindowExW(ex, row.window_class, wide(c.Caption()).c_str(), style, r.left, r.top, r.width,
                           window_height(c, r), Hwnd(form.peer), reinterpret_cast<HMENU>(id), this_module(),
                           nullptr);
  if (!w) return;
  c.peer = w;
  controls_[w] = &c;
  SetPropA(w, kNameProperty, reinterpret_cast<HANDLE>(const_cast<char*>(c.Name().c_str())));
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(c.GetFont(), 96)), FALSE);
  if (row.created) (this->*row.created)(c, w);
}

void WindowsBackend::limit_edit(Control& c, HWND w) {
  if (const int limit = static_cast<Edit&>(c).MaxLength) SendMessageW(w, EM_SETLIMITTEXT, limit, 0);
}

void WindowsBackend::limit_memo(Control&, HWND w) {
  SendMessageW(w, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);  // a day's log is megabytes
}

void WindowsBackend::grid_lines(Control&, HWND w) {
  ListView_SetExtendedListViewStyle(w, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

void WindowsBackend::apply_caption(Control& c, Aspect a, HWND w) {
  if (a == Aspect::Text && window_text(w) != c.Caption()) SetWindowTextW(w, wide(c.Caption()).c_str());
}

void WindowsBackend::apply_check(Control& c, Aspect a, HWND w) {
  apply_caption(c, a, w);
  if (a == Aspect::Checked)
    SendMessageW(w, BM_SETCHECK, static_cast<CheckableButton&>(c).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
}

void WindowsBackend::apply_memo(Control& c, Aspect a, HWND w) {
  if (a != Aspect::Lines) return;
  SetWindowTextW(w, wide(static_cast<Memo&>(c).joined_text()).c_str());
  memo_dirty_[static_cast<Memo*>(&c)] = false;
}

void WindowsBackend::apply_combo(Control& c, Aspect a, HWND w) {
  auto& combo = static_cast<ComboBox&>(c);
  if (a == Aspect::Items) {
    SendMessageW(w, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : combo.Items())
      SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
  }
  if (a == Aspect::Items || a == Aspect::Selection) SendMessageW(w, CB_SETCURSEL, combo.ItemIndex(), 0);
}

void WindowsBackend::apply_radio_group(Control& c, Aspect a, HWND w) {
  auto& group = static_cast<RadioGroup&>(c);
  if (a == Aspect::Text) SetWindowTextW(w, wide(c.Caption()).c_str());
  if (a == Aspect::Items) fill_radio_group(group);
  if (a == Aspect::Items || a == Aspect::Selection) {
    const auto& items = radio_windows_[&group];
    for (size_t i = 0; i < items.size(); ++i)
      SendMessageW(items[i], BM_SETCHECK,
                   static_cast<int>(i) == group.ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void WindowsBackend::apply_tree(Control& c, Aspect a, HWND w) {
  auto& tree = static_cast<TreeView&>(c);
  if (a == Aspect::Items) {
    TreeView_DeleteAllItems(w);
    for (size_t i = 0; i < tree.Nodes().size(); ++i) {
      std::wstring text = wide(tree.Nodes()[i].text);
      TVINSERTSTRUCTW ins{};
      ins.hParent = TVI_ROOT;
      ins.hInsertAfter = TVI_LAST;
      ins.item.mask = TVIF_TEXT | TVIF_PARAM;
      ins.item.pszText = text.data();
      ins.item.lParam = static_cast<LPARAM>(i);
      SendMessageW(w, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
    }
  }
  if (a == Aspect::Items || a == Aspect::Selection) {
    HTREEITEM item = TreeView_GetRoot(w);
    for (int i = 0; item && i < tree.Selected(); ++i) item = TreeView_GetNextSibling(w, item);
    TreeView_SelectItem(w, tree.Selected() >= 0 ? item : nullptr);
  }
}

void WindowsBackend::apply_pages(Control& c, Aspect a, HWND) {
  fill_tabs(static_cast<PageControl&>(c));
  if (a == Aspect::Selection)
    for (const auto& other : c.owner_form().Controls())
      if (other->lies_within(c)) apply_visibility(*other);
}

void WindowsBackend::apply_bar(Control& c, Aspect, HWND w) {
  auto& bar = static_cast<ProgressBar&>(c);
  SendMessageW(w, PBM_SETRANGE32, bar.Min(), bar.Max());
  SendMessageW(w, PBM_SETPOS, bar.Position(), 0);
}

void WindowsBackend::apply_grid(Control& c, Aspect a, HWND) {
  if (a == Aspect::Cells && grids_pending_.insert(static_cast<StringGrid*>(&c)).second)
    PostMessageW(Hwnd(c.owner_form().peer), kRefreshGrids, 0, 0);
}

void WindowsBackend::apply_sheet(Control& c, Aspect a, HWND) {
  if (a == Aspect::Text && c.Parent()) fill_tabs(static_cast<PageControl&>(*c.Parent()));
}

void WindowsBackend::fill_tabs(PageControl& pages) {
  HWND w = Hwnd(pages.peer);
  if (!w) return;
  quietly([&] {
    TabCtrl_DeleteAllItems(w);
    const std::vector<TabSheet*> tabs = pages.visible_tabs();
    int selected = -1;
    for (size_t i = 0; i < tabs.size(); ++i) {
      std::wstring text = wide(tabs[i]->Caption());
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = text.data();
      SendMessageW(w, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
      if (tabs[i] == pages.ActivePage()) selected = static_cast<int>(i);
    }
    TabCtrl_SetCurSel(w, selected);
  });
}

void WindowsBackend::fill_radio_group(RadioGroup& group) {
  auto& items = radio_windows_[&group];
  for (HWND item : items) {
    radio_items_.erase(item);
    DestroyWindow(item);
  }
  items.clear();
  HWND form = Hwnd(group.owner_form().peer);
  if (!form) return;
  const Rect r = group.form_bounds();
  const int columns = std::max(group.Columns, 1);
  const int rows = (group.Count() + columns - 1) / columns;
  const int width = (r.width - 16) / columns;
  const int height = rows ? std::min(24, (r.height - 20) / rows) : 24;
  for (int i = 0; i < group.Count(); ++i) {
    const int col = i / std::max(rows, 1), row = i % std::max(rows, 1);
    HWND w = CreateWindowExW(0, L"BUTTON", wide(group.Items()[i]).c_str(),
                             WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_RADIOBUTTON | BS_NOTIFY,
                             r.left + 8 + col * width, r.top + 18 + row * height, width - 4, height, form,
                             nullptr, this_module(), nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(group.GetFont(), 96)), FALSE);
    items.push_back(w);
    radio_items_[w] = {&group, i};
  }
}

void WindowsBackend::fill_grid(StringGrid& grid) {
  HWND w = Hwnd(grid.peer);
  if (!w) return;
  const int rows = std::max(grid.RowCount() - grid.FixedRows, 0);
  if (Header_GetItemCount(ListView_GetHeader(w)) == grid.ColCount() && ListView_GetItemCount(w) == rows) {
    // Same shape: only the texts change, without the flicker of a rebuild.
    for (int col = 0; col < grid.ColCount(); ++col) {
      std::wstring head = grid.FixedRows > 0 ? wide(grid.Cell(col, 0)) : std::wstring();
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT;
      column.pszText = head.data();
      SendMessageW(w, LVM_SETCOLUMNW, col, reinterpret_cast<LPARAM>(&column));
      for (int row = 0; row < rows; ++row) {
        std::wstring text = wide(grid.Cell(col, row + grid.FixedRows));
        LVITEMW item{};
        item.iSubItem = col;
        item.pszText = text.data();
        SendMessageW(w, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
      }
    }
    return;
  }
  while (ListView_DeleteColumn(w, 0)) {
  }
  ListView_DeleteAllItems(w);
  for (int col = 0; col < grid.ColCount(); ++col) {
    std::wstring head = grid.FixedRows > 0 ? wide(grid.Cell(col, 0)) : std::wstring();
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = col < static_cast<int>(grid.ColWidths.size()) ? grid.ColWidths[col] : 64;
    column.pszText = head.data();
    SendMessageW(w, LVM_INSERTCOLUMNW, col, reinterpret_cast<LPARAM>(&column));
  }
  for (int row = grid.FixedRows; row < grid.RowCount(); ++row) {
    for (int col = 0; col < grid.ColCount(); ++col) {
      std::wstring text = wide(grid.Cell(col, row));
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = row - grid.FixedRows;
      item.iSubItem = col;
      item.pszText = text.data();
      SendMessageW(w, col == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, col == 0 ? 0 : item.iItem,
                   reinterpret_cast<LPARAM>(&item));
    }
  }
}

void WindowsBackend::command_button(Form& form, Control& c, HWND, int code) {
  if (code == BN_SETFOCUS) form.focus_control(&c);
  if (code == BN_CLICKED) user::Click(c);
  if (code == BN_DOUBLECLICKED) user::second_click(c);
}

void WindowsBackend::command_edit(Form& form, Control& c, HWND w, int code) {
  if (code == EN_SETFOCUS) form.focus_control(&c);
  if (code == EN_CHANGE && !muted_) static_cast<Edit&>(c).user_set_text(window_text(w));
}

// A memo's text is taken when the focus leaves it, not at every keystroke: a day's log is long.
void WindowsBackend::command_memo(Form& form, Control& c, HWND, int code) {
  if (code == EN_SETFOCUS) form.focus_control(&c);
  if (code == EN_KILLFOCUS) pull_memo(static_cast<Memo&>(c));
  if (code == EN_CHANGE && !muted_) memo_dirty_[static_cast<Memo*>(&c)] = true;
}

void WindowsBackend::command_combo(Form& form, Control& c, HWND w, int code) {
  if (code == CBN_SETFOCUS) form.focus_control(&c);
  if (code == CBN_SELCHANGE && !muted_)
    user::choose(static_cast<ComboBox&>(c), static_cast<int>(SendMessageW(w, CB_GETCURSEL, 0, 0)));
}

void WindowsBackend::notify_tree(Form& form, Control& c, NMHDR* header) {
  auto& tree = static_cast<TreeView&>(c);
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == TVN_SELCHANGEDW && !muted_) {
    const auto* change = reinterpret_cast<NMTREEVIEWW*>(header);
    user::move_selection(tree, change->itemNew.hItem ? static_cast<int>(change->itemNew.lParam) : -1);
  }
  if (header->code != NM_CLICK) return;
  // The click may come before the selection moves: the node under the mouse is the one clicked.
  TVHITTESTINFO hit{};
  const DWORD pos = GetMessagePos();
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(header->hwndFrom, &hit.pt);
  if (HTREEITEM item = TreeView_HitTest(header->hwndFrom, &hit); item && (hit.flags & TVHT_ONITEM)) {
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    SendMessageW(header->hwndFrom, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    quietly([&] { TreeView_SelectItem(header->hwndFrom, item); });
    user::select_node(tree, static_cast<int>(data.lParam));
  } else {
    Form::fire(tree.OnClick);
  }
}

void WindowsBackend::notify_pages(Form& form, Control& c, NMHDR* header) {
  auto& pages = static_cast<PageControl&>(c);
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == TCN_SELCHANGE && !muted_) {
    const int index = TabCtrl_GetCurSel(header->hwndFrom);
    const std::vector<TabSheet*> tabs = pages.visible_tabs();
    if (index >= 0 && index < static_cast<int>(tabs.size())) user::show_tab(pages, *tabs[index]);
  }
}

void WindowsBackend::notify_grid(Form& form, Control& c, NMHDR* header) {
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == NM_DBLCLK) begin_cell_edit(static_cast<StringGrid&>(c), header->hwndFrom);
}

// A double click on a cell the user may edit opens an edit over it, holding the cell's text;
// Enter or leaving it stores the text through ui/user.h, Escape drops it.
void WindowsBackend::begin_cell_edit(StringGrid& grid, HWND list) {
  LVHITTESTINFO hit{};
  const DWORD pos = GetMessagePos();
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(list, &hit.pt);
  if (ListView_SubItemHitTest(list, &hit) < 0 || hit.iItem < 0) return;
  const int col = hit.iSubItem;
  const int row = hit.iItem + grid.FixedRows;
  if (!grid.cell_editable(col, row)) return;
  end_cell_edit(true);
  RECT cell{};
  // The first column's whole-item rectangle is the row's; its label is the cell.
  ListView_GetSubItemRect(list, hit.iItem, col, col == 0 ? LVIR_LABEL : LVIR_BOUNDS, &cell);
  HWND form = Hwnd(grid.owner_form().peer);
  MapWindowPoints(list, form, reinterpret_cast<POINT*>(&cell), 2);
  HWND edit = CreateWindowExW(
      0, L"EDIT", wide(grid.Cell(col, row)).c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
      cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, form,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kCellEditId)), this_module(), nullptr);
  if (!edit) return;
  SetPropA(edit, kNameProperty, reinterpret_cast<HANDLE>(const_cast<char*>(kCellEditName)));
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(grid.GetFont(), 96)), FALSE);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SetWindowPos(edit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  cell_edit_ = {edit, &grid, col, row};
  SetFocus(edit);
}

void WindowsBackend::end_cell_edit(bool keep) {
  // Taken first: destroying the window takes its focus, which comes back here.
  const CellEdit e = std::exchange(cell_edit_, {});
  if (!e.window) return;
  const std::string text = window_text(e.window);
  DestroyWindow(e.window);
  if (keep) user::edit_cell(*e.grid, e.col, e.row, text);
}

}  // namespace ui::win32
