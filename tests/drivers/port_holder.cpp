// Holds a port's lock the way another program would, until it is killed: the guest's
// stand-in for a terminal program that has the port open. Says "held" once it has it.

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int port = argc == 2 ? open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK) : -1;
    if (port < 0 || flock(port, LOCK_EX | LOCK_NB) != 0) {
        std::perror("port_holder");
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    pause();
}
