#include "childprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <utility>
#include <stdexcept>

namespace v2bsp {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
        read = ends[0];
        write = ends[1];
    }
};

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

// Reads both pipes to their ends while the child runs; kills it at the limit.
ChildOutcome collect(pid_t child, Pipe& out, Pipe& err, Clock::time_point start, std::chrono::milliseconds limit) {
    ::close(out.write);
    ::close(err.write);
    ChildOutcome outcome;
    pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
    std::string* texts[2] = {&outcome.out, &outcome.err};
    int open_pipes = 2;
    bool killed = false;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + limit - Clock::now());
        if (left.count() <= 0) {
            ::kill(child, SIGKILL);
            killed = true;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.finished = !killed;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    outcome.peakbytes = static_cast<std::int64_t>(usage.ru_maxrss) * 1024;  // Linux reports KiB
    return outcome;
}

}  // namespace

ChildOutcome runForked(const std::function<int(std::ostream& out, std::ostream& err)>& body,
                       std::chrono::milliseconds limit) {
    Pipe out;
    Pipe err;
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        std::ostringstream out_text;
        std::ostringstream err_text;
        int status = 125;
        try {
            status = body(out_text, err_text);
        } catch (const std::exception& failure) {
            err_text << "uncaught exception: " << failure.what() << '\n';
        }
        writeAll(out.write, out_text.str());
        writeAll(err.write, err_text.str());
        ::_exit(status);
    }
    return collect(child, out, err, start, limit);
}

ChildOutcome runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                        const ProgramSetup& setup) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    Pipe out;
    Pipe err;
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(out.write, STDOUT_FILENO);
        ::dup2(err.write, STDERR_FILENO);
        if (!setup.stdoutfile.empty()) {
            const int file = ::open(setup.stdoutfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (file < 0 || ::dup2(file, STDOUT_FILENO) < 0) ::_exit(126);
        }
        if (setup.closedStdout) {
            int ends[2];
            if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0) ::_exit(126);
            ::close(ends[0]);
        }
        for (const auto& [resource, value] : {std::pair{RLIMIT_AS, setup.addressspace},
                                             std::pair{RLIMIT_DATA, setup.datasize},
                                             std::pair{RLIMIT_STACK, setup.stacksize},
                                             std::pair{RLIMIT_FSIZE, setup.fileSizeLimit},
                                             std::pair{RLIMIT_CPU, std::uint64_t{setup.cpuSeconds}}}) {
            const rlimit limit{value, value};
            if (value != 0 && ::setrlimit(resource, &limit) != 0) ::_exit(126);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return collect(child, out, err, start, limit);
}

}  // namespace v2bsp
