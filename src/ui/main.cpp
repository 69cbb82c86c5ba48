/*
 * main.cpp --
 *
 *	Entry of wirepaint (placeholder until the window exists): reads each
 *	capture file argument and exits 0.
 */

#include "trace/binread.h"

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        read_capture(argv[i]);
    return 0;
}
