#pragma once

// The whole run, from the banner to the exit code: check the word count, read the
// port word, open the port, read the ID and data words, send the frame, wait for
// the one-byte acknowledgment, purge, close.
//
// words[0] is the program's name and is never looked at; words[1] is the port,
// words[2] the ID, words[3] on the data bytes.

#include "exit_status.hpp"

ExitStatus runSequence(int wordCount, const char* const* words);
