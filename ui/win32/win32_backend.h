// The backend with real windows: one top-level window per form, a common control per model, a
// code page 936 capable font on each, real timers, a modal loop that disables the owner window,
// and the system's message boxes, save dialog and printer dialog with GDI text printing.
//
// Window facts tests rely on: a form's window class is "VorelPCIForm"; every control window is a
// direct child of its form and carries the model's name as the window property "VorelName".
#pragma once

#include "ui/backend.h"

namespace ui::win32 {

// The process's Windows backend (created on first use, never destroyed).
ui::Backend& backend();

inline constexpr char kFormClass[] = "VorelPCIForm";
inline constexpr char kNameProperty[] = "VorelName";

}  // namespace ui::win32
