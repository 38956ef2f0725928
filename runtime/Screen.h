#pragma once

// The primary screen's measures, for the windows: its width in twips and
// its twips per pixel (1440 / the screen's logical dots per inch: 15 at 96
// DPI). Without a screen the width is 0 and the twips per pixel are those of
// 96 DPI.
namespace Runtime {

int ScreenWidthTwips();
float TwipsPerPixelX();
float TwipsPerPixelY();

} // namespace Runtime
