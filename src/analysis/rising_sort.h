/*
 * rising_sort.h --
 *
 *	Sorting an array that is a few rising sequences interleaved, as the
 *	numbers of one endpoint's records are in index order: sequence
 *	numbers rise, retransmissions fall back a little, and each time the
 *	carried number wraps (every 4 GB of a transfer) the numbers fall back
 *	by 2^32 and rise again over the same range. A quicksort of such an
 *	array does far more work than merging its rising sequences, and its
 *	depth limit makes it fall back to a heap sort.
 *
 *	sort_rising deals the elements, in order, onto piles that each stay
 *	rising (an element goes on the pile it continues, as a card game of
 *	patience does), then merges the piles pairwise, level by level,
 *	through a buffer as large as the array.
 *
 *	Internal to the analysis; header only, since the element type is the
 *	caller's.
 */

#ifndef WIREPAINT_ANALYSIS_RISING_SORT_H
#define WIREPAINT_ANALYSIS_RISING_SORT_H

#include <algorithm>
#include <cstddef>
#include <vector>

namespace rising_sort {

/* Most piles worth merging; an array that needs more goes to std::sort. */
enum { MAX_PILES = 64 };

/*
 * The dealing: which pile each element goes on. An element continues
 * the pile the previous one went on when it can, otherwise the pile
 * whose top is the largest not above it, otherwise it starts a pile.
 * The same elements always deal the same way, so a second deal repeats
 * the first.
 */
template <typename T, typename Less>
class dealer {
public:
    explicit dealer(Less less) : less_(less), current_(0) {}

    /* The pile `x` goes on; -1 when a new pile would be one too many. */
    int deal(const T &x)
    {
        if (!top_.empty() && !less_(x, top_[current_]))
            return put(current_, x);
        int best = -1;
        for (int p = 0; p < static_cast<int>(top_.size()); p++) {
            if (less_(x, top_[static_cast<size_t>(p)]))
                continue;
            if (best < 0 || less_(top_[static_cast<size_t>(best)], top_[static_cast<size_t>(p)]))
                best = p;
        }
        if (best >= 0)
            return put(best, x);
        if (top_.size() == MAX_PILES)
            return -1;
        top_.push_back(x);
        return put(static_cast<int>(top_.size()) - 1, x);
    }
    size_t piles() const { return top_.size(); }

private:
    int put(int p, const T &x)
    {
        top_[static_cast<size_t>(p)] = x;
        current_ = p;
        return p;
    }
    Less less_;
    std::vector<T> top_;   /* the last element dealt onto each pile */
    int current_;          /* the pile the last element went on */
};

/*
 * sort_rising --
 *	Sorts a[0 .. n-1] by `less`, a strict weak order under which no two
 *	elements are equal (then every sort gives the one result std::sort
 *	gives). `buffer` has room for n elements; its contents are left
 *	undefined. An array that needs more than MAX_PILES piles is sorted
 *	by std::sort. Allocates only the small tables of piles.
 */
template <typename T, typename Less>
void sort_rising(T *a, size_t n, T *buffer, Less less)
{
    std::vector<size_t> starts;
    {
        dealer<T, Less> count(less);
        std::vector<size_t> sizes;
        for (size_t k = 0; k < n; k++) {
            int p = count.deal(a[k]);
            if (p < 0) {
                std::sort(a, a + n, less);
                return;
            }
            if (static_cast<size_t>(p) == sizes.size())
                sizes.push_back(0);
            sizes[static_cast<size_t>(p)]++;
        }
        starts.push_back(0);
        for (size_t s : sizes)
            starts.push_back(starts.back() + s);
    }
    {
        dealer<T, Less> again(less);
        std::vector<size_t> fill(starts.begin(), starts.end() - 1);
        for (size_t k = 0; k < n; k++)
            buffer[fill[static_cast<size_t>(again.deal(a[k]))]++] = a[k];
    }
    T *from = buffer, *to = a;
    std::vector<size_t> next;
    while (starts.size() > 2) {
        next.clear();
        size_t r = 0;
        for (; r + 2 < starts.size(); r += 2) {
            size_t b = starts[r], m = starts[r + 1], e = starts[r + 2];
            std::merge(from + b, from + m, from + m, from + e, to + b, less);
            next.push_back(b);
        }
        if (r + 1 < starts.size()) {
            /* A pile left over: it moves on as it is. */
            std::copy(from + starts[r], from + starts[r + 1], to + starts[r]);
            next.push_back(starts[r]);
        }
        next.push_back(n);
        starts.swap(next);
        std::swap(from, to);
    }
    if (from != a)
        std::copy(from, from + n, a);
}

}  // namespace rising_sort

#endif
