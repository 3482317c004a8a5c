#pragma once
// Permission checks do not stop root. When the tests run as root, the code
// under test runs in a child process that has given up root first.

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Runs check as an ordinary user and returns its answer (false if the child
// could not be run).
inline bool runUnprivileged(const std::function<bool()>& check)
{
    if (geteuid() != 0)
        return check();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(3);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace testsupport
