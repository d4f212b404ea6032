#pragma once

// The Open/Close button shows the link state by its colour only; its text stays.
namespace LinkStyle {
inline constexpr char OpenButton[] = "QPushButton{color:rgb(0,0,0); background:rgb(100,240,20)}";
inline constexpr char ClosedButton[] = "QPushButton{color:rgb(0,0,0); background:rgb(225,225,225)}";
} // namespace LinkStyle
