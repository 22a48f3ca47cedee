// tarvo-lines: the far ends of serial lines for the Windows tests running
// under wine. Wine maps a port COMn to whatever $WINEPREFIX/dosdevices/comn
// links to, so a pseudo-terminal slave becomes a COM port; but a program
// under wine cannot hold a pty master or start tarvo-board itself. This
// server, native, does that on its behalf.
//
//   tarvo-lines DOSDEVICES_DIR TARVO_BOARD
//
// It listens on a loopback TCP port, prints that port number as its first
// line, and serves each connection as one line, text requests and replies
// one per line:
//
//   pty                 a pseudo-terminal, raw, whose master this server holds
//                       -> "ok COMn"
//   board ARG...        tarvo-board ARG... on a pty -> "ok COMn"
//   write HEX           (pty) the far end sends these bytes -> "ok"
//   read N MS           (pty) what the port sent, up to N bytes, waiting up
//                       to MS milliseconds -> "ok HEX"
//   hangup              (pty) the far end goes away -> "ok"
//   stop                (board) SIGTERM, wait -> "ok STATUS HEXLOG" (its log)
//
// A failure is "error TEXT". Closing the connection ends its line: the pty
// is closed, the board stopped, the COM link removed. SIGTERM ends the
// server the same way for every line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/pty.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string gDosDevices, gBoardExe;

// Every COM link and board of every line, for the cleanup at SIGTERM.
struct Registry {
    std::mutex mutex;
    std::set<std::string> links;
    std::set<pid_t> boards;
};
Registry gRegistry;

std::string hex(const unsigned char* p, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

bool unhex(const std::string& s, std::vector<unsigned char>* out)
{
    if (s.size() % 2)
        return false;
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const int hi = nibble(s[i]), lo = nibble(s[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return true;
}

// Takes a free COM name by creating its link; another server under the same
// prefix (ctest -j) takes others. Returns the number, 0 when none is free.
int reserveCom(const std::string& target, std::string* link)
{
    const int first = 20 + static_cast<int>(getpid() % 200);
    for (int i = 0; i < 230; ++i) {
        const int n = 20 + (first - 20 + i) % 230;
        const std::string path = gDosDevices + "/com" + std::to_string(n);
        if (symlink(target.c_str(), path.c_str()) == 0) {
            *link = path;
            std::lock_guard lock(gRegistry.mutex);
            gRegistry.links.insert(path);
            return n;
        }
    }
    return 0;
}

void dropLink(const std::string& link)
{
    if (link.empty())
        return;
    unlink(link.c_str());
    std::lock_guard lock(gRegistry.mutex);
    gRegistry.links.erase(link);
}

class Line {
public:
    explicit Line(int sock) : sock_(sock) {}
    ~Line()
    {
        closePty();
        stopBoard();
        dropLink(link_);
        close(sock_);
    }

    void serve()
    {
        std::string request;
        while (readLine(&request)) {
            if (!reply(handle(request)))
                break;
        }
    }

private:
    std::string handle(const std::string& request)
    {
        std::istringstream in(request);
        std::string verb;
        in >> verb;
        if (verb == "pty")
            return openPty();
        if (verb == "board") {
            std::vector<std::string> args;
            for (std::string a; in >> a;)
                args.push_back(a);
            return startBoard(args);
        }
        if (verb == "write") {
            std::string h;
            in >> h;
            std::vector<unsigned char> bytes;
            if (!unhex(h, &bytes))
                return "error bad hex";
            return writeAll(bytes);
        }
        if (verb == "read") {
            std::size_t n = 0;
            long ms = 0;
            if (!(in >> n >> ms))
                return "error read N MS";
            return readSome(n, ms);
        }
        if (verb == "hangup") {
            if (master_ < 0)
                return "error no pty";
            closePty();
            return "ok";
        }
        if (verb == "stop")
            return stopBoard();
        return "error unknown request '" + verb + "'";
    }

    std::string openPty()
    {
        if (master_ >= 0 || board_ > 0)
            return "error the line is in use";
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return "error no pseudo-terminal";
        const std::string slave = ptsname(master_);
        // Held open, as a cable is always there: the port's settings stay
        // between its close and reopen, and the master sees no hang-up then.
        slave_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        const int n = reserveCom(slave, &link_);
        return n > 0 ? "ok COM" + std::to_string(n) : "error no free COM name";
    }

    std::string startBoard(const std::vector<std::string>& options)
    {
        if (master_ >= 0 || board_ > 0)
            return "error the line is in use";
        // The name is taken with a placeholder; the board replaces it with
        // the link to its slave.
        const int n = reserveCom("/nonexistent/tarvo-lines", &link_);
        if (n == 0)
            return "error no free COM name";
        char logTemplate[] = "/tmp/tarvo-lines-XXXXXX";
        const int logFd = mkstemp(logTemplate);
        if (logFd < 0)
            return "error no log file";
        close(logFd);
        logPath_ = logTemplate;

        std::vector<std::string> argv = {gBoardExe, "--link", link_, "--log", logPath_};
        argv.insert(argv.end(), options.begin(), options.end());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        board_ = fork();
        if (board_ == 0) {
            // The board prints its slave's path; the tests read the link.
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
        if (board_ < 0)
            return "error cannot start the board";
        {
            std::lock_guard lock(gRegistry.mutex);
            gRegistry.boards.insert(board_);
        }
        // Generous: in CI the Windows check runs beside the builds of the
        // other stages, and the board is one more process on a busy machine.
        const auto end = Clock::now() + std::chrono::seconds(90);
        char target[256];
        while (Clock::now() < end) {
            const ssize_t k = readlink(link_.c_str(), target, sizeof target - 1);
            if (k > 0 && std::string(target, std::size_t(k)).rfind("/dev/", 0) == 0)
                return "ok COM" + std::to_string(n);
            int status = 0;
            if (waitpid(board_, &status, WNOHANG) == board_) {
                forgetBoard();
                return "error the board exited at once (status " + std::to_string(status) + ")";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return "error the board made no link";
    }

    std::string stopBoard()
    {
        if (board_ <= 0)
            return "error no board";
        kill(board_, SIGTERM);
        int status = -1;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (waitpid(board_, &status, WNOHANG) == 0) {
            if (Clock::now() > end) {
                kill(board_, SIGKILL);
                waitpid(board_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        forgetBoard();
        std::ifstream in(logPath_, std::ios::binary);
        const std::string log((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        unlink(logPath_.c_str());
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return "ok " + std::to_string(code) + " " +
               hex(reinterpret_cast<const unsigned char*>(log.data()), log.size());
    }

    void forgetBoard()
    {
        std::lock_guard lock(gRegistry.mutex);
        gRegistry.boards.erase(board_);
        board_ = 0;
    }

    std::string writeAll(const std::vector<unsigned char>& bytes)
    {
        if (master_ < 0)
            return "error no pty";
        const auto end = Clock::now() + std::chrono::seconds(20);
        std::size_t done = 0;
        while (done < bytes.size()) {
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0) {
                if (Clock::now() > end)
                    return "error the port takes no more bytes";
                continue;
            }
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return "error write: " + std::string(strerror(errno));
            if (n > 0)
                done += std::size_t(n);
        }
        return "ok";
    }

    std::string readSome(std::size_t n, long ms)
    {
        if (master_ < 0)
            return "error no pty";
        const auto got = readUntil(master_, n, Clock::now() + std::chrono::milliseconds(ms));
        return "ok " + hex(got.data(), got.size());
    }

    void closePty()
    {
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
        slave_ = master_ = -1;
    }

    bool readLine(std::string* line)
    {
        line->clear();
        for (;;) {
            const auto nl = pending_.find('\n');
            if (nl != std::string::npos) {
                *line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return true;
            }
            char buf[65536];
            const ssize_t n = recv(sock_, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            pending_.append(buf, std::size_t(n));
        }
    }

    bool reply(const std::string& text)
    {
        const std::string out = text + "\n";
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = send(sock_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

    int sock_;
    std::string pending_;
    int master_ = -1, slave_ = -1;
    pid_t board_ = 0;
    std::string link_, logPath_;
};

[[noreturn]] void cleanUpAndExit()
{
    std::lock_guard lock(gRegistry.mutex);
    for (pid_t b : gRegistry.boards)
        kill(b, SIGTERM);
    for (pid_t b : gRegistry.boards)
        waitpid(b, nullptr, 0);
    for (const auto& l : gRegistry.links)
        unlink(l.c_str());
    _exit(0);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tarvo-lines DOSDEVICES_DIR TARVO_BOARD\n");
        return 2;
    }
    gDosDevices = argv[1];
    gBoardExe = argv[2];
    struct stat st {};
    if (stat(gDosDevices.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "tarvo-lines: %s is not a directory\n", gDosDevices.c_str());
        return 2;
    }

    // Termination is taken by one thread, so the cleanup runs outside a
    // signal handler and can lock the registry.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    std::thread([stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        cleanUpAndExit();
    }).detach();

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::fprintf(stderr, "tarvo-lines: cannot listen: %s\n", strerror(errno));
        return 1;
    }
    std::printf("%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    for (;;) {
        const int sock = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (sock < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        std::thread([sock] { Line(sock).serve(); }).detach();
    }
    cleanUpAndExit();
}
