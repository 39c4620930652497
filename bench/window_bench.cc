// The real program in a real window, timed from outside as a user's
// stopwatch would: from its start to its dialog on screen, from the Enter
// press to its exit. Each figure comes with a plain process doing the same
// work (one `cat` of the payloads, a bare GTK window), run alternately with
// the program in the same run.
//
// Usage, under an X server:
//   window_bench join PROGRAM SETDIR PAYLOADDIR REPS [cold]
//   window_bench startup PROGRAM BARE_WINDOW SETDIR EMPTYDIR REPS
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include "bench/bench_util.h"

namespace {

using bench::Die;
using bench::Median;
using bench::Now;

constexpr double kTimeoutSeconds = 120;

// The X connection that watches for the program's windows and types on the
// user's behalf.
class Screen {
 public:
  Screen() {
    m_display = ::XOpenDisplay(nullptr);
    if (!m_display) Die("no X display");
    int event, error, major, minor;
    if (!::XTestQueryExtension(m_display, &event, &error, &major, &minor)) Die("no XTEST");
    ::XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
    ::XSync(m_display, False);
  }
  ~Screen() { ::XCloseDisplay(m_display); }

  // The next top-level window mapped (there is no window manager to
  // reparent it); 0 when the child ended first or nothing came in time.
  Window WaitForWindow(pid_t child) {
    const double deadline = Now() + kTimeoutSeconds;
    for (;;) {
      while (::XPending(m_display) > 0) {
        XEvent event;
        ::XNextEvent(m_display, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect) return event.xmap.window;
      }
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
          info.si_pid != 0 || Now() > deadline) {
        return 0;
      }
      pollfd pfd = {ConnectionNumber(m_display), POLLIN, 0};
      ::poll(&pfd, 1, 10);
    }
  }

  // Gives the window the keyboard and presses one key, as a user would.
  void Press(Window window, KeySym key) {
    ::XSetInputFocus(m_display, window, RevertToPointerRoot, CurrentTime);
    const unsigned code = ::XKeysymToKeycode(m_display, key);
    ::XTestFakeKeyEvent(m_display, code, True, CurrentTime);
    ::XTestFakeKeyEvent(m_display, code, False, CurrentTime);
    ::XSync(m_display, False);
  }

 private:
  Display* m_display = nullptr;
};

// --- the whole path against cat ---

struct ProgramRun {
  double enterToExit;
  double startToExit;
  long maxRssKiB;
};

ProgramRun RunProgram(Screen& screen, const std::string& program, const std::string& folder) {
  const double start = Now();
  const pid_t pid = bench::Start({program}, folder);
  const Window dialog = screen.WaitForWindow(pid);
  if (!dialog) Die("the program showed no dialog");
  screen.Press(dialog, XK_Return);
  const double pressed = Now();
  const bench::Ended ended = bench::Wait(pid);
  if (!ended.ok) Die("the program failed");
  return {ended.at - pressed, ended.at - start, ended.maxRssKiB};
}

int Join(const std::string& program, const std::string& folder, const std::string& payloads,
         int reps, bool cold) {
  const bench::Cat cat(folder, payloads);
  Screen screen;
  std::vector<double> catSeconds, enterToExit, startToExit;
  long maxRss = 0;
  for (int rep = bench::kWarmUp; rep < reps; ++rep) {
    // Alternating which goes first cancels a drift of the machine.
    for (int turn = 0; turn < 2; ++turn) {
      bench::Settle(folder, cold);
      if ((turn == 0) == (rep % 2 == 0)) {
        const ProgramRun run = RunProgram(screen, program, folder);
        if (bench::FileSize(folder + "/" + bench::kOutputName) != cat.Total()) {
          Die("the program's output has the wrong size");
        }
        enterToExit.push_back(run.enterToExit);
        startToExit.push_back(run.startToExit);
        maxRss = std::max(maxRss, run.maxRssKiB);
      } else {
        catSeconds.push_back(cat.Run());
      }
    }
    if (rep < 0) {
      catSeconds.clear();
      enterToExit.clear();
      startToExit.clear();
    }
  }
  bench::Settle(folder, false);

  const double mib = static_cast<double>(cat.Total()) / (1024.0 * 1024.0);
  const double base = Median(catSeconds);
  std::printf("whole path in a window, %zu parts, %.3f MiB, %s cache, medians of %d:\n",
              cat.Parts(), mib, cold ? "cold" : "warm", reps);
  std::printf("  cat of the payloads             %8.4f s  %7.0f MiB/s\n", base, mib / base);
  for (const auto& [what, seconds] : {std::make_pair("program, Enter to exit ", &enterToExit),
                                      std::make_pair("program, start to exit ", &startToExit)}) {
    const double median = Median(*seconds);
    std::printf("  %s         %8.4f s  %7.0f MiB/s  ratio %.2f\n", what, median, mib / median,
                median / base);
  }
  std::printf("  program's peak resident memory  %6ld KiB\n", maxRss);
  return 0;
}

// --- start-up ---

// From start to the first window on screen; the window is then dismissed
// with the key and the process waited for.
double TimeToWindow(Screen& screen, const std::string& program, const std::string& folder,
                    KeySym dismiss) {
  const double start = Now();
  const pid_t pid = bench::Start({program}, folder);
  const Window window = screen.WaitForWindow(pid);
  if (!window) Die(program + " showed no window");
  const double shown = Now();
  screen.Press(window, dismiss);
  bench::Wait(pid);
  return shown - start;
}

int Startup(const std::string& program, const std::string& bareWindow, const std::string& set,
            const std::string& empty, int reps) {
  Screen screen;
  std::vector<double> bare, dialog, message;
  for (int rep = bench::kWarmUp; rep < reps; ++rep) {
    bare.push_back(TimeToWindow(screen, bareWindow, empty, XK_Escape));
    dialog.push_back(TimeToWindow(screen, program, set, XK_Escape));
    message.push_back(TimeToWindow(screen, program, empty, XK_Return));
    if (rep < 0) {
      bare.clear();
      dialog.clear();
      message.clear();
    }
  }
  const double base = Median(bare);
  std::printf("start-up, medians of %d alternating runs:\n", reps);
  std::printf("  bare GTK window on screen       %8.4f s\n", base);
  std::printf("  program's dialog on screen      %8.4f s  ratio %.2f\n", Median(dialog),
              Median(dialog) / base);
  std::printf("  message: first part missing     %8.4f s  ratio %.2f\n", Median(message),
              Median(message) / base);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 5 && args[0] == "join") {
    return Join(args[1], args[2], args[3], std::atoi(args[4].c_str()),
                args.size() > 5 && args[5] == "cold");
  }
  if (args.size() == 6 && args[0] == "startup") {
    return Startup(args[1], args[2], args[3], args[4], std::atoi(args[5].c_str()));
  }
  std::fprintf(stderr,
               "usage: window_bench join PROGRAM SETDIR PAYLOADDIR REPS [cold]\n"
               "       window_bench startup PROGRAM BARE_WINDOW SETDIR EMPTYDIR REPS\n");
  return 2;
}
