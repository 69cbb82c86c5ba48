/*
 * assets.h --
 *
 *	The report page's script and style, built in from script/webpage/
 *	page.js and page.css (tools/cmake/embed-webpage.cmake), each with the
 *	"sha256-BASE64" of its bytes for the page's Content-Security-Policy.
 */

#ifndef WIREPAINT_WEBPAGE_ASSETS_H
#define WIREPAINT_WEBPAGE_ASSETS_H

extern const char webpage_script[];
extern const char webpage_script_hash[];
extern const char webpage_style[];
extern const char webpage_style_hash[];

#endif
