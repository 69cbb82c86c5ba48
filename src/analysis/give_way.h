/*
 * give_way.h --
 *
 *	The second core's right of way. Some analysis passes run part of
 *	their work on a helper thread of their own (the pair scan groups the
 *	records by ack on one), while other passes run beside the whole
 *	analysis on the load's second thread (the events pass). On a machine
 *	of two cores the three threads would share two, and the analysis,
 *	which the load waits for, would wait for its helper in turn. So a
 *	pass that runs beside the analysis stops at its next pause point while
 *	such a helper runs, and goes on when the helper ends: the helper has
 *	the core, and the pass beside takes the time the analysis leaves.
 *
 *	What a pass computes does not change: it only waits.
 *
 *	Process state: one record in give_way.cpp (the number of helpers
 *	running, with the lock and condition a pausing pass waits on), set
 *	only through the calls below.
 */

#ifndef WIREPAINT_ANALYSIS_GIVE_WAY_H
#define WIREPAINT_ANALYSIS_GIVE_WAY_H

/*
 * give_way_claim --
 *	An analysis helper thread starts: from now on, passes beside the
 *	analysis wait at their pause points until as many give_way_release
 *	calls as claims have come. No other effect.
 */
void give_way_claim();

/*
 * give_way_release --
 *	The helper of an earlier give_way_claim has ended; when it was the
 *	last one, the passes waiting at a pause point go on.
 */
void give_way_release();

/*
 * give_way_pause_point --
 *	Called by a pass beside the analysis between pieces of its work:
 *	returns at once when no claim stands (an atomic read), else waits
 *	until none does. Must not be called by the thread holding a claim.
 */
void give_way_pause_point();

/* A claim for the life of a scope: released on every way out. */
class give_way_scope {
public:
    explicit give_way_scope(bool claim) : held_(claim)
    {
        if (held_)
            give_way_claim();
    }
    ~give_way_scope() { release(); }
    /* Releases the claim now (the helper has been joined). */
    void release()
    {
        if (held_)
            give_way_release();
        held_ = false;
    }
    give_way_scope(const give_way_scope &) = delete;
    give_way_scope &operator=(const give_way_scope &) = delete;

private:
    bool held_;
};

#endif
