#pragma once
// The update window's content: one centred status line, a progress bar and,
// after a failed install, "Launch Installer" and "Quit" in the bar's place.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <string>

namespace Quendal {
namespace Updater {

class UpdaterPanel : public juce::Component, public juce::Button::Listener {
public:
    UpdaterPanel(const juce::String& name, std::function<void()> onLaunchInstaller, std::function<void()> onQuit);
    ~UpdaterPanel() override;

    // The status line (the label is told asynchronously).
    void SetText(const std::string& text);
    // 0..1, or -1.0 when progress cannot be measured; the bar polls it.
    void SetProgress(double value);
    // true: the buttons in the bar's place; false: the bar again.
    void ShowButtons(bool show);

    void resized() override;
    void buttonClicked(juce::Button* button) override;

private:
    double progressValue;
    juce::Label messageLabel;
    juce::ProgressBar progressBar;
    juce::TextButton launchButton;
    juce::TextButton quitButton;
    std::function<void()> onLaunchInstaller;
    std::function<void()> onQuit;
};

} // namespace Updater
} // namespace Quendal
