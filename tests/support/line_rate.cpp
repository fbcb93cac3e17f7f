// line-rate PATH: prints the rate the terminal at PATH runs at, in bits per second, as the
// kernel keeps it, however it was set (stty reads Wine 10's BOTHER rates as 0).

#include "line_speed.hpp"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const int line = argc == 2 ? open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK) : -1;
    if (line < 0) {
        std::fprintf(stderr, "usage: line-rate PATH (a terminal that can be opened)\n");
        return 2;
    }
    const LineSpeed speed = lineSpeedOf(line);
    close(line);
    std::printf("%lu\n", speed.output);
    return speed.output != 0 ? 0 : 1;
}
