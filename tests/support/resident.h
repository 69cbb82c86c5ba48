/*
 * resident.h --
 *
 *	How much of a range of memory the kernel has filled in, for the tests
 *	of code that asks for pages ahead or gives them back.
 */

#ifndef WIREPAINT_TESTS_SUPPORT_RESIDENT_H
#define WIREPAINT_TESTS_SUPPORT_RESIDENT_H

#include <cstddef>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

/* Resident small pages of [p, p + len), p page-aligned; 0 on error. */
inline size_t resident_pages(const void *p, size_t len)
{
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> in((len + page - 1) / page);
    if (mincore(const_cast<void *>(p), len, in.data()) != 0)
        return 0;
    size_t n = 0;
    for (unsigned char v : in)
        n += v & 1;
    return n;
}

#endif
