/*
 * gallop.h --
 *
 *	A partition point found from a guess. Where a caller can tell about
 *	where in a long sorted run the point lies (the matcher, from the time
 *	it looks for among entries whose times rise), a search that starts at
 *	the guess and widens its steps by doubling touches a few neighbouring
 *	entries instead of the log2(n) scattered ones of a bisection of the
 *	whole run. The result is std::partition_point's.
 *
 *	Header only, since the element type is the caller's.
 */

#ifndef WIREPAINT_TRACE_GALLOP_H
#define WIREPAINT_TRACE_GALLOP_H

#include <algorithm>
#include <cstddef>

/*
 * partition_point_from --
 *	std::partition_point(from, to, pred) for a `pred` that holds on a
 *	prefix of [from, to) and on nothing after it, searched from `guess`
 *	(any element of [from, to], or `to`). Calls pred only on elements
 *	of [from, to). No side effects beyond pred's.
 */
template <typename T, typename Pred>
const T *partition_point_from(const T *from, const T *to, const T *guess, Pred pred)
{
    guess = std::min(std::max(guess, from), to);
    size_t step = 1;
    if (guess != to && pred(*guess)) {
        /* The point lies after the guess: every element before lo holds. */
        const T *lo = guess + 1;
        while (lo != to) {
            const T *probe = static_cast<size_t>(to - lo) > step ? lo + step - 1 : to - 1;
            if (!pred(*probe))
                return std::partition_point(lo, probe, pred);
            lo = probe + 1;
            step *= 2;
        }
        return to;
    }
    /* The point lies at the guess or before: nothing from hi on holds. */
    const T *hi = guess;
    while (hi != from) {
        const T *probe = static_cast<size_t>(hi - from) > step ? hi - step : from;
        if (pred(*probe))
            return std::partition_point(probe + 1, hi, pred);
        hi = probe;
        step *= 2;
    }
    return from;
}

#endif
