#include "process_setup.hpp"

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

void prepareProcess()
{
    // A closed standard descriptor would be handed to the port by open(), and the
    // messages meant for the console would go out on the line. Fill the gaps first.
    for (int standard = 0; standard <= 2; ++standard) {
        if (fcntl(standard, F_GETFD) == -1) {
            const int placeholder = open("/dev/null", O_RDWR);
            if (placeholder > 2) {
                close(placeholder);
            }
        }
    }
    // A reader that goes away must not end the run between the write and the purge;
    // output then simply fails, and the exit code still tells what the line did.
    std::signal(SIGPIPE, SIG_IGN);
}
