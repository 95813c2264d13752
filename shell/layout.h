// Where the two buttons and their caption lines go in the main window's client area.
// Plain arithmetic on font metrics, so it builds and is tested on any platform.
#ifndef FERRYLINE_LAYOUT_H
#define FERRYLINE_LAYOUT_H

struct LayoutMetrics {
    int buttonWidth;
    int buttonHeight;
    int button1Left;
    int button1Top;
    int button2Left;
    int button2Top;
};

// Button height is 7/4 of the font's line height (tmHeight + tmExternalLeading); the free height of
// the client area is shared equally above, between and below the buttons, and may be negative.
LayoutMetrics ComputeLayout(int textHeight, int externalLeading, int clientHeight);

// The caption lines start 10 pixels right of the buttons.
int CaptionLeft(const LayoutMetrics& layout);

// The top of the caption line that belongs to the button starting at `buttonTop`, centred on it.
int CaptionTop(const LayoutMetrics& layout, int buttonTop, int textHeight, int externalLeading);

#endif
