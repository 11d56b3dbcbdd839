// norvale-supervise: the per-job supervisor. Runs one program and makes sure nothing outlives the
// application that asked for it (norvale.worker.process starts one for every program it runs).
//
//   norvale-supervise [-u USER] STDOUT STDERR CWD N CLEANUP_1 .. CLEANUP_N ARGV_0 ARGV_1 ...
//
// Starts ARGV in CWD, in a process group of its own, stdin from /dev/null, output to the files
// STDOUT and STDERR (made empty first), with the supervisor's own environment (the application gives the
// program's). With -u, the program runs as USER (its groups, then its group and user id). Answers
// on stdout, one line each:
//
//   started <pid>            the program runs
//   error <errno> <text>     the program could not be started (nothing runs)
//   exit <status>            the program ended (negative: killed by that signal); the supervisor ends
//   killed                   the program's tree was stopped on request; the supervisor ends
//
// While the program runs the supervisor watches its stdin, which only the application holds open:
// a line "kill" stops the whole process tree; end of file (the application exited, was killed or
// crashed) stops the tree and removes the CLEANUP paths. SIGTERM and SIGHUP count as end of file;
// SIGINT is ignored (the supervisor runs in a session of its own; Ctrl+C reaches the application,
// which then asks for "kill").

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int g_signal_pipe[2] = {-1, -1};

void on_signal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &byte, 1);
    errno = saved;
}

void answer(const std::string &line) {
    std::string text = line + "\n";
    const char *p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the application is gone; end of file on stdin follows
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

/// Answers that the program could not be started, with errno `e`.
void answer_error(int e, const std::string &text) { answer("error " + std::to_string(e) + " " + text); }
void answer_error(int e) { answer_error(e, std::strerror(e)); }

/// Waits for `pid` to end; its wait status.
int reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

/// Parent pid of every process, read from /proc/<pid>/stat (fields after the last ')').
std::unordered_map<pid_t, std::vector<pid_t>> children_map() {
    std::unordered_map<pid_t, std::vector<pid_t>> children;
    DIR *proc = opendir("/proc");
    if (!proc) return children;
    while (dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char path[64], buf[1024];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf - 1);
        close(fd);
        if (n <= 0) continue;
        buf[n] = '\0';
        const char *close_paren = std::strrchr(buf, ')');
        if (!close_paren) continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(close_paren + 1, " %c %ld", &state, &ppid) == 2)
            children[static_cast<pid_t>(ppid)].push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return children;
}

/// The processes below `pid` (children, grandchildren, ...), as seen now.
std::vector<pid_t> descendants(pid_t pid) {
    const auto tree = children_map();
    std::vector<pid_t> found, todo{pid};
    while (!todo.empty()) {
        const pid_t at = todo.back();
        todo.pop_back();
        auto it = tree.find(at);
        if (it == tree.end()) continue;
        for (pid_t child : it->second) {
            found.push_back(child);
            todo.push_back(child);
        }
    }
    return found;
}

void signal_all(pid_t pid, const std::vector<pid_t> &pids, int sig) {
    kill(pid, sig);
    for (pid_t p : pids) kill(p, sig);
}

/// Kills the program, its process group and every descendant, including ones that left the
/// group; stops the tree first so nothing forks while it is being collected. Reaps the program.
void kill_tree(pid_t pid) {
    std::vector<pid_t> pids;
    for (int round = 0; round < 3; ++round) {
        pids = descendants(pid);
        signal_all(pid, pids, SIGSTOP);
        const std::vector<pid_t> now = descendants(pid);
        const std::unordered_set<pid_t> known(pids.begin(), pids.end());
        bool grown = false;
        for (pid_t p : now) grown = grown || known.count(p) == 0;
        if (!grown) break;
    }
    killpg(pid, SIGKILL);
    std::vector<pid_t> all = descendants(pid);
    all.insert(all.end(), pids.begin(), pids.end());
    signal_all(pid, all, SIGKILL);
    reap(pid);
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
    remove(path);
    return 0;
}

void cleanup(const std::vector<std::string> &paths) {
    for (const std::string &path : paths) nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

/// What to run: the command line the supervisor was given.
struct Command {
    const char *user = nullptr;
    const char *stdout_path = nullptr;
    const char *stderr_path = nullptr;
    const char *cwd = nullptr;
    std::vector<std::string> cleanup;
    std::vector<char *> argv;
};

bool parse(int argc, char **argv, Command &command) {
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "-u") == 0) {
        command.user = argv[i + 1];
        i += 2;
    }
    if (argc - i < 4) return false;
    command.stdout_path = argv[i++];
    command.stderr_path = argv[i++];
    command.cwd = argv[i++];
    char *end = nullptr;
    const long n = std::strtol(argv[i++], &end, 10);
    if (*end != '\0' || n < 0 || n > argc - i) return false;
    for (long k = 0; k < n; ++k) command.cleanup.emplace_back(argv[i++]);
    if (i >= argc) return false;
    for (; i < argc; ++i) command.argv.push_back(argv[i]);
    command.argv.push_back(nullptr);
    return true;
}

/// The user to start the program as, looked up before the fork.
struct User {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

/// In the child: becomes `user` (its supplementary groups, group id, user id); false with errno.
bool become(const User &user) {
    return initgroups(user.name.c_str(), user.gid) == 0 && setgid(user.gid) == 0 && setuid(user.uid) == 0;
}

/// Closes every descriptor from `first` on except `keep`.
void close_from(int first, int keep) {
#ifdef SYS_close_range
    if (keep > first && syscall(SYS_close_range, first, keep - 1, 0) == 0 &&
        syscall(SYS_close_range, keep + 1, ~0U, 0) == 0)
        return;
#endif
    const long limit = sysconf(_SC_OPEN_MAX);
    for (int fd = first; fd < (limit > 0 ? limit : 65536); ++fd)
        if (fd != keep) close(fd);
}

/// In the child, after fork: never returns. A failure is written to `report` as its errno.
[[noreturn]] void start_program(const Command &command, const User *user, int out, int err, int report) {
    setpgid(0, 0);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = 0;
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull < 0 || dup2(devnull, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0 ||
        dup2(err, STDERR_FILENO) < 0) {
        error = errno;
    } else if (chdir(command.cwd) != 0) {
        error = errno;
    } else if (user && !become(*user)) {
        error = errno;
    } else {
        // Close everything else; `report` is close-on-exec and tells the supervisor if exec fails.
        close_from(3, report);
        execvp(command.argv[0], command.argv.data());
        error = errno;
    }
    [[maybe_unused]] ssize_t n = write(report, &error, sizeof error);
    _exit(127);
}

int status_of(int status) {
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char **argv) {
    Command command;
    if (!parse(argc, argv, command)) {
        std::fprintf(stderr, "usage: norvale-supervise [-u USER] STDOUT STDERR CWD N CLEANUP... ARGV...\n");
        return 2;
    }
    if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGINT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC;
    const int out = open(command.stdout_path, flags, 0666);
    const int err = out < 0 ? -1 : open(command.stderr_path, flags, 0666);
    if (out < 0 || err < 0) {
        answer_error(errno);
        return 0;
    }
    User user;
    if (command.user) {
        errno = 0;
        const passwd *pw = getpwnam(command.user);
        if (!pw) {
            answer_error(errno ? errno : EINVAL, std::string("no such user: ") + command.user);
            return 0;
        }
        user = User{pw->pw_name, pw->pw_uid, pw->pw_gid};
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        answer_error(errno);
        return 0;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        answer_error(errno);
        return 0;
    }
    if (pid == 0) start_program(command, command.user ? &user : nullptr, out, err, report[1]);
    close(report[1]);
    close(out);
    close(err);
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        reap(pid);
        answer_error(error);
        return 0;
    }
    answer("started " + std::to_string(pid));

    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    std::string pending;
    bool abandoned = false;
    for (;;) {
        if (pending.find("kill") != std::string::npos) break;
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}, {pidfd, POLLIN, 0}};
        const int ready = poll(fds, pidfd >= 0 ? 3 : 2, pidfd >= 0 ? -1 : 200);
        if (ready < 0 && errno != EINTR) break;
        if (fds[1].revents) {
            abandoned = true;
            break;
        }
        if (fds[0].revents) {
            char buf[64];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                abandoned = true;
                break;
            }
            pending.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            // the program is done; what it left running in its group goes too (its children were
            // handed to init when it exited, so the group is what still identifies them)
            killpg(pid, SIGKILL);
            answer("exit " + std::to_string(status_of(status)));
            return 0;
        }
    }
    signal(SIGTERM, SIG_IGN);  // finish the clean-up whatever arrives now
    signal(SIGHUP, SIG_IGN);
    kill_tree(pid);
    if (abandoned) cleanup(command.cleanup);
    else answer("killed");
    return 0;
}
