// The updater's window on the X display: what it shows while downloading,
// installing and after a failed install (screenshots kept in the build
// folder), its buttons clicked and its close button pressed.

#include "testsupport/Files.h"
#include "testsupport/Wait.h"
#include "testsupport/ScriptInstaller.h"
#include "testsupport/Desktop.h"
#include "testsupport/UpdaterFixture.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace fs = boost::filesystem;
using Quendal::Testing::ChildProcess;
using Quendal::Testing::InstallerScript;
using Quendal::Testing::UpdaterFixture;
using Quendal::Testing::UpdaterResult;
using Quendal::Testing::WaitUntil;
using testserver::Fault;

namespace {

using Strings = std::vector<std::string>;

const juce::Colour WindowColour(0xffd3d3d3);
const juce::Colour BarColour(0xffeeeeee);
const juce::Colour FillColour(0xffadd8e6);

// Panel layout at 300 x 100: the bar (10, 45, 280, 30), the buttons
// (20, 51, 110, 24) and (170, 51, 110, 24).
constexpr int BarLeft = 10;
constexpr int BarTop = 45;
constexpr int BarWidth = 280;
constexpr int BarHeight = 30;
constexpr int LaunchX = 75;
constexpr int QuitX = 225;
constexpr int ButtonY = 63;

class UpdaterWindow : public UpdaterFixture {
protected:
    void SetUp() override
    {
        RequireDisplay();
        fs::create_directories(SCREENSHOT_FOLDER);
    }

    // Starts the updater and waits for its window.
    void Start(const Strings& relaunch = {})
    {
        Strings args{"--product-sku", Sku, "--server", ServerArg()};
        if (!relaunch.empty()) {
            args.push_back("--");
            args.insert(args.end(), relaunch.begin(), relaunch.end());
        }
        child = StartUpdater(args);
        ASSERT_TRUE(WaitUntil([&] {
            window = Quendal::Testing::FindWindow(child->Pid(), "Auto Update");
            return window != 0 || !child->Running();
        }));
        ASSERT_NE(window, 0u) << "no window; the updater ended";
    }

    // Takes pictures of the window until `shows` holds for one; the last
    // picture stays in the screenshot folder as `name`.png.
    juce::Image WaitForPicture(const std::string& name, const std::function<bool(const juce::Image&)>& shows)
    {
        const std::string path = std::string(SCREENSHOT_FOLDER) + "/" + name + ".png";
        juce::Image picture;
        bool seen = WaitUntil([&] {
            picture = Quendal::Testing::CaptureWindow(window, path);
            return picture.isValid() && shows(picture);
        });
        EXPECT_TRUE(seen) << "the window never showed " << name << "; last picture: " << path;
        return picture;
    }

    void ExpectWindowLooks(const juce::Image& picture)
    {
        EXPECT_EQ(picture.getWidth(), 300);
        EXPECT_EQ(picture.getHeight(), 100);
        int width = 0;
        int height = 0;
        ASSERT_TRUE(Quendal::Testing::WindowSize(window, width, height));
        EXPECT_EQ(width, 300);
        EXPECT_EQ(height, 100);
        EXPECT_EQ(Quendal::Testing::WindowName(window), "Auto Update");
        // Background around the label's text and below the bar.
        EXPECT_EQ(picture.getPixelAt(2, 2), WindowColour);
        EXPECT_EQ(picture.getPixelAt(297, 97), WindowColour);
        EXPECT_EQ(picture.getPixelAt(5, 60), WindowColour);
    }

    // The bar's fill on its top row (clear of the centred percentage text).
    static int FilledWidth(const juce::Image& picture)
    {
        int filled = 0;
        while (filled < BarWidth && picture.getPixelAt(BarLeft + filled, BarTop + 1) == FillColour)
            ++filled;
        return filled;
    }

    static bool BarRowIs(const juce::Image& picture, int y, juce::Colour colour)
    {
        for (int x = BarLeft; x < BarLeft + BarWidth; ++x) {
            if (picture.getPixelAt(x, y) != colour)
                return false;
        }
        return true;
    }

    static bool BarHidden(const juce::Image& picture)
    {
        return picture.getPixelAt(BarLeft + 1, BarTop + 1) == WindowColour &&
               picture.getPixelAt(BarLeft + BarWidth - 2, BarTop + BarHeight - 2) == WindowColour;
    }

    static bool ButtonAt(const juce::Image& picture, int x)
    {
        juce::Colour colour = picture.getPixelAt(x - 40, ButtonY);
        return colour != WindowColour && colour != BarColour && colour != FillColour;
    }

    // "Install failed.": both buttons in the bar's place.
    static bool ShowsButtons(const juce::Image& picture)
    {
        return BarHidden(picture) && ButtonAt(picture, LaunchX) && ButtonAt(picture, QuitX);
    }

    // The silent install fails (exit code 3); the interactive one succeeds.
    void StartWithFailingInstall(const Strings& relaunch, bool interactiveGate = false)
    {
        InstallerScript installer;
        installer.silentExit = 3;
        installer.interactiveGate = interactiveGate;
        AddRelease(Sku, installer);
        Start(relaunch);
    }

    bool AlwaysOnTop() const
    {
        return Quendal::Testing::WindowState(window).find("_NET_WM_STATE_ABOVE") != std::string::npos;
    }

    UpdaterResult End() { return Finish(*child); }

    std::unique_ptr<ChildProcess> child;
    unsigned long window = 0;
};

TEST_F(UpdaterWindow, WhileDownloadingThenClosed)
{
    if (!Quendal::Testing::WindowManagerRunning())
        GTEST_SKIP() << "no window manager on the display: nothing to press the close button";
    InstallerScript installer;
    installer.padding = 100000;
    AddRelease(Sku, installer);
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(scratch / "releases" / Sku / InstallerName));
    // Half the file, then nothing until the server stops.
    server.SetFault(InstallerPath(Sku), Fault::StallAfter(size / 2));
    Start({RelaunchScript()});

    juce::Image picture = WaitForPicture("downloading", [](const juce::Image& p) {
        int filled = FilledWidth(p);
        return filled > 0 && filled >= BarWidth / 2 - 10;
    });
    ExpectWindowLooks(picture);
    // Half of the bar (the file is written in whole chunks), the rest empty.
    const int filled = FilledWidth(picture);
    EXPECT_GE(filled, BarWidth / 2 - 10);
    EXPECT_LE(filled, BarWidth / 2);
    EXPECT_EQ(picture.getPixelAt(BarLeft + BarWidth - 2, BarTop + 1), BarColour);
    EXPECT_EQ(picture.getPixelAt(BarLeft + BarWidth - 2, BarTop + BarHeight - 2), BarColour);
    EXPECT_TRUE(AlwaysOnTop());

    // The updater quits; its engine then waits for the stalled transfer to
    // time out (10 s) before the process ends.
    Quendal::Testing::CloseWithWindowManager(window);
    UpdaterResult result = End();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_TRUE(InstallerRuns().empty());
    EXPECT_FALSE(Relaunched());
    // The partial file stays for a later run to discard.
    EXPECT_EQ(DownloadedFiles(), Strings{InstallerName});
}

TEST_F(UpdaterWindow, WhileInstalling)
{
    InstallerScript installer;
    installer.silentGate = true;
    AddRelease(Sku, installer);
    Start({RelaunchScript()});
    ASSERT_TRUE(WaitForInstallerRuns(1));

    // Progress not measurable: an empty bar without text.
    juce::Image picture = WaitForPicture("installing", [](const juce::Image& p) {
        for (int y = BarTop; y < BarTop + BarHeight; ++y) {
            if (!BarRowIs(p, y, BarColour))
                return false;
        }
        return true;
    });
    ExpectWindowLooks(picture);
    EXPECT_FALSE(ButtonAt(picture, LaunchX));
    EXPECT_FALSE(ButtonAt(picture, QuitX));

    OpenSilentGate();
    UpdaterResult result = End();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_TRUE(WaitForRelaunch());
}

TEST_F(UpdaterWindow, FailedInstallThenQuit)
{
    StartWithFailingInstall({RelaunchScript()});

    juce::Image picture = WaitForPicture("install-failed", ShowsButtons);
    ExpectWindowLooks(picture);
    // Button faces, the bar's band between them empty.
    EXPECT_EQ(picture.getPixelAt(150, ButtonY), WindowColour);
    EXPECT_TRUE(child->Running()) << "the window stays open after a failed install";

    Quendal::Testing::ClickAt(window, QuitX, ButtonY);
    UpdaterResult result = End();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_FALSE(Relaunched());
    // The installer file stays for "Launch Installer".
    EXPECT_EQ(DownloadedFiles(), (Strings{InstallerName, std::string(InstallerName) + ".confirm"}));
}

TEST_F(UpdaterWindow, FailedInstallThenLaunchInstaller)
{
    StartWithFailingInstall({RelaunchScript(), "after"}, true);
    WaitForPicture("install-failed-before-launch", ShowsButtons);
    const bool managed = Quendal::Testing::WindowManagerRunning();
    if (managed) {
        EXPECT_TRUE(AlwaysOnTop());
    }

    Quendal::Testing::ClickAt(window, LaunchX, ButtonY);
    ASSERT_TRUE(WaitForInstallerRuns(2));
    EXPECT_EQ(InstallerRuns(), (Strings{"run [/SILENT]", "run"})) << "the second run is interactive";
    // No longer always-on-top, so that the installer's own windows may come to
    // the front (the toolkit makes a new X window for that on this platform).
    ASSERT_TRUE(WaitUntil([&] {
        window = Quendal::Testing::FindWindow(child->Pid(), "Auto Update");
        return window != 0 && !(managed && AlwaysOnTop());
    }));

    // While that install runs, a second press starts nothing.
    WaitForPicture("install-failed-installer-launched", ShowsButtons);
    const std::size_t apiRequests = server.RequestsFor(ApiPath(Sku)).size();
    Quendal::Testing::ClickAt(window, LaunchX, ButtonY);
    OpenInteractiveGate();
    UpdaterResult result = End();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), (Strings{"run [/SILENT]", "run"}));
    // Not even a refresh for that press: the one request is the refresh after the install.
    EXPECT_EQ(server.RequestsFor(ApiPath(Sku)).size(), apiRequests + 1);
    std::optional<Strings> relaunch = WaitForRelaunch();
    ASSERT_TRUE(relaunch);
    EXPECT_EQ(relaunch->back(), "[after]");
    EXPECT_TRUE(DownloadedFiles().empty());
}

TEST_F(UpdaterWindow, LaunchInstallerWithoutInstallerFileKeepsTheFailure)
{
    StartWithFailingInstall({RelaunchScript()});
    Quendal::Testing::MovePointerAway();
    juce::Image failed = WaitForPicture("install-failed-file-removed", ShowsButtons);
    fs::remove(Downloads() / InstallerName);
    fs::remove(Downloads() / (std::string(InstallerName) + ".confirm"));

    // The press refreshes the product, which finds no installer ("update needed").
    const std::size_t apiRequests = server.RequestsFor(ApiPath(Sku)).size();
    Quendal::Testing::ClickAt(window, LaunchX, ButtonY);
    ASSERT_TRUE(WaitUntil([&] { return server.RequestsFor(ApiPath(Sku)).size() > apiRequests; }));
    // Hovering "Quit" repaints it after whatever the press changed.
    Quendal::Testing::MovePointer(window, QuitX, ButtonY);
    const juce::Colour quitFace = failed.getPixelAt(QuitX - 40, ButtonY);
    juce::Image after = WaitForPicture("install-failed-after-refresh", [&](const juce::Image& p) {
        return p.getPixelAt(QuitX - 40, ButtonY) != quitFace;
    });
    // Still "Install failed." with both buttons and no bar.
    for (int y = 0; y < BarTop; ++y)
        for (int x = 0; x < 300; ++x)
            ASSERT_EQ(after.getPixelAt(x, y), failed.getPixelAt(x, y)) << "status line changed at " << x << "," << y;
    EXPECT_TRUE(BarHidden(after));
    EXPECT_TRUE(ButtonAt(after, LaunchX));

    Quendal::Testing::ClickAt(window, QuitX, ButtonY);
    UpdaterResult result = End();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_EQ(InstallerRuns(), Strings{"run [/SILENT]"});
    EXPECT_FALSE(Relaunched());
}

TEST_F(UpdaterWindow, InstallerGoneBeforeItsRunIsAFailedInstall)
{
    InstallerScript installer;
    AddRelease(Sku, installer);
    const fs::path downloaded = Downloads() / InstallerName;
    const fs::path confirm = Downloads() / (std::string(InstallerName) + ".confirm");
    // The install thread looks for queued installers every half second: the
    // file is removed as soon as the download is confirmed, well before. A
    // run that still got the installer is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        fs::remove(scratch / "installer.record");
        Start({RelaunchScript()});
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(confirm) || !child->Running(); }));
        fs::remove(downloaded);
        juce::Image picture = WaitForPicture("install-failed-installer-gone", [&](const juce::Image& p) {
            return ShowsButtons(p) || !InstallerRuns().empty();
        });
        if (!InstallerRuns().empty()) {
            End();
            continue;
        }
        EXPECT_TRUE(child->Running()) << "the window stays open";
        Quendal::Testing::ClickAt(window, QuitX, ButtonY);
        UpdaterResult result = End();
        EXPECT_EQ(result.exitCode, 0) << result.out;
        EXPECT_FALSE(Relaunched());
        return;
    }
    FAIL() << "the installer ran every time before it could be removed";
}

} // namespace
