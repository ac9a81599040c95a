#include "wizard/start_page.h"

#include <memory>

#include "ui/services.h"
#include "wizard/debug_page.h"

namespace vorel::wizard {

namespace {

constexpr char kCaption[] = "向导：选择执行的操作方式";

}  // namespace

TStartFrm::TStartFrm(WizardRun& run)
    : ui::Form("TStartFrm"),
      Label1(Place<ui::Label>(nullptr, "Label1", {}, {16, 12, 440, 18})),
      Label2(Place<ui::Label>(nullptr, "Label2", "请选择下面的操作选项，然后用鼠标单击下一步或完成按钮：",
                              {16, 44, 440, 18})),
      NewOp(Place<ui::RadioButton>(nullptr, "NewOp", "新建设备", {40, 80, 120, 20})),
      ModifyOp(Place<ui::RadioButton>(nullptr, "ModifyOp", "修改设备", {40, 156, 120, 20})),
      BrowseOp(Place<ui::RadioButton>(nullptr, "BrowseOp", "察看设备", {40, 212, 120, 20})),
      DebugBtn(Place<ui::Button>(nullptr, "DebugBtn", "调试设置", {16, 292, 88, 26})),
      VersionBtn(Place<ui::Button>(nullptr, "VersionBtn", "版本信息", {112, 292, 88, 26})),
      NextBtn(Place<ui::Button>(nullptr, "NextBtn", "下一步", {272, 292, 88, 26})),
      CancelBtn(Place<ui::Button>(nullptr, "CancelBtn", "取消", {368, 292, 88, 26})),
      run_(run) {
  set_size(480, 360);
  StayOnTop = true;
  Place<ui::Label>(nullptr, "NewOpText1", "提供简单到复杂的应用创建向导，可以创建一个设备网络，并",
                   {64, 104, 400, 18});
  Place<ui::Label>(nullptr, "NewOpText2", "集中管理。", {64, 124, 400, 18});
  Place<ui::Label>(nullptr, "ModifyOpText", "修改原有的设备配置", {64, 180, 400, 18});
  Place<ui::Label>(nullptr, "BrowseOpText", "浏览已设定好的设备配置", {64, 236, 400, 18});

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
  Hide();  // the next page stays the end, as FormCreate set it: only Next changes it
  struct ShowAgain {
    TStartFrm& page;
    ~ShowAgain() { page.Show(); }
  } show_again{*this};
  debug->ShowModal();
}

}  // namespace vorel::wizard
