// The window's run measured as a user meets it, from outside the program:
// a fresh window process with the map on its command line, Extract clicked
// through the X server once the window has been on the screen a while, the
// time until the 3D View's first picture is on the server, and the longest
// the main window took to answer the window manager's ping meanwhile; then
// the command line's time for the same map, without its start-up. The two
// take turns, each after the last one's output is removed and on the disk,
// so that neither meets the other's write-back.
//
//   v2bsp_bench_outside [options] -- WINDOW-COMMAND...
//     --cli "COMMAND..."   the command line tool, words apart by blanks
//                          (for example "wine build-windows/src/cli/v2bsp-extract.exe")
//     --map MAP            the map (given to both)
//     --clean DIR          a folder removed before every run (the window's output)
//     --runs N             runs of each (default 5)
//     --dpi D              the window's dots per inch (default 96)
//     --settle S           seconds the window is on the screen before the click (default 1)
//
// Runs on the display of $DISPLAY, best with a window manager. With
// V2BSP_BENCH_LOUD set, the window's output is let through. Prints each
// run and the medians; exits 1 when the window's first picture takes more
// than 1.5 times the command line's time.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/layout.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kPatience = 120;  // seconds before a run counts as hung
constexpr double kLimit = 1.5;
// How often the main window is pinged while the run goes: often enough to
// see any gap a user would notice, seldom enough to cost it nothing.
constexpr auto kPingInterval = std::chrono::milliseconds(5);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

pid_t start(const std::vector<std::string>& command, bool quiet) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (quiet) {
            std::FILE* null = std::fopen("/dev/null", "w");
            if (null != nullptr) {
                dup2(fileno(null), 1);
                dup2(fileno(null), 2);
            }
        }
        std::vector<char*> argv;
        for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

int wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

double timedRun(const std::vector<std::string>& command) {
    const auto begun = Clock::now();
    const int status = wait(start(command, std::getenv("V2BSP_BENCH_LOUD") == nullptr));
    const double seconds = secondsSince(begun);
    if (status != 0) std::fprintf(stderr, "bench: %s exited with %d\n", command[0].c_str(), status);
    return seconds;
}

// Ends the window process, and the children of a wine loader with it.
void end(pid_t pid) {
    kill(pid, SIGTERM);
    const auto begun = Clock::now();
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (secondsSince(begun) > 10) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        usleep(10000);
    }
}

class XServer {
public:
    XServer() : display_(XOpenDisplay(nullptr)) {
        if (display_ == nullptr) return;
        root_ = DefaultRootWindow(display_);
        protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
        ping_ = XInternAtom(display_, "_NET_WM_PING", False);
        netName_ = XInternAtom(display_, "_NET_WM_NAME", False);
        utf8_ = XInternAtom(display_, "UTF8_STRING", False);
        // Windows come and go while the tree is walked: what vanished is passed by.
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
        // The answers to pings come to the root window (some toolkits send them
        // to its structure, others to its substructure listeners).
        XSelectInput(display_, root_, StructureNotifyMask | SubstructureNotifyMask);
    }
    ~XServer() {
        if (display_ != nullptr) XCloseDisplay(display_);
    }
    bool open() const { return display_ != nullptr; }

    // A window whose name `matches` (and that is viewable, when `shown`), or 0.
    template <typename Match>
    Window find(const Match& matches, bool shown = true) {
        return find(root_, matches, shown);
    }

    std::string name(Window window) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(display_, window, netName_, 0, 1024, False, utf8_, &type, &format, &count, &after,
                               &data) == Success &&
            data != nullptr) {
            text.assign(reinterpret_cast<char*>(data), count);
        }
        if (data != nullptr) XFree(data);
        if (!text.empty()) return text;
        char* plain = nullptr;
        if (XFetchName(display_, window, &plain) != 0 && plain != nullptr) {
            text = plain;
            XFree(plain);
        }
        return text;
    }

    bool viewable(Window window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(display_, window, &attributes) != 0 && attributes.map_state == IsViewable;
    }

    XWindowAttributes attributes(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        return attributes;
    }

    void click(Window window, int x, int y) {
        int atX = 0, atY = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, root_, x, y, &atX, &atY, &child);
        XTestFakeMotionEvent(display_, -1, atX, atY, CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }

    void sendPing(Window window, long serial) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols_;
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(ping_);
        event.xclient.data.l[1] = serial;
        event.xclient.data.l[2] = static_cast<long>(window);
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    // The serials of the pings answered since the last call.
    std::vector<long> answers() {
        std::vector<long> serials;
        while (XPending(display_) > 0) {
            XEvent event{};
            XNextEvent(display_, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols_ &&
                static_cast<Atom>(event.xclient.data.l[0]) == ping_) {
                serials.push_back(event.xclient.data.l[1]);
            }
        }
        return serials;
    }

    // Whether a line across the left half of `window`, at half its height,
    // shows more than one colour: the view's picture rather than its
    // background or nothing.
    bool pictured(Window window) {
        const XWindowAttributes at = attributes(window);
        const int from = at.width / 50, width = at.width / 2;
        if (width < 8) return false;
        XImage* line = XGetImage(display_, window, from, at.height / 2, static_cast<unsigned>(width), 1, AllPlanes,
                                 ZPixmap);
        if (line == nullptr) return false;
        const unsigned long first = XGetPixel(line, 0, 0);
        int other = 0;
        for (int x = 0; x < width; ++x) other += XGetPixel(line, x, 0) != first ? 1 : 0;
        XDestroyImage(line);
        return other > width / 100;
    }

private:
    template <typename Match>
    Window find(Window parent, const Match& matches, bool shown) {
        Window root = 0, up = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display_, parent, &root, &up, &children, &count) == 0) return 0;
        Window found = 0;
        for (unsigned i = 0; i < count && found == 0; ++i) {
            if (matches(name(children[i])) && (!shown || viewable(children[i]))) found = children[i];
        }
        for (unsigned i = 0; i < count && found == 0; ++i) found = find(children[i], matches, shown);
        if (children != nullptr) XFree(children);
        return found;
    }

    ::Display* display_;
    Window root_ = 0;
    Atom protocols_ = 0, ping_ = 0, netName_ = 0, utf8_ = 0;
};

struct WindowRun {
    double firstPicture = 0;  // click to the 3D View's first picture on the server
    double longestPing = 0;   // the longest a ping of the main window waited for its answer
    int answered = 0;         // pings answered
};

std::optional<WindowRun> windowRun(XServer& x, const std::vector<std::string>& command, double dpi, double settle) {
    const pid_t pid = start(command, std::getenv("V2BSP_BENCH_LOUD") == nullptr);
    const auto launched = Clock::now();
    const std::string title(v2bsp::app::kForm1.caption);
    Window form = 0;
    while ((form = x.find([&](const std::string& name) { return name == title; })) == 0) {
        if (secondsSince(launched) > kPatience) {
            std::fprintf(stderr, "bench: no window \"%s\" appeared\n", title.c_str());
            end(pid);
            return std::nullopt;
        }
        usleep(20000);
    }
    usleep(static_cast<useconds_t>(settle * 1e6));
    // Extract, at the centre of its place in the client area, which ends the window.
    const auto& extract = *v2bsp::app::findControl(v2bsp::app::kForm1, "Command1");
    const int clientTop = x.attributes(form).height - v2bsp::app::twipsToPixels(v2bsp::app::kForm1.clientHeight, dpi);
    const int atX = v2bsp::app::twipsToPixels(extract.place.left + extract.place.width / 2, dpi);
    const int atY = clientTop + v2bsp::app::twipsToPixels(extract.place.top + extract.place.height / 2, dpi);

    // The 3D View is made, hidden, while the window waits for the user; when
    // it is, only it is watched after the click, so that the watching takes
    // little of the machine the run needs.
    const auto isView = [](const std::string& name) { return name == "3D View" || name.ends_with(" - 3D View"); };
    Window view = x.find(isView, false);
    WindowRun run;
    long serial = 0, waiting = -1;
    Clock::time_point sent;
    const auto clicked = Clock::now();
    x.click(form, atX, atY);
    auto lastLook = clicked, lastPing = clicked - kPingInterval;
    for (;;) {
        for (const long answered : x.answers()) {
            if (answered != waiting) continue;
            run.longestPing = std::max(run.longestPing, secondsSince(sent));
            ++run.answered;
            waiting = -1;
        }
        const auto now = Clock::now();
        if (waiting < 0 && now - lastPing >= kPingInterval) {
            waiting = ++serial;
            sent = lastPing = now;
            x.sendPing(form, waiting);
        }
        if (view == 0 && now - lastLook > std::chrono::milliseconds(20)) {
            lastLook = now;
            view = x.find(isView);
        }
        if (view != 0 && x.viewable(view) && x.pictured(view)) {
            run.firstPicture = secondsSince(clicked);
            break;
        }
        if (secondsSince(clicked) > kPatience) {
            std::fprintf(stderr, "bench: no picture in the 3D View\n");
            end(pid);
            return std::nullopt;
        }
        usleep(2000);
    }
    if (waiting >= 0) run.longestPing = std::max(run.longestPing, secondsSince(sent));
    end(pid);
    return run;
}

int usage() {
    std::fprintf(stderr,
                 "usage: v2bsp_bench_outside --cli \"COMMAND\" --map MAP [--clean DIR] [--runs N] [--dpi D] "
                 "[--settle S] -- WINDOW-COMMAND...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> cli, window;
    std::string map, clean;
    int runs = 5;
    double dpi = 96, settle = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--") {
            window.assign(argv + i + 1, argv + argc);
            break;
        }
        if (!hasValue) return usage();
        const std::string value = argv[++i];
        if (arg == "--cli") {
            cli = words(value);
        } else if (arg == "--map") {
            map = value;
        } else if (arg == "--clean") {
            clean = value;
        } else if (arg == "--runs") {
            runs = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--dpi") {
            dpi = std::atof(value.c_str());
        } else if (arg == "--settle") {
            settle = std::atof(value.c_str());
        } else {
            return usage();
        }
    }
    if (cli.empty() || map.empty() || window.empty()) return usage();
    XServer x;
    if (!x.open()) {
        std::fprintf(stderr, "bench: no display\n");
        return 2;
    }
    const auto cleanUp = [&] {
        std::error_code ignored;
        if (!clean.empty()) std::filesystem::remove_all(clean, ignored);
    };

    // The command line's start-up alone, taken off its runs.
    std::vector<std::string> version = cli;
    version.push_back("--version");
    std::vector<std::string> extract = cli;
    extract.insert(extract.end(), {"-o", clean.empty() ? std::string("bench-cli-output") : clean, map});
    std::vector<double> startup, commandLine, pictures, pings;
    for (int i = 0; i < runs; ++i) startup.push_back(timedRun(version));
    window.push_back(map);
    const auto settled = [&] {
        cleanUp();
        ::sync();
    };
    for (int i = 0; i < runs; ++i) {
        settled();
        commandLine.push_back(timedRun(extract) - median(startup));
        settled();
        const std::optional<WindowRun> run = windowRun(x, window, dpi, settle);
        if (!run) return 1;
        std::printf("run %d: command line %.3f s, window's first picture %.3f s, longest ping %.3f s of %d answered\n",
                    i + 1, commandLine.back(), run->firstPicture, run->longestPing, run->answered);
        pictures.push_back(run->firstPicture);
        pings.push_back(run->longestPing);
    }
    cleanUp();
    // A map the command line reads in less than its start-up's spread has no ratio worth the name.
    const double ratio = median(pictures) / std::max(median(commandLine), 1e-3);
    std::printf("command line: %.3f s (start-up %.3f s taken off)\n", median(commandLine), median(startup));
    std::printf("window: first picture %.3f s, %.2f times the command line; longest ping %.3f s (longest run %.3f s)\n",
                median(pictures), ratio, median(pings), *std::max_element(pings.begin(), pings.end()));
    return ratio > kLimit ? 1 : 0;
}
