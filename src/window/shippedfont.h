#pragma once

// Makes the application's font the one the window is laid out for: Consolas at
// 11 points, Inconsolata where Consolas is not installed.
void useShippedFont();
