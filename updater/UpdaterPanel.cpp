#include "updater/UpdaterPanel.h"

#include <algorithm>

namespace Quendal {
namespace Updater {

UpdaterPanel::UpdaterPanel(const juce::String& name, std::function<void()> launchAction,
                           std::function<void()> quitAction)
    : juce::Component(name)
    , progressValue(0.0)
    , messageLabel("message", {})
    , progressBar(progressValue)
    , launchButton("Launch Installer")
    , quitButton("Quit")
    , onLaunchInstaller(std::move(launchAction))
    , onQuit(std::move(quitAction))
{
    messageLabel.setJustificationType(juce::Justification::centred);
    launchButton.addListener(this);
    quitButton.addListener(this);
    addAndMakeVisible(messageLabel);
    addAndMakeVisible(progressBar);
    addChildComponent(launchButton);
    addChildComponent(quitButton);
}

UpdaterPanel::~UpdaterPanel() = default;

void UpdaterPanel::SetText(const std::string& text)
{
    messageLabel.setText(juce::String::fromUTF8(text.c_str()), juce::sendNotificationAsync);
}

void UpdaterPanel::SetProgress(double value)
{
    progressValue = value;
}

void UpdaterPanel::ShowButtons(bool show)
{
    progressBar.setVisible(!show);
    launchButton.setVisible(show);
    quitButton.setVisible(show);
}

void UpdaterPanel::buttonClicked(juce::Button* button)
{
    if (button == &launchButton && onLaunchInstaller)
        onLaunchInstaller();
    else if (button == &quitButton && onQuit)
        onQuit();
}

void UpdaterPanel::resized()
{
    const int w = getWidth();
    const int h = getHeight();
    const int half = h / 2;
    const int barHeight = std::min(half, 30);
    const int y = (3 * h) / 4;
    messageLabel.setBounds(0, 0, w, half);
    progressBar.setBounds(10, y - barHeight, w - 20, barHeight);
    launchButton.setBounds(w / 4 - 55, y - 24, 110, 24);
    quitButton.setBounds((3 * w) / 4 - 55, y - 24, 110, 24);
}

} // namespace Updater
} // namespace Quendal
