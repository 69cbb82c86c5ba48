/*
 * beside.h --
 *
 *	A load run on a second thread while the calling thread does other
 *	work that needs none of the trace state: start-up uses it to bring up
 *	the interpreter and Tk (which takes tens of milliseconds with a
 *	display) while the capture files are read and analysed.
 */

#ifndef WIREPAINT_LOAD_BESIDE_H
#define WIREPAINT_LOAD_BESIDE_H

#include <functional>

/*
 * load_beside --
 *	Runs `load` on a second thread and `work` on this one, and returns
 *	once both are done. The load's failures (load_fail) are kept on its
 *	thread and given to load_fail here once `work` is done, so that the
 *	process ends with the load's message and status as if the load had
 *	run alone; any other exception of the load is rethrown here. When
 *	no thread can be started the load runs first, then the work. `work`
 *	must neither read nor write what the load does (the trace state,
 *	standard output) and must not end the process.
 */
void load_beside(const std::function<void()> &load, const std::function<void()> &work);

#endif
