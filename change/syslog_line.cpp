#include "syslog_line.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int USER_NOTICE = 1 * 8 + 5;  // facility user, severity notice
constexpr char LOG_SOCKET[] = "/dev/log";

}  // namespace

void syslog_notice(const char *tag, const char *message) {
    char line[2048];
    char when[32] = "";
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local)) strftime(when, sizeof when, "%b %e %H:%M:%S", &local);
    int n = snprintf(line, sizeof line, "<%d>%s %s[%ld]: %s", USER_NOTICE, when, tag,
                     static_cast<long>(getpid()), message);
    if (n < 0) return;
    const size_t length =
        static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, LOG_SOCKET, sizeof LOG_SOCKET);
    (void)!sendto(fd, line, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr *>(&address), sizeof address);
    close(fd);
}
