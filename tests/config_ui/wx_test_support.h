// Window tests on a real X display: a private Xvfb when none is given,
// wxWidgets started once per test program, and ways to wait for, click and
// picture windows.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/timer.h>
#include <wx/toplevel.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

extern "C" char** environ;

namespace wxtest {

inline bool gDisplay = false;

// A private X server for the windows when no display is given; Xvfb tells
// its display number once it is ready.
class PrivateDisplay {
  public:
    bool Start() {
        int ready[2];
        if (pipe(ready) != 0) return false;
        const std::string fd = std::to_string(ready[1]);
        char* argv[] = {const_cast<char*>("Xvfb"),
                        const_cast<char*>("-displayfd"),
                        const_cast<char*>(fd.c_str()),
                        const_cast<char*>("-nolisten"),
                        const_cast<char*>("tcp"),
                        const_cast<char*>("-screen"),
                        const_cast<char*>("0"),
                        const_cast<char*>("1024x768x24"),
                        nullptr};
        const bool spawned = posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv, environ) == 0;
        close(ready[1]);
        char number[16] = {};
        const bool told = spawned && read(ready[0], number, sizeof number - 1) > 0;
        close(ready[0]);
        if (!told) return false;
        setenv("DISPLAY", (":" + std::string(number, strcspn(number, "\n"))).c_str(), 1);
        return true;
    }
    ~PrivateDisplay() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
};

class WxEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if ((display == nullptr || *display == '\0') && !xvfb_.Start()) return;
        static int argc = 1;
        static char name[] = "config_ui_tests";
        static char* argv[] = {name, nullptr};
        wxApp::SetInstance(new wxApp);
        gDisplay = wxEntryStart(argc, argv);
        if (gDisplay) wxInitAllImageHandlers();
    }
    void TearDown() override {
        if (gDisplay) wxEntryCleanup();
    }

  private:
    PrivateDisplay xvfb_;
};

// Runs an event loop, as the application's own, until `done` holds (looked
// at every 10 ms) or five seconds passed; a dialog opened meanwhile runs
// its own loop inside it, as it would in the application.
inline bool PumpUntil(const std::function<bool()>& done) {
    if (done()) return true;
    wxGUIEventLoop loop;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    wxTimer check;
    check.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done() || std::chrono::steady_clock::now() >= limit) loop.ScheduleExit();
    });
    check.Start(10);
    loop.Run();
    check.Stop();
    return done();
}

inline void Click(wxWindow& dialog, int id) {
    wxCommandEvent click(wxEVT_BUTTON, id);
    click.SetEventObject(dialog.FindWindow(id));
    dialog.ProcessWindowEvent(click);
}

// Runs `act` on the modal dialog of this class once it has been on the
// screen for 200 ms, drawn (the loop of its ShowModal runs it); fails the
// test when none opens within five seconds. It looks every 10 ms, on a timer, so that the event
// loop goes on taking in what the X server sends meanwhile.
template <class Dialog>
void WhenOpen(std::function<void(Dialog&)> act) {
    class Watch final : public wxTimer {
      public:
        explicit Watch(std::function<void(Dialog&)> act)
            : act_(std::move(act)), since_(std::chrono::steady_clock::now()) {}
        void Notify() override {
            Dialog* open = nullptr;
            for (wxWindow* window : wxTopLevelWindows)
                if (auto* dialog = dynamic_cast<Dialog*>(window); dialog && dialog->IsModal())
                    open = dialog;
            const auto now = std::chrono::steady_clock::now();
            const bool shown = open != nullptr && open->IsShownOnScreen();
            if (!shown) shownSince_.reset();
            // Without a window manager nothing stacks a new window on top.
            if (shown && !shownSince_) shownSince_ = now, open->Raise();
            const bool drawn = shown && now - *shownSince_ >= std::chrono::milliseconds(200);
            if (!drawn && now - since_ < std::chrono::seconds(5)) return;
            Stop();
            if (drawn) {
                act_(*open);
            } else {
                ADD_FAILURE() << "the dialog did not open";
                if (open != nullptr) open->EndModal(2);
            }
            wxTheApp->CallAfter([this] { delete this; });
        }

      private:
        std::function<void(Dialog&)> act_;
        std::chrono::steady_clock::time_point since_;
        std::optional<std::chrono::steady_clock::time_point> shownSince_;
    };
    (new Watch(std::move(act)))->Start(10);
}

inline wxString Label(wxWindow& dialog, int id) {
    wxWindow* control = dialog.FindWindow(id);
    return control != nullptr ? control->GetLabel() : "<missing>";
}

// Writes this part of the X server's screen to a PNG file
// (screen_picture.cpp); false when the screen cannot be read.
bool SaveScreenArea(const wxRect& area, const std::filesystem::path& file);

// The window as it is on the screen, for the test's artefacts, read from
// the X server (the toolkit's own screen reader keeps its first picture).
inline void SavePicture(wxWindow& window, const std::filesystem::path& file) {
    // The toolkit draws a new window from its own loop, in its own time.
    const auto drawn = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    PumpUntil([&] { return std::chrono::steady_clock::now() >= drawn; });
    EXPECT_TRUE(SaveScreenArea(window.GetScreenRect(), file)) << file;
}

}  // namespace wxtest
