// Desktop services on a Linux desktop: SDL message boxes, the X11 bell, and
// zenity and xdg-open run as child processes while the window keeps pumping.
#include <SDL.h>
#include <SDL_syswm.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef GLIMMERDEX_HAVE_X11
#include <X11/Xlib.h>
#endif

#include "host/desktop.h"
#include "host/host_sdl.h"
#include "host/window.h"

namespace {

// A dialog's answer is one path or one colour; more is not an answer.
constexpr size_t DESKTOP_CHILD_OUTPUT_LIMIT = 64 * 1024;
constexpr int DESKTOP_CHILD_MISSING = 127;  // the exit status when exec failed

bool have_display() { return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"); }

// Runs argv[0] with its standard output captured, pumping the window while
// it runs. Returns the exit status, DESKTOP_CHILD_MISSING when it could not start.
int run_child(const std::vector<std::string>& args, std::string* output)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return DESKTOP_CHILD_MISSING;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return DESKTOP_CHILD_MISSING;
    }
    if (pid == 0) {
        dup2(out[1], 1);
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 2);
        }
        execvp(argv[0], argv.data());
        _exit(DESKTOP_CHILD_MISSING);
    }
    close(out[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    // Until the child exits: helpers it starts may keep the pipe open.
    int status = 0;
    bool exited = false;
    while (!exited) {
        pollfd p{out[0], POLLIN, 0};
        poll(&p, 1, 10);
        exited = waitpid(pid, &status, WNOHANG) == pid;
        for (;;) {
            char buffer[4096];
            ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            if (output && output->size() < DESKTOP_CHILD_OUTPUT_LIMIT)
                output->append(buffer, size_t(n));
        }
        if (host_sdl_window())
            host_sdl_pump_modal();
    }
    close(out[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : DESKTOP_CHILD_MISSING;
}

std::string first_line(const std::string& s)
{
    size_t end = s.find('\n');
    return s.substr(0, end);
}

void zenity_missing(bool owned)
{
    desktop_message_box(owned, "This dialog needs the program zenity, which was not found.", host_name);
}

// Windows patterns to zenity's: "*.*" means every file, and a Thumbs.db
// copied from Windows may carry any letter case.
std::string filter_argument(const DesktopFileFilter& f)
{
    std::string pattern = f.pattern;
    if (pattern == "*.*")
        pattern = "*";
    else if (strcasecmp(f.pattern, "Thumbs.db") == 0)
        pattern = "Thumbs.db thumbs.db THUMBS.DB";
    return std::string("--file-filter=") + f.name + " | " + pattern;
}

int file_dialog(bool save, bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                const char* default_extension, char* path, int path_size)
{
    std::vector<std::string> args{"zenity", "--file-selection", std::string("--title=") + (title ? title : "")};
    if (save) {
        args.push_back("--save");
        args.push_back("--confirm-overwrite");
    }
    if (path && path[0])
        args.push_back(std::string("--filename=") + path);
    for (int i = 0; filters && i < filter_count; ++i)
        args.push_back(filter_argument(filters[i]));
    std::string output;
    int status = run_child(args, &output);
    if (status == DESKTOP_CHILD_MISSING) {
        zenity_missing(owned);
        return 0;
    }
    std::string chosen = first_line(output);
    if (status != 0 || chosen.empty())
        return 0;
    // A save name typed without an extension gets the default one, as the
    // Windows dialog adds it.
    if (save && default_extension && default_extension[0]) {
        size_t slash = chosen.find_last_of('/');
        std::string base = chosen.substr(slash == std::string::npos ? 0 : slash + 1);
        if (base.find('.') == std::string::npos)
            chosen += std::string(".") + default_extension;
    }
    if (!path || chosen.size() >= size_t(path_size))
        return 0;
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    if (!save) {
        size_t slash = chosen.find_last_of('/');
        if (slash != std::string::npos) {
            std::string folder = slash == 0 ? "/" : chosen.substr(0, slash);
            if (chdir(folder.c_str()) != 0)
                return 0;
        }
    }
    return 1;
}

}  // namespace

void desktop_message_box(bool owned, const char* text, const char* caption)
{
    text = text ? text : "";
    caption = caption ? caption : "";
    SDL_Window* parent = owned ? host_sdl_window() : nullptr;
    if (!have_display() || SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption, text, parent) != 0)
        std::fprintf(stderr, "%s: %s\n", caption, text);
}

void desktop_beep()
{
#ifdef GLIMMERDEX_HAVE_X11
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    SDL_Window* window = host_sdl_window();
    if (window && SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        XBell(info.info.x11.display, 0);
        XFlush(info.info.x11.display);
        return;
    }
#endif
    std::fputc('\a', stderr);
    std::fflush(stderr);
}

int desktop_open_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    return file_dialog(false, owned, title, filters, filter_count, default_extension, path, path_size);
}

int desktop_save_dialog(bool owned, const char* title, const DesktopFileFilter* filters, int filter_count,
                        const char* default_extension, char* path, int path_size)
{
    return file_dialog(true, owned, title, filters, filter_count, default_extension, path, path_size);
}

int desktop_choose_colour(bool owned, uint32_t* colour, uint32_t custom_colours[DESKTOP_CUSTOM_COLOURS])
{
    // zenity keeps its own custom palette; ours stays as the caller left it.
    (void)custom_colours;
    uint32_t c = *colour;
    char initial[48];
    std::snprintf(initial, sizeof initial, "--color=rgb(%u,%u,%u)", c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF);
    std::string output;
    int status = run_child({"zenity", "--color-selection", "--show-palette", initial}, &output);
    if (status == DESKTOP_CHILD_MISSING) {
        zenity_missing(owned);
        return 0;
    }
    if (status != 0)
        return 0;
    std::string answer = first_line(output);
    unsigned r = 0, g = 0, b = 0;
    if (std::sscanf(answer.c_str(), "rgb(%u,%u,%u)", &r, &g, &b) != 3 &&
        std::sscanf(answer.c_str(), "rgba(%u,%u,%u", &r, &g, &b) != 3) {
        unsigned hex = 0;
        if (std::sscanf(answer.c_str(), "#%6x", &hex) != 1)
            return 0;
        r = hex >> 16 & 0xFF;
        g = hex >> 8 & 0xFF;
        b = hex & 0xFF;
    }
    if (r > 255 || g > 255 || b > 255)
        return 0;
    *colour = r | g << 8 | b << 16;
    return 1;
}

int desktop_shell_open(const char* name)
{
    if (!name || !name[0])
        return 0;
    struct stat st;
    if (stat(name, &st) != 0)
        return 0;
    std::string absolute = name;
    if (name[0] != '/') {
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return 0;
        absolute = std::string(cwd) + "/" + name;
    }
    // The launcher runs in a grandchild so that nothing waits for the viewer
    // it starts; the child reports whether exec succeeded.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return 0;
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return 0;
    }
    if (pid == 0) {
        if (fork() != 0)
            _exit(0);
        setsid();
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
        }
        execlp("xdg-open", "xdg-open", absolute.c_str(), static_cast<char*>(nullptr));
        char failed = 1;
        ssize_t ignored = write(report[1], &failed, 1);
        (void)ignored;
        _exit(DESKTOP_CHILD_MISSING);
    }
    close(report[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    char failed = 0;
    ssize_t n;
    while ((n = read(report[0], &failed, 1)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return n == 1 ? 0 : 1;
}
