#include "pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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
    return readFor(master_, n, seconds);
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
