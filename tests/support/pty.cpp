#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return;
    }
    slave_ = ptsname(master_);
    // Hold the slave open so that the line stays up between the recorder's
    // close and reopen, as a cable does; and make it raw from the start.
    slaveKeep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slaveKeep_, &t);
    cfmakeraw(&t);
    tcsetattr(slaveKeep_, TCSANOW, &t);
}

Pty::~Pty()
{
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    if (master_ >= 0)
        ::close(master_);
}

void Pty::write(const std::vector<unsigned char>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0);
        done += n;
    }
}

std::vector<unsigned char> Pty::read(size_t n, double seconds)
{
    std::vector<unsigned char> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (got.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, (int)left.count()) <= 0)
            continue;
        unsigned char buf[256];
        ssize_t k = ::read(master_, buf, sizeof buf);
        if (k <= 0)
            break;
        got.insert(got.end(), buf, buf + k);
    }
    return got;
}

void Pty::closeMaster()
{
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    slaveKeep_ = -1;
    ::close(master_);
    master_ = -1;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : "";
    if (path_.empty())
        ADD_FAILURE() << "no temporary directory";
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
