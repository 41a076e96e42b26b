// The tables that make up g_tavrinResources, one file each so that the texts
// (code page 936) and the icon images can be kept apart. Sized here so that the
// module is initialised at compile time.
#pragma once

#include "framework/resources.h"

inline constexpr int kTavrinDialogCount = 3;
inline constexpr int kTavrinIconCount = 2;

extern const AfxDlgTemplate g_tavrinDialogs[kTavrinDialogCount];
extern const AfxIconResource g_tavrinIcons[kTavrinIconCount];
