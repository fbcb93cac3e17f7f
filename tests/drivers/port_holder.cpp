// The guest's other program on a port.
//   holder PORT            holds the port's lock the way another program would, until it
//                          is killed: a terminal program that has the port open. Says
//                          "held" once it has it.
//   holder --as-user PORT  opens the port and takes its lock as user 65534, as the next
//                          program to use the port after a run would; says whether it could.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const bool asUser = argc == 3 && std::strcmp(argv[1], "--as-user") == 0;
    if (!asUser && argc != 2) {
        std::fputs("usage: holder [--as-user] PORT\n", stderr);
        return 2;
    }
    if (asUser && (setgid(65534) != 0 || setuid(65534) != 0)) {
        std::perror("holder: user 65534");
        return 1;
    }
    const char* path = argv[argc - 1];
    const int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (port < 0 || flock(port, LOCK_EX | LOCK_NB) != 0) {
        std::printf("user %d could not open %s: %s\n", static_cast<int>(getuid()), path, std::strerror(errno));
        return 1;
    }
    if (asUser) {
        std::printf("user 65534 opened %s\n", path);
        return 0;
    }
    std::puts("held");
    std::fflush(stdout);
    pause();
}
