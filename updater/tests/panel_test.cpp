#include "updater/UpdaterLookAndFeel.h"
#include "updater/UpdaterPanel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using Quendal::Updater::UpdaterLookAndFeel;
using Quendal::Updater::UpdaterPanel;

namespace {

// The GUI toolkit's message manager and desktop for the whole program; no
// window is opened.
class JuceEnvironment : public ::testing::Environment {
public:
    void SetUp() override { initialiser = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
    void TearDown() override { initialiser.reset(); }

private:
    std::unique_ptr<juce::ScopedJuceInitialiser_GUI> initialiser;
};

const auto* const juceEnvironment = ::testing::AddGlobalTestEnvironment(new JuceEnvironment);

const juce::Colour Background(0xffeeeeee);
const juce::Colour Fill(0xffadd8e6);

// The panel's children in the order it adds them.
struct Children {
    explicit Children(UpdaterPanel& panel)
        : label(dynamic_cast<juce::Label*>(panel.getChildComponent(0)))
        , bar(dynamic_cast<juce::ProgressBar*>(panel.getChildComponent(1)))
        , launch(dynamic_cast<juce::TextButton*>(panel.getChildComponent(2)))
        , quit(dynamic_cast<juce::TextButton*>(panel.getChildComponent(3)))
    {
    }
    bool Complete() const { return label && bar && launch && quit; }
    juce::Label* label;
    juce::ProgressBar* bar;
    juce::TextButton* launch;
    juce::TextButton* quit;
};

struct LayoutCase {
    int width, height;
    juce::Rectangle<int> label, bar, launch, quit;
};

TEST(UpdaterPanel, Layout)
{
    const LayoutCase cases[] = {
        {300, 100, {0, 0, 300, 50}, {10, 45, 280, 30}, {20, 51, 110, 24}, {170, 51, 110, 24}},
        {300, 40, {0, 0, 300, 20}, {10, 10, 280, 20}, {20, 6, 110, 24}, {170, 6, 110, 24}},
        {301, 101, {0, 0, 301, 50}, {10, 45, 281, 30}, {20, 51, 110, 24}, {170, 51, 110, 24}},
        {400, 61, {0, 0, 400, 30}, {10, 15, 380, 30}, {45, 21, 110, 24}, {245, 21, 110, 24}},
    };
    UpdaterPanel panel("main", {}, {});
    Children children(panel);
    ASSERT_TRUE(children.Complete());
    for (const LayoutCase& c : cases) {
        panel.setBounds(0, 0, c.width, c.height);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(children.label->getBounds(), c.label);
        EXPECT_EQ(children.bar->getBounds(), c.bar);
        EXPECT_EQ(children.launch->getBounds(), c.launch);
        EXPECT_EQ(children.quit->getBounds(), c.quit);
    }
}

TEST(UpdaterPanel, ChildrenAndVisibility)
{
    UpdaterPanel panel("main", {}, {});
    Children children(panel);
    ASSERT_TRUE(children.Complete());
    EXPECT_EQ(panel.getName(), "main");
    EXPECT_EQ(children.label->getName(), "message");
    EXPECT_EQ(children.label->getText(), "");
    EXPECT_EQ(children.label->getJustificationType(), juce::Justification::centred);
    EXPECT_EQ(children.launch->getButtonText(), "Launch Installer");
    EXPECT_EQ(children.quit->getButtonText(), "Quit");

    EXPECT_TRUE(children.label->isVisible());
    EXPECT_TRUE(children.bar->isVisible());
    EXPECT_FALSE(children.launch->isVisible());
    EXPECT_FALSE(children.quit->isVisible());

    panel.ShowButtons(true);
    EXPECT_TRUE(children.label->isVisible());
    EXPECT_FALSE(children.bar->isVisible());
    EXPECT_TRUE(children.launch->isVisible());
    EXPECT_TRUE(children.quit->isVisible());

    panel.ShowButtons(false);
    EXPECT_TRUE(children.bar->isVisible());
    EXPECT_FALSE(children.launch->isVisible());
    EXPECT_FALSE(children.quit->isVisible());

    panel.SetText("Install failed.");
    EXPECT_EQ(children.label->getText(), "Install failed.");
}

TEST(UpdaterPanel, EachButtonRunsOnlyItsAction)
{
    int launches = 0;
    int quits = 0;
    UpdaterPanel panel(
        "main", [&] { ++launches; }, [&] { ++quits; });
    Children children(panel);
    ASSERT_TRUE(children.Complete());
    panel.ShowButtons(true);

    panel.buttonClicked(children.quit);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(launches, 0);
    panel.buttonClicked(children.launch);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(launches, 1);
    // A button the panel does not own.
    juce::TextButton other("Quit");
    panel.buttonClicked(&other);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(launches, 1);
}

TEST(UpdaterPanel, ButtonsWithoutActionsDoNothing)
{
    int quits = 0;
    UpdaterPanel launchless("main", nullptr, [&] { ++quits; });
    Children children(launchless);
    ASSERT_TRUE(children.Complete());
    launchless.buttonClicked(children.launch);
    EXPECT_EQ(quits, 0);
    launchless.buttonClicked(children.quit);
    EXPECT_EQ(quits, 1);

    UpdaterPanel empty("main", {}, {});
    Children emptyChildren(empty);
    empty.buttonClicked(emptyChildren.launch);
    empty.buttonClicked(emptyChildren.quit);
}

// drawProgressBar into an image of the bar's size at the window's layout.
class ProgressBarDrawing : public ::testing::Test {
protected:
    static constexpr int Width = 280;
    static constexpr int Height = 30;

    ProgressBarDrawing() { bar.setLookAndFeel(&lookAndFeel); }
    ~ProgressBarDrawing() override { bar.setLookAndFeel(nullptr); }

    juce::Image Draw(double progress, const juce::String& text)
    {
        juce::Image image(juce::Image::ARGB, Width, Height, true);
        juce::Graphics g(image);
        lookAndFeel.drawProgressBar(g, bar, Width, Height, progress, text);
        return image;
    }

    // Width of the filled run from the left; every row and the rest of the
    // bar checked as well.
    static int FilledWidth(const juce::Image& image)
    {
        int filled = 0;
        while (filled < Width && image.getPixelAt(filled, 0) == Fill)
            ++filled;
        for (int y = 0; y < Height; ++y) {
            for (int x = 0; x < Width; ++x) {
                juce::Colour expected = x < filled ? Fill : Background;
                if (image.getPixelAt(x, y) != expected) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << image.getPixelAt(x, y).toString();
                    return -1;
                }
            }
        }
        return filled;
    }

    UpdaterLookAndFeel lookAndFeel;
    double value = 0.0;
    juce::ProgressBar bar{value};
};

TEST_F(ProgressBarDrawing, Colours)
{
    EXPECT_EQ(bar.findColour(juce::ProgressBar::backgroundColourId), Background);
    EXPECT_EQ(bar.findColour(juce::ProgressBar::foregroundColourId), Fill);
}

TEST_F(ProgressBarDrawing, FillWithoutText)
{
    struct Case {
        double progress;
        int filled;
    };
    const Case cases[] = {
        {0.5, 140},
        {0.25, 70},
        {0.999, 279},
        {1.0, 280},
        {0.0, 0},
        {0.001, 0},
        {1.5, 280},
        {1e300, 280},
        {std::numeric_limits<double>::infinity(), 280},
        {-1.0, 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FilledWidth(Draw(c.progress, {})), c.filled) << c.progress;
}

TEST_F(ProgressBarDrawing, TextCentredAtSixTenthsOfTheHeight)
{
    juce::Image image = Draw(0.5, "50%");
    // The text's ink: neither fill nor background.
    int left = Width, right = -1, top = Height, bottom = -1;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            juce::Colour pixel = image.getPixelAt(x, y);
            if (pixel != Fill && pixel != Background) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    ASSERT_GE(right, 0) << "no text drawn";
    // Centred: the ink's middle within two pixels of the bar's.
    EXPECT_NEAR((left + right) / 2.0, Width / 2.0, 2.0);
    EXPECT_NEAR((top + bottom) / 2.0, Height / 2.0, 2.5);
    // Digits and % of an 18-pixel font: taller than half the bar, within 18 rows.
    EXPECT_GT(bottom - top + 1, 9);
    EXPECT_LE(bottom - top + 1, 18);
    // Fully covered pixels of the glyphs carry the colour that contrasts with both.
    const juce::Colour ink = juce::Colour::contrasting(Background, Fill);
    int inkPixels = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x)
            inkPixels += image.getPixelAt(x, y) == ink ? 1 : 0;
    EXPECT_GT(inkPixels, 10) << ink.toString();
    // Outside the text the fill is exact: the top and bottom rows.
    for (int x = 0; x < Width; ++x) {
        EXPECT_EQ(image.getPixelAt(x, 0), x < 140 ? Fill : Background) << x;
        EXPECT_EQ(image.getPixelAt(x, Height - 1), x < 140 ? Fill : Background) << x;
    }
}

} // namespace
