#include "updater/UpdaterLookAndFeel.h"

namespace Quendal {
namespace Updater {

UpdaterLookAndFeel::UpdaterLookAndFeel()
{
    setColour(juce::ProgressBar::foregroundColourId, juce::Colour(0xffadd8e6));
}

UpdaterLookAndFeel::~UpdaterLookAndFeel() = default;

void UpdaterLookAndFeel::drawProgressBar(juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                                         double progress, const juce::String& text)
{
    const juce::Colour background = bar.findColour(juce::ProgressBar::backgroundColourId);
    const juce::Colour foreground = bar.findColour(juce::ProgressBar::foregroundColourId);

    g.fillAll(background);

    double fraction = progress > 1.0 ? 1.0 : (progress > 0.0 ? progress : 0.0);
    g.setColour(foreground);
    g.fillRect(0, 0, static_cast<int>(width * fraction), height);

    if (text.isNotEmpty()) {
        g.setColour(juce::Colour::contrasting(background, foreground));
        g.setFont(static_cast<float>(height * 0.6));
        g.drawText(text, 0, 0, width, height, juce::Justification::centred, false);
    }
}

} // namespace Updater
} // namespace Quendal
