#include "process_setup.hpp"
#include "run_sequence.hpp"

int main(int argc, char** argv)
{
    prepareProcess();
    return static_cast<int>(runSequence(argc, argv));
}
