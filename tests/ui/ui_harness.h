/*
 * ui_harness.h --
 *
 *	Test support for the user interface: runs the real wirepaint binary on
 *	a private Xvfb server of its own, in a temporary working folder that
 *	holds a test UI script as ./wirepaint.tcl, and reads back what the
 *	script recorded.
 *
 *	The recording script (recorder_script) builds the two canvases the
 *	program needs, defines every draw and erase procedure so that it
 *	writes the values just published to record.txt, one event a line with
 *	tab-separated fields, wraps both canvas widget commands so that the
 *	program's "yview moveto" calls are recorded too, and writes each
 *	popup's message, byte for byte, to msgN.txt. The test's own Tcl code
 *	follows; it drives the commands and ends with "destroy .".
 *
 *	A private server keeps tests that run side by side from seeing each
 *	other's windows and bells.
 */

#ifndef WIREPAINT_TESTS_UI_HARNESS_H
#define WIREPAINT_TESTS_UI_HARNESS_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/pcapgen.h"
#include "trace/trace.h"

namespace uitest {

/* A fresh empty folder under the system's temporary folder. */
inline std::string make_temp_dir()
{
    const char *base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/wirepaint-ui-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return "";
    return buf.data();
}

inline void write_file(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

/*
 * A private Xvfb server, started on a free display number (Xvfb picks it
 * and reports it through -displayfd) and stopped when the object goes.
 */
class xserver {
public:
    xserver()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 1);
            dup2(devnull, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string digits;
        struct pollfd p = {fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            digits += c;
        }
        close(fds[0]);
        if (!digits.empty())
            name_ = ":" + digits;
    }
    ~xserver()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    xserver(const xserver &) = delete;
    xserver &operator=(const xserver &) = delete;

    /* The display name (":N"), or "" when the server did not start. */
    const std::string &name() const { return name_; }
    bool ok() const { return !name_.empty(); }

private:
    pid_t pid_ = -1;
    std::string name_;
};

/*
 * Counts the bells rung on a display, through the keyboard extension's
 * bell notification.
 */
class bell_counter {
public:
    explicit bell_counter(const std::string &display)
    {
        dpy_ = XOpenDisplay(display.c_str());
        if (dpy_ == nullptr)
            return;
        int op, err, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (!XkbQueryExtension(dpy_, &op, &event_, &err, &major, &minor))
            return;
        XkbSelectEvents(dpy_, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
        XSync(dpy_, False);
        ready_ = true;
    }
    ~bell_counter()
    {
        if (dpy_ != nullptr)
            XCloseDisplay(dpy_);
    }
    bell_counter(const bell_counter &) = delete;
    bell_counter &operator=(const bell_counter &) = delete;

    bool ok() const { return ready_; }

    /* Bells seen since the counter was made. */
    int count()
    {
        XSync(dpy_, False);
        while (XPending(dpy_)) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == event_)
                seen_++;
        }
        return seen_;
    }

private:
    Display *dpy_ = nullptr;
    int event_ = 0;
    bool ready_ = false;
    int seen_ = 0;
};

/* What one run of the program left. */
struct run_result {
    int status = -1;          /* exit status, or -1 when it did not exit */
    bool timed_out = false;
    std::string out;          /* standard output */
    std::string err;          /* standard error */
};

/*
 * Starts the wirepaint binary (`bin`, the build's own by default) with
 * `args` in folder `cwd`, with DISPLAY set to `display` (unset when
 * empty), standard output and error going to stdout.txt and stderr.txt
 * there. Returns its process id.
 */
inline pid_t start_wirepaint(const std::vector<std::string> &args, const std::string &cwd,
                             const std::string &display, const std::string &bin = WIREPAINT_BINARY)
{
    std::string out_path = cwd + "/stdout.txt";
    std::string err_path = cwd + "/stderr.txt";
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (chdir(cwd.c_str()) != 0)
        _exit(126);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (display.empty())
        unsetenv("DISPLAY");
    else
        setenv("DISPLAY", display.c_str(), 1);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(bin.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
}

/*
 * Waits at most `timeout_s` seconds for the program started as `pid` in
 * `cwd`; one still running then is killed. Collects its status and output.
 */
inline run_result finish_wirepaint(pid_t pid, const std::string &cwd, int timeout_s)
{
    run_result r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    int wstatus = 0;
    for (;;) {
        pid_t w = waitpid(pid, &wstatus, WNOHANG);
        if (w == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            r.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!r.timed_out && WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    r.out = read_file(cwd + "/stdout.txt");
    r.err = read_file(cwd + "/stderr.txt");
    return r;
}

/* start_wirepaint and finish_wirepaint in one. */
inline run_result run_wirepaint(const std::vector<std::string> &args, const std::string &cwd,
                                const std::string &display, int timeout_s = 60,
                                const std::string &bin = WIREPAINT_BINARY)
{
    return finish_wirepaint(start_wirepaint(args, cwd, display, bin), cwd, timeout_s);
}

/* run_wirepaint without a display, in a folder of its own that goes
 * afterwards: for runs that end before the window would open. */
inline run_result run_headless(const std::vector<std::string> &args)
{
    std::string dir = make_temp_dir();
    run_result r = run_wirepaint(args, dir, "");
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return r;
}

/*
 * The recording UI script: canvases, recording draw and erase procedures,
 * wrapped canvas commands; `body` follows.
 */
inline std::string recorder_script(const std::string &body)
{
    static const char prelude[] = R"TCL(
frame .subframe1
canvas .subframe1.canvas -width $canvas_width -height $canvas_height \
    -scrollregion [list 0 0 $canvas_width [expr {2 * $canvas_height}]] \
    -highlightthickness 0 -borderwidth 0 -yscrollincrement 0
frame .subframe2
canvas .subframe2.canvas -width $subcanvas_width -height $subcanvas_height \
    -scrollregion [list 0 0 $subcanvas_width [expr {4 * $subcanvas_height}]] \
    -highlightthickness 0 -borderwidth 0 -yscrollincrement 0
pack .subframe1.canvas
pack .subframe2.canvas
pack .subframe1 .subframe2 -side left
set ::rec [open record.txt w]
set ::pi 0
proc rec {args} { puts $::rec [join $args "\t"]; flush $::rec }
proc drawframe {} {
    rec drawframe $::fx1(0) $::fx2(0) $::fy1(0) $::fy2(0) $::fx1(1) $::fx2(1) $::fy1(1) $::fy2(1)
}
proc drawsubframe {} {
    rec drawsubframe $::subfx1(0) $::subfx2(0) $::subfy1(0) $::subfy2(0) \
        $::subfx1(1) $::subfx2(1) $::subfy1(1) $::subfy2(1)
}
proc drawlines {} {
    rec drawlines $::linecnt
    for {set i 0} {$i < $::linecnt} {incr i} {
        rec line $i $::x1($i) $::y1($i) $::x2($i) $::y2($i) $::color($i) $::arrow($i)
    }
}
proc drawsublines {} {
    rec drawsublines $::sublinecnt
    for {set i 0} {$i < $::sublinecnt} {incr i} {
        rec subline $i $::subx1($i) $::suby1($i) $::subx2($i) $::suby2($i) $::subcolor($i)
    }
}
proc drawtexts {} {
    rec drawtexts $::textcnt
    for {set i 0} {$i < $::textcnt} {incr i} {
        rec text $i $::tx($i) $::ty($i) $::txcolor($i) $::text($i)
    }
}
proc drawtimes {} {
    rec drawtimes $::timecnt
    for {set i 0} {$i < $::timecnt} {incr i} {
        rec time $i $::tmx($i) $::tmy($i) $::tmcolor($i) $::time($i)
    }
}
proc drawbox {} { rec drawbox $::rx1 $::rx2 $::ry1 $::ry2 }
proc createpi {} {
    rec createpi [incr ::pi]
    set f [open msg$::pi.txt w]
    fconfigure $f -translation binary
    puts -nonewline $f $::message
    close $f
}
foreach p {eraselines erasesublines erasetexts erasetimes erasebox} {
    proc $p {} "rec $p"
}
rename .subframe1.canvas ::real_main_canvas
proc .subframe1.canvas {args} { rec maincanvas {*}$args; ::real_main_canvas {*}$args }
rename .subframe2.canvas ::real_over_canvas
proc .subframe2.canvas {args} { rec overcanvas {*}$args; ::real_over_canvas {*}$args }
rec sizes $canvas_width $canvas_height $subcanvas_width $subcanvas_height $appl_x $appl_y $tcldir
)TCL";
    return std::string(prelude) + body + "\n";
}

/* The events of record.txt: one vector of tab-separated fields a line. */
using record = std::vector<std::vector<std::string>>;

inline record read_record(const std::string &path)
{
    record r;
    std::istringstream in(read_file(path));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos
                                                                           : tab - start));
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        r.push_back(fields);
    }
    return r;
}

/* The events named `name`, in order. */
inline record events(const record &r, const std::string &name)
{
    record out;
    for (const auto &e : r) {
        if (!e.empty() && e[0] == name)
            out.push_back(e);
    }
    return out;
}

/* A mark is an event whose name begins with '@', written by the test's
 * own Tcl code ("rec @step"). The events from the mark named `mark` up to,
 * not including, the next mark. */
inline record section(const record &r, const std::string &mark)
{
    record out;
    bool inside = false;
    for (const auto &e : r) {
        bool is_mark = !e.empty() && !e[0].empty() && e[0][0] == '@';
        if (is_mark)
            inside = e[0] == mark;
        if (inside)
            out.push_back(e);
    }
    return out;
}

/*
 * A run of the program on a private server with a recording script.
 */
struct session {
    xserver x;
    std::string dir = make_temp_dir();
    run_result result;
    record rec;

    session() = default;
    session(const session &) = delete;
    session &operator=(const session &) = delete;
    /* The folder goes with the session unless WIREPAINT_KEEP_TMP is set. */
    ~session()
    {
        if (!dir.empty() && std::getenv("WIREPAINT_KEEP_TMP") == nullptr) {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    }

    /* Writes the recorder with `body` and runs the program with `args`. */
    void run(const std::string &body, const std::vector<std::string> &args, int timeout_s = 60)
    {
        write_file(dir + "/wirepaint.tcl", recorder_script(body));
        result = run_wirepaint(args, dir, x.name(), timeout_s);
        rec = read_record(dir + "/record.txt");
    }
    std::string message(int n) const { return read_file(dir + "/msg" + std::to_string(n) + ".txt"); }
};

/* The working folder's script: a recorder, the real script, the body. */
inline std::string real_script(const std::string &body)
{
    return "set ::rec [open record.txt w]\n"
           "proc rec {args} { puts $::rec [join $args \"\\t\"]; flush $::rec }\n"
           "source {" WIREPAINT_SOURCE_DIR "/script/wirepaint.tcl}\n"
           "update\n" +
           body + "\n";
}

/*
 * A run of the program on a private server with the real UI script: the
 * working folder's ./wirepaint.tcl opens the recorder, sources the real
 * script and runs the test's own Tcl code.
 */
struct real_session {
    xserver x;
    std::string dir = make_temp_dir();
    run_result result;
    record rec;

    ~real_session()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    void run(const std::string &body, const std::vector<std::string> &args, int timeout_s = 60)
    {
        write_file(dir + "/wirepaint.tcl", real_script(body));
        result = run_wirepaint(args, dir, x.name(), timeout_s);
        rec = read_record(dir + "/record.txt");
    }
};

/* 10.0.0.1:40000 opens to 10.0.0.2:80; the SYN-ACK comes back 20 ms
 * later. The capture holds these two segments only, so the first line's
 * delay is half the SYN's round trip: 10 ms. */
inline std::string handshake_capture()
{
    pcapgen::capture c;
    pcapgen::tcp_seg syn;
    syn.flags = TH_SYN;
    syn.seq = 1000;
    syn.ip_id = 0x4321;
    pcapgen::tcp_seg synack;
    synack.src = "10.0.0.2";
    synack.dst = "10.0.0.1";
    synack.sport = 80;
    synack.dport = 40000;
    synack.flags = TH_SYN | TH_ACK;
    synack.seq = 5000;
    synack.ack = 1001;
    synack.ip_id = 0x1234;
    c.add(pcapgen::build_tcp(syn), 0.0);
    c.add(pcapgen::build_tcp(synack), 0.02);
    return c.write();
}

}  // namespace uitest

#endif
