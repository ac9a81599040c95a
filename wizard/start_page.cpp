#include "wizard/start_page.h"

#include <memory>

#include "ui/services.h"
#include "wizard/debug_page.h"

namespace vorel::wizard {

namespace {

constexpr char kCaption[] = "向导：选择执行的操作方式";

ui::Label& Text(ui::Form& f, const char* name, std::string_view caption, int left, int top, int width) {
  auto& l = f.Add<ui::Label>(nullptr, name, caption);
  l.SetBounds(left, top, width, 18);
  return l;
}

ui::RadioButton& Option(ui::Form& f, const char* name, std::string_view caption, int top) {
  auto& r = f.Add<ui::RadioButton>(nullptr, name, caption);
  r.SetBounds(40, top, 120, 20);
  return r;
}

ui::Button& push(ui::Form& f, const char* name, std::string_view caption, int left) {
  auto& b = f.Add<ui::Button>(nullptr, name, caption);
  b.SetBounds(left, 292, 88, 26);
  return b;
}

}  // namespace

TStartFrm::TStartFrm(WizardRun& run)
    : ui::Form("TStartFrm"),
      Label1(Text(*this, "Label1", {}, 16, 12, 440)),
      Label2(Text(*this, "Label2", "请选择下面的操作选项，然后用鼠标单击下一步或完成按钮：", 16, 44, 440)),
      NewOp(Option(*this, "NewOp", "新建设备", 80)),
      ModifyOp(Option(*this, "ModifyOp", "修改设备", 156)),
      BrowseOp(Option(*this, "BrowseOp", "察看设备", 212)),
      DebugBtn(push(*this, "DebugBtn", "调试设置", 16)),
      VersionBtn(push(*this, "VersionBtn", "版本信息", 112)),
      NextBtn(push(*this, "NextBtn", "下一步", 272)),
      CancelBtn(push(*this, "CancelBtn", "取消", 368)),
      run_(run) {
  set_size(480, 360);
  StayOnTop = true;
  Text(*this, "NewOpText1", "提供简单到复杂的应用创建向导，可以创建一个设备网络，并", 64, 104, 400);
  Text(*this, "NewOpText2", "集中管理。", 64, 124, 400);
  Text(*this, "ModifyOpText", "修改原有的设备配置", 64, 180, 400);
  Text(*this, "BrowseOpText", "浏览已设定好的设备配置", 64, 236, 400);

  NextBtn.Default = true;
  NextBtn.OnClick = [this] { NextBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  VersionBtn.OnClick = [this] { VersionBtnClick(); };
  DebugBtn.OnClick = [this] { DebugBtnClick(); };
  for (ui::RadioButton* option : {&NewOp, &ModifyOp, &BrowseOp})
    option->OnDblClick = [this] { NextBtnClick(); };
  NewOp.SetChecked(true);
  FormCreate();
  SetActiveControl(&NextBtn);
}

void TStartFrm::FormCreate() {
  center_on_screen();
  run_.next_page = kPageEnd;
  SetCaption(run_.texts().DeviceName + kCaption);
  Label1.SetCaption(run_.welcome());
}

void TStartFrm::NextBtnClick() {
  run_.push(kPageStart);
  if (NewOp.Checked()) {
    run_.operation_mode = kOpNew;
    run_.modified = true;
  } else if (ModifyOp.Checked()) {
    run_.operation_mode = kOpModify;
    run_.modified = true;
  } else if (BrowseOp.Checked()) {
    run_.operation_mode = kOpView;
  }
  run_.next_page = kPageBoard;
  SetModalResult(ui::mrOk);
}

void TStartFrm::CancelBtnClick() {
  run_.next_page = kPageEnd;
  SetModalResult(ui::mrCancel);
}

void TStartFrm::VersionBtnClick() {
  const WizardTexts& t = run_.texts();
  Hide();
  ui::MessageBox(t.InternalName + "版本" + t.FileVersion + "\r\n\r\n" + t.FileDescription, "版本信息",
                 ui::kMbOk | ui::kMbIconInformation);
  Show();
}

void TStartFrm::DebugBtnClick() {
  auto debug = std::make_unique<TDebugFrm>(run_);
  run_.next_page = kPageEnd;
  Hide();
  struct ShowAgain {
    TStartFrm& page;
    ~ShowAgain() { page.Show(); }
  } show_again{*this};
  debug->ShowModal();
}

}  // namespace vorel::wizard
