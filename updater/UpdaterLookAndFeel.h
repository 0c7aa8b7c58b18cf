#pragma once
// The application's look-and-feel: the base's defaults with a flat progress
// bar (no border, no rounding, no animation) in light blue on light grey.

#include <juce_gui_basics/juce_gui_basics.h>

namespace Quendal {
namespace Updater {

class UpdaterLookAndFeel : public juce::LookAndFeel_V3 {
public:
    UpdaterLookAndFeel();
    ~UpdaterLookAndFeel() override;

    // The whole area in the background colour, the left part (progress
    // limited to 0..1; not a number counts as 0) in the foreground colour,
    // and the text, when there is one, centred at 0.6 of the height.
    void drawProgressBar(juce::Graphics& g, juce::ProgressBar& bar, int width, int height, double progress,
                         const juce::String& text) override;
};

} // namespace Updater
} // namespace Quendal
