// boxpatch's command line, read strictly from left to right: "-b" (any
// argument whose word begins "-b") and the four arguments after it set the
// box for the file names that follow; any other argument beginning with "-"
// is skipped; anything else is a file name. Only the first word of each
// argument counts, and an argument without a word repeats the previous one.
#pragma once

#include <string>

#include "box.hpp"

struct ArgScan {
    ArgScan(int count, char** args) : argc(count), argv(args) {}

    int argc;
    char** argv;
    int next = 1;               // the argument read next
    std::string word = "NONE";  // the last word read: the file name after ArgStep::file
    BoxLimits box;              // the limits given so far (the caller clamps them per file)
    bool limits_given = false;
};

enum class ArgStep {
    file,       // scan.word names the next file
    end,        // no argument left
    malformed,  // a -b without four limits, or whose limits are not numbers before any box was
                // given; its line has been printed
};

// Reads on to the next file name, taking every -b on the way.
ArgStep next_file(ArgScan& scan);
