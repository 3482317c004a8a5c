#pragma once
// Window geometry is stored in twips, 15 to a logical pixel.

#include <QRect>

namespace windows {

constexpr int kTwipsPerPixel = 15;

// Rounds towards minus infinity, so a picture 1080 twips left of the window
// and one 1070 twips left of it do not land on the same pixel column.
constexpr int px(int twips)
{
    return twips >= 0 ? twips / kTwipsPerPixel : -((-twips + kTwipsPerPixel - 1) / kTwipsPerPixel);
}

inline QRect pxRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

}  // namespace windows
