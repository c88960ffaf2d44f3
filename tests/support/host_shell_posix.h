// Host commands for the tests that drive Windows programs from outside:
// running a shell command, and finding and clicking a window on the virtual
// desktop (xdotool) as a user would.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

// Runs a command line through /bin/sh; its exit status, or -1 when it did not exit.
int Shell(const std::string& commandLine);
// Runs a command line through /bin/sh; what it wrote to standard output.
std::string ShellOutput(const std::string& commandLine);

// The X window ids of the windows captioned exactly caption.
std::vector<std::string> FindWindowsByCaption(const std::string& caption);
// The host process id that owns an X window (Wine sets _NET_WM_PID to the
// process's own pid); 0 when unknown.
int WindowProcessId(const std::string& window);
// Waits until a window captioned caption is drawn on the display (found is
// not enough: Wine may map the box a moment later, and a caption can name
// more than one X window) and saves its picture as the PNG file picture.
// The X window id of the one captured, or empty when none was within limit.
std::string CaptureWindow(const std::string& caption, const std::string& picture, std::chrono::milliseconds limit);
// True once our child process pid has ended; it is left for waitpid to reap.
bool HasEnded(int pid);
// Dismisses the message box with X window id window as a person would, until
// pid (our child, which shows it) has ended or limit has passed: clicks its
// OK button, or clicks the box and presses Enter, turn about, and again while
// the process lives. A click that lands before the box is drawn, or beside its
// button on a slow machine, is only one try. Whether pid ended.
bool DismissBox(const std::string& window, int pid, std::chrono::milliseconds limit);

}  // namespace test_support
