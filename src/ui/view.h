/*
 * view.h --
 *
 *	The two view windows: the time intervals and scales that map segment
 *	times to pixels on the main canvas and on the overview canvas. Set up
 *	after every load from the delay of the first line, rescaled by every
 *	zoom. The fields live in g_ui (ui/ui_state.h).
 */

#ifndef WIREPAINT_UI_VIEW_H
#define WIREPAINT_UI_VIEW_H

/*
 * view_time_unit --
 *	The delay that scales the views of the current line list: the delay of
 *	line 0, or when that is not positive the first positive delay of the
 *	list; with none, the trace duration / 20; when that is 0 too, 0.01 s.
 */
float view_time_unit();

/*
 * setup_view --
 *	Fresh views for the current load, with d = view_time_unit():
 *	delay_unit = d; main scale main_height / (20 d) and overview scale
 *	over_height / (200 d), both at zoom level 0; main_scroll 0.5; a main
 *	window of [-20 d, 20 d]; an overview window from -30 d with over_end
 *	= 4 over_height / over_scale. over_scroll keeps its value. Marks the
 *	view ready. Needs at least one line; with none only clears view_ready.
 */
void setup_view();

/*
 * rescale_view --
 *	After a zoom has set a new main_scale or over_scale: the main window
 *	gets the span 2 main_height / main_scale around the time that lies at
 *	the fraction c = (main_scroll - 0.5) * 0.75 + 0.5 of it, which stays
 *	in place; over_end = over_start + 4 over_height / over_scale.
 */
void rescale_view();

/*
 * zoom_main, zoom_overview --
 *	Add `levels` to the zoom level of a canvas, recompute its scale as
 *	base * 0.875^level (powf, in float) and run rescale_view.
 */
void zoom_main(int levels);
void zoom_overview(int levels);

#endif
