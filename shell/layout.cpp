#include "shell/layout.h"

#include <limits.h>

namespace {

const int kButtonWidth = 100;
const int kButtonLeft = 10;
const int kCaptionSpacing = 10;

// Metrics come from the font driver; wide intermediates keep absurd values from overflowing.
int ClampToInt(long long value)
{
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

long long LineHeight(int textHeight, int externalLeading)
{
    return static_cast<long long>(textHeight) + externalLeading;
}

}  // namespace

LayoutMetrics ComputeLayout(int textHeight, int externalLeading, int clientHeight)
{
    LayoutMetrics layout;
    const long long buttonHeight = LineHeight(textHeight, externalLeading) * 7 / 4;
    // Integer division truncates toward zero, also for a client area lower than both buttons.
    const long long gap = (clientHeight - 2 * buttonHeight) / 3;
    layout.buttonWidth = kButtonWidth;
    layout.buttonHeight = ClampToInt(buttonHeight);
    layout.button1Left = kButtonLeft;
    layout.button1Top = ClampToInt(gap);
    layout.button2Left = kButtonLeft;
    layout.button2Top = ClampToInt(buttonHeight + 2 * gap);
    return layout;
}

int CaptionLeft(const LayoutMetrics& layout)
{
    return ClampToInt(static_cast<long long>(layout.button1Left) + layout.buttonWidth + kCaptionSpacing);
}

int CaptionTop(const LayoutMetrics& layout, int buttonTop, int textHeight, int externalLeading)
{
    const long long offset = (layout.buttonHeight - LineHeight(textHeight, externalLeading)) / 2;
    return ClampToInt(buttonTop + offset);
}
