#pragma once
// The main window's sizes in twips: collapsed to the dialer alone, or expanded with the right-hand
// panels (the key-pad toggle and the chat panel switch between them).

namespace corvid {

constexpr int kExpandedWidthTwips = 7725;
constexpr int kCollapsedWidthTwips = 3840;
constexpr int kWindowHeightTwips = 5625;

} // namespace corvid
