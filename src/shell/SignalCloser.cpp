#include "shell/SignalCloser.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {
int g_fds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void signalHandler(int sig) {
    const unsigned char byte = static_cast<unsigned char>(sig);
    const int saved = errno;
    [[maybe_unused]] ssize_t n = ::write(g_fds[0], &byte, 1);
    errno = saved;
}
}  // namespace

SignalCloser::SignalCloser(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    if (g_fds[0] >= 0) return;  // one instance per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
    ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    notifier_ = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalCloser::readSignal);
    struct sigaction sa {};
    sa.sa_handler = signalHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    installed_ = true;
    for (int sig : kSignals)
        if (::sigaction(sig, &sa, nullptr) != 0) installed_ = false;
}

SignalCloser::~SignalCloser() {
    if (!notifier_) return;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void SignalCloser::readSignal() {
    unsigned char byte = 0;
    if (::read(g_fds[1], &byte, 1) == 1 && onSignal_) onSignal_(byte);
}
