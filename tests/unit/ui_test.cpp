// The toolkit layer's habits that the dialogs rely on, through the headless backend.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/common/headless.h"
#include "ui/controls.h"
#include "ui/services.h"
#include "ui/user.h"
#include "ui/windowless.h"

namespace ui {
namespace {

using headless::Driver;

TEST(UiControls, TicksAndRadioButtonsFireOnlyOnChangeAndExcludeTheirSiblings) {
  headless::Session session;
  Form form("F");
  auto& box = form.Add<CheckBox>(nullptr, "Box");
  auto& group = form.Add<GroupBox>(nullptr, "Group");
  auto& a = form.Add<RadioButton>(&group, "A");
  auto& b = form.Add<RadioButton>(&group, "B");
  auto& other = form.Add<RadioButton>(nullptr, "Other");
  std::vector<std::string> clicks;
  box.OnClick = [&] { clicks.push_back("box"); };
  a.OnClick = [&] { clicks.push_back("a"); };
  b.OnClick = [&] { clicks.push_back("b"); };

  auto& radios = form.Add<RadioGroup>(nullptr, "R");
  radios.SetItems({"x", "y"});
  radios.OnClick = [&] { clicks.push_back("radios"); };

  box.SetChecked(true);
  box.SetChecked(true);  // no change, no click
  other.SetChecked(true);
  a.SetChecked(true);
  b.SetChecked(true);
  user::choose(radios, 1);
  user::choose(radios, 1);
  user::choose(radios, 0);
  auto& label = form.Add<Label>(nullptr, "L");
  label.OnClick = [&] { clicks.push_back("label"); };
  user::Click(label);
  EXPECT_EQ(clicks, (std::vector<std::string>{"box", "a", "b", "radios", "radios", "label"}));
  EXPECT_FALSE(a.Checked());
  EXPECT_TRUE(b.Checked());
  EXPECT_TRUE(other.Checked()) << "a radio button of another parent is not cleared";
}

TEST(UiControls, EditsTellTheUsersTextFromTheProgramsAndCutAtACharacterBoundary) {
  headless::Session session;
  Form form("F");
  auto& edit = form.Add<Edit>(nullptr, "Ed");
  int changes = 0;
  edit.OnChange = [&] { ++changes; };
  user::Type(edit, "40");
  EXPECT_TRUE(edit.Modified());
  edit.SetText("32");
  EXPECT_FALSE(edit.Modified());
  EXPECT_EQ(changes, 2);
  auto& memo = form.Add<Memo>(nullptr, "M");
  memo.OnChange = [&] { ++changes; };
  user::Type(memo, "a\r\nb");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(changes, 3);

  edit.MaxLength = 5;
  edit.SetText("AB板卡号");  // 41 42 B0 E5 BF A8 BA C5: the sixth byte is a trail byte
  EXPECT_EQ(edit.Text(), "AB板");
  EXPECT_EQ(edit.Text().size(), 4u);
}

// The pages are written against the defaults of the VCL controls they were designed with.
TEST(UiControls, NewControlsStartAsTheirVclNamesakesDo) {
  headless::Session session;
  Form form("F");
  const auto& bar = form.Add<ProgressBar>(nullptr, "B");
  EXPECT_EQ((std::vector<int>{bar.Min(), bar.Max(), bar.Position()}), (std::vector<int>{0, 100, 0}));
  const auto& grid = form.Add<StringGrid>(nullptr, "G");
  EXPECT_EQ((std::vector<int>{grid.ColCount(), grid.RowCount(), grid.FixedCols, grid.FixedRows}),
            (std::vector<int>{5, 5, 1, 1}));
  EXPECT_EQ(form.Add<RadioGroup>(nullptr, "R").Columns, 1);
  EXPECT_EQ(form.Add<Edit>(nullptr, "E").MaxLength, 0u) << "no limit";
  EXPECT_EQ(form.Add<Label>(nullptr, "L").GetFont().size, 9) << "points";
}

TEST(UiControls, ListsAndTreesReportNoSelectionAsMinusOne) {
  headless::Session session;
  Form form("F");
  auto& combo = form.Add<ComboBox>(nullptr, "C");
  EXPECT_EQ(combo.ItemIndex(), -1) << "a new list";
  combo.SetItems({"单端", "双端"});
  EXPECT_EQ(combo.ItemIndex(), -1);
  combo.SetItemIndex(1);
  EXPECT_EQ(combo.SelectedText(), "双端");
  combo.SetItemIndex(5);
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.SelectedText(), "");

  auto& tree = form.Add<TreeView>(nullptr, "T");
  EXPECT_EQ(tree.Selected(), -1) << "a new tree";
  EXPECT_EQ(tree.add_node({"1", 1}), 0) << "each node added answers its index";
  EXPECT_EQ(tree.add_node({"2", 2}), 1);
  tree.SetSelected(1);
  EXPECT_EQ(tree.selected_node()->data, 2);
  tree.SetSelected(2);
  EXPECT_EQ(tree.selected_node(), nullptr) << "no node there: nothing selected";
  tree.SetSelected(1);
  tree.Clear();
  EXPECT_EQ(tree.selected_node(), nullptr);
  EXPECT_EQ(tree.Selected(), -1);
}

TEST(UiControls, LeavingASheetFiresItsExitButMovingInsideItDoesNot) {
  headless::Session session;
  Form form("F");
  auto& pages = form.Add<PageControl>(nullptr, "Pages");
  auto& first = form.Add<TabSheet>(&pages, "First");
  auto& second = form.Add<TabSheet>(&pages, "Second");
  pages.add_page(first);
  pages.add_page(second);
  auto& x = form.Add<Edit>(&second, "X");
  auto& y = form.Add<Edit>(&second, "Y");
  auto& outside = form.Add<Button>(nullptr, "Outside");
  std::vector<std::string> events;
  x.OnExit = [&] { events.push_back("x exit"); };
  second.OnExit = [&] { events.push_back("sheet exit"); };
  second.OnShow = [&] { events.push_back("sheet show"); };
  first.OnHide = [&] { events.push_back("first hide"); };
  pages.OnChange = [&] { events.push_back("pages change"); };

  user::show_tab(pages, second);
  EXPECT_TRUE(x.Showing());
  EXPECT_EQ(form.ActiveControl(), &pages) << "a click on a tab focuses the page control";
  form.focus_control(&x);
  form.focus_control(&y);
  user::Click(outside);
  EXPECT_EQ(events,
            (std::vector<std::string>{"first hide", "sheet show", "pages change", "x exit", "sheet exit"}));
  pages.SetActivePage(&first);
  EXPECT_FALSE(x.Showing());
  EXPECT_FALSE(x.usable());
  first.SetTabVisible(false);
  EXPECT_EQ(pages.visible_tabs(), std::vector<TabSheet*>{&second}) << "the tabs drawn";
}

TEST(UiMemo, SplitsAtEveryLineEndAndJoinsWithCrLf) {
  headless::Session session;
  Form form("F");
  auto& memo = form.Add<Memo>(nullptr, "M");
  memo.set_joined_text("a\r\nb\nc\rd\r\n\r\ne");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(memo.joined_text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
  memo.set_joined_text("last\r");
  EXPECT_EQ(memo.Lines(), std::vector<std::string>{"last"}) << "a text may end in a lone CR";
  memo.set_joined_text("\nfirst");
  EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"", "first"})) << "a text may start with a line end";
  memo.set_joined_text("");
  EXPECT_TRUE(memo.Lines().empty());
}

// A window mirrors its control only when told: every change a window would have to show reaches
// the backend once, and a setter that changes nothing tells nothing.
TEST(UiControls, EveryVisibleChangeIsToldToTheBackendOnce) {
  headless::Session session;
  Form form("F");
  auto& label = form.Add<Label>(nullptr, "L");
  auto& box = form.Add<CheckBox>(nullptr, "K");
  auto& combo = form.Add<ComboBox>(nullptr, "C");
  auto& tree = form.Add<TreeView>(nullptr, "T");
  auto& pages = form.Add<PageControl>(nullptr, "P");
  auto& first = form.Add<TabSheet>(&pages, "S1");
  auto& second = form.Add<TabSheet>(&pages, "S2");
  auto& bar = form.Add<ProgressBar>(nullptr, "B");
  auto& memo = form.Add<Memo>(nullptr, "M");
  auto& grid = form.Add<StringGrid>(nullptr, "G");
  tree.add_node({"1", 1});
  const struct {
    const char* change;
    std::function<void()> act;
    std::vector<std::pair<std::string, Aspect>> told;
  } kCases[] = {
      {"caption", [&] { label.SetCaption("x"); }, {{"L", Aspect::Text}}},
      {"disabled", [&] { label.SetEnabled(false); }, {{"L", Aspect::Enabled}}},
      {"hidden", [&] { label.SetVisible(false); }, {{"L", Aspect::Visible}}},
      {"moved", [&] { label.SetBounds(1, 2, 3, 4); }, {{"L", Aspect::Bounds}}},
      {"ticked", [&] { box.SetChecked(true); }, {{"K", Aspect::Checked}}},
      {"ticked again", [&] { box.SetChecked(true); }, {}},
      {"focused", [&] { form.focus_control(&box); }, {{"K", Aspect::Focus}}},
      {"focused again", [&] { form.focus_control(&box); }, {}},
      {"items",
       [&] {
         combo.SetItems({"a", "b"});
       },
       {{"C", Aspect::Items}}},
      {"an item more", [&] { combo.AddItem("c"); }, {{"C", Aspect::Items}}},
      {"chosen", [&] { combo.SetItemIndex(1); }, {{"C", Aspect::Selection}}},
      {"a node",
       [&] {
         tree.add_node({"2", 2});
       },
       {{"T", Aspect::Items}}},
      {"a node selected", [&] { tree.SetSelected(1); }, {{"T", Aspect::Selection}}},
      {"no nodes", [&] { tree.Clear(); }, {{"T", Aspect::Items}}},
      {"a sheet", [&] { pages.add_page(first); }, {{"P", Aspect::Items}}},
      {"a second sheet", [&] { pages.add_page(second); }, {{"P", Aspect::Items}}},
      {"another sheet", [&] { pages.SetActivePage(&second); }, {{"P", Aspect::Selection}}},
      {"the same sheet", [&] { pages.SetActivePage(&second); }, {}},
      {"a tab hidden", [&] { second.SetTabVisible(false); }, {{"S2", Aspect::Visible}}},
      {"a range", [&] { bar.set_range(0, 10); }, {{"B", Aspect::Position}}},
      {"a position", [&] { bar.SetPosition(4); }, {{"B", Aspect::Position}}},
      {"the same position", [&] { bar.SetPosition(4); }, {}},
      {"lines", [&] { memo.SetLines({"a"}); }, {{"M", Aspect::Lines}}},
      {"no lines", [&] { memo.Clear(); }, {{"M", Aspect::Lines}}},
      {"a grid's size", [&] { grid.set_size(2, 2); }, {{"G", Aspect::Cells}}},
      {"a cell", [&] { grid.SetCell(1, 1, "x"); }, {{"G", Aspect::Cells}}},
      {"the same cell", [&] { grid.SetCell(1, 1, "x"); }, {}},
      {"cells outside",
       [&] {
         for (const auto& [col, row] : {std::pair{2, 0}, {0, 2}, {-1, 0}, {0, -1}})
           grid.SetCell(col, row, "y");
       },
       {}},
  };
  for (const auto& c : kCases) {
    session->forget_control_changes();
    c.act();
    EXPECT_EQ(session->control_changes(), c.told) << c.change;
  }
  const size_t form_changes = session->form_changes().size();
  form.SetCaption("x");
  form.SetBounds(1, 2, 3, 4);
  EXPECT_EQ(session->form_changes().size(), form_changes + 2) << "a form's caption and bounds";
  bar.SetPosition(9);
  bar.set_range(0, 5);
  EXPECT_EQ(bar.Position(), 5) << "a narrower range takes the position with it";
  bar.set_range(7, 20);
  EXPECT_EQ(bar.Min(), 7);
  EXPECT_EQ(bar.Position(), 7) << "from below too";
  grid.SetCell(0, 0, "h");
  grid.set_size(3, 3);
  EXPECT_EQ(grid.Cell(0, 0), "h") << "a grid keeps the cells that still fit";
  EXPECT_EQ(grid.Cell(1, 1), "x");
  EXPECT_FALSE(grid.cell_editable(2, 2)) << "a grid takes no typing unless it is editable";
  grid.Editable = true;
  EXPECT_TRUE(grid.cell_editable(2, 2));
  EXPECT_FALSE(grid.cell_editable(3, 2)) << "beyond the columns";
  EXPECT_FALSE(grid.cell_editable(2, 3)) << "beyond the rows";
  EXPECT_FALSE(grid.cell_editable(1, 0)) << "the header row";
  EXPECT_FALSE(grid.cell_editable(0, 1)) << "the fixed column";
  grid.set_size(0, -1);
  EXPECT_EQ((std::pair{grid.ColCount(), grid.RowCount()}), (std::pair{1, 1})) << "a grid keeps one cell";
  EXPECT_EQ(grid.Cell(0, 0), "h");
  for (const auto& [col, row] : {std::pair{1, 0}, {0, 1}, {-1, 0}, {0, -1}})
    EXPECT_EQ(grid.Cell(col, row), "");
}

// The answers of a box are the codes Windows' MessageBox returns, which the Windows backend passes on.
TEST(UiServices, BoxAnswersAreWindowsOwnCodes) {
  EXPECT_EQ((std::vector<int>{kIdOk, kIdCancel, kIdYes, kIdNo}), (std::vector<int>{1, 2, 6, 7}));
  EXPECT_EQ((std::vector<unsigned>{kMbOkCancel, kMbYesNo, kMbIconError, kMbIconQuestion, kMbIconWarning,
                                   kMbIconInformation}),
            (std::vector<unsigned>{0x1, 0x4, 0x10, 0x20, 0x30, 0x40}));
}

TEST(UiControls, AControlsPlaceOnTheFormAddsItsParentsPlaces) {
  headless::Session session;
  Form form("F");
  auto& panel = form.Add<Panel>(nullptr, "Panel");
  auto& group = form.Add<GroupBox>(&panel, "Group");
  auto& button = form.Add<Button>(&group, "B");
  panel.SetBounds(10, 20, 300, 200);
  group.SetBounds(5, 6, 100, 100);
  button.SetBounds(1, 2, 30, 40);
  const Rect r = button.form_bounds();
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.width, r.height}), (std::vector<int>{16, 28, 30, 40}));
}

TEST(UiForms, AHiddenOrClosedFormIsNotVisible) {
  headless::Session session;
  Form form("F");
  form.Show();
  EXPECT_TRUE(form.Visible());
  form.Hide();
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(form.Active());
  form.Show();
  Form dialog("D");
  bool beneath_active = true;
  session->expect([&](headless::Driver&) { beneath_active = form.Active(); });
  dialog.ShowModal();
  EXPECT_FALSE(beneath_active) << "shown, but under a modal form";
  form.Close();  // a modeless form: closing hides it
  EXPECT_FALSE(form.Visible());
}

TEST(UiForms, CentreRoundsTowardZero) {
  headless::Session session;
  session->set_screen({1023, 767});
  Form form("F");
  form.set_size(500, 400);
  form.center_on_screen();
  EXPECT_EQ(form.Bounds().left, 261);
  EXPECT_EQ(form.Bounds().top, 183);
  form.set_size(1100, 800);
  form.center_on_screen();
  EXPECT_EQ(form.Bounds().left, -38);  // (1023 - 1100) / 2 = -38.5
  EXPECT_EQ(form.Bounds().top, -16);
}

TEST(UiForms, ModalFormsRunTheirScriptsInOrderAndCloseByButtonCloseBoxOrDefault) {
  headless::Session session;
  app().SetHandle(reinterpret_cast<void*>(0x1234));
  Form outer("Outer");
  outer.SetCaption("外");
  auto& open_inner = outer.Add<Button>(nullptr, "Open");
  auto& ok = outer.Add<Button>(nullptr, "Ok");
  ok.ModalResult = mrOk;
  int inner_result = -1;
  open_inner.OnClick = [&] {
    Form inner("Inner");
    inner.SetCaption("内");
    inner.OnClose = [](int& result) { result = mrNo; };
    inner_result = inner.ShowModal();
  };
  session->expect([](Driver& d) {
    d.Click("Open");
    d.Click("Ok");
  });
  session->expect([](Driver& d) { d.close_box(); });
  EXPECT_EQ(outer.ShowModal(), mrOk);
  EXPECT_EQ(inner_result, mrNo) << "OnClose has the last word on the result";
  EXPECT_EQ(session->shown_forms(), (std::vector<std::string>{"外", "内"}));
  EXPECT_EQ(session->destroyed_forms(), (std::vector<std::string>{"Inner"})) << "the backend is told";
  EXPECT_EQ(session->modal_owners()[0], reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(outer.ShowModal(), mrCancel) << "a form without a script closes by its close box";
  app().SetHandle(nullptr);
}

TEST(UiForms, WithoutWindowsAModalFormClosesAsByItsCloseBoxAndABoxAnswersItsDefault) {
  set_backend(&windowless_backend());
  Form form("Plain");
  int on_close = -1;
  form.OnClose = [&](int& result) { on_close = result; };
  EXPECT_EQ(form.ShowModal(), mrCancel);
  EXPECT_EQ(on_close, mrCancel);
  EXPECT_FALSE(form.Visible()) << "hidden again once it ends";
  form.Show();
  EXPECT_FALSE(form.Active()) << "no form is ever in front";
  form.Close();
  EXPECT_FALSE(form.Visible()) << "after its modal run Close hides it";
  SaveDialog save;
  PrintDialog print;
  EXPECT_FALSE(save.Execute() || print.Execute()) << "nobody to choose a file or a printer";
  EXPECT_EQ(MessageBox("q?", "c", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(MessageBox("i", "c", 0), kIdOk);
  EXPECT_EQ((std::pair{app().Screen().width, app().Screen().height}), (std::pair{1024, 768}));
  set_backend(nullptr);
  EXPECT_EQ(&current_backend(), &windowless_backend()) << "none set and no default";
  constexpr BackendSource kOther = []() -> Backend& {
    static WindowlessBackend other;
    return other;
  };
  set_default_backend(kOther);
  EXPECT_EQ(&current_backend(), &kOther()) << "the program's default";
  set_default_backend(nullptr);
}

TEST(UiForms, ScriptsMayNotTouchWhatTheUserCannotReach) {
  headless::Session session;
  Form form("F");
  auto& hidden = form.Add<Button>(nullptr, "Hidden");
  hidden.SetVisible(false);
  auto& panel = form.Add<Panel>(nullptr, "Panel");
  form.Add<Button>(&panel, "Inside");
  panel.SetEnabled(false);
  int refused = 0;
  session->expect([&](Driver& d) {
    for (const char* name : {"Hidden", "Inside", "Missing"}) {
      try {
        d.Click(name);
      } catch (const headless::ScriptError&) {
        ++refused;
      }
    }
  });
  form.ShowModal();
  EXPECT_EQ(refused, 3);
}

TEST(UiForms, AHandlersFailureBecomesAnErrorBoxAndTheFormStaysUsable) {
  headless::Session session;
  Form form("F");
  auto& b = form.Add<Button>(nullptr, "B");
  int after = 0;
  b.OnClick = [&] {
    ++after;
    if (after == 1) throw std::runtime_error("'x' is not a valid integer value");
  };
  session->expect([](Driver& d) {
    d.Click("B");
    d.Click("B");
    d.close_box();
  });
  form.ShowModal();
  EXPECT_EQ(after, 2);
  ASSERT_EQ(session->Messages().size(), 1u);
  EXPECT_EQ(session->Messages()[0].text, "'x' is not a valid integer value");
  EXPECT_EQ(session->Messages()[0].flags, kMbOk | kMbIconError);
}

TEST(UiTimers, FireInVirtualTimeInDueOrderAndHonourAStopFromTheirOwnHandler) {
  headless::Session session;
  Form form("F");
  std::vector<std::string> fired;
  Timer& once = form.add_timer("Once", 500, false);
  Timer& tick = form.add_timer("Tick", 200, true);
  once.OnTimer = [&] {
    fired.push_back("once@" + std::to_string(session->Now()));
    once.SetEnabled(false);
  };
  tick.OnTimer = [&] { fired.push_back("tick@" + std::to_string(session->Now())); };
  session->advance(100);
  once.SetEnabled(true);  // due at 600
  session->advance(700);
  EXPECT_EQ(fired, (std::vector<std::string>{"tick@200", "tick@400", "once@600", "tick@600", "tick@800"}));
  tick.SetEnabled(false);
  fired.clear();
  session->advance(10000);
  EXPECT_TRUE(fired.empty());

  tick.fire();  // a tick already queued when the timer was stopped
  EXPECT_TRUE(fired.empty());
}

TEST(UiServices, BoxesDialogsAndPrintJobsAreAnsweredFromTheQueuesAndRecorded) {
  headless::Session session;
  session->answer_message_box(kIdNo);
  EXPECT_EQ(MessageBox("q?", "c", kMbYesNo | kMbIconQuestion), kIdNo);
  EXPECT_EQ(MessageBox("again?", "c", kMbYesNo), kIdYes);

  SaveDialog save;
  save.DefaultExt = "Log";
  EXPECT_FALSE(save.Execute()) << "no answer queued: cancelled";
  session->answer_save_dialog("C:\\x.log");
  EXPECT_TRUE(save.Execute());
  EXPECT_EQ(save.FileName, "C:\\x.log");

  PrintDialog print;
  EXPECT_FALSE(print.Execute());
  session->answer_print_dialog(true);
  EXPECT_TRUE(print.Execute());
  TextPrinter printer;
  printer.begin("log", Font{"宋体", 9, false});
  printer.write_line("一");
  printer.write_line("二");
  printer.end();
  ASSERT_EQ(session->print_jobs().size(), 1u);
  EXPECT_EQ(session->print_jobs()[0].lines, (std::vector<std::string>{"一", "二"}));
  EXPECT_TRUE(session->print_jobs()[0].ended);

  session->fail_printing_at(2);
  TextPrinter failing;
  failing.begin("log", Font{});
  failing.write_line("1");
  EXPECT_THROW(failing.write_line("2"), IoError);
}

}  // namespace
}  // namespace ui
