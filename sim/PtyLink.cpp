#include "PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace torvexsim {

namespace {

[[noreturn]] void raise(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyLink::~PtyLink() { close(); }

void PtyLink::open()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        raise("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        raise("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0)
        raise("ptsname_r");
    slavePath_ = name;

    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        raise("open " + slavePath_);
    // Raw: the frames carry CRs and control bytes that must pass unchanged.
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0)
        raise("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0)
        raise("tcsetattr");

    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
        raise("fcntl");
}

void PtyLink::publish(const std::string &linkPath)
{
    struct stat st{};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            raise(linkPath + " exists and is not a symlink");
        }
        if (::unlink(linkPath.c_str()) != 0)
            raise("unlink " + linkPath);
    }
    if (::symlink(slavePath_.c_str(), linkPath.c_str()) != 0)
        raise("symlink " + linkPath);
    linkPath_ = linkPath;
}

int PtyLink::pendingToHost() const
{
    int n = 0;
    if (slave_ < 0 || ::ioctl(slave_, TIOCINQ, &n) != 0)
        return -1;
    return n;
}

void PtyLink::hangUp()
{
    // Closing the master hangs the line up for the host. Our slave handle
    // stays open until close(): while it is held the kernel cannot give this
    // pty's number to a new pty, which the host would otherwise reopen.
    if (master_ >= 0)
        ::close(master_);
    master_ = -1;
}

void PtyLink::close()
{
    hangUp();
    if (slave_ >= 0)
        ::close(slave_);
    slave_ = -1;
    if (!linkPath_.empty()) {
        // Only our own link: someone may have replaced it since.
        char target[256];
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, std::size_t(n)) == slavePath_)
            ::unlink(linkPath_.c_str());
        linkPath_.clear();
    }
}

}  // namespace torvexsim
