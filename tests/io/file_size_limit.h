#pragma once
// Runs code in a forked child process whose files may not grow beyond a limit, as on a full disk:
// there a write past the limit fails with EFBIG (SIGXFSZ is ignored). The limit never reaches the
// test process itself.

#include <QByteArray>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct LimitedRun {
    bool exited = false; // the child ended through exit, not a signal
    int status = -1;     // its exit status
    QByteArray message;  // what body put in its message
};

// body returns the child's exit status and may fill message, which travels back through a pipe
// (pipes are not subject to the limit).
inline LimitedRun runWithFileSizeLimit(rlim_t bytes, const std::function<int(QByteArray& message)>& body) {
    LimitedRun run;
    int fds[2];
    if (::pipe(fds) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        int status = 100;
        QByteArray message;
        if (::setrlimit(RLIMIT_FSIZE, &limit) == 0)
            status = body(message);
        for (qsizetype sent = 0; sent < message.size();) {
            const ssize_t n = ::write(fds[1], message.constData() + sent, std::size_t(message.size() - sent));
            if (n <= 0)
                break;
            sent += n;
        }
        ::_exit(status); // no exit handlers: the parent's state is not the child's to tear down
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        run.message.append(buffer, n);
    ::close(fds[0]);
    int wstatus = 0;
    if (pid > 0 && ::waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) {
        run.exited = true;
        run.status = WEXITSTATUS(wstatus);
    }
    return run;
}
