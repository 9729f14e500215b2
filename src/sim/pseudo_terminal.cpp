#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qm730::sim {

namespace {

[[noreturn]] void throwSystem(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throwSystem("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throwSystem("tcsetattr");
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) throwSystem("posix_openpt");
    try {
        if (::grantpt(master_) != 0) throwSystem("grantpt");
        if (::unlockpt(master_) != 0) throwSystem("unlockpt");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0) throwSystem("ptsname_r");
        slavePath_ = name;
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave_ < 0) throwSystem("open slave");
        makeRaw(slave_);
        makeRaw(master_);
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) throwSystem("fcntl");
    } catch (...) {
        if (slave_ >= 0) ::close(slave_);
        ::close(master_);
        throw;
    }
}

void PseudoTerminal::close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

PseudoTerminal::~PseudoTerminal() { close(); }

}  // namespace qm730::sim
